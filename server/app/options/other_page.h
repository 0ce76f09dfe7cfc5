// The "Options" page: the listening port and addresses, the transfer
// time-out, the start-up and option switches, the largest window a client
// may use, the transfer ports and the largest block size.
#pragma once

#include "options_page.h"

#include <string>

struct ServerSettings;
class COptionsHost;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

class COther : public COptionsPage {
    Q_OBJECT
public:
    static constexpr int IDD = 108;
    static constexpr int IDC_PORT = 1006;
    static constexpr int IDC_TIMEOUT = 1007;
    static constexpr int IDC_NO_MULTIHOMED_BOX = 1035;
    static constexpr int IDC_ALERT_MINIMISED = 1036;
    static constexpr int IDC_ALLOW_TSIZE = 1037;
    static constexpr int IDC_ALLOW_TIMEOUT = 1038;
    static constexpr int IDC_NO_SPLASH = 1039;
    static constexpr int IDC_MINIMISE_AT_START = 1040;
    static constexpr int IDC_ALLOW_WINDOWSIZE = 1041;
    static constexpr int IDC_MAX_WINDOWSIZE = 1049;
    static constexpr int IDC_LISTEN_ON = 1050;
    static constexpr int IDC_PORT_RANGE_LOW = 1061;
    static constexpr int IDC_PORT_RANGE_HIGH = 1062;
    static constexpr int IDC_MAX_BLKSIZE = 1063;

    COther(ServerSettings& settings, COptionsHost& host);
    // multihomedHost: the listener found two or more local addresses; only
    // then does the page show and change bShowMultihomed.
    void ReadSettings(bool multihomedHost);
    // Puts the cursor into the port edit, its text selected.
    void FocusPort();

    std::string m_Port;
    std::string m_Timeout;
    int m_bMultihomed = 0;       // the host has several addresses
    int m_bNoMultihomedBox = 0;  // box 1035: the inverse of bShowMultihomed
    int m_bAlertMinimised = 0;
    int m_bAllowTsize = 0;
    int m_bAllowTimeout = 0;
    int m_bNoSplash = 0;
    int m_bMinimiseAtStart = 0;
    int m_bAllowWindowsize = 0;
    int m_nMaxWindowsize = 1;  // 1..65535 blocks
    int m_bListenAll = 1;      // "Listen on": 1 all addresses, 0 one address
    // As typed (empty: unset); the sheet checks them before OnOK stores them.
    std::string m_PortRangeLow;
    std::string m_PortRangeHigh;
    std::string m_MaxBlksize;

protected:
    void OnInitDialog() override;
    void DoDataExchange(bool save) override;
    void OnOK() override;

private:
    QCheckBox* AddCheckBox(const QString& text, int id);
    // A label and its control on a row of their own.
    void AddLabelledRow(const QString& text, QWidget* control, QBoxLayout* into);
    // "Listen on:" with its two choices, on a row of its own.
    QComboBox* AddListenOn(QBoxLayout* into);
    // A labelled spin box of 1..65535 blocks on a row of its own.
    QSpinBox* AddBlockCount(const QString& text, int id, QBoxLayout* into);
    // "Transfer ports: from [ ] to [ ]" and "Largest block size: [ ]".
    void AddTransferLimits(QBoxLayout* into);

    ServerSettings& settings_;
    COptionsHost& host_;
    QLineEdit* port_ = nullptr;
    QLineEdit* timeout_ = nullptr;
    QComboBox* listenOn_ = nullptr;
    QCheckBox* noMultihomedBox_ = nullptr;
    QCheckBox* alertMinimised_ = nullptr;
    QCheckBox* allowTsize_ = nullptr;
    QCheckBox* allowTimeout_ = nullptr;
    QCheckBox* noSplash_ = nullptr;
    QCheckBox* minimiseAtStart_ = nullptr;
    QCheckBox* allowWindowsize_ = nullptr;
    QSpinBox* maxWindowsize_ = nullptr;
    QLineEdit* portRangeLow_ = nullptr;
    QLineEdit* portRangeHigh_ = nullptr;
    QLineEdit* maxBlksize_ = nullptr;
};
