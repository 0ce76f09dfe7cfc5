// Skerry against real TFTP servers, in the test's own network namespace:
// tftpd-hpa, atftpd and the project's own server engine, in octet and
// netascii, at several block sizes and windows, both ways, files compared
// byte for byte; driven through the real form wherever the form allows.
#include "client/client_app.h"
#include "client/client_ids.h"
#include "client/engine/host_candidates.h"
#include "client/engine/transfer_socket.h"
#include "client/halden_view.h"
#include "client/main_frame.h"
#include "platform/clock.h"
#include "platform/control_ids.h"
#include "platform/scripted_prompt_service.h"
#include "server/engine/listen_socket.h"
#include "server/engine/server_context.h"
#include "tests/client/client_test_support.h"
#include "tests/client/peer_servers.h"
#include "tests/support/event_loop.h"
#include "tests/support/temp_dir.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

using namespace skerry;
using platform::FindControl;

namespace {

// What the tests read of a transfer whose own thread runs it.
bool Idle(const CTransferSocket& t) {
    const auto hold = t.Hold();
    return t.busy == 0;
}
std::int64_t ReceivedBytes(const CTransferSocket& t) {
    const auto hold = t.Hold();
    return t.bytesReceived;
}

enum class Server { TftpdHpa, Atftpd, Vantrel };

const char* Name(Server s) {
    switch (s) {
    case Server::TftpdHpa: return "TftpdHpa";
    case Server::Atftpd: return "Atftpd";
    case Server::Vantrel: return "Vantrel";
    }
    return "?";
}

constexpr int kHpaPort = 6969;            // tftpd-hpa as installed
constexpr int kAtftpdPort = 6970;
constexpr int kHpaNoTsizePort = 6971;     // tftpd-hpa -r tsize
constexpr int kHpaNoOptionsPort = 6972;   // tftpd-hpa -r blksize -r tsize
constexpr int kVantrelPort = 6973;

// A text as Linux keeps it: LF line ends (no CR, no NUL, no Ctrl-Z).
std::string LfText(std::size_t atLeast, int seed) {
    std::string text;
    for (int line = 0; text.size() < atLeast; ++line)
        text += "line " + std::to_string(line) + " of text " + std::to_string(seed) + ": " +
                std::string(static_cast<std::size_t>((line * 7 + seed) % 61), 'a' + line % 26) + "\n";
    return text;
}

std::string CrLf(const std::string& lf) {
    std::string out;
    for (char c : lf) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// The results the server engine reports.
class ResultLog final : public TransferView {
public:
    void OnTransferEvent(const TransferEvent& event) override {
        if (const auto* result = std::get_if<TransferResult>(&event)) results.push_back(result->text);
    }
    std::vector<std::string> results;
};

// The project's own server engine on 127.0.0.1.
struct OwnServer {
    OwnServer() : app(settings, clock, prompts, addresses) {
        settings.OutPath = out.Path() + "/";
        settings.InPath = in.Path() + "/";
        settings.Port = std::to_string(kVantrelPort);
        settings.nMaxClients = 5;  // no limit
        settings.nDefAddress = 0;
        app.view = &log;
        listener = std::make_unique<CListenSocket>(app);
    }
    EngineSettings settings;
    platform::SystemClock clock;
    platform::ScriptedPromptService prompts;
    tftp::FixedAddressProvider addresses{"vantrel", {"127.0.0.1"}};
    ServerContext app;
    ResultLog log;
    tests::TempDir out, in;
    std::unique_ptr<CListenSocket> listener;
};

class Interop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root = new tests::TempDir;  // tftpd-hpa
        atRoot = new tests::TempDir;
        tests::OpenToEveryone(root->Path());
        tests::OpenToEveryone(atRoot->Path());
        hpa = tests::PeerServer::TftpdHpa(root->Path(), kHpaPort).release();
        hpaNoTsize = tests::PeerServer::TftpdHpa(root->Path(), kHpaNoTsizePort, {"-r", "tsize"}).release();
        hpaNoOptions = tests::PeerServer::TftpdHpa(root->Path(), kHpaNoOptionsPort,
                                                   {"-r", "blksize", "-r", "tsize"}).release();
        atftpd = tests::PeerServer::Atftpd(atRoot->Path(), kAtftpdPort).release();
        own = new OwnServer;
        ownStarted = own->listener->StartListening();
    }
    static void TearDownTestSuite() {
        delete own;
        delete hpa;
        delete hpaNoTsize;
        delete hpaNoOptions;
        delete atftpd;
        delete root;
        delete atRoot;
    }

