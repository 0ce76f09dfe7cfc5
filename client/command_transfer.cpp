#include "command_transfer.h"

#include "client/engine/host_candidates.h"
#include "client/engine/transfer_socket.h"
#include "client/failure_text.h"
#include "platform/posted_messages.h"
#include "platform/prompt_service.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kMaxPort = 65535;
constexpr int kMaxWindow = 65535;
constexpr int kMaxTimeoutSecs = 3600;
// After a fetch, how long a repeat of the last block is still answered (the
// server missed the last ACK); shorter than the window's wait, since a
// script waits for the program to end.
constexpr int kCommandLingerMs = 1000;
constexpr int kCheckEveryMs = 20;
constexpr int kProgressEveryMs = 100;

void Print(std::FILE* to, const std::string& text) {
    std::fputs(text.c_str(), to);
    std::fflush(to);
}

std::string Name() { return QCoreApplication::applicationName().toStdString(); }

// Digits only, within 1..limit.
bool ReadNumber(const QString& text, int limit, int& value) {
    if (text.isEmpty() || text.size() > 6) return false;
    for (const QChar c : text)
        if (c.unicode() < '0' || c.unicode() > '9') return false;
    value = text.toInt();
    return value >= 1 && value <= limit;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Nobody to ask: each message is a line on standard error, each question
// takes the answer of its default button, the first local address is taken.
class CommandPrompts final : public platform::PromptService {
public:
    int MessageBox(const std::string& text, platform::PromptIcon, platform::PromptButtons buttons) override {
        std::string line = text;
        for (char& c : line)
            if (c == '\n') c = ' ';
        Print(stderr, Name() + ": " + line + "\n");
        return buttons == platform::PromptButtons::YesNo ? platform::kIdYes : platform::kIdOk;
    }
    bool CanShowWindows() const override { return false; }
    bool ChooseLocalAddress(platform::AddressForm, const std::vector<std::string>& addresses, bool&,
                            int& index) override {
        index = 0;
        return !addresses.empty();
    }
    bool EnterLocalAddress(platform::AddressForm, std::string&) override { return false; }
};

// The status line: kept for the end, shown as it changes on a terminal.
class CommandStatus final : public StatusSink {
public:
    explicit CommandStatus(platform::Clock& clock) : clock_(clock), terminal_(::isatty(STDERR_FILENO) == 1) {}
    void SetStatusText(int, const std::string& text) override {
        last = text;
        if (!terminal_) return;
        const std::int64_t now = clock_.NowMs();
        if (shown_ && now - shownAtMs_ < kProgressEveryMs) return;
        Show();
        shownAtMs_ = now;
    }
    // The last text stays on its line; the next output starts a line of its own.
    void End() {
        if (!terminal_) return;
        Show();
        Print(stderr, "\n");
    }
    std::string last;

private:
    void Show() {
        Print(stderr, "\r" + last + "\x1b[K");
        shown_ = true;
    }
    platform::Clock& clock_;
    const bool terminal_;
    bool shown_ = false;
    std::int64_t shownAtMs_ = 0;
};

}  // namespace

bool WantsCommandTransfer(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--get") == 0 || std::strcmp(argv[i], "--put") == 0) return true;
    return false;
}

bool SplitHostPort(const std::string& text, std::string& host, int& port) {
    std::string portText;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) return false;
        host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return false;
            portText = rest.substr(1);
            if (portText.empty()) return false;
        }
    } else {
        const std::size_t colon = text.find(':');
        if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
            host = text.substr(0, colon);
            portText = text.substr(colon + 1);
            if (portText.empty()) return false;
        } else {
            host = text;  // no colon, or an IPv6 address without brackets
        }
    }
    if (host.empty()) return false;
    port = 69;
    if (!portText.empty() && !ReadNumber(QString::fromStdString(portText), kMaxPort, port)) return false;
    return true;
}

