// The whole server program in the test's own network namespace: the real
// application object, listener, window and store, with real clients.
#include "peers.h"
#include "program_fixture.h"

#include "common/local_address.h"
#include "platform/clock.h"
#include "platform/priority.h"
#include "platform/registry_store.h"
#include "platform/scripted_prompt_service.h"
#include "server/app/about_sheet.h"
#ifdef VANTREL_HAVE_OPTIONS
#include "server/app/options/options.h"
#include "server/app/options/other_page.h"
#endif
#include "server/app/command_ids.h"
#include "server/app/decision_dialogs.h"
#include "server/app/listen_failure.h"
#include "server/app/main_frame.h"
#include "server/app/new_view.h"
#include "server/app/server_app.h"
#include "server/app/server_info_dlg.h"
#include "server/app/settings_store.h"
#include "server/app/startup_splash.h"
#include "server/app/transfer_row_delegate.h"
#include "server/engine/listen_socket.h"
#include "platform/control_ids.h"
#include "tests/support/event_loop.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace vantrel;

namespace {

constexpr char kHost[] = "127.0.0.1";

class AppTest : public tests::ServerProgramTest {
protected:
    std::string StorePath() override { return dir.File("config/Brellin/Vantry.reg"); }
    tftp::AddressProvider& Addresses() override { return addresses; }

    bool Start() {
        if (!ServerProgramTest::Start()) return false;
        EXPECT_TRUE(viewTimerWasRunning) << "the view's timer runs the periodic check";
        return true;
    }

    CNewView* View() const { return app->View(); }
    const TransferRow& Row(int row) const { return View()->Model().Row(row); }
    std::string Cell(int row, int column) const { return TransferListModel::CellText(Row(row), column); }
    int Transfers() const { return app->Listener() ? app->Listener()->TransferCount() : 0; }
    std::string Log() const { return tests::ReadFile(stored.LogFile); }

    // Acknowledges every DATA until the short last block, then runs the
    // periodic check until the transfer of row is reported.
    void Complete(tests::RawClient& client, int row) {
        for (std::size_t seen = 0;;) {
            ASSERT_TRUE(client.WaitFor(seen + 1));
            const auto& d = client.received[seen++];
            ASSERT_EQ(d.Opcode(), 3);
            client.Ack(d.Block(), d.from);
            if (d.bytes.size() < 516) break;
        }
        ASSERT_TRUE(tests::RunUntil(
            [&] {
                Tick();
                return !Cell(row, kColumnResult).empty();
            },
            20000));
    }
    // Runs until the current modal dialog shows, hands it to inspect, and closes it.
    template <typename Dialog>
    void WhenModal(std::function<void(Dialog*)> inspect, bool* seen) {
        auto* timer = new QTimer(app.get());
        QObject::connect(timer, &QTimer::timeout, timer, [timer, inspect, seen] {
            auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            timer->stop();
            *seen = true;
            inspect(dialog);
            if (dialog->isVisible()) dialog->reject();
            timer->deleteLater();
        });
        timer->start(20);
    }

    tftp::FixedAddressProvider addresses{"vantrel-test", {kHost}};
};

}  // namespace

TEST_F(AppTest, StartsWithTheReadyRowAndTheListeningAddressInTheCaption) {
    ASSERT_TRUE(Start());
    EXPECT_TRUE(prompts.Prompts().empty());
    ASSERT_NE(app->MainFrame(), nullptr);
    EXPECT_TRUE(app->MainFrame()->isVisible());
    EXPECT_FALSE(app->MainFrame()->isMinimized());
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.6969");
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, kColumnClient), "Vantrel");
    EXPECT_EQ(Cell(0, kColumnResult), "Ready");
    EXPECT_EQ(Row(0).itemValue, kItemFailed);
    EXPECT_EQ(app->Context().bServing, 1);
    EXPECT_EQ(app->Context().bIdleCheck, 0) << "the view's timer runs the periodic check";
    EXPECT_EQ(app->settings.Location, kLocation);
    EXPECT_EQ(app->settings.nDefAddress, 0) << "one address: nothing to remember";
    EXPECT_EQ(app->LocalAddressCount(), 1);
    EXPECT_EQ(CStartupSplash::Current(), nullptr) << "bNoSplash";
    EXPECT_FALSE(app->MainFrame()->Action(ID_START_SERVING)->isEnabled());
    EXPECT_TRUE(app->MainFrame()->Action(ID_STOP_SERVING)->isEnabled());
}