    void SetUp() override {
        ASSERT_NE(hpa, nullptr) << "tftpd-hpa did not start from " << tests::PeerServer::TftpdHpaPath()
                                << " (scripts/setup.sh --test unpacks it into .peers)";
        ASSERT_TRUE(ownStarted) << "the server engine did not start";
        app = std::make_unique<CClientApp>(prompts, clock, addresses, local.File("Skerry.INI"));
        ASSERT_TRUE(app->InitInstance());
        app->inboundPath = local.Path() + "/in/";
        app->outboundPath = local.Path() + "/out/";
        std::filesystem::create_directories(app->inboundPath);
        std::filesystem::create_directories(app->outboundPath);
        app->overwrite = 1;
        view = app->View();
        frame = app->MainFrame();
    }
    void TearDown() override {
        app.reset();
        if (own) {
            own->listener->SweepTransfers();
            own->app.DeliverEvents();
        }
        EXPECT_TRUE(prompts.MessageTexts().empty())
            << "unexpected message: " << prompts.MessageTexts().front();
    }

    // Where a server keeps the file `name`: to be fetched, and once sent.
    static std::string ServerFile(Server s, const std::string& name, bool sent) {
        switch (s) {
        case Server::TftpdHpa: return root->File(name);
        case Server::Atftpd: return atRoot->File(name);
        case Server::Vantrel: return sent ? own->in.File(name) : own->out.File(name);
        }
        return {};
    }
    static void PutOnServer(Server s, const std::string& name, const std::string& bytes) {
        const std::string path = ServerFile(s, name, false);
        tests::WriteFile(path, bytes);
        ::chmod(path.c_str(), 0644);
    }

    void Type(int id, const QString& text) {
        QLineEdit* e = FindControl<QLineEdit>(frame, id);
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keyClicks(e, text);
    }
    // Fills the form: server port, names, block size and mode.
    void Aim(int port, const std::string& localName, const std::string& remoteName, int block,
             bool octet) {
        Type(IDC_HOST, "127.0.0.1");
        Type(IDC_PORT, QString::number(port));
        Type(IDC_LOCAL_FILE, QString::fromStdString(localName));
        Type(IDC_REMOTE_FILE, QString::fromStdString(remoteName));
        QComboBox* sizes = FindControl<QComboBox>(frame, IDC_BLOCK_SIZE);
        sizes->lineEdit()->selectAll();
        QTest::keyClicks(sizes->lineEdit(), QString::number(block));
        QCheckBox* binary = FindControl<QCheckBox>(frame, IDC_BINARY);
        if (binary->isChecked() != octet) QTest::mouseClick(binary, Qt::LeftButton);
    }
    void Click(int id) {
        QTest::mouseClick(FindControl<QAbstractButton>(frame, id), Qt::LeftButton);
    }
    bool WaitDone(int timeoutMs = 120000) {
        return tests::WaitFor([&] { return view->transfer && !view->TransferBusy(); }, timeoutMs);
    }
    QString Status() { return frame->MessagePane()->text(); }
    // Whether the message pane comes to show text (a text may be drawn a
    // few milliseconds after the one before).
    bool Shows(const QString& text) {
        return tests::WaitFor([&] { return Status() == text; }, 5000);
    }

    // Through the form when it takes the block size, else through the engine.
    bool Fetch(int port, const std::string& name, int block, bool octet) {
        if (block <= CHaldenView::kMaxBlock) {
            Aim(port, name, name, block, octet);
            Click(IDC_GET);
            // A small file may be done before the click returns.
            return view->transfer && WaitDone();
        }
        engine = std::make_unique<CTransferSocket>(app->Context());
        engine->blockSize = block;
        engine->timeoutSecs = 10;
        {
            const auto hold = engine->Hold();
            if (!engine->OpenLocalPort("127.0.0.1") ||
                !engine->StartFetch(name, name, "127.0.0.1", port, octet ? 1 : 0))
                return false;
        }
        return tests::WaitFor([&] { return Idle(*engine); }, 120000);
    }
    bool Send(int port, const std::string& name, int block, bool octet) {
        if (block <= CHaldenView::kMaxBlock) {
            Aim(port, name, name, block, octet);
            Click(IDC_SEND);
            // A small file may be done before the click returns.
            return view->transfer && WaitDone();
        }
        engine = std::make_unique<CTransferSocket>(app->Context());
        engine->blockSize = block;
        engine->sending = 1;
        engine->timeoutSecs = 10;
        {
            const auto hold = engine->Hold();
            if (!engine->OpenLocalPort("127.0.0.1") ||
                !engine->StartSend(name, name, "127.0.0.1", port, octet ? 1 : 0, {}))
                return false;
        }
        return tests::WaitFor([&] { return Idle(*engine); }, 120000);
    }
    std::string Fetched(const std::string& name) { return tests::ReadFile(app->inboundPath + name); }
    void PutLocal(const std::string& name, const std::string& bytes) {
        tests::WriteFile(app->outboundPath + name, bytes);
    }