int ReadCommandTransfer(const QStringList& arguments, CommandTransfer& transfer) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Skerry, a TFTP client with a window; with --get or --put, one transfer and no window.\n"
                       "  skerry --get HOST[:PORT] REMOTE [LOCAL]\n"
                       "  skerry --put HOST[:PORT] LOCAL [REMOTE]\n"
                       "HOST is an address ([IPv6]:PORT with a port); the port is 69 unless given.\n"
                       "Exit status: 0 the whole file delivered, 1 the transfer failed, 2 a usage error."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption get(QStringLiteral("get"), QStringLiteral("Fetch REMOTE into LOCAL (default: its name)."));
    const QCommandLineOption put(QStringLiteral("put"), QStringLiteral("Send LOCAL as REMOTE (default: its name)."));
    const QCommandLineOption blksize(QStringLiteral("blksize"),
                                     QStringLiteral("Ask for N data bytes per block (8 to 65464; 512 asks nothing)."),
                                     QStringLiteral("N"));
    const QCommandLineOption windowsize(QStringLiteral("windowsize"),
                                        QStringLiteral("Ask for N blocks per ACK (1 to 65535; 1 asks nothing)."),
                                        QStringLiteral("N"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Give up after S seconds without a word from the server (default 10)."),
                                     QStringLiteral("S"));
    const QCommandLineOption netascii(QStringLiteral("netascii"),
                                      QStringLiteral("Transfer as text (netascii) instead of bytes as they are."));
    parser.addOptions({get, put, blksize, windowsize, timeout, netascii});
    parser.addPositionalArgument(QStringLiteral("HOST[:PORT]"), QStringLiteral("The server."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The file to fetch or send."));
    parser.addPositionalArgument(QStringLiteral("[FILE]"), QStringLiteral("Its name at the other end."));

    const auto usage = [&](const QString& why) {
        Print(stderr, Name() + ": " + why.toStdString() + "\n" + parser.helpText().toStdString());
        return 2;
    };
    if (!parser.parse(arguments)) return usage(parser.errorText());
    if (parser.isSet(help)) {
        Print(stdout, parser.helpText().toStdString());
        return 0;
    }
    if (parser.isSet(version)) {
        Print(stdout, Name() + " " + QCoreApplication::applicationVersion().toStdString() + "\n");
        return 0;
    }
    if (parser.isSet(get) == parser.isSet(put)) return usage(QStringLiteral("Give one of --get and --put."));
    const QStringList args = parser.positionalArguments();
    if (args.size() < 2 || args.size() > 3)
        return usage(QStringLiteral("--%1 takes HOST[:PORT], a file and perhaps its other name.")
                         .arg(parser.isSet(get) ? QStringLiteral("get") : QStringLiteral("put")));

    CommandTransfer read;
    read.fetch = parser.isSet(get);
    if (!SplitHostPort(args[0].toStdString(), read.host, read.port))
        return usage(QStringLiteral("'%1' is not HOST, HOST:PORT or [IPv6]:PORT with a port from 1 to 65535.")
                         .arg(args[0]));
    const std::string first = args[1].toStdString();
    const std::string second = args.size() == 3 ? args[2].toStdString() : std::string();
    if (first.empty() || (args.size() == 3 && second.empty())) return usage(QStringLiteral("A file name is empty."));
    if (read.fetch) {
        read.remote = first;
        read.local = args.size() == 3 ? second : BaseName(first);
    } else {
        read.local = first;
        read.remote = args.size() == 3 ? second : BaseName(first);
    }
    if (read.local.empty() || read.remote.empty())
        return usage(QStringLiteral("No file name in '%1'.").arg(args[1]));
    const auto number = [&](const QCommandLineOption& option, int low, int high, int& into) {
        if (!parser.isSet(option)) return true;
        return ReadNumber(parser.value(option), high, into) && into >= low;
    };
    if (!number(blksize, 8, 65464, read.blockSize))
        return usage(QStringLiteral("--blksize: '%1' is not a block size from 8 to 65464.").arg(parser.value(blksize)));
    if (!number(windowsize, 1, kMaxWindow, read.windowSize))
        return usage(QStringLiteral("--windowsize: '%1' is not a window from 1 to 65535.").arg(parser.value(windowsize)));
    if (!number(timeout, 1, kMaxTimeoutSecs, read.timeoutSecs))
        return usage(QStringLiteral("--timeout: '%1' is not a number of seconds from 1 to 3600.").arg(parser.value(timeout)));
    read.netascii = parser.isSet(netascii);
    transfer = read;
    return -1;
}

int RunCommandTransfer(const CommandTransfer& command, const ClientSettings& base, platform::Clock& clock,
                       tftp::AddressProvider& addresses) {
    // A literal address as it stands, a name as the resolver gives it (no
    // window waits here); each address is tried in turn until one answers.
    const std::vector<platform::PeerAddress> servers = skerry::HostCandidates(command.host, 0);
    if (servers.empty()) {
        Print(stderr, Name() + ": Illegal I.P. for Host Address: " + command.host + "\n");
        return 2;
    }
    const bool anyIpv4 =
        std::any_of(servers.begin(), servers.end(), [](const platform::PeerAddress& a) { return !a.v6; });
    ClientSettings settings = base;
    // The paths are the user's own, relative to the current folder; the file
    // named is the one meant, so it is replaced without a question (and only
    // once the whole of it has arrived).
    settings.inboundPath.clear();
    settings.outboundPath.clear();
    settings.overwrite = 1;
    settings.windowSize = command.windowSize;
    CommandPrompts prompts;
    CommandStatus status(clock);
    ClientContext context{settings, clock, addresses, status};
    platform::PostedMessages posted([](int, std::int64_t, std::int64_t) {});

    CTransferSocket transfer(context);
    // Its thread starts with the start: from then on the lock is held.
    transfer.owner = &posted;
    const auto tell = [&prompts](const TransferFailure& failure) {
        const std::string text = TransferFailureText(failure);
        if (!text.empty()) prompts.MessageBox(text, platform::PromptIcon::Warning, platform::PromptButtons::Ok);
    };
    transfer.onFailure = tell;
    // The local IPv4 address is chosen only for an IPv4 server; the socket
    // comes with the start.
    if (anyIpv4) {
        tftp::LocalAddressChoice choice;
        if (!tftp::SelectLocalAddress(addresses, prompts, settings.defaultIp, choice)) return 1;
        transfer.UseLocalAddress(choice.address);
    }
    transfer.blockSize = command.blockSize;
    transfer.windowSize = command.windowSize;
    transfer.timeoutSecs = command.timeoutSecs;
    transfer.sending = command.fetch ? 0 : 1;
    const int binary = command.netascii ? 0 : 1;
    TransferFailure failure;
    int started = 0;
    {
        const auto hold = transfer.Hold();
        started = command.fetch
                      ? transfer.StartFetch(command.remote, command.local, servers, command.port, binary)
                      : transfer.StartSend(command.remote, command.local, servers, command.port, binary, {});
        failure = transfer.Failure();
    }
    if (started != 1) {
        tell(failure);
        return 1;
    }

    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        const auto hold = transfer.Hold();
        if (!context.timeOnTransferThreads) transfer.CheckTimeout();
        if (transfer.busy != 1) loop.quit();
    });
    check.start(kCheckEveryMs);
    loop.exec();
    check.stop();
    // The status texts the transfer's thread posted before its end.
    QCoreApplication::sendPostedEvents();
    status.End();

    bool completed = false;
    std::string serverMessage;
    {
        const auto hold = transfer.Hold();
        completed = transfer.Completed();
        serverMessage = transfer.ServerMessage();
    }
    if (!completed) {
        const std::string why = !serverMessage.empty()
                                    ? "server: " + serverMessage
                                    : (status.last.empty() ? std::string("transfer failed") : status.last);
        Print(stderr, Name() + ": " + why + "\n");
        return 1;
    }
    if (command.fetch) {
        // The server may not have heard the last ACK: answer its repeat.
        QTimer::singleShot(kCommandLingerMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return 0;
}
