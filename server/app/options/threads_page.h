// The "MultiThreading & Logging" page: the process and thread priorities and
// the log file.
#pragma once

#include "options_page.h"

#include <string>

struct ServerSettings;
class COptionsHost;
class QButtonGroup;
class QCheckBox;
class QLineEdit;

class CThreadsPage : public COptionsPage {
    Q_OBJECT
public:
    static constexpr int IDD = 141;
    static constexpr int IDC_RAISE_PRIORITY = 1035;
    static constexpr int IDC_LOW = 1042;
    static constexpr int IDC_NORMAL = 1043;
    static constexpr int IDC_HIGH = 1044;
    static constexpr int IDC_AUTOMATIC = 1045;
    static constexpr int IDC_LOG_FILE = 1046;

    CThreadsPage(ServerSettings& settings, COptionsHost& host);

    std::string m_LogFile;
    int m_nPriority = 0;  // radio position: 0 Low, 1 Normal, 2 High, 3 Automatic
    int m_bRaisePriority = 0;

protected:
    void OnInitDialog() override;
    void DoDataExchange(bool save) override;
    void OnOK() override;

private:
    ServerSettings& settings_;
    COptionsHost& host_;
    QCheckBox* raisePriority_ = nullptr;
    QButtonGroup* priority_ = nullptr;
    QLineEdit* logFile_ = nullptr;
};