    static inline tests::TempDir* root = nullptr;
    static inline tests::TempDir* atRoot = nullptr;
    static inline tests::PeerServer* hpa = nullptr;
    static inline tests::PeerServer* hpaNoTsize = nullptr;
    static inline tests::PeerServer* hpaNoOptions = nullptr;
    static inline tests::PeerServer* atftpd = nullptr;
    static inline OwnServer* own = nullptr;
    static inline bool ownStarted = false;

    tests::TempDir local;
    platform::ScriptedPromptService prompts;
    platform::ManualClock clock;
    tftp::FixedAddressProvider addresses{"skerry", {"127.0.0.1"}};
    std::unique_ptr<CClientApp> app;
    CHaldenView* view = nullptr;
    CMainFrame* frame = nullptr;
    std::unique_ptr<CTransferSocket> engine;
};

// ---- the matrix: server x mode x block size (x window), both ways -------------------

namespace {
// atftpd's log lines for the OACKs it sent that grant a window of `window`.
int OacksGranting(const std::string& log, int window) {
    const std::string granted = "windowsize: " + std::to_string(window) + ">";
    int n = 0;
    std::size_t at = 0;
    while ((at = log.find("sent OACK <", at)) != std::string::npos) {
        const std::string line = log.substr(at, log.find('\n', at) - at);
        n += line.find(granted) != std::string::npos;
        at += line.size();
    }
    return n;
}
}  // namespace

struct Case {
    Server server;
    bool octet;
    int block;
    int window = 1;  // the Setup's window size; tftpd-hpa knows none: lock-step
};

class Matrix : public Interop, public ::testing::WithParamInterface<Case> {};