TEST_F(AppTest, RowsFollowRealTransfersFromStartToResult) {
    const std::string download = tests::PatternBytes(100 * 1024, 3);
    const std::string upload = tests::PatternBytes(50 * 1024 + 7, 4);
    tests::WriteFile(out + "down.bin", download);
    tests::WriteFile(dir.File("up-source.bin"), upload);
    ASSERT_TRUE(Start());

    auto get = tests::TftpGet(kHost, port, "down.bin", dir.File("got.bin"));
    ASSERT_TRUE(get.finished && get.exitCode == 0) << get.output;
    EXPECT_EQ(tests::ReadFile(dir.File("got.bin")), download);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(1, kColumnClient), kHost);
    EXPECT_EQ(Cell(1, kColumnFile), out + "down.bin");
    // Progress reaches the row within a moment, its latest state alone.
    EXPECT_TRUE(tests::RunUntil([&] { return Cell(1, kColumnStatus) == "%100, 102400"; }, 2000))
        << Cell(1, kColumnStatus);
    EXPECT_EQ(Cell(1, kColumnStart), "09 Sep, 01:46");
    EXPECT_EQ(Row(1).itemValue, 1) << "running until the periodic check reports it";

    auto put = tests::TftpPut(kHost, port, dir.File("up-source.bin"), "up.bin");
    ASSERT_TRUE(put.finished && put.exitCode == 0) << put.output;
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(Cell(2, kColumnFile), in + "up.bin");
    EXPECT_TRUE(tests::RunUntil([&] { return Cell(2, kColumnStatus) == "Receiving"; }, 2000))
        << Cell(2, kColumnStatus);

    auto missing = tests::TftpGet(kHost, port, "nothere.bin", dir.File("nothing.bin"));
    ASSERT_TRUE(missing.finished) << missing.output;
    ASSERT_EQ(Rows(), 4);

    // A write whose client goes silent times out.
    tests::RawClient silent;
    ASSERT_TRUE(silent.Open());
    silent.Request(2, "silent.bin", static_cast<std::uint16_t>(port));
    ASSERT_TRUE(silent.WaitFor(1));
    ASSERT_EQ(Rows(), 5);

    // The silent writer's last answer is sent again five times before it
    // times out.
    for (int i = 0; i < 6; ++i) {
        clock.Advance(60);
        Tick();
    }
    EXPECT_EQ(tests::ReadFile(in + "up.bin"), upload);
    EXPECT_EQ(Cell(1, kColumnResult), "Finished : Sending");
    EXPECT_EQ(Cell(1, kColumnStatus), "Terminated");
    EXPECT_EQ(Cell(1, kColumnFinish), "09 Sep, 01:47");
    EXPECT_EQ(Row(1).itemValue, kItemEnded);
    EXPECT_EQ(Cell(2, kColumnResult), "Finished : Receiving");
    EXPECT_EQ(Cell(3, kColumnResult), "File not found : Sending");
    EXPECT_EQ(Row(3).itemValue, kItemEnded) << "an error result is black";
    EXPECT_EQ(Cell(4, kColumnResult), "TimedOut : Receiving");
    EXPECT_EQ(Row(4).itemValue, kItemFailed);
    EXPECT_EQ(TransferRowDelegate::TextColour(Row(4).itemValue), QColor(255, 0, 0));
    EXPECT_EQ(Transfers(), 0);
}

// Empty folders used to serve, and take uploads into, the folder the program
// was started from (the home folder, for a desktop launcher). They now stand
// for a folder of the server's own, made at the first start and stored.
TEST_F(AppTest, EmptyFoldersServeAFolderOfTheirOwnAndNeverTheStartingFolder) {
    const std::string startedIn = dir.File("started-in");
    std::filesystem::create_directories(startedIn);
    tests::WriteFile(startedIn + "/private.key", "secret");
    tests::WriteFile(dir.File("upload.bin"), tests::PatternBytes(700, 5));
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(startedIn);
    stored.OutPath = "";
    stored.InPath = "";
    const std::string ownOut = home + "/tftp/outbound/", ownIn = home + "/tftp/inbound/";
    const bool started = Start();
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(started);
    EXPECT_EQ(app->settings.OutPath, ownOut);
    EXPECT_EQ(app->settings.InPath, ownIn);
    EXPECT_TRUE(std::filesystem::is_directory(ownOut));
    EXPECT_TRUE(std::filesystem::is_directory(ownIn));

    std::filesystem::current_path(startedIn);
    auto leak = tests::TftpGet(kHost, port, "private.key", dir.File("leak.key"));
    auto put = tests::TftpPut(kHost, port, dir.File("upload.bin"), "private.key");
    std::filesystem::current_path(cwd);
    EXPECT_NE(tests::ReadFile(dir.File("leak.key")), "secret") << leak.output;
    EXPECT_EQ(put.exitCode, 0) << put.output;
    EXPECT_EQ(tests::ReadFile(startedIn + "/private.key"), "secret") << "not overwritten";
    EXPECT_EQ(tests::ReadFile(ownIn + "private.key"), tests::PatternBytes(700, 5));
    tests::WriteFile(ownOut + "boot.img", "image");
    auto got = tests::TftpGet(kHost, port, "boot.img", dir.File("boot.img"));
    EXPECT_EQ(tests::ReadFile(dir.File("boot.img")), "image") << got.output;

    app->OnAppExit();
    Stop();
    const ServerSettings saved = Reload();
    EXPECT_EQ(saved.OutPath, ownOut);
    EXPECT_EQ(saved.InPath, ownIn);
}

// A store that names folders keeps them, existing or not.
TEST_F(AppTest, FoldersTheStoreNamesAreKept) {
    stored.OutPath = dir.File("gone") + "/";
    ASSERT_TRUE(Start());
    EXPECT_EQ(app->settings.OutPath, dir.File("gone") + "/");
    EXPECT_EQ(app->settings.InPath, in);
    EXPECT_FALSE(std::filesystem::exists(dir.File("gone")));
    EXPECT_FALSE(std::filesystem::exists(home + "/tftp"));
}

