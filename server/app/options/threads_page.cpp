#include "threads_page.h"

#include "setting_text.h"

#include "platform/control_ids.h"
#include "server/app/options_host.h"
#include "server/app/server_settings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

using platform::SetControlId;

CThreadsPage::CThreadsPage(ServerSettings& settings, COptionsHost& host)
    : COptionsPage(IDD, tr("MultiThreading && Logging")), settings_(settings), host_(host) {
    auto* layout = new QVBoxLayout(this);
    raisePriority_ = new QCheckBox(tr("Raise Process Priority"), this);
    SetControlId(raisePriority_, IDC_RAISE_PRIORITY);
    WatchButton(raisePriority_);
    layout->addWidget(raisePriority_);

    auto* threads = new QGroupBox(tr("Thread Priority Settings"), this);
    auto* threadsLayout = new QVBoxLayout(threads);
    priority_ = new QButtonGroup(this);
    const struct {
        const char* text;
        int id;
    } choices[] = {{"Low", IDC_LOW},
                   {"Normal", IDC_NORMAL},
                   {"High", IDC_HIGH},
                   {"Automatic Priority Changes", IDC_AUTOMATIC}};
    int position = 0;
    for (const auto& choice : choices) {
        auto* radio = new QRadioButton(tr(choice.text), threads);
        SetControlId(radio, choice.id);
        WatchButton(radio);
        priority_->addButton(radio, position++);
        threadsLayout->addWidget(radio);
    }
    layout->addWidget(threads);

    auto* log = new QGroupBox(tr("Log to file"), this);
    auto* logLayout = new QVBoxLayout(log);
    logFile_ = new QLineEdit(log);
    SetControlId(logFile_, IDC_LOG_FILE);
    options::LimitEdit(logFile_, options::TextKind::Plain);
    WatchEdit(logFile_);
    logLayout->addWidget(logFile_);
    layout->addWidget(log);
    layout->addStretch(1);
}

void CThreadsPage::OnInitDialog() {
    // This page reads the settings itself, when it is first shown.
    const int p = settings_.nPriority;
    m_nPriority = p >= 0 && p <= 2 ? p : 3;  // never chosen (4) shows as automatic
    m_LogFile = settings_.LogFile;
    m_bRaisePriority = settings_.bRaisePriority;
    UpdateData(false);
}

void CThreadsPage::DoDataExchange(bool save) {
    if (save) {
        m_LogFile = logFile_->text().toStdString();
        m_nPriority = priority_->checkedId() < 0 ? 0 : priority_->checkedId();
        m_bRaisePriority = raisePriority_->isChecked() ? 1 : 0;
    } else {
        logFile_->setText(options::CutToSetting(QString::fromStdString(m_LogFile),
                                                options::TextKind::Plain));
        priority_->button(m_nPriority)->setChecked(true);
        raisePriority_->setChecked(m_bRaisePriority != 0);
    }
}

void CThreadsPage::OnOK() {
    settings_.LogFile = m_LogFile;
    settings_.nPriority = m_nPriority;  // 0 Low, 1 Normal, 2 High, 3 Automatic
    settings_.bRaisePriority = m_bRaisePriority;
    host_.ApplyProcessPriority();
}