TEST_P(Matrix, FetchAndSendAreByteForByte) {
    const Case c = GetParam();
    if (c.server == Server::Atftpd && !atftpd)
        GTEST_SKIP() << "atftpd not found at " << tests::PeerServer::AtftpdPath()
                     << " (scripts/setup.sh --test unpacks it into .peers)";
    const std::string tag = std::string(Name(c.server)) + (c.octet ? "-octet-" : "-netascii-") +
                            std::to_string(c.block) + "-w" + std::to_string(c.window);
    int port = c.server == Server::TftpdHpa ? kHpaPort
             : c.server == Server::Atftpd   ? kAtftpdPort
                                            : kVantrelPort;
    // tftpd-hpa refuses tsize in netascii, and every fetch asks for it: its
    // netascii fetches go to the copy that ignores tsize.
    const int fetchPort = (c.server == Server::TftpdHpa && !c.octet) ? kHpaNoTsizePort : port;
    // With a window: more than two windows of 64.
    const std::size_t size = static_cast<std::size_t>(c.block) * (c.window > 1 ? 150 : 3) + 17;
    app->windowSize = c.window;  // as the Setup's Transfer page leaves it
    const int grantedBefore = atftpd ? OacksGranting(atftpd->Output(), c.window) : 0;

    // Fetch.
    const std::string fetchName = "get-" + tag;
    const std::string onServer = c.octet ? tests::PatternBytes(size, c.block) : LfText(size, c.block);
    PutOnServer(c.server, fetchName, onServer);
    ASSERT_TRUE(Fetch(fetchPort, fetchName, c.block, c.octet)) << Status().toStdString();
    EXPECT_EQ(Fetched(fetchName), c.octet ? onServer : CrLf(onServer))
        << tag << ": " << Status().toStdString();

    // Send: a text with CR LF line ends travels with LF ends; the RFC servers
    // keep LF, our own engine stores CR LF.
    const std::string sendName = "put-" + tag;
    const std::string text = LfText(size, c.block + 1);
    const std::string mine = c.octet ? tests::PatternBytes(size + 100, c.block + 1) : CrLf(text);
    PutLocal(sendName, mine);
    ASSERT_TRUE(Send(port, sendName, c.block, c.octet)) << Status().toStdString();
    const std::string stored = ServerFile(c.server, sendName, true);
    ASSERT_TRUE(tests::WaitFor([&] { return tests::ReadFile(stored).size() >= (c.octet ? mine.size() : text.size()); }, 10000));
    const std::string expected =
        c.octet ? mine : (c.server == Server::Vantrel ? CrLf(text) : text);
    EXPECT_EQ(tests::ReadFile(stored), expected) << tag;
    if (c.server == Server::Atftpd && c.window > 1) {
        EXPECT_EQ(OacksGranting(atftpd->Output(), c.window) - grantedBefore, 2) << atftpd->Output();
    }
}

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (Server s : {Server::TftpdHpa, Server::Atftpd, Server::Vantrel})
        for (bool octet : {true, false})
            for (int block : {512, 1428, 8192, 65420, 65464}) cases.push_back({s, octet, block});
    for (const Case& c : {Case{Server::Atftpd, true, 1428, 16}, Case{Server::Atftpd, false, 512, 64},
                          Case{Server::Vantrel, true, 1428, 64}, Case{Server::Vantrel, false, 512, 16},
                          Case{Server::TftpdHpa, true, 512, 16}})
        cases.push_back(c);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Servers, Matrix, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(Name(info.param.server)) +
                                    (info.param.octet ? "_Octet_" : "_Netascii_") +
                                    std::to_string(info.param.block) +
                                    (info.param.window > 1 ? "_Window" + std::to_string(info.param.window) : "");
                         });

// ---- netascii and options -----------------------------------------------------------

TEST_F(Interop, NetasciiFetchFromTftpdHpaStoresTheCrLfVersionOfAnLfText) {
    const std::string lf = "first line\nsecond line\n\nlast line without end";
    PutOnServer(Server::TftpdHpa, "lf.txt", lf);
    ASSERT_TRUE(Fetch(kHpaNoTsizePort, "lf.txt", 512, false));
    EXPECT_EQ(Fetched("lf.txt"), "first line\r\nsecond line\r\n\r\nlast line without end");
}

TEST_F(Interop, StockTftpdHpaRefusingTsizeInNetasciiIsAskedAgainWithoutOptions) {
    // tftpd-hpa answers a netascii request carrying tsize with ERROR 8.
    PutOnServer(Server::TftpdHpa, "refused.txt", "text\nmore\n");
    ASSERT_TRUE(Fetch(kHpaPort, "refused.txt", 512, false));
    EXPECT_EQ(Fetched("refused.txt"), "text\r\nmore\r\n");
    EXPECT_TRUE(Shows("Received 12 bytes (1 blocks) - Done")) << Status().toStdString();
}

TEST_F(Interop, AServerRefusingOptionsStillWorksAtFiveTwelve) {
    const std::string body = tests::PatternBytes(5000, 7);
    PutOnServer(Server::TftpdHpa, "plain.bin", body);
    ASSERT_TRUE(Fetch(kHpaNoOptionsPort, "plain.bin", 512, true));
    EXPECT_EQ(Fetched("plain.bin"), body);
    PutLocal("plain-up.bin", body);
    ASSERT_TRUE(Send(kHpaNoOptionsPort, "plain-up.bin", 512, true));
    EXPECT_EQ(tests::ReadFile(root->File("plain-up.bin")), body);
}

TEST_F(Interop, AskingALargerBlockOfAServerRefusingOptionsFallsBackToFiveTwelve) {
    const std::string body = tests::PatternBytes(20000, 8);
    PutOnServer(Server::TftpdHpa, "fallback.bin", body);
    ASSERT_TRUE(Fetch(kHpaNoOptionsPort, "fallback.bin", 8192, true));
    EXPECT_EQ(Fetched("fallback.bin"), body) << "not cut after the first 512 bytes";
    EXPECT_TRUE(tests::WaitFor([&] {
        return FindControl<QComboBox>(frame, IDC_BLOCK_SIZE)->currentText() == "512";
    }, 5000));
    PutLocal("fallback-up.bin", body);
    ASSERT_TRUE(Send(kHpaNoOptionsPort, "fallback-up.bin", 8192, true));
    EXPECT_EQ(tests::ReadFile(root->File("fallback-up.bin")), body);
}

