#include "options_sheet.h"

#include "client/client_ids.h"
#include "platform/control_ids.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

CFolderPage::CFolderPage(int templateId, QString title, const QString& switchText)
    : title_(std::move(title)) {
    setObjectName(QStringLiteral("page%1").arg(templateId));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(tr("File Path"), this);
    auto* groupLayout = new QVBoxLayout(group);
    edit_ = new QLineEdit(group);
    edit_->setAccessibleName(group->title());
    platform::SetControlId(edit_, skerry::IDC_FOLDER);
    edit_->setMinimumWidth(300);
    groupLayout->addWidget(edit_);
    layout->addWidget(group);
    check_ = new QCheckBox(switchText, this);
    platform::SetControlId(check_, skerry::IDC_SWITCH);
    layout->addWidget(check_);
    layout->addStretch(1);
    connect(edit_, &QLineEdit::textEdited, this, &CFolderPage::Modified);
    connect(check_, &QCheckBox::clicked, this, &CFolderPage::Modified);
}

void CFolderPage::DoDataExchange(bool save) {
    if (save) {
        switchOn = check_->isChecked() ? 1 : 0;
        folder = edit_->text();
    } else {
        check_->setChecked(switchOn == 1);
        edit_->setText(folder);
    }
}

CIncomingPage::CIncomingPage()
    : CFolderPage(skerry::IDD_INCOMING, tr("Inbound"), tr("Overwrite exisiting files")) {}

COutgoingPage::COutgoingPage()
    : CFolderPage(skerry::IDD_OUTGOING, tr("Outbound"), tr("Truncate long filenames")) {}

COptionsSheet::COptionsSheet(QWidget* parent) : QDialog(parent) {
    setWindowTitle(skerry::kOptionsCaption);
    auto* layout = new QVBoxLayout(this);
    tabs_ = new QTabWidget(this);
    layout->addWidget(tabs_);
    buttons_ = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    platform::SetControlId(buttons_->button(QDialogButtonBox::Ok), skerry::IDOK);
    platform::SetControlId(buttons_->button(QDialogButtonBox::Cancel), skerry::IDCANCEL);
    layout->addWidget(buttons_);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    QPushButton* apply = buttons_->button(QDialogButtonBox::Apply);
    apply->setEnabled(false);
    connect(apply, &QPushButton::clicked, this, &COptionsSheet::Apply);
    connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
        Apply();
        accept();
    });
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (CFolderPage* page : {static_cast<CFolderPage*>(&incomingPage),
                              static_cast<CFolderPage*>(&outgoingPage)})
        connect(page, &CFolderPage::Modified, apply, [apply] { apply->setEnabled(true); });
}

int COptionsSheet::DoModal() {
    // The pages are members; the tab widget borrows them while the sheet shows.
    incomingPage.DoDataExchange(false);
    outgoingPage.DoDataExchange(false);
    tabs_->addTab(&incomingPage, incomingPage.Title());
    tabs_->addTab(&outgoingPage, outgoingPage.Title());
    tabs_->setCurrentIndex(0);
    const int result = exec() == QDialog::Accepted ? skerry::IDOK : skerry::IDCANCEL;
    tabs_->clear();
    incomingPage.setParent(nullptr);
    outgoingPage.setParent(nullptr);
    return result;
}

void COptionsSheet::Apply() {
    incomingPage.DoDataExchange(true);
    outgoingPage.DoDataExchange(true);
    buttons_->button(QDialogButtonBox::Apply)->setEnabled(false);
}
