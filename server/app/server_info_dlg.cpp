#include "server_info_dlg.h"

#include "platform/control_ids.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

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
