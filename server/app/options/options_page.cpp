#include "options_page.h"

#include <QAbstractButton>
#include <QLineEdit>

COptionsPage::COptionsPage(int dialogId, const QString& caption)
    : dialogId_(dialogId), caption_(caption) {}

void COptionsPage::SetModified(bool modified) {
    if (modified_ == modified) return;
    modified_ = modified;
    emit ModifiedChanged();
}

void COptionsPage::SetActive() {
    if (!created_) {
        created_ = true;
        OnInitDialog();
    }
    OnSetActive();
}

void COptionsPage::KillActive() {
    if (created_) OnKillActive();
}

void COptionsPage::Accept() {
    if (created_) OnOK();
}

void COptionsPage::WatchEdit(QLineEdit* edit) {
    connect(edit, &QLineEdit::textEdited, this, [this] { SetModified(); });
}

void COptionsPage::WatchButton(QAbstractButton* button) {
    connect(button, &QAbstractButton::clicked, this, [this] { SetModified(); });
}