TEST_F(AppTest, StopServingWithATransferRunningAsksAndBothButtonsWork) {
    tests::WriteFile(out + "big.bin", tests::PatternBytes(64 * 1024));
    tests::WriteFile(out + "small.bin", tests::PatternBytes(1000));
    ASSERT_TRUE(Start());
    auto held = Hold("big.bin", static_cast<std::uint16_t>(port));
    ASSERT_EQ(Transfers(), 1);
    const int started = app->ListenersStarted();

    app->MainFrame()->ExecuteCommand(ID_STOP_SERVING);
    EXPECT_EQ(app->Context().bServing, 0);
    QPointer<CStopServingDlg> dialog = app->StopDlg();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(dialog->windowTitle(), "Executive decision time ...");
    EXPECT_EQ(dialog->DropButton()->text(), "Drop Clients");
    EXPECT_EQ(dialog->KeepButton()->text(), "Keep Clients");
    // New clients are refused meanwhile.
    auto refused = tests::TftpGet(kHost, port, "small.bin", dir.File("refused.bin"));
    EXPECT_NE(refused.output.find("Service not available"), std::string::npos) << refused.output;
    EXPECT_EQ(Rows(), 2);
    EXPECT_TRUE(app->MainFrame()->Action(ID_START_SERVING)->isEnabled());

    // Keep Clients: the dialog goes, the transfer stays.
    QTest::mouseClick(dialog->KeepButton(), Qt::LeftButton);
    EXPECT_EQ(app->StopDlg(), nullptr);
    EXPECT_EQ(app->ListenersStarted(), started) << "the listener stays";
    EXPECT_EQ(Transfers(), 1);
    EXPECT_EQ(app->Context().bServing, 0);

    // Asked again; Drop Clients: the transfer ends now, the server stays stopped.
    app->OnStopServing();
    dialog = app->StopDlg();
    ASSERT_TRUE(dialog);
    QTest::mouseClick(dialog->DropButton(), Qt::LeftButton);
    EXPECT_EQ(app->StopDlg(), nullptr);
    EXPECT_NE(app->Listener(), nullptr);
    EXPECT_EQ(Transfers(), 0);
    EXPECT_EQ(app->Context().bServing, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(dialog);
    // The dropped transfer's row turns yellow at the next quiet tick.
    EXPECT_EQ(Row(1).itemValue, 1);
    Tick();
    EXPECT_EQ(Row(1).itemValue, kItemAbandoned);
    EXPECT_EQ(TransferRowDelegate::TextColour(Row(1).itemValue), QColor(255, 255, 0));
    refused = tests::TftpGet(kHost, port, "small.bin", dir.File("refused.bin"));
    EXPECT_NE(refused.output.find("Service not available"), std::string::npos) << refused.output;

    app->MainFrame()->ExecuteCommand(ID_START_SERVING);
    EXPECT_EQ(app->Context().bServing, 1);
    auto served = tests::TftpGet(kHost, port, "small.bin", dir.File("served.bin"));
    EXPECT_EQ(served.exitCode, 0) << served.output;
}

TEST_F(AppTest, AStopThatWaitsEndsByItselfWhenTheLastTransferFinishes) {
    tests::WriteFile(out + "small.bin", tests::PatternBytes(1000));
    ASSERT_TRUE(Start());
    auto client = Hold("small.bin", static_cast<std::uint16_t>(port));
    app->OnStopServing();
    ASSERT_NE(app->StopDlg(), nullptr);
    const int started = app->ListenersStarted();
    Complete(*client, 1);
    EXPECT_EQ(Cell(1, kColumnResult), "Finished : Sending");
    Tick();  // finds none running: the waiting stop takes effect
    ASSERT_TRUE(tests::RunUntil([&] { return app->StopDlg() == nullptr; }, 5000));
    EXPECT_EQ(app->ListenersStarted(), started + 1) << "the listener was restarted";
    EXPECT_EQ(app->Context().bServing, 0) << "still stopped";

    // Start Serving while a stop waits closes the dialog.
    auto again = Hold("small.bin", static_cast<std::uint16_t>(port));
    EXPECT_EQ(again->received.size(), 1u);
    EXPECT_EQ(again->received[0].Opcode(), 5) << "refused while stopped";
    app->OnStartServing();
    auto held = Hold("small.bin", static_cast<std::uint16_t>(port));
    ASSERT_EQ(held->received[0].Opcode(), 3);
    app->OnStopServing();
    ASSERT_NE(app->StopDlg(), nullptr);
    app->MainFrame()->ExecuteCommand(ID_START_SERVING);
    EXPECT_EQ(app->StopDlg(), nullptr);
    EXPECT_EQ(app->Context().bServing, 1);
    EXPECT_EQ(Transfers(), 1);
}

TEST_F(AppTest, APortChangeWithoutTransfersMovesTheListenerAtOnce) {
    tests::WriteFile(out + "small.bin", tests::PatternBytes(1000));
    ASSERT_TRUE(Start());
    auto got = tests::TftpGet(kHost, port, "small.bin", dir.File("a.bin"));
    ASSERT_EQ(got.exitCode, 0) << got.output;
    Tick();
    ASSERT_EQ(Transfers(), 0);
    app->settings.Port = "1069";
    app->OnPortChanged();
    EXPECT_EQ(app->PortChangeDlg(), nullptr);
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.1069");
    EXPECT_EQ(Rows(), 2) << "the rows stay";
    got = tests::TftpGet(kHost, 1069, "small.bin", dir.File("b.bin"));
    EXPECT_EQ(got.exitCode, 0) << got.output;
    EXPECT_EQ(Rows(), 3);
}

TEST_F(AppTest, APortChangeWithATransferRunningAsksAndKeepsTheOldPortMeanwhile) {
    tests::WriteFile(out + "big.bin", tests::PatternBytes(64 * 1024));
    tests::WriteFile(out + "small.bin", tests::PatternBytes(1000));
    ASSERT_TRUE(Start());
    auto held = Hold("big.bin", static_cast<std::uint16_t>(port));
    app->settings.Port = "1070";
    app->OnPortChanged();
    QPointer<CPortChangeDlg> dialog = app->PortChangeDlg();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(), "Executive decision time ...");
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.6969");
    auto old = tests::TftpGet(kHost, port, "small.bin", dir.File("old.bin"));
    EXPECT_EQ(old.exitCode, 0) << "the old port keeps serving: " << old.output;

    // Keep Clients: the new port waits for the next start.
    QTest::mouseClick(dialog->KeepButton(), Qt::LeftButton);
    EXPECT_EQ(app->PortChangeDlg(), nullptr);
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.6969");
    EXPECT_EQ(Transfers(), 2);

    // Asked again; Drop Clients: the listener moves now and the dropped rows turn yellow.
    app->OnPortChanged();
    dialog = app->PortChangeDlg();
    ASSERT_TRUE(dialog);
    QTest::mouseClick(dialog->DropButton(), Qt::LeftButton);
    EXPECT_EQ(app->PortChangeDlg(), nullptr);
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.1070");
    EXPECT_EQ(Transfers(), 0);
    Tick();
    EXPECT_EQ(Row(1).itemValue, kItemAbandoned);
    EXPECT_EQ(Row(2).itemValue, kItemAbandoned) << "reported by no check before the drop";
    auto moved = tests::TftpGet(kHost, 1070, "small.bin", dir.File("new.bin"));
    EXPECT_EQ(moved.exitCode, 0) << moved.output;

    // Kept or not, the new port is what the store gets at exit.
    app->OnAppExit();
    Stop();
    EXPECT_EQ(Reload().Port, "1070");
}

