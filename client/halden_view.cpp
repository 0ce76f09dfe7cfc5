#include "halden_view.h"

#include "client/block_size_dlg.h"
#include "client/client_app.h"
#include "client/client_ids.h"
#include "client/decoration.h"
#include "client/engine/host_lookup.h"
#include "client/engine/transfer_messages.h"
#include "client/failure_text.h"
#include "client/halden_doc.h"
#include "client/short_name.h"
#include "common/digits.h"
#include "common/local_address.h"
#include "common/local_file.h"
#include "common/tftp_packet.h"
#include "platform/control_ids.h"
#include "platform/peer_address.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

using namespace skerry;

namespace {

// The first n characters of text (a UTF-16 pair is never split).
QString Cut(const QString& text, int n) {
    if (text.size() <= n) return text;
    if (n > 0 && text.at(n - 1).isHighSurrogate()) --n;
    return text.left(n);
}

std::string Bytes(const QString& text) { return text.toStdString(); }
QString Text(const std::string& bytes) { return QString::fromStdString(bytes); }

// name: the label beside the field, which is also its name for screen readers.
QLineEdit* Edit(QWidget* parent, int id, const QString& name, const QString& whatsThis) {
    auto* edit = new QLineEdit(parent);
    platform::SetControlId(edit, id);
    edit->setAccessibleName(name);
    edit->setWhatsThis(whatsThis);
    // Files dropped here go to the window, which sends them.
    edit->setAcceptDrops(false);
    return edit;
}

QCheckBox* TextLeftCheck(const QString& text, QWidget* parent, int id) {
    auto* check = new QCheckBox(text, parent);
    check->setLayoutDirection(Qt::RightToLeft);
    platform::SetControlId(check, id);
    return check;
}

}  // namespace

CHaldenView::CHaldenView(CClientApp& app, QWidget* parent)
    : QWidget(parent),
      app_(app),
      messages_([this](int message, std::int64_t wParam, std::int64_t lParam) {
          OnPostedMessage(message, wParam, lParam);
      }),
      lookup_(std::make_unique<skerry::AsyncHostLookup>()) {
    setObjectName(QStringLiteral("form%1").arg(IDD_FORM));
    localText = Text(app.localFile);
    remoteText = Text(app.remoteFile);
    hostText = Text(app.host);
    portText = "69";
    timeoutText = "10";
    BuildForm();
}

CHaldenView::~CHaldenView() = default;

