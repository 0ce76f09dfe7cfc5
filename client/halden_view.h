// The client's form: the server, port, time-out, block size and the two file
// names; Send and Fetch start one transfer at a time, Abort ends it, the bar
// shows its progress. The view owns the one transfer object, checks the
// entries before every start and gets the transfer's results back as posted
// messages.
#pragma once

#include "client/engine/transfer_socket.h"
#include "platform/posted_messages.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace skerry {
class AsyncHostLookup;
}

class CClientApp;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

class CHaldenView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kNameLimit = 500;  // local and remote names
    // A bracketed IPv6 literal with its zone, or a host name of 253
    // characters with its closing dot.
    static constexpr int kHostLimit = 255;
    static constexpr int kMinBlock = 64;
    static constexpr int kMaxBlock = 65420;

    CHaldenView(CClientApp& app, QWidget* parent = nullptr);
    ~CHaldenView() override;

    void OnInitialUpdate();
    // 1: "Put" / "Get"; anything else: "Send" / "Fetch".
    void SetButtonNames(int flag);

    void OnSend();
    void OnGet();
    // File > Send... and files dropped on the window: path is a full path.
    void SendDroppedFile(const std::string& path);
    // 1 when a transfer may start. The host is a literal address, or a name
    // the start has looked up (see Start); a name not looked up counts as one
    // that does not resolve.
    int ValidateInputs();

    void OnChangeLocalFile();
    void OnChangeRemoteFile();
    void OnMatchFiles();
    void OnAbort();
    // Whether File > Abort is enabled: while a transfer runs or its host is
    // being looked up.
    bool OnUpdateAbort() const;
    // A start is waiting for its host name to be looked up.
    bool LookingUp() const;
    // A transfer runs (asked under its lock).
    bool TransferBusy() const;
    skerry::AsyncHostLookup& HostLookup() { return *lookup_; }

    long OnTransferProgress(std::int64_t wParam, std::int64_t lParam);
    long OnTransferBlockSize(std::int64_t wParam, std::int64_t lParam);
    long OnTransferAddress(std::int64_t wParam, std::int64_t lParam);

    // save true: controls to members; false: members to controls (the
    // controls' change handlers do not see what an exchange writes).
    void DoDataExchange(bool save);

    // ---- members ----
    int blockSize = 512;
    std::unique_ptr<CTransferSocket> transfer;
    std::string remoteName;
    std::string localName;
    std::string hostAddress;
    int port = 0;
    int timeoutSecs = 0;
    int binary = 1;
    int matchFiles = 1;
    QString localText, remoteText, hostText, portText, timeoutText;
    QProgressBar* progress = nullptr;
    int offerTimeout = 0;
    // The server's addresses for the host text, in the order to try them.
    std::vector<platform::PeerAddress> servers;
    // Bytes the full bar stands for; set at each start.
    std::int64_t progressTotal = 1;

private:
    // What a start sends or fetches, kept while its host is looked up.
    struct StartRequest {
        int send = 0;
        bool dropped = false;  // a dropped or chosen file: folder + file
        std::string folder, file;
    };

    void BuildForm();
    // A fresh transfer object for a start: false while a transfer runs.
    bool ReplaceTransfer();
    // Asks for the local address where there is a choice; false ends the start.
    bool ChooseLocalAddress(std::string& address);
    // Binds the transfer to the address; false (told) ends the start.
    bool OpenLocalPort(const std::string& address);
    // A fetch into an existing file asks first (unless OverWrite is on).
    bool MayReplaceFetched(int send);
    void Start(int send);
    // A host name is looked up first, off the window's thread; a literal
    // goes on at once.
    void LookUpThenStart(const StartRequest& request);
    void StartWithHost(const StartRequest& request);
    std::string HostEntry() const;
    void ShowFailure(const TransferFailure& failure);
    void CopyEntriesToTransfer(int useSourceDir, int send);
    void Warn(const char* text);
    void OnPostedMessage(int message, std::int64_t wParam, std::int64_t lParam);

    CClientApp& app_;
    platform::PostedMessages messages_;
    bool exchanging_ = false;
    int starts_ = 0;  // counts starts: the newest one owns the transfer object

    QLineEdit* host_ = nullptr;
    QLineEdit* port_ = nullptr;
    QLineEdit* timeout_ = nullptr;
    QCheckBox* sendTimeout_ = nullptr;
    QComboBox* blockSizes_ = nullptr;
    QLineEdit* local_ = nullptr;
    QLineEdit* remote_ = nullptr;
    QPushButton* send_ = nullptr;
    QPushButton* get_ = nullptr;
    QCheckBox* binary_ = nullptr;
    QCheckBox* matchFiles_ = nullptr;
    QPushButton* abort_ = nullptr;

    // The last name looked up and what it gave.
    std::string lookedUpHost_;
    std::vector<platform::PeerAddress> lookedUp_;
    // Last, so that it is cancelled before anything it calls back to goes.
    std::unique_ptr<skerry::AsyncHostLookup> lookup_;
};