TEST_F(AppTest, APendingPortChangeHappensWhenTheLastTransferEnds) {
    tests::WriteFile(out + "small.bin", tests::PatternBytes(1000));
    ASSERT_TRUE(Start());
    auto client = Hold("small.bin", static_cast<std::uint16_t>(port));
    app->settings.Port = "1069";
    app->OnPortChanged();
    ASSERT_NE(app->PortChangeDlg(), nullptr);
    Complete(*client, 1);
    Tick();
    ASSERT_TRUE(tests::RunUntil([&] { return app->PortChangeDlg() == nullptr; }, 5000));
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.1069");
    EXPECT_EQ(Cell(1, kColumnResult), "Finished : Sending") << "it finished normally";
}

// What the user is told when the port cannot be bound: the address, the
// port, the system's reason and, for a privileged port refused, the remedies.
TEST(ListenFailure, NamesAddressPortReasonAndThePrivilegedPortsRemedy) {
    const std::string remedy = "sudo setcap cap_net_bind_service=+ep /opt/vantrel/bin/vantrel";
    const struct {
        int port, error;
        std::string head;
        bool remedy;
    } cases[] = {
        {69, EACCES, "Unable to listen on 10.0.0.5 port 69: Permission denied", true},
        {1023, EPERM, "Unable to listen on 10.0.0.5 port 1023: Operation not permitted", true},
        {69, EADDRINUSE, "Unable to listen on 10.0.0.5 port 69: Address already in use", false},
        {1024, EACCES, "Unable to listen on 10.0.0.5 port 1024: Permission denied", false},
        {70000, 0, "Unable to listen on 10.0.0.5 port 70000: a port is a number from 1 to 65535", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.head);
        const std::string text = ListenFailureText("10.0.0.5", c.port, c.error, "/opt/vantrel/bin/vantrel");
        EXPECT_EQ(text.substr(0, text.find('\n')), c.head);
        EXPECT_EQ(text.find(remedy) != std::string::npos, c.remedy) << text;
    }
    EXPECT_EQ(ListeningPort(""), 69);
    EXPECT_EQ(ListeningPort("0"), 69);
    EXPECT_EQ(ListeningPort("0069"), 69);
    EXPECT_EQ(ListeningPort("70000"), 70000);
}

// A restart that cannot bind its port used to end the program after two
// boxes that named neither port nor reason. Now the user is told both and may
// choose another port; declining ends the program as File > Exit does.
TEST_F(AppTest, AFailedListenerRestartSaysWhyAndEndsWhenSetupIsDeclined) {
    platform::AsyncUdpSocket squatter;
    ASSERT_TRUE(squatter.Create(kHost, 1071, false));
    ASSERT_TRUE(Start());
    app->settings.Port = "1071";
    prompts.Queue(Button(platform::kIdOk));  // "Unable to Create listening port"
    prompts.Queue(Button(platform::kIdNo));
    app->OnPortChanged();
    EXPECT_EQ(prompts.MessageTexts(),
              (std::vector<std::string>{"Unable to Create listening port",
                                        "Unable to listen on 127.0.0.1 port 1071: Address already in use\n\n" +
                                            std::string(CServerApp::kSetupOrQuit)}));
    EXPECT_EQ(prompts.Prompts().back().buttons, platform::PromptButtons::YesNo);
    EXPECT_TRUE(app->Ended());
    EXPECT_TRUE(app->MainFrame()->Closed());
    EXPECT_EQ(Log(), "Vantrel  09 Sep, 01:46  Ready\r\n");
    Stop();
    platform::RegistryStore reader(storePath);
    WindowRect rect;
    EXPECT_TRUE(LoadWindowPlacement(reader, rect));
}

