// "Server Options": the modal sheet of eight pages through which the user
// edits every server setting. Each page writes back into the settings on OK
// or Apply, but only if it has been shown; Cancel writes nothing (what an
// earlier Apply wrote stays). A changed port is handed to the host at once,
// as is the process priority when the threads page is accepted.
#pragma once

#include <QDialog>

#include <vector>

struct ServerSettings;
class COptionsHost;
class COptionsPage;
class CInboundPage;
class COutboundPage;
class CAllow;
class CDeny;
class COther;
class CClientsPage;
class CThreadsPage;
class CNameRulesPage;
class QPushButton;
class QTabWidget;

class COptions : public QDialog {
    Q_OBJECT
public:
    static constexpr int IDOK_BUTTON = 1;
    static constexpr int IDCANCEL_BUTTON = 2;
    static constexpr int ID_APPLY_NOW = 0x3021;
    static constexpr char kCaption[] = "Server Options";
    static constexpr char kBadPort[] = "The port must be a number from 1 to 65535.";
    // The transfer ports and the largest block size, refused as the port is.
    static constexpr char kPortRangeOneEnd[] = "Give both transfer ports (from and to), or leave both empty.";
    static constexpr char kPortRangeNotAPort[] = "The transfer ports must be numbers from 1 to 65535.";
    static constexpr char kPortRangeReversed[] = "The first transfer port must not be above the last.";
    static constexpr char kPortRangeHoldsPort[] =
        "The transfer ports must not include the listening port: choose ports above or below it.";
    static constexpr char kBadMaxBlksize[] =
        "The largest block size must be a number from 8 to 65464, or empty for no limit.";

    COptions(ServerSettings& settings, COptionsHost& host, QWidget* parent = nullptr);
    ~COptions() override;

    int PageCount() const { return static_cast<int>(pages_.size()); }
    COptionsPage* Page(int index) const { return pages_.at(static_cast<std::size_t>(index)); }
    QTabWidget* Tabs() const { return tabs_; }

    CInboundPage& Inbound() const { return *inbound_; }
    COutboundPage& Outbound() const { return *outbound_; }
    CAllow& Allow() const { return *allow_; }
    CDeny& Deny() const { return *deny_; }
    COther& Other() const { return *other_; }
    CClientsPage& Clients() const { return *clients_; }
    CThreadsPage& Threads() const { return *threads_; }
    CNameRulesPage& NameRules() const { return *nameRules_; }

    // OK: every shown page writes back, then the sheet closes. A port outside
    // 1 to 65535 is refused first (nothing is written back, the sheet stays
    // open on the Options page), and the sheet also stays open when the
    // server is left without a listening port.
    void accept() override;
    // Apply: every shown page writes back; the sheet stays open.
    void Apply();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void OnPageChanged(int index);
    // Every shown page writes back; false when an entry is refused, and then
    // nothing is written.
    bool WriteBack();
    bool PortAccepted();
    // A rule PCRE2 cannot compile is refused, with its reason, like a bad port.
    bool NameRulesAccepted();
    // The transfer ports and the largest block size of the Options page.
    bool LimitsAccepted();
    void UpdateApplyButton();

    ServerSettings& settings_;
    COptionsHost& host_;
    QTabWidget* tabs_ = nullptr;
    QPushButton* apply_ = nullptr;
    CInboundPage* inbound_ = nullptr;
    COutboundPage* outbound_ = nullptr;
    CAllow* allow_ = nullptr;
    CDeny* deny_ = nullptr;
    COther* other_ = nullptr;
    CClientsPage* clients_ = nullptr;
    CThreadsPage* threads_ = nullptr;
    CNameRulesPage* nameRules_ = nullptr;
    std::vector<COptionsPage*> pages_;
    int currentPage_ = -1;
};
