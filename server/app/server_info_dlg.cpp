#include "server_info_dlg.h"

#include "platform/control_ids.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

CServerInfoDlg::CServerInfoDlg(const Info& info, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr(kTitle));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* form = new QFormLayout;
    const auto add = [&](const char* label, int id, const QString& value) {
        auto* field = new QLineEdit(value, this);
        field->setReadOnly(true);
        field->setMinimumWidth(180);
        platform::SetControlId(field, id);
        form->addRow(tr(label), field);
    };
    add("Host Name", IDC_HOST_NAME, QString::fromStdString(info.hostName));
    add("Host I.P.", IDC_HOST_IP, QString::fromStdString(info.hostAddress));
    if (!info.listening.empty()) {
        auto* list = new QListWidget(this);
        platform::SetControlId(list, IDC_LISTEN_ADDRESSES);
        for (const std::string& a : info.listening) list->addItem(QString::fromStdString(a));
        list->setMaximumHeight(list->sizeHintForRow(0) * std::min<int>(6, list->count()) + 2 * list->frameWidth());
        list->setAccessibleName(tr("Addresses"));
        form->addRow(tr("Addresses"), list);
    }
    add("Adaptors", IDC_ADAPTORS, QString::number(info.adaptors));
    add("Max. UDP", IDC_MAX_UDP, QString::number(info.maxUdp));
    add("Max. Sockets", IDC_MAX_SOCKETS, QString::number(info.maxSockets));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    platform::SetControlId(buttons->button(QDialogButtonBox::Ok), 1);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}
