#include "folder_pages.h"

#include "folder_browser.h"
#include "setting_text.h"

#include "platform/control_ids.h"
#include "server/app/default_folders.h"
#include "server/app/server_settings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

using platform::SetControlId;

CFolderPage::CFolderPage(int dialogId, const QString& caption, const QString& groupText,
                         int pathId, std::string emptyFolder, ServerSettings& settings)
    : COptionsPage(dialogId, caption), settings_(settings), emptyFolder_(std::move(emptyFolder)) {
    pageLayout_ = new QVBoxLayout(this);
    auto* group = new QGroupBox(groupText, this);
    auto* groupLayout = new QVBoxLayout(group);
    auto* row = new QHBoxLayout;
    pathEdit_ = new QLineEdit(group);
    SetControlId(pathEdit_, pathId);
    options::LimitEdit(pathEdit_, options::TextKind::Folder);
    WatchEdit(pathEdit_);
    browse_ = new QPushButton(tr("Browse"), group);
    SetControlId(browse_, IDC_BROWSE);
    browse_->setAutoDefault(false);
    connect(browse_, &QPushButton::clicked, this, &CFolderPage::OnBrowse);
    row->addWidget(pathEdit_, 1);
    row->addWidget(browse_);
    groupLayout->addLayout(row);
    auto* note = new QLabel(QStringLiteral("An empty path means %1, created when first used.")
                                .arg(QString::fromStdString(emptyFolder_)),
                            group);
    SetControlId(note, IDC_EMPTY_NOTE);
    note->setWordWrap(true);
    groupLayout->addWidget(note);
    pageLayout_->addWidget(group);
}

std::string CFolderPage::NormalisedPath() const {
    return options::NormaliseFolderText(m_path, [this] {
        MakeFolder(emptyFolder_);
        return emptyFolder_;
    });
}

void CFolderPage::ExchangePath(bool save) {
    if (save)
        m_path = pathEdit_->text().toStdString();
    else
        pathEdit_->setText(
            options::CutToSetting(QString::fromStdString(m_path), options::TextKind::Folder));
}

void CFolderPage::OnBrowse() {
    UpdateData(true);
    CFolderBrowser browser(m_path, this);
    browser.SetMaxPathLength(ServerSettings::kMaxText);
    if (browser.exec() != QDialog::Accepted) return;
    m_path = browser.Path();
    UpdateData(false);
    SetModified();
}

CInboundPage::CInboundPage(ServerSettings& settings)
    : CFolderPage(IDD, tr("Inbound"), tr("Inbound file path"), IDC_PATH, DefaultInboundFolder(), settings) {
    refuseUploads_ = new QCheckBox(tr("Refuse uploads"), this);
    SetControlId(refuseUploads_, IDC_REFUSE_UPLOADS);
    refuseUploads_->setWhatsThis(tr("Every write request is answered with ERROR 2, Access violation."));
    WatchButton(refuseUploads_);
    noReplace_ = new QCheckBox(tr("Do not replace existing files"), this);
    SetControlId(noReplace_, IDC_NO_REPLACE);
    noReplace_->setWhatsThis(
        tr("A write request for a name already in the folder is answered with ERROR 6, File already exists."));
    WatchButton(noReplace_);
    pageLayout_->addSpacing(8);
    pageLayout_->addWidget(refuseUploads_);
    pageLayout_->addWidget(noReplace_);
    pageLayout_->addStretch(1);
}

void CInboundPage::ReadSettings() {
    m_path = settings_.InPath;
    m_bRefuseUploads = settings_.bRefuseUploads;
    m_bNoReplace = settings_.bNoReplace;
}

void CInboundPage::DoDataExchange(bool save) {
    ExchangePath(save);
    if (save) {
        m_bRefuseUploads = refuseUploads_->isChecked() ? 1 : 0;
        m_bNoReplace = noReplace_->isChecked() ? 1 : 0;
    } else {
        refuseUploads_->setChecked(m_bRefuseUploads != 0);
        noReplace_->setChecked(m_bNoReplace != 0);
    }
}

void CInboundPage::OnOK() {
    settings_.InPath = NormalisedPath();
    settings_.bRefuseUploads = m_bRefuseUploads;
    settings_.bNoReplace = m_bNoReplace;
}

COutboundPage::COutboundPage(ServerSettings& settings)
    : CFolderPage(IDD, tr("Outbound"), tr("Outbound file path"), IDC_PATH, DefaultOutboundFolder(), settings) {
    force_ = new QCheckBox(tr("Only Send This File"), this);
    SetControlId(force_, IDC_FORCE);
    WatchButton(force_);
    forceFile_ = new QLineEdit(this);
    SetControlId(forceFile_, IDC_FORCE_FILE);
    forceFile_->setAccessibleName(force_->text());
    options::LimitEdit(forceFile_, options::TextKind::Plain);
    WatchEdit(forceFile_);
    pageLayout_->addSpacing(8);
    pageLayout_->addWidget(force_);
    pageLayout_->addWidget(forceFile_);
    pageLayout_->addStretch(1);
}

void COutboundPage::ReadSettings() {
    m_path = settings_.OutPath;
    m_bForce = settings_.bForce;
    m_ForceFile = settings_.ForceFile;
}

void COutboundPage::DoDataExchange(bool save) {
    ExchangePath(save);
    if (save) {
        m_bForce = force_->isChecked() ? 1 : 0;
        m_ForceFile = forceFile_->text().toStdString();
    } else {
        force_->setChecked(m_bForce != 0);
        forceFile_->setText(
            options::CutToSetting(QString::fromStdString(m_ForceFile), options::TextKind::Plain));
    }
}

void COutboundPage::OnOK() {
    settings_.bForce = m_bForce;
    settings_.ForceFile = m_ForceFile;
    settings_.OutPath = NormalisedPath();
}