void CHaldenView::BuildForm() {
    auto* grid = new QGridLayout(this);

    grid->addWidget(new QLabel(tr("Host"), this), 0, 0);
    host_ = Edit(this, IDC_HOST, tr("Host"),
                 tr("The server: its I.P. address (192.168.0.20, 2001:db8::7 or [2001:db8::7]) or its "
                    "host name."));
    host_->setMinimumWidth(150);
    grid->addWidget(host_, 0, 1, 1, 2);
    grid->addWidget(new QLabel(tr("Port"), this), 0, 3);
    port_ = Edit(this, IDC_PORT, tr("Port"), tr("The server's UDP port; TFTP servers listen on 69."));
    port_->setMaximumWidth(70);
    grid->addWidget(port_, 0, 4);

    grid->addWidget(new QLabel(tr("Timeout"), this), 1, 0);
    timeout_ = Edit(this, IDC_TIMEOUT, tr("Timeout"),
                    tr("Seconds without a word from the server before the transfer gives up."));
    timeout_->setMaximumWidth(70);
    grid->addWidget(timeout_, 1, 1);
    sendTimeout_ = new QCheckBox(tr("Send timeout to Server"), this);
    platform::SetControlId(sendTimeout_, IDC_SEND_TIMEOUT);
    sendTimeout_->setWhatsThis(tr("Ask the server to use the same time-out (the timeout option)."));
    grid->addWidget(sendTimeout_, 1, 2, 1, 3);

    auto* blockGroup = new QGroupBox(tr("Block Size"), this);
    auto* blockLayout = new QHBoxLayout(blockGroup);
    blockSizes_ = new QComboBox(blockGroup);
    platform::SetControlId(blockSizes_, IDC_BLOCK_SIZE);
    blockSizes_->setAccessibleName("Block Size");
    blockSizes_->setEditable(true);
    blockSizes_->setInsertPolicy(QComboBox::NoInsert);
    blockSizes_->addItems({"64", "128", "256", "512", "1024", "2048", "4096", "8192", "12250"});
    blockSizes_->setWhatsThis(tr("Data bytes per packet, 64 to 65420; servers that know the "
                              "blksize option agree to it."));
    blockSizes_->lineEdit()->setAcceptDrops(false);
    blockLayout->addWidget(blockSizes_);
    grid->addWidget(blockGroup, 2, 0, 1, 3);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("bitmap%1").arg(IDB_DECORATION));
    picture->setPixmap(Decoration());
    picture->setAlignment(Qt::AlignCenter);
    grid->addWidget(picture, 2, 3, 1, 2);

    grid->addWidget(new QLabel(tr("Local File"), this), 3, 0);
    local_ = Edit(this, IDC_LOCAL_FILE, tr("Local File"),
                  tr("The file on this machine: read from the Outbound folder when sending, "
                     "written to the Inbound folder when fetching."));
    grid->addWidget(local_, 3, 1, 1, 4);
    grid->addWidget(new QLabel(tr("Remote File"), this), 4, 0);
    remote_ = Edit(this, IDC_REMOTE_FILE, tr("Remote File"), tr("The file's name on the server."));
    grid->addWidget(remote_, 4, 1, 1, 4);

    auto* checks = new QHBoxLayout;
    binary_ = TextLeftCheck(tr("Binary"), this, IDC_BINARY);
    binary_->setWhatsThis(tr("Checked: the file's bytes as they are (octet). Unchecked: a text "
                          "file (netascii)."));
    matchFiles_ = TextLeftCheck(tr("Match Files"), this, IDC_MATCH_FILES);
    matchFiles_->setWhatsThis(tr("While checked, the remote name follows the local name."));
    checks->addWidget(binary_);
    checks->addWidget(matchFiles_);
    checks->addStretch(1);
    grid->addLayout(checks, 5, 0, 1, 5);

    auto* buttons = new QHBoxLayout;
    send_ = new QPushButton(tr("Send"), this);
    platform::SetControlId(send_, IDC_SEND);
    send_->setWhatsThis(tr("Send the local file to the server."));
    get_ = new QPushButton(tr("Get"), this);
    platform::SetControlId(get_, IDC_GET);
    get_->setWhatsThis(tr("Fetch the remote file from the server."));
    abort_ = new QPushButton(tr("Abort"), this);
    platform::SetControlId(abort_, ID_TRANSFER_ABORT);
    abort_->setWhatsThis(tr("End the running transfer and tell the server."));
    // Enter presses the focused button, as in a dialog.
    for (QPushButton* button : {send_, get_, abort_}) button->setAutoDefault(true);
    buttons->addWidget(send_);
    buttons->addWidget(get_);
    buttons->addWidget(abort_);
    grid->addLayout(buttons, 6, 0, 1, 5);

    progress = new QProgressBar(this);
    platform::SetControlId(progress, IDC_PROGRESS);
    progress->setAccessibleName("Progress");
    progress->setRange(0, 100);
    progress->setValue(0);
    progress->setTextVisible(false);
    progress->setWhatsThis(tr("How much of the file has gone."));
    grid->addWidget(progress, 7, 0, 1, 5);

    connect(send_, &QPushButton::clicked, this, &CHaldenView::OnSend);
    connect(get_, &QPushButton::clicked, this, &CHaldenView::OnGet);
    connect(abort_, &QPushButton::clicked, this, &CHaldenView::OnAbort);
    connect(matchFiles_, &QCheckBox::clicked, this, &CHaldenView::OnMatchFiles);
    connect(local_, &QLineEdit::textChanged, this, [this] {
        if (!exchanging_) OnChangeLocalFile();
    });
    connect(remote_, &QLineEdit::textChanged, this, [this] {
        if (!exchanging_) OnChangeRemoteFile();
    });
}

// ---- exchange ---------------------------------------------------------------