// A stored port that cannot be bound used to end every start before a window
// opened. Now the user may open the options sheet and choose another port,
// which the program starts on and stores; or decline and end.
TEST_F(AppTest, AListenerThatCannotStartOffersSetupBeforeTheWindowOpens) {
    platform::AsyncUdpSocket squatter;
    ASSERT_TRUE(squatter.Create(kHost, static_cast<std::uint16_t>(port), false));
    const std::string told = "Unable to listen on 127.0.0.1 port 6969: Address already in use\n\n" +
                             std::string(CServerApp::kSetupOrQuit);
    prompts.Queue(Button(platform::kIdOk));
    prompts.Queue(Button(platform::kIdNo));
    EXPECT_FALSE(Start());
    EXPECT_EQ(prompts.MessageTexts(), (std::vector<std::string>{"Unable to Create listening port", told}));
    EXPECT_EQ(app->MainFrame(), nullptr);
    Stop();
#ifdef VANTREL_HAVE_OPTIONS
    prompts.Clear();
    prompts.Queue(Button(platform::kIdOk));
    prompts.Queue(Button(platform::kIdYes));
    bool seen = false;
    WhenModal<COptions>(
        [&](COptions* sheet) {
            sheet->Tabs()->setCurrentWidget(&sheet->Other());
            auto* edit = platform::FindControl<QLineEdit>(&sheet->Other(), COther::IDC_PORT);
            ASSERT_NE(edit, nullptr);
            edit->setText(QStringLiteral("6970"));
            sheet->accept();
        },
        &seen);
    ASSERT_TRUE(Start());
    EXPECT_TRUE(seen);
    EXPECT_EQ(prompts.MessageTexts(), (std::vector<std::string>{"Unable to Create listening port", told}));
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.6970");
    EXPECT_EQ(tests::ReadFile(storePath).find("\"Port\"=\"6970\"") != std::string::npos, true)
        << "stored when the sheet was accepted";
#endif
}

// A signal that arrives while a start-up failure is being told ends the
// program without asking anything more.
TEST_F(AppTest, ASignalDuringAStartUpMessageEndsWithoutFurtherQuestions) {
    class SignalledPrompts final : public platform::PromptService {
    public:
        platform::ScriptedPromptService inner;
        CServerApp* app = nullptr;
        int MessageBox(const std::string& text, platform::PromptIcon icon, platform::PromptButtons buttons) override {
            const int answer = inner.MessageBox(text, icon, buttons);
            if (app) app->OnTerminationSignal(SIGTERM);
            return answer;
        }
        bool ChooseLocalAddress(platform::AddressForm form, const std::vector<std::string>& list, bool& box,
                                int& index) override {
            return inner.ChooseLocalAddress(form, list, box, index);
        }
        bool EnterLocalAddress(platform::AddressForm form, std::string& typed) override {
            return inner.EnterLocalAddress(form, typed);
        }
    } signalled;
    platform::AsyncUdpSocket squatter;
    ASSERT_TRUE(squatter.Create(kHost, static_cast<std::uint16_t>(port), false));
    {
        platform::RegistryStore writer(storePath);
        SaveSettings(writer, stored);
    }
    store = std::make_unique<platform::RegistryStore>(storePath);
    app = std::make_unique<CServerApp>(*store, clock, signalled, addresses, kLocation);
    signalled.app = app.get();
    EXPECT_FALSE(app->InitInstance());
    EXPECT_EQ(signalled.inner.MessageTexts(), std::vector<std::string>{"Unable to Create listening port"});
}

TEST_F(AppTest, SettingsAndWindowAreSavedAtExit) {
    tests::WriteFile(out + "small.bin", tests::PatternBytes(1000));
    stored.Allow[3] = "10.0.0.*";
    ASSERT_TRUE(Start());
    auto got = tests::TftpGet(kHost, port, "small.bin", dir.File("a.bin"));
    ASSERT_EQ(got.exitCode, 0) << got.output;
    Tick();
    app->MainFrame()->ExecuteCommand(ID_USE_GRAPHIC);
    app->settings.Allow[3].clear();
    app->settings.Timeout = "12";
    app->MainFrame()->move(30, 40);
    app->MainFrame()->ExecuteCommand(ID_APP_EXIT);
    EXPECT_TRUE(app->Ended());
    EXPECT_EQ(Log(), "Vantrel  09 Sep, 01:46  Ready\r\n127.0.0.1 " + out +
                         "small.bin 09 Sep, 01:46 09 Sep, 01:46 Finished : Sending\r\n");
    Stop();
    const ServerSettings saved = Reload();
    EXPECT_EQ(saved.bUseGraphic, 1);
    EXPECT_EQ(saved.Allow[3], "");
    EXPECT_EQ(saved.Timeout, "12");
    EXPECT_EQ(saved.nMaxClients, 5);
    platform::RegistryStore reader(storePath);
    WindowRect rect;
    ASSERT_TRUE(LoadWindowPlacement(reader, rect));
    EXPECT_EQ(rect.left, 30);
    EXPECT_EQ(rect.top, 40);
    EXPECT_NE(tests::ReadFile(storePath).find(std::string("\"Location\"=\"") + kLocation + "\""), std::string::npos);
}

