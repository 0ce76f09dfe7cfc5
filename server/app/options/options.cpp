#include "options.h"

#include "address_list_pages.h"
#include "clients_page.h"
#include "folder_pages.h"
#include "name_rules_page.h"
#include "other_page.h"
#include "threads_page.h"

#include "common/digits.h"
#include "common/port_range.h"
#include "common/tftp_packet.h"
#include "platform/control_ids.h"
#include "platform/prompt_service.h"
#include "server/app/options_host.h"
#include "server/app/server_settings.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

using platform::SetControlId;

COptions::COptions(ServerSettings& settings, COptionsHost& host, QWidget* parent)
    : QDialog(parent), settings_(settings), host_(host) {
    setWindowTitle(kCaption);
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    tabs_ = new QTabWidget(this);
    tabs_->setUsesScrollButtons(false);  // every tab in sight, as on a property sheet
    inbound_ = new CInboundPage(settings);
    outbound_ = new COutboundPage(settings);
    allow_ = new CAllow(settings);
    deny_ = new CDeny(settings);
    other_ = new COther(settings, host);
    clients_ = new CClientsPage(settings);
    threads_ = new CThreadsPage(settings, host);
    nameRules_ = new CNameRulesPage(settings);
    pages_ = {inbound_, outbound_, allow_, deny_, other_, clients_, threads_, nameRules_};
    for (COptionsPage* page : pages_) {
        tabs_->addTab(page, page->Caption());
        connect(page, &COptionsPage::ModifiedChanged, this, &COptions::UpdateApplyButton);
    }
    layout->addWidget(tabs_);

    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    SetControlId(buttons->button(QDialogButtonBox::Ok), IDOK_BUTTON);
    SetControlId(buttons->button(QDialogButtonBox::Cancel), IDCANCEL_BUTTON);
    apply_ = buttons->button(QDialogButtonBox::Apply);
    SetControlId(apply_, ID_APPLY_NOW);
    apply_->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &COptions::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &COptions::reject);
    connect(apply_, &QPushButton::clicked, this, &COptions::Apply);
    layout->addWidget(buttons);

    OnInitDialog();
    connect(tabs_, &QTabWidget::currentChanged, this, &COptions::OnPageChanged);
}

COptions::~COptions() = default;

void COptions::OnInitDialog() {
    // Pages 1 to 5 take their copies now; the last two read the settings
    // themselves when first shown.
    inbound_->ReadSettings();
    outbound_->ReadSettings();
    allow_->ReadSettings();
    deny_->ReadSettings();
    other_->ReadSettings(host_.LocalAddressCount() >= 2);
}

void COptions::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (currentPage_ < 0) OnPageChanged(tabs_->currentIndex());
}

void COptions::OnPageChanged(int index) {
    if (index == currentPage_ || index < 0) return;
    if (currentPage_ >= 0) Page(currentPage_)->KillActive();
    currentPage_ = index;
    Page(index)->SetActive();
}

bool COptions::WriteBack() {
    if (currentPage_ >= 0) Page(currentPage_)->KillActive();
    if (!PortAccepted()) return false;
    if (!NameRulesAccepted()) return false;
    if (!LimitsAccepted()) return false;
    for (COptionsPage* page : pages_) page->Accept();
    for (COptionsPage* page : pages_) page->SetModified(false);
    return true;
}

bool COptions::PortAccepted() {
    // A port past 65535 would become another one, and 0 is none: a typo here
    // used to end the server and lock every later start out.
    if (!other_->IsCreated()) return true;
    const int port = tftp::LeadingDigits(other_->m_Port);
    if (port >= 1 && port <= 65535) return true;
    host_.Prompts().MessageBox(kBadPort, platform::PromptIcon::Warning, platform::PromptButtons::Ok);
    tabs_->setCurrentWidget(other_);
    other_->FocusPort();
    return false;
}

bool COptions::NameRulesAccepted() {
    if (!nameRules_->IsCreated()) return true;
    int row = 0;
    const QString bad = nameRules_->FirstBadRule(&row);
    if (bad.isEmpty()) return true;
    host_.Prompts().MessageBox(bad.toStdString(), platform::PromptIcon::Warning, platform::PromptButtons::Ok);
    tabs_->setCurrentWidget(nameRules_);
    nameRules_->FocusRule(row);
    return false;
}

bool COptions::LimitsAccepted() {
    if (!other_->IsCreated()) return true;
    const char* refusal = nullptr;
    tftp::PortRange range;
    switch (tftp::ReadPortRange(other_->m_PortRangeLow, other_->m_PortRangeHigh,
                                tftp::LeadingDigits(other_->m_Port), range)) {
    case tftp::PortRangeCheck::Fine: break;
    case tftp::PortRangeCheck::OneEndOnly: refusal = kPortRangeOneEnd; break;
    case tftp::PortRangeCheck::NotAPort: refusal = kPortRangeNotAPort; break;
    case tftp::PortRangeCheck::Reversed: refusal = kPortRangeReversed; break;
    case tftp::PortRangeCheck::HoldsListeningPort: refusal = kPortRangeHoldsPort; break;
    }
    const std::string& cap = other_->m_MaxBlksize;
    const int size = tftp::LeadingDigits(cap);
    if (!refusal && !cap.empty() &&
        (cap.size() > 5 || size < tftp::kMinBlockSize || size > tftp::kMaxBlockSize))
        refusal = kBadMaxBlksize;
    if (!refusal) return true;
    host_.Prompts().MessageBox(refusal, platform::PromptIcon::Warning, platform::PromptButtons::Ok);
    tabs_->setCurrentWidget(other_);
    return false;
}

void COptions::accept() {
    if (!WriteBack()) return;
    if (host_.OnSettingsAccepted()) QDialog::accept();
    else tabs_->setCurrentWidget(other_);  // where another port can be chosen
}

void COptions::Apply() {
    if (WriteBack()) host_.OnSettingsAccepted();
}

void COptions::UpdateApplyButton() {
    bool modified = false;
    for (const COptionsPage* page : pages_) modified = modified || page->IsModified();
    apply_->setEnabled(modified);
}