void CHaldenView::DoDataExchange(bool save) {
    if (save) {
        binary = binary_->isChecked() ? 1 : 0;
        matchFiles = matchFiles_->isChecked() ? 1 : 0;
        localText = local_->text();
        remoteText = remote_->text();
        hostText = host_->text();
        portText = port_->text();
        timeoutText = timeout_->text();
        offerTimeout = sendTimeout_->isChecked() ? 1 : 0;
        return;
    }
    exchanging_ = true;
    binary_->setChecked(binary == 1);
    matchFiles_->setChecked(matchFiles == 1);
    if (local_->text() != localText) local_->setText(localText);
    if (remote_->text() != remoteText) remote_->setText(remoteText);
    if (host_->text() != hostText) host_->setText(hostText);
    if (port_->text() != portText) port_->setText(portText);
    if (timeout_->text() != timeoutText) timeout_->setText(timeoutText);
    sendTimeout_->setChecked(offerTimeout == 1);
    exchanging_ = false;
}

void CHaldenView::OnInitialUpdate() {
    SetButtonNames(app_.changeButtons);
    DoDataExchange(false);
    blockSizes_->setCurrentIndex(3);  // "512"
}

void CHaldenView::SetButtonNames(int flag) {
    if (flag == 1) {
        get_->setText(tr("Get"));
        send_->setText(tr("Put"));
    } else {
        get_->setText(tr("Fetch"));
        send_->setText(tr("Send"));
    }
}

// ---- starting ---------------------------------------------------------------

bool CHaldenView::ReplaceTransfer() {
    if (TransferBusy()) return false;
    transfer.reset();
    transfer = std::make_unique<CTransferSocket>(app_.Context());
    transfer->owner = &messages_;
    transfer->onFailure = [this](const TransferFailure& failure) { ShowFailure(failure); };
    return true;
}

bool CHaldenView::ChooseLocalAddress(std::string& address) {
    ClientContext& context = app_.Context();
    tftp::LocalAddressChoice choice;
    if (!tftp::SelectLocalAddress(context.addresses, app_.Prompts(), context.settings.defaultIp, choice))
        return false;
    address = choice.address;
    return true;
}

bool CHaldenView::OpenLocalPort(const std::string& address) {
    TransferFailure failure;
    {
        const auto hold = transfer->Hold();
        if (transfer->OpenLocalPort(address) == 1) return true;
        failure = transfer->Failure();
    }
    // The object goes first, so that the address it may have announced does
    // not reach the caption; then the user hears why.
    transfer.reset();
    ShowFailure(failure);
    return false;
}

void CHaldenView::ShowFailure(const TransferFailure& failure) {
    const std::string text = TransferFailureText(failure);
    if (!text.empty()) app_.Prompts().MessageBox(text, platform::PromptIcon::Warning, platform::PromptButtons::Ok);
}

void CHaldenView::CopyEntriesToTransfer(int useSourceDir, int send) {
    // With the transfer's lock held by the caller.
    transfer->useSourceDir = useSourceDir;
    transfer->sending = send;
    transfer->timeoutSecs = timeoutSecs;
    transfer->blockSize = blockSize;
    transfer->offerTimeout = offerTimeout;
    transfer->windowSize = app_.windowSize;
    // A new transfer starts from an empty bar, not where the last one ended.
    progress->setValue(0);
}

bool CHaldenView::MayReplaceFetched(int send) {
    if (send == 1 || app_.overwrite) return true;
    // An existing file is replaced only when the user says so.
    tftp::LocalFileReader probe;
    if (!probe.Open(app_.inboundPath + localName, false)) return true;
    probe.Close();
    return app_.Prompts().MessageBox("File already exists\n\nOverwrite it ?", platform::PromptIcon::Question,
                                     platform::PromptButtons::YesNo) == platform::kIdYes;
}

void CHaldenView::Start(int send) {
    StartRequest request;
    request.send = send;
    LookUpThenStart(request);
}

void CHaldenView::OnSend() { Start(1); }
void CHaldenView::OnGet() { Start(0); }

void CHaldenView::SendDroppedFile(const std::string& path) {
    if (LookingUp() || TransferBusy()) return;
    StartRequest request;
    request.send = 1;
    request.dropped = true;
    const std::size_t slash = path.rfind('/');
    request.folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    request.file = slash == std::string::npos ? path : path.substr(slash + 1);

    DoDataExchange(true);
    localText = remoteText = Text(request.file);
    matchFiles = 1;
    DoDataExchange(false);
    LookUpThenStart(request);
}

std::string CHaldenView::HostEntry() const { return Bytes(Cut(host_->text(), kHostLimit)); }