// A session's end or a shutdown sends SIGTERM; the program used to die with
// every change of the run lost. Now each of these signals ends it as Exit does.
TEST_F(AppTest, TerminationSignalsEndTheProgramAsExitDoes) {
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signalNumber);
        std::filesystem::remove(stored.LogFile);
        stored.Timeout = "30";
        ASSERT_TRUE(Start());
        app->settings.Timeout = std::to_string(100 + signalNumber);
        raise(signalNumber);
        ASSERT_TRUE(tests::RunUntil([&] { return app->Ended(); }, 10000));
        EXPECT_TRUE(app->MainFrame()->Closed());
        EXPECT_EQ(Log(), "Vantrel  09 Sep, 01:46  Ready\r\n");
        Stop();
        EXPECT_EQ(Reload().Timeout, std::to_string(100 + signalNumber));
    }
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << "the handlers go with the program";
}

// SIGHUP (systemctl reload) reads the store again and applies it as OK in
// the sheet does: the port moves the listener, the lists hold at once.
TEST_F(AppTest, AHangUpAppliesTheStoreAsTheSheetsOkDoes) {
    tests::WriteFile(out + "down.bin", tests::PatternBytes(3000));
    ASSERT_TRUE(Start());
    const int started = app->ListenersStarted();
    const int newPort = port + 1;
    stored.Port = std::to_string(newPort);
    stored.nMaxClients = 2;
    {
        platform::RegistryStore writer(storePath);
        SaveSettings(writer, stored);
    }
    raise(SIGHUP);
    ASSERT_TRUE(tests::RunUntil([&] { return app->ListenersStarted() == started + 1; }, 10000));
    EXPECT_FALSE(app->Ended()) << "a hang-up is no end";
    EXPECT_EQ(app->settings.Port, std::to_string(newPort));
    EXPECT_EQ(app->settings.nMaxClients, 2);
    EXPECT_NE(app->MainFrame()->windowTitle().toStdString().find("." + std::to_string(newPort)), std::string::npos);
    auto got = tests::TftpGet(kHost, newPort, "down.bin", dir.File("got.bin"));
    EXPECT_EQ(got.exitCode, 0) << got.output;
    // The deny list, changed in the store, holds for the next request.
    stored.bDeny = 1;
    stored.Deny[0] = "127.*.*.*";
    {
        platform::RegistryStore writer(storePath);
        SaveSettings(writer, stored);
    }
    raise(SIGHUP);
    ASSERT_TRUE(tests::RunUntil([&] { return app->settings.bDeny == 1; }, 10000));
    EXPECT_EQ(app->ListenersStarted(), started + 1) << "the same port: the listener stays";
    got = tests::TftpGet(kHost, newPort, "down.bin", dir.File("got2.bin"));
    EXPECT_NE(got.output.find("Service not available"), std::string::npos) << got.output;
}

// --port, --outbound, --inbound and --read-only hold for the run only.
TEST_F(AppTest, TheCommandLinesSettingsHoldForTheRunAndNeverReachTheStore) {
    tests::TempDir other;
    tests::WriteFile(other.File("only-here.bin"), "from the command line's folder");
    tests::WriteFile(dir.File("up.bin"), "upload");
    overrides.port = std::to_string(port + 2);
    overrides.outPath = other.Path() + "/";
    overrides.readOnly = true;
    ASSERT_TRUE(Start());
    auto got = tests::TftpGet(kHost, port + 2, "only-here.bin", dir.File("got.bin"));
    EXPECT_EQ(got.exitCode, 0) << got.output;
    EXPECT_EQ(tests::ReadFile(dir.File("got.bin")), "from the command line's folder");
    auto put = tests::TftpPut(kHost, port + 2, dir.File("up.bin"), "up.bin");
    EXPECT_NE(put.output.find("Access violation"), std::string::npos) << put.output;
    EXPECT_FALSE(tests::FileExists(in + "up.bin"));
    // Settings accepted in the sheet are stored, without the run's values.
    app->settings.nMaxClients = 3;
    app->OnSettingsAccepted();
    ServerSettings saved = Reload();
    EXPECT_EQ(saved.nMaxClients, 3);
    EXPECT_EQ(saved.Port, std::to_string(port));
    EXPECT_EQ(saved.OutPath, out);
    EXPECT_EQ(saved.bRefuseUploads, 0);
    Stop();
    saved = Reload();
    EXPECT_EQ(saved.Port, std::to_string(port));
    EXPECT_EQ(saved.OutPath, out);
    EXPECT_EQ(saved.bRefuseUploads, 0);
}

TEST_F(AppTest, TheSessionsEndLogsRowsAndLeavesTheRunOnceEntry) {
    ASSERT_TRUE(Start());
    app->OnQueryEndSession();
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Log(), "Vantrel  09 Sep, 01:46  Ready\r\n");
    app->OnEndSession();
    const std::string text = tests::ReadFile(storePath);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce]\n"
                        "\"Vantrel\"=\"/opt/vantrel/bin/vantrel\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"WinLeft\""), std::string::npos);
}