// ---- status texts, errors, abort, time-out -------------------------------------------

TEST_F(Interop, StatusTextsOfARealSendAndFetch) {
    tests::StatusLog status;
    ClientContext context{*app, clock, addresses, status};
    PutLocal("thousand.bin", tests::PatternBytes(1000, 3));
    CTransferSocket send(context);
    send.sending = 1;
    send.timeoutSecs = 10;
    send.SetReportEveryMs(0);  // every text, not a few a second
    std::unique_lock<std::mutex> hold = send.Hold();
    ASSERT_EQ(send.OpenLocalPort("127.0.0.1"), 1);
    ASSERT_EQ(send.StartSend("thousand.bin", "thousand.bin", "127.0.0.1", kHpaPort, 1, {}), 1);
    hold.unlock();
    ASSERT_TRUE(tests::WaitFor([&] { return Idle(send); }));
    QCoreApplication::sendPostedEvents();  // the texts its thread posted
    EXPECT_EQ(status.texts, (std::vector<std::string>{"Offering file to server ...",
                                                      "Sent 512 bytes (51%)",
                                                      "Sent 1000 bytes (100%)",
                                                      "Sent 1000 bytes (100%) - Done"}));

    status.texts.clear();
    PutOnServer(Server::TftpdHpa, "hundred.bin", tests::PatternBytes(100, 4));
    CTransferSocket fetch(context);
    fetch.timeoutSecs = 10;
    fetch.SetReportEveryMs(0);
    hold = fetch.Hold();
    ASSERT_EQ(fetch.OpenLocalPort("127.0.0.1"), 1);
    ASSERT_EQ(fetch.StartFetch("hundred.bin", "hundred.bin", "127.0.0.1", kHpaPort, 1), 1);
    hold.unlock();
    ASSERT_TRUE(tests::WaitFor([&] { return Idle(fetch); }));
    QCoreApplication::sendPostedEvents();  // the texts its thread posted
    EXPECT_EQ(status.texts, (std::vector<std::string>{"Requesting file from server ...",
                                                      "Received 100 bytes (1 blocks)",
                                                      "Received 100 bytes (1 blocks) - Done"}));
}

TEST_F(Interop, AServerErrorIsShownAfterMsgFromServer) {
    ASSERT_TRUE(Fetch(kHpaPort, "no-such-file.bin", 512, true));
    EXPECT_TRUE(Shows("Msg from Server > File not found")) << Status().toStdString();
    ASSERT_TRUE(Fetch(kVantrelPort, "no-such-file.bin", 512, true));
    EXPECT_TRUE(Shows("Msg from Server > File not found")) << Status().toStdString();
}

TEST_F(Interop, TheUsersAbortReachesTheServerAsErrorEightAndLeavesNoPartialFile) {
    const std::string body = tests::PatternBytes(4 * 1024 * 1024, 5);
    PutOnServer(Server::Vantrel, "big-abort.bin", body);
    const std::size_t reported = own->log.results.size();
    Aim(kVantrelPort, "big-abort.bin", "big-abort.bin", 512, true);
    Click(IDC_GET);
    ASSERT_TRUE(tests::WaitFor([&] { return ReceivedBytes(*view->transfer) >= 100 * 512; }));
    Click(ID_TRANSFER_ABORT);
    EXPECT_FALSE(view->TransferBusy());
    // Half a file would pass for the whole one: the part fetched goes.
    EXPECT_FALSE(tests::FileExists(app->inboundPath + "big-abort.bin"));
    ASSERT_TRUE(tests::WaitFor([&] {
        own->listener->SweepTransfers();
        own->app.DeliverEvents();
        return own->log.results.size() > reported;
    }));
    EXPECT_NE(own->log.results.back().find("Transfer Aborted"), std::string::npos)
        << own->log.results.back();

    if (!atftpd) return;
    PutOnServer(Server::Atftpd, "big-abort.bin", body);
    Aim(kAtftpdPort, "big-abort.bin", "big-abort.bin", 512, true);
    Click(IDC_GET);
    ASSERT_TRUE(tests::WaitFor([&] { return ReceivedBytes(*view->transfer) >= 100 * 512; }));
    Click(ID_TRANSFER_ABORT);
    EXPECT_TRUE(tests::WaitFor([&] {
        return atftpd->Output().find("Transfer Aborted") != std::string::npos;
    }, 10000)) << atftpd->Output();
}