void CHaldenView::LookUpThenStart(const StartRequest& request) {
    // One that waits for its host's addresses is on its way already.
    if (LookingUp() || TransferBusy()) return;
    const std::string host = HostEntry();
    platform::PeerAddress literal;
    if (skerry::ClassifyHost(host, literal) != skerry::HostKind::Name || host == lookedUpHost_) {
        StartWithHost(request);
        return;
    }
    app_.SetStatusText(0, "Looking up " + host + " ...");
    lookup_->Start(host, 0, [this, request, host](std::vector<platform::PeerAddress> found) {
        lookedUpHost_ = host;
        lookedUp_ = std::move(found);
        if (lookedUp_.empty()) app_.SetStatusText(0, std::string());
        // Edited meanwhile: the text as it is now is the one to go by.
        if (HostEntry() != host) lookedUpHost_.clear();
        LookUpThenStart(request);
    });
}

void CHaldenView::StartWithHost(const StartRequest& request) {
    platform::PeerAddress literal;
    const std::string host = HostEntry();
    const skerry::HostKind kind = skerry::ClassifyHost(host, literal);
    const bool found = kind == skerry::HostKind::Name && host == lookedUpHost_ && !lookedUp_.empty();
    const bool anyIpv4 = found && std::any_of(lookedUp_.begin(), lookedUp_.end(),
                                              [](const platform::PeerAddress& a) { return !a.v6; });
    // Dotted text (or text that is no address at all) binds to the chosen
    // local address before the entries are checked, as it always has; an
    // IPv6 server gets its socket with the start, and a name's addresses
    // have the local IPv4 address chosen for them if one is IPv4 (a name
    // that was not found is told by the entries check).
    const bool bindFirst = kind != skerry::HostKind::Name && !(kind == skerry::HostKind::Literal && literal.v6);
    std::string address;
    const int start = ++starts_;
    bool ready = (!bindFirst && !anyIpv4) || ChooseLocalAddress(address);
    ready = ready && start == starts_ && ReplaceTransfer();
    if (ready && bindFirst) ready = OpenLocalPort(address);
    if (ready && !bindFirst) {
        const auto hold = transfer->Hold();
        transfer->UseLocalAddress(address);
    }
    // A start made while a question of this one was open has taken the
    // transfer object: then this one ends.
    ready = ready && ValidateInputs() == 1 && MayReplaceFetched(request.send) && start == starts_ && transfer &&
            !TransferBusy();
    if (ready) {
        TransferFailure failure;
        {
            const auto hold = transfer->Hold();
            if (request.dropped) transfer->sourceDir = request.folder;
            CopyEntriesToTransfer(request.dropped ? 1 : 0, request.send);
            // Nothing is asked between here and the request going out.
            const int started = request.send == 1
                                    ? transfer->StartSend(remoteName, localName, servers, port, binary,
                                                          request.dropped ? request.file : std::string())
                                    : transfer->StartFetch(remoteName, localName, servers, port, binary);
            if (!started) failure = transfer->Failure();
        }
        // Told without the lock: the transfer's thread goes on meanwhile.
        if (failure.what != TransferFailure::What::None) ShowFailure(failure);
    }
    // A name is looked up afresh for every start.
    if (start == starts_) {
        lookedUpHost_.clear();
        lookedUp_.clear();
    }
}

void CHaldenView::Warn(const char* text) {
    app_.Prompts().MessageBox(text, platform::PromptIcon::Warning, platform::PromptButtons::Ok);
}

int CHaldenView::ValidateInputs() {
    DoDataExchange(true);

    if (localText.isEmpty()) return 0;
    localName = Bytes(Cut(localText, kNameLimit));

    if (remoteText.isEmpty()) return 0;
    const std::string remote = Bytes(Cut(remoteText, kNameLimit));
    if (app_.truncate == 1) {
        remoteName = ShortName(remote);
        remoteText = Text(remoteName);
        DoDataExchange(false);
    } else {
        remoteName = remote;
    }

    hostAddress = Bytes(Cut(hostText, kHostLimit));
    // A literal as it stands; a name only as the start looked it up.
    servers = skerry::HostCandidates(hostAddress, 0, [this](const std::string& name,
                                                          std::vector<platform::PeerAddress>& found) {
        if (name != lookedUpHost_ || lookedUp_.empty()) return false;
        found = lookedUp_;
        return true;
    });
    if (servers.empty()) {
        Warn("Illegal I.P. for Host Address\nPlease be more diligent  :)");
        return 0;
    }

    // Digit runs too long for an int read as the largest int: a huge port
    // passes (its low 16 bits reach the wire), a huge time-out is simply
    // long, a huge block size is out of range.
    port = tftp::LeadingDigits(Bytes(portText));
    if (port < 1) {
        Warn("Illegal port number specified\nport 69 will be used");
        port = 69;
    }
    timeoutSecs = tftp::LeadingDigits(Bytes(timeoutText));
    if (timeoutSecs == 0) {
        Warn("Timeout set to 30 seconds");
        timeoutSecs = 30;
    }

    app_.host = hostAddress;
    app_.localFile = localName;
    app_.remoteFile = remoteName;

    blockSize = tftp::LeadingDigits(Bytes(blockSizes_->currentText()));
    if (blockSize < kMinBlock || blockSize > kMaxBlock) {
        CBlockSizeDlg dlg(window());
        dlg.DoModal();
        blockSize = tftp::kDefaultBlockSize;
        OnTransferBlockSize(0, blockSize);
    }
    app_.SaveStartup();
    return 1;
}