TEST_F(AppTest, AboutOpensOneBoxOnItsVersionPage) {
    ASSERT_TRUE(Start());
    app->MainFrame()->ExecuteCommand(ID_APP_ABOUT);
    QPointer<CAbout> about = app->AboutSheet();
    ASSERT_TRUE(about);
    app->MainFrame()->ExecuteCommand(ID_APP_ABOUT);
    EXPECT_EQ(app->AboutSheet(), about.data());
    int boxes = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<CAbout*>(w) && w->isVisible()) ++boxes;
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(about->windowTitle(), "About Vantrel");
    EXPECT_FALSE(about->isModal());
    EXPECT_EQ(about->Pages()->tabText(0), "About Brellin");
    EXPECT_EQ(about->Pages()->tabText(1), "Version");
    EXPECT_EQ(about->Pages()->currentIndex(), 1);
    auto* ok = platform::FindControl<QPushButton>(about, 1);
    ASSERT_NE(ok, nullptr);
    QTest::mouseClick(ok, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(about);
    EXPECT_EQ(app->AboutSheet(), nullptr);
    app->OnAppAbout();
    EXPECT_NE(app->AboutSheet(), nullptr) << "a new one once the first is gone";
}

TEST_F(AppTest, InfoShowsWhatTheAddressSelectionFound) {
    ASSERT_TRUE(Start());
    bool seen = false;
    std::vector<QString> texts;
    WhenModal<CServerInfoDlg>(
        [&](CServerInfoDlg* dlg) {
            EXPECT_EQ(dlg->windowTitle(), "Local Server Info");
            for (int id = 1048; id <= 1052; ++id) {
                auto* field = platform::FindControl<QLineEdit>(dlg, id);
                texts.push_back(field ? field->text() : QStringLiteral("<missing>"));
            }
        },
        &seen);
    app->MainFrame()->ExecuteCommand(ID_SERVER_INFO);
    ASSERT_TRUE(seen);
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts[0], "vantrel-test");
    EXPECT_EQ(texts[1], "127.0.0.1");
    EXPECT_EQ(texts[2], "1");
    EXPECT_EQ(texts[3], "65507");
    EXPECT_EQ(texts[4].toInt(), app->Context().wsaData.maxSockets);
    EXPECT_GT(texts[4].toInt(), 0);
}

TEST_F(AppTest, OnEveryAddressTheCaptionAndInfoSayWhatIsListenedOn) {
    stored.bListenAll = 1;
    ASSERT_TRUE(Start());
    EXPECT_TRUE(prompts.Prompts().empty());
    EXPECT_EQ(Caption(), "Vantrel - All addresses.6969");
    bool seen = false;
    QString hostIp;
    QStringList listed;
    WhenModal<CServerInfoDlg>(
        [&](CServerInfoDlg* dlg) {
            if (auto* field = platform::FindControl<QLineEdit>(dlg, CServerInfoDlg::IDC_HOST_IP))
                hostIp = field->text();
            if (auto* list = platform::FindControl<QListWidget>(dlg, CServerInfoDlg::IDC_LISTEN_ADDRESSES))
                for (int i = 0; i < list->count(); ++i) listed << list->item(i)->text();
        },
        &seen);
    app->MainFrame()->ExecuteCommand(ID_SERVER_INFO);
    ASSERT_TRUE(seen);
    EXPECT_EQ(hostIp, "All addresses");
    EXPECT_EQ(listed, (QStringList{"127.0.0.1", "::1"}));
}

TEST_F(AppTest, SetupOpensTheOptionsSheetWhoseNewPortMovesTheListener) {
    ASSERT_TRUE(Start());
    QApplication::setActiveWindow(app->MainFrame());
    ASSERT_TRUE(tests::RunUntil([&] { return QApplication::activeWindow() == app->MainFrame(); }, 5000));
    bool seen = false;
    QString title;
    WhenModal<QDialog>([&](QDialog* dlg) { title = dlg->windowTitle(); }, &seen);
    QTest::keyClick(app->MainFrame(), Qt::Key_U, Qt::ControlModifier);
#ifdef VANTREL_HAVE_OPTIONS
    ASSERT_TRUE(seen) << "Ctrl+U opens the sheet";
    EXPECT_EQ(title, "Server Options");
    EXPECT_EQ(app->settings.Port, std::to_string(port)) << "cancelled: nothing changes";

    // A new port typed on the Options page moves the listener when accepted.
    seen = false;
    WhenModal<COptions>(
        [&](COptions* sheet) {
            sheet->Tabs()->setCurrentWidget(&sheet->Other());
            auto* edit = platform::FindControl<QLineEdit>(&sheet->Other(), COther::IDC_PORT);
            ASSERT_NE(edit, nullptr);
            edit->setText(QStringLiteral("1069"));
            sheet->accept();
        },
        &seen);
    app->MainFrame()->ExecuteCommand(ID_SETUP);
    ASSERT_TRUE(seen);
    EXPECT_EQ(app->settings.Port, "1069");
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.1069");
#else
    EXPECT_FALSE(seen) << "without the options sheet Setup does nothing";
#endif
    EXPECT_FALSE(app->Ended());
}

