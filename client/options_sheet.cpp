#include "options_sheet.h"

#include "client/client_ids.h"
#include "client/client_profile.h"
#include "platform/control_ids.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSpinBox>
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

CTransferPage::CTransferPage() {
    setObjectName(QStringLiteral("page%1").arg(skerry::IDD_TRANSFER));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    windowSize_ = new QSpinBox(this);
    platform::SetControlId(windowSize_, skerry::IDC_WINDOW_SIZE);
    windowSize_->setRange(1, 65535);
    // A typed number outside the range becomes the nearest end of it.
    windowSize_->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    const QString label = tr("Window size");
    windowSize_->setAccessibleName(label);
    form->addRow(label, windowSize_);  // the label is the spin box's buddy
    maxBlockSize_ = new QLineEdit(this);
    platform::SetControlId(maxBlockSize_, skerry::IDC_MAX_BLOCK_SIZE);
    maxBlockSize_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")),
                                                                maxBlockSize_));
    maxBlockSize_->setPlaceholderText(tr("no limit"));
    const QString capLabel = tr("Largest block size");
    maxBlockSize_->setAccessibleName(capLabel);
    form->addRow(capLabel, maxBlockSize_);
    layout->addLayout(form);
    auto* hint = new QLabel(tr("Blocks per acknowledgement. 1 is plain lock-step TFTP; a larger "
                               "window needs a server that takes the windowsize option, and with "
                               "any other server the transfer stays lock-step."),
                            this);
    hint->setWordWrap(true);
    layout->addWidget(hint);
    layout->addStretch(1);
    auto* capHint = new QLabel(tr("Bytes per block a transfer offers at most (8 to 65464), for a path "
                                  "that loses large datagrams; empty for no limit."),
                               this);
    capHint->setWordWrap(true);
    layout->insertWidget(layout->count() - 1, capHint);
    connect(windowSize_, &QSpinBox::valueChanged, this, &CTransferPage::Modified);
    connect(maxBlockSize_, &QLineEdit::textEdited, this, &CTransferPage::Modified);
}

void CTransferPage::DoDataExchange(bool save) {
    if (save) {
        windowSize_->interpretText();  // a number still being typed counts
        windowSize = windowSize_->value();
        maxBlockSize = skerry::BlockSizeCapFrom(maxBlockSize_->text().toStdString());
    } else {
        const QSignalBlocker quiet(windowSize_);  // filling is not a change
        windowSize_->setValue(windowSize);
        maxBlockSize_->setText(maxBlockSize != 0 ? QString::number(maxBlockSize) : QString());
    }
}

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
    connect(&transferPage, &CTransferPage::Modified, apply, [apply] { apply->setEnabled(true); });
}

int COptionsSheet::DoModal() {
    // The pages are members; the tab widget borrows them while the sheet shows.
    incomingPage.DoDataExchange(false);
    outgoingPage.DoDataExchange(false);
    transferPage.DoDataExchange(false);
    tabs_->addTab(&incomingPage, incomingPage.Title());
    tabs_->addTab(&outgoingPage, outgoingPage.Title());
    tabs_->addTab(&transferPage, transferPage.Title());
    tabs_->setCurrentIndex(0);
    const int result = exec() == QDialog::Accepted ? skerry::IDOK : skerry::IDCANCEL;
    tabs_->clear();
    incomingPage.setParent(nullptr);
    outgoingPage.setParent(nullptr);
    transferPage.setParent(nullptr);
    return result;
}

void COptionsSheet::Apply() {
    incomingPage.DoDataExchange(true);
    outgoingPage.DoDataExchange(true);
    transferPage.DoDataExchange(true);
    buttons_->button(QDialogButtonBox::Apply)->setEnabled(false);
}