// ---- matching names -----------------------------------------------------------

void CHaldenView::OnChangeLocalFile() {
    if (matchFiles != 1) return;
    DoDataExchange(true);
    remoteText = localText;
    DoDataExchange(false);
}

void CHaldenView::OnChangeRemoteFile() {
    if (matchFiles != 1) return;
    DoDataExchange(true);
    matchFiles = 0;
    DoDataExchange(false);
}

void CHaldenView::OnMatchFiles() {
    DoDataExchange(true);
    if (matchFiles == 1) {
        remoteText = localText;
        DoDataExchange(false);
    }
}

// ---- abort ------------------------------------------------------------------

void CHaldenView::OnAbort() {
    if (LookingUp()) {
        // Nothing has gone to any server yet: the start just ends.
        lookup_->Cancel();
        app_.SetStatusText(0, kAbortedText);
        return;
    }
    if (!transfer) return;
    std::string text;
    {
        const auto hold = transfer->Hold();
        if (!transfer->busy) return;
        transfer->Abort(tftp::kErrTransferAborted);
        // The bar stays where it was; the status line tells how far it got.
        const bool moved = transfer->sending == 1 ? transfer->bytesSent > 0 : transfer->blocksReceived > 0;
        text = moved ? transfer->statusText + " - Aborted" : std::string(kAbortedText);
    }
    app_.SetStatusText(0, text);
}

bool CHaldenView::LookingUp() const { return lookup_->Running(); }

bool CHaldenView::TransferBusy() const {
    if (!transfer) return false;
    const auto hold = transfer->Hold();
    return transfer->busy != 0;
}

bool CHaldenView::OnUpdateAbort() const { return LookingUp() || TransferBusy(); }

// ---- messages from the transfer -----------------------------------------------

void CHaldenView::OnPostedMessage(int message, std::int64_t wParam, std::int64_t lParam) {
    switch (message) {
    case WM_TRANSFER_PROGRESS: OnTransferProgress(wParam, lParam); break;
    case WM_TRANSFER_BLOCKSIZE: OnTransferBlockSize(wParam, lParam); break;
    case WM_TRANSFER_ADDRESS: OnTransferAddress(wParam, lParam); break;
    default: break;
    }
}

long CHaldenView::OnTransferProgress(std::int64_t wParam, std::int64_t lParam) {
    const std::int64_t v = lParam != 0 ? lParam : 1;
    if (wParam == kProgressStart) {
        progress->setRange(0, 100);
        progress->setValue(0);
        progressTotal = v;
    } else if (wParam == kProgressDone) {
        progress->setValue(100);
    } else {
        // The bar goes as the percentage in the status line does; a count
        // beyond the announced size shows as a full bar.
        const double percent = 100.0 * static_cast<double>(v) / static_cast<double>(progressTotal);
        progress->setValue(static_cast<int>(std::clamp(percent, 0.0, 100.0)));
    }
    return 0;
}

long CHaldenView::OnTransferBlockSize(std::int64_t, std::int64_t lParam) {
    blockSizes_->setEditText(QString::number(lParam));
    return 0;
}

long CHaldenView::OnTransferAddress(std::int64_t, std::int64_t) {
    if (!transfer) return 0;
    std::string address;
    {
        const auto hold = transfer->Hold();
        address = transfer->localAddress;
    }
    app_.Document().SetTitle(address);
    return 0;
}