TEST_F(AppTest, IdlePrioritiesFollowTheChoice) {
    if (geteuid() != 0) GTEST_SKIP() << "lowering a nice value needs privilege";
    tests::WriteFile(out + "big.bin", tests::PatternBytes(64 * 1024));
    tests::WriteFile(out + "small.bin", tests::PatternBytes(1000));
    const pid_t self = platform::CurrentThreadId();
    ASSERT_TRUE(Start());
    platform::SetThreadNice(self, 3);
    app->OnIdle(0);
    EXPECT_EQ(platform::ThreadNice(self), 3) << "never chosen: left alone";
    app->settings.nPriority = 0;
    app->OnIdle(0);
    EXPECT_EQ(platform::ThreadNice(self), platform::kNiceBelowNormal);
    app->settings.nPriority = 2;
    app->OnIdle(0);
    EXPECT_EQ(platform::ThreadNice(self), platform::kNiceAboveNormal);

    // Automatic: above normal for every worker while more than five run.
    app->settings.nPriority = 3;
    app->OnIdle(0);
    EXPECT_EQ(platform::ThreadNice(self), platform::kNiceBelowNormal) << "no transfer";
    std::vector<std::unique_ptr<tests::RawClient>> held;
    for (int i = 0; i < 5; ++i) held.push_back(Hold("big.bin", static_cast<std::uint16_t>(port)));
    auto finishing = Hold("small.bin", static_cast<std::uint16_t>(port));
    ASSERT_EQ(Transfers(), 6);
    app->OnIdle(0);
    EXPECT_EQ(platform::ThreadNice(self), platform::kNiceNormal);
    for (const pid_t tid : app->Listener()->WorkerThreadIds())
        EXPECT_EQ(platform::ThreadNice(tid), platform::kNiceAboveNormal);
    Complete(*finishing, 6);
    ASSERT_EQ(Transfers(), 5);
    app->OnIdle(0);
    for (const pid_t tid : app->Listener()->WorkerThreadIds())
        EXPECT_EQ(platform::ThreadNice(tid), platform::kNiceNormal);
    platform::SetThreadNice(self, 0);
}

TEST_F(AppTest, IdleProcessingRunsTheCheckWhenTheTimerDoesNot) {
    tests::WriteFile(out + "small.bin", tests::PatternBytes(1000));
    ASSERT_TRUE(Start());
    auto got = tests::TftpGet(kHost, port, "small.bin", dir.File("a.bin"));
    ASSERT_EQ(got.exitCode, 0) << got.output;
    ASSERT_EQ(Transfers(), 1);
    EXPECT_TRUE(app->OnIdle(1)) << "transfers listed: more idle calls wanted";
    EXPECT_EQ(Transfers(), 1) << "the view's timer has the check";
    app->Context().bIdleCheck = 1;
    app->OnIdle(0x3F);
    EXPECT_EQ(Transfers(), 1) << "only when bit 0x40 of the count is set";
    app->OnIdle(0x40);
    EXPECT_EQ(Transfers(), 0);
    EXPECT_EQ(Cell(1, kColumnResult), "Finished : Sending");
    EXPECT_FALSE(app->OnIdle(1)) << "nothing left to do";
}

TEST_F(AppTest, MinimisedAtStartIgnoresTheSavedRectangle) {
    stored.bMinimiseAtStart = 1;
    {
        platform::RegistryStore writer(storePath);
        SaveWindowPlacement(writer, WindowRect{300, 200, 900, 600});
    }
    ASSERT_TRUE(Start());
    EXPECT_TRUE(app->MainFrame()->isMinimized());
    EXPECT_NE(app->MainFrame()->frameGeometry().topLeft(), QPoint(300, 200));
    Stop();
    stored.bMinimiseAtStart = 0;
    {
        platform::RegistryStore writer(storePath);
        SaveWindowPlacement(writer, WindowRect{300, 200, 900, 600});
    }
    ASSERT_TRUE(Start());
    EXPECT_FALSE(app->MainFrame()->isMinimized());
    EXPECT_EQ(app->MainFrame()->frameGeometry().topLeft(), QPoint(300, 200));
}

TEST_F(AppTest, TheSplashShowsAtStartUnlessSwitchedOffAndAKeyHidesIt) {
    stored.bNoSplash = 0;
    ASSERT_TRUE(Start());
    ASSERT_NE(CStartupSplash::Current(), nullptr);
    EXPECT_TRUE(CStartupSplash::Current()->isVisible());
    QTest::keyClick(app->MainFrame(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(CStartupSplash::Current(), nullptr);
    EXPECT_EQ(app->Context().bServing, 1);
    Stop();
    stored.bNoSplash = 1;
    ASSERT_TRUE(Start());
    EXPECT_EQ(CStartupSplash::Current(), nullptr);
}

TEST_F(AppTest, TheAlertShowsForARealClientWhileMinimised) {
    tests::WriteFile(out + "small.bin", tests::PatternBytes(1000));
    ASSERT_TRUE(Start());
    app->MainFrame()->showMinimized();
    auto got = tests::TftpGet(kHost, port, "small.bin", dir.File("a.bin"));
    ASSERT_EQ(got.exitCode, 0) << got.output;
    ASSERT_NE(View()->Alert(), nullptr);
    EXPECT_TRUE(View()->Alert()->isVisible());
    EXPECT_EQ(View()->Alert()->Client(), kHost);
    Tick();  // reports the transfer
    Tick();  // quiet: the alert goes
    EXPECT_EQ(View()->Alert(), nullptr);
}
