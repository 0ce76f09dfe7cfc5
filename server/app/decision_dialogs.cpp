#include "decision_dialogs.h"

#include "platform/control_ids.h"
#include "server/app/command_ids.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

CDecisionDialog::CDecisionDialog(int templateId, const QStringList& texts,
                                 std::function<void(bool)> decide, QWidget* parent)
    : QDialog(parent), templateId_(templateId), decide_(std::move(decide)) {
    setWindowTitle(tr(kTitle));
    setModal(false);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* layout = new QVBoxLayout(this);
    for (const QString& text : texts) {
        auto* label = new QLabel(text, this);
        label->setWordWrap(true);
        label->setMinimumWidth(360);
        layout->addWidget(label);
    }
    drop_ = new QPushButton(tr("Drop Clients"), this);
    keep_ = new QPushButton(tr("Keep Clients"), this);
    platform::SetControlId(drop_, IDOK_BUTTON);
    platform::SetControlId(keep_, IDCANCEL_BUTTON);
    drop_->setDefault(true);
    connect(drop_, &QPushButton::clicked, this, &QDialog::accept);
    connect(keep_, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(drop_);
    buttons->addWidget(keep_);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    // Centred and visible from the start.
    adjustSize();
    const QRect over = parent && parent->isVisible() ? parent->frameGeometry()
                       : QGuiApplication::primaryScreen()
                           ? QGuiApplication::primaryScreen()->availableGeometry()
                           : QRect();
    if (over.isValid()) move(over.center() - rect().center());
    show();
}

void CDecisionDialog::accept() {
    // The decision closes this dialog (the application destroys it).
    if (decide_) decide_(true);
}

void CDecisionDialog::reject() {
    if (decide_) decide_(false);
}

const QStringList& CPortChangeDlg::Texts() {
    static const QStringList texts = {
        tr("The server is currently busy, if you press the 'Drop Clients' button now all "
                       "existing connections will be dropped and the new port assignment will take place"),
        tr("Pressing the 'Keep Clients' button will mean the new port will only take effect "
                       "after the server is re-started"),
        tr("If you wait and do nothing with this dialog box then as soon as all clients are "
                       "finished then the listening port will change automatically"),
    };
    return texts;
}

CPortChangeDlg::CPortChangeDlg(std::function<void(bool)> decide, QWidget* parent)
    : CDecisionDialog(vantrel::IDD_PORT_CHANGE, Texts(), std::move(decide), parent) {}

const QStringList& CStopServingDlg::Texts() {
    static const QStringList texts = {
        tr("The server is currently busy, if you press the 'Drop Clients' button now all "
                       "existing connections will be dropped and the server will no longer serve"),
        tr("Pressing the 'Keep Clients' button will simply prevent the server from serving "
                       "new clients"),
    };
    return texts;
}

CStopServingDlg::CStopServingDlg(std::function<void(bool)> decide, QWidget* parent)
    : CDecisionDialog(vantrel::IDD_STOP_SERVING, Texts(), std::move(decide), parent) {}