TEST_F(Interop, AServerThatNeverAnswersTimesOut) {
    Aim(kHpaPort + 100, "never.bin", "never.bin", 512, true);  // nothing listens there
    FindControl<QLineEdit>(frame, IDC_TIMEOUT)->setText("3");
    Click(IDC_GET);
    ASSERT_TRUE(view->TransferBusy());
    tests::RunFor(300);
    EXPECT_TRUE(view->TransferBusy());
    clock.Advance(4);
    ASSERT_TRUE(WaitDone(10000));
    EXPECT_TRUE(Shows("Timed out")) << Status().toStdString();
}

// ---- host names and IPv6 --------------------------------------------------------------

TEST_F(Interop, TheEngineFetchesAndSendsThroughLocalhostAndTheIpv6LoopbackByteForByte) {
    const std::string body = tests::PatternBytes(70000);
    PutOnServer(Server::Vantrel, "both.bin", body);
    int index = 0;
    for (const char* host : {"localhost", "::1", "[::1]"}) {
        const auto servers = skerry::HostCandidates(host, 0);
        ASSERT_FALSE(servers.empty()) << host;
        for (const int sending : {0, 1}) {
            SCOPED_TRACE(std::string(host) + (sending ? " send" : " fetch"));
            const std::string name = sending ? "up" + std::to_string(++index) + ".bin" : "both.bin";
            if (sending) PutLocal(name, body);
            engine = std::make_unique<CTransferSocket>(app->Context());
            engine->blockSize = 1428;
            engine->sending = sending;
            engine->timeoutSecs = 10;
            engine->UseLocalAddress("127.0.0.1");  // as the view hands over the address chosen
            std::unique_lock<std::mutex> hold = engine->Hold();
            ASSERT_EQ(sending ? engine->StartSend(name, name, servers, kVantrelPort, 1, {})
                              : engine->StartFetch(name, name, servers, kVantrelPort, 1),
                      1);
            hold.unlock();
            ASSERT_TRUE(tests::WaitFor([&] { return Idle(*engine); }, 60000));
            EXPECT_NE(engine->statusText.find("- Done"), std::string::npos) << engine->statusText;
            EXPECT_EQ(sending ? tests::ReadFile(own->in.File(name)) : Fetched(name), body);
            // The server answered from the address that was asked.
            const platform::PeerAddress& asked = servers[engine->AddressTried()];
            EXPECT_TRUE(engine->server.SameHost(asked))
                << engine->server.AddressText() << " answered " << asked.AddressText();
            EXPECT_EQ(engine->localAddress, asked.AddressText()) << "loopback sends from loopback";
        }
    }
}

// ---- more than 65535 blocks ----------------------------------------------------------

TEST_F(Interop, MoreThan65535BlocksAtFiveTwelveBothWays) {
    const std::string body = tests::PatternBytes(65536u * 512 + 1000, 9);  // ~33 MiB
    for (Server s : {Server::TftpdHpa, Server::Vantrel}) {
        const int port = s == Server::TftpdHpa ? kHpaPort : kVantrelPort;
        const std::string name = std::string("wrap-") + Name(s) + ".bin";
        PutOnServer(s, name, body);
        ASSERT_TRUE(Fetch(port, name, 512, true)) << Name(s) << ": " << Status().toStdString();
        EXPECT_EQ(view->transfer->blocksReceived, 65536 + 2);
        EXPECT_TRUE(Fetched(name) == body) << Name(s) << " fetch differs";

        const std::string up = std::string("wrap-up-") + Name(s) + ".bin";
        PutLocal(up, body);
        ASSERT_TRUE(Send(port, up, 512, true)) << Name(s) << ": " << Status().toStdString();
        const std::string stored = ServerFile(s, up, true);
        ASSERT_TRUE(tests::WaitFor([&] { return tests::ReadFile(stored).size() >= body.size(); }, 10000));
        EXPECT_TRUE(tests::ReadFile(stored) == body) << Name(s) << " send differs";
    }
}

}  // namespace
