// The options sheet inside the running server program: opened with Ctrl+U on
// the real main window, driven with clicks and keys, acting on the real
// listener, the real process priority and the real settings store, in the
// test's own network namespace.
#include "server/app/options/address_list_pages.h"
#include "server/app/options/folder_pages.h"
#include "server/app/options/name_rules_page.h"
#include "server/app/options/options.h"
#include "server/app/options/other_page.h"
#include "server/app/options/threads_page.h"

#include "options_test_support.h"
#include "tests/server_app/peers.h"
#include "tests/server_app/program_fixture.h"
#include "tests/support/event_loop.h"
#include "tests/support/temp_dir.h"

#include "common/local_address.h"
#include "platform/clock.h"
#include "platform/priority.h"
#include "platform/registry_store.h"
#include "platform/scripted_prompt_service.h"
#include "server/app/command_ids.h"
#include "server/app/decision_dialogs.h"
#include "server/app/main_frame.h"
#include "server/app/new_view.h"
#include "server/app/server_app.h"
#include "server/app/settings_store.h"
#include "server/app/startup_splash.h"
#include "server/engine/listen_socket.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

using namespace vantrel;
using tests::Click;
using tests::Control;

namespace {

constexpr char kHost[] = "127.0.0.1";

enum PageIndex { kInbound, kOutbound, kAllow, kDeny, kOptions, kClients, kThreads, kNameRules };

// The host's addresses as the test sets them, counting how often the
// listener's local address selection ran: once per start of a listener.
class CountingAddresses final : public tftp::AddressProvider {
public:
    bool HostName(std::string& name, int& error) override {
        ++selections;
        return tftp::FixedAddressProvider("vantrel-test", list).HostName(name, error);
    }
    bool HostAddresses(const std::string& hostName, std::vector<std::uint32_t>& out) override {
        return tftp::FixedAddressProvider("vantrel-test", list).HostAddresses(hostName, out);
    }

    std::vector<std::string> list{kHost};
    int selections = 0;
};

// A thread that only waits: the process priority reaches it, while the
// program's own thread priorities (main thread, transfer workers) never do.
class BystanderThread {
public:
    BystanderThread() {
        std::promise<pid_t> started;
        auto id = started.get_future();
        thread_ = std::thread([this, &started] {
            started.set_value(platform::CurrentThreadId());
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return done_; });
        });
        tid_ = id.get();
    }
    ~BystanderThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    int Nice() const { return platform::ThreadNice(tid_); }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    pid_t tid_ = 0;
    std::thread thread_;
};

// Every stored value of a settings record, as the store's file would hold it.
std::string StoredText(const ServerSettings& settings) {
    tests::TempDir scratch;
    platform::RegistryStore store(scratch.File("settings.reg"));
    SaveSettings(store, settings);
    return store.Serialise();
}

void Retype(QLineEdit* edit, const QString& text) {
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

QWidget* Visit(COptions* sheet, PageIndex index) {
    tests::ClickTab(sheet->Tabs(), index);
    return sheet->Page(index);
}

class OptionsInTheProgram : public tests::ServerProgramTest {
protected:
    std::string StorePath() override { return ServerStorePath(); }
    tftp::AddressProvider& Addresses() override { return addresses; }

    void SetUp() override {
        // The program finds its store through XDG_CONFIG_HOME.
        if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) savedXdg_ = xdg;
        setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        ServerProgramTest::SetUp();
    }
    void TearDown() override {
        ServerProgramTest::TearDown();
        if (savedXdg_) setenv("XDG_CONFIG_HOME", savedXdg_->c_str(), 1);
        else unsetenv("XDG_CONFIG_HOME");
        // A raised priority must not outlive the test.
        platform::SetProcessNice(0);
        // A program that ended inside the sheet's loop asked the application
        // to quit, which would end every later modal loop at once; running
        // one application loop to its end clears that request.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }

    // File > Exit, then the program's end (which saves the settings).
    void Exit() {
        app->MainFrame()->ExecuteCommand(ID_APP_EXIT);
        EXPECT_TRUE(app->Ended());
        Stop();
    }
    std::string StoreFile() const { return tests::ReadFile(storePath); }

    // Ctrl+U on the main window; act drives the sheet once it is open. A
    // sheet that act leaves open is cancelled. False when no sheet opened.
    bool Setup(const std::function<void(COptions*)>& act) {
        QApplication::setActiveWindow(app->MainFrame());
        if (!tests::RunUntil([&] { return QApplication::activeWindow() == app->MainFrame(); }, 10000))
            return false;
        bool seen = false;
        int tries = 0;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* sheet = qobject_cast<COptions*>(QApplication::activeModalWidget());
            if (!sheet) {
                if (++tries > 1000) poll.stop();
                return;
            }
            poll.stop();
            seen = true;
            act(sheet);
            if (sheet->isVisible()) Click(sheet, COptions::IDCANCEL_BUTTON);
        });
        poll.start(20);
        QTest::keyClick(app->MainFrame(), Qt::Key_U, Qt::ControlModifier);
        return seen;
    }



    CountingAddresses addresses;

private:
    std::optional<std::string> savedXdg_;
};

}  // namespace

TEST_F(OptionsInTheProgram, CtrlUOpensServerOptionsWithItsEightPages) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(storePath, dir.File("config/Brellin/Vantry.reg"));
    const std::string before = StoredText(app->settings);
    QString title;
    QStringList captions;
    bool modal = false;
    int current = -1;
    ASSERT_TRUE(Setup([&](COptions* sheet) {
        title = sheet->windowTitle();
        modal = sheet->isModal();
        current = sheet->Tabs()->currentIndex();
        for (int i = 0; i < sheet->Tabs()->count(); ++i) captions << sheet->Tabs()->tabText(i);
        // Every page can be opened; Cancel then changes nothing.
        for (int i = kInbound; i <= kNameRules; ++i) Visit(sheet, static_cast<PageIndex>(i));
        Click(sheet, COptions::IDCANCEL_BUTTON);
    })) << "Ctrl+U opens the sheet";
    EXPECT_EQ(title, "Server Options");
    EXPECT_TRUE(modal);
    EXPECT_EQ(current, kInbound);
    EXPECT_EQ(captions, QStringList({"Inbound", "Outbound", "Allow", "Deny", "Options", "Client Limits",
                                     "MultiThreading && Logging", "Name Rules"}));
    EXPECT_EQ(StoredText(app->settings), before);
    EXPECT_EQ(addresses.selections, 1) << "no listener restart";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the sheet is gone";
    EXPECT_FALSE(app->Ended());
}

TEST_F(OptionsInTheProgram, OkWithoutVisitingAnotherPageWritesBackOnlyInbound) {
    stored.InPath = "";
    stored.OutPath = "";
    stored.nMaxClients = 15;  // the Client Limits page would store 1
    stored.nPriority = 4;     // the threads page would store 3
    stored.Timeout = "0030";
    ASSERT_TRUE(Start());
    const std::string ownIn = home + "/tftp/inbound/";
    EXPECT_EQ(app->settings.InPath, ownIn) << "an empty folder is the server's own";
    const ServerSettings expected = app->settings;
    const int rows = Rows();
    ASSERT_TRUE(Setup([&](COptions* sheet) {
        Retype(Control<QLineEdit>(sheet->Page(kInbound), CInboundPage::IDC_PATH), "");
        Click(sheet, COptions::IDOK_BUTTON);
    }));

    EXPECT_EQ(app->settings.InPath, ownIn) << "emptied on the page: the own folder again";
    EXPECT_EQ(StoredText(app->settings), StoredText(expected)) << "nothing else changed";
    EXPECT_EQ(addresses.selections, 1) << "no listener restart";
    EXPECT_EQ(app->PortChangeDlg(), nullptr);
    EXPECT_TRUE(prompts.Prompts().empty());
    EXPECT_EQ(Rows(), rows);
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.6969");

    Exit();
    const ServerSettings saved = Reload();
    EXPECT_EQ(saved.InPath, ownIn);
    EXPECT_EQ(saved.OutPath, home + "/tftp/outbound/");
    EXPECT_EQ(saved.nMaxClients, 15);
    EXPECT_EQ(saved.nPriority, 4);
    EXPECT_EQ(saved.Timeout, "0030");
}

TEST_F(OptionsInTheProgram, ListenOnMovesTheListenerBetweenEveryAddressAndOne) {
    stored.bListenAll = 1;
    tests::WriteFile(out + "small.bin", tests::PatternBytes(700, 3));
    ASSERT_TRUE(Start());
    EXPECT_EQ(Caption(), "Vantrel - All addresses.6969");
    EXPECT_TRUE(prompts.Prompts().empty());
    const int before = addresses.selections;

    ASSERT_TRUE(Setup([&](COptions* sheet) {
        auto* listenOn = Control<QComboBox>(Visit(sheet, kOptions), COther::IDC_LISTEN_ON);
        ASSERT_NE(listenOn, nullptr);
        EXPECT_EQ(listenOn->currentText(), "All addresses");
        listenOn->setCurrentIndex(1);
        EXPECT_EQ(listenOn->currentText(), "One address");
        Click(sheet, COptions::IDOK_BUTTON);
    }));
    EXPECT_EQ(addresses.selections, before + 1) << "the listener restarted";
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.6969");
    EXPECT_EQ(app->settings.bListenAll, 0);
    auto got = tests::TftpGet(kHost, 6969, "small.bin", dir.File("got.bin"));
    EXPECT_EQ(got.exitCode, 0) << got.output;
    EXPECT_EQ(tests::ReadFile(dir.File("got.bin")), tests::PatternBytes(700, 3));

    Exit();
    EXPECT_EQ(Reload().bListenAll, 0);
}

// A rule typed into the Name Rules page holds from the next request, with
// no restart, and is in the store once the program ends.
TEST_F(OptionsInTheProgram, ANameRuleTakesEffectAtOnceAndIsStored) {
    tests::WriteFile(out + "small.bin", tests::PatternBytes(700, 3));
    ASSERT_TRUE(Start());
    const int before = addresses.selections;
    ASSERT_TRUE(Setup([&](COptions* sheet) {
        QWidget* page = Visit(sheet, kNameRules);
        Click(page, CNameRulesPage::IDC_ADD);
        auto* table = Control<QTableWidget>(page, CNameRulesPage::IDC_RULES);
        ASSERT_NE(table, nullptr);
        ASSERT_EQ(table->rowCount(), 1);
        table->item(0, CNameRulesPage::kPattern)->setText("(?i)^/?tftpboot/(.*)\\.BIN$");
        table->item(0, CNameRulesPage::kReplacement)->setText("\\1.bin");
        Click(sheet, COptions::IDOK_BUTTON);
    }));
    EXPECT_EQ(addresses.selections, before) << "no listener restart";
    auto got = tests::TftpGet(kHost, 6969, "/TFTPBOOT/small.BIN", dir.File("got.bin"));
    EXPECT_EQ(got.exitCode, 0) << got.output;
    EXPECT_EQ(tests::ReadFile(dir.File("got.bin")), tests::PatternBytes(700, 3));

    Exit();
    const std::vector<tftp::NameRule> rules = {{"(?i)^/?tftpboot/(.*)\\.BIN$", "\\1.bin", false}};
    EXPECT_EQ(Reload().NameRules, rules);
}

TEST_F(OptionsInTheProgram, RetypedPortRestartsTheListenerOnlyWhenTheTextDiffers) {
    port = 69;
    stored.Port = "69";
    tests::WriteFile(out + "small.bin", tests::PatternBytes(1000, 7));
    ASSERT_TRUE(Start());
    ASSERT_EQ(Caption(), "Vantrel - 127.0.0.1.69");
    ASSERT_EQ(addresses.selections, 1);

    int selectionsAfterSamePort = -1;
    ASSERT_TRUE(Setup([&](COptions* sheet) {
        QWidget* page = Visit(sheet, kOptions);
        auto* edit = Control<QLineEdit>(page, COther::IDC_PORT);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text(), "69");
        Retype(edit, "69");
        Click(sheet, COptions::ID_APPLY_NOW);
        selectionsAfterSamePort = addresses.selections;
        Retype(edit, "069");
        Click(sheet, COptions::IDOK_BUTTON);
    }));
    EXPECT_EQ(selectionsAfterSamePort, 1) << "the same text: no restart";
    EXPECT_EQ(addresses.selections, 2) << "\"069\" is not \"69\": the listener restarted";
    EXPECT_EQ(app->settings.Port, "069");
    EXPECT_EQ(app->Context().listenLabel, "127.0.0.1.69");
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.69");
    EXPECT_EQ(app->PortChangeDlg(), nullptr);
    auto got = tests::TftpGet(kHost, 69, "small.bin", dir.File("got.bin"));
    EXPECT_EQ(got.exitCode, 0) << got.output;
    EXPECT_EQ(tests::ReadFile(dir.File("got.bin")), tests::PatternBytes(1000, 7));
    Tick();  // the finished transfer is reported and leaves the list
    ASSERT_EQ(app->Listener()->TransferCount(), 0);

    // A port that really differs moves the listener.
    ASSERT_TRUE(Setup([&](COptions* sheet) {
        Retype(Control<QLineEdit>(Visit(sheet, kOptions), COther::IDC_PORT), "1069");
        Click(sheet, COptions::IDOK_BUTTON);
    }));
    EXPECT_EQ(addresses.selections, 3);
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.1069");
    got = tests::TftpGet(kHost, 1069, "small.bin", dir.File("moved.bin"));
    EXPECT_EQ(got.exitCode, 0) << got.output;
    Exit();
    EXPECT_EQ(Reload().Port, "1069");
}

TEST_F(OptionsInTheProgram, APortChangeWhileATransferRunsAsksAndTheOldPortKeepsServing) {
    tests::WriteFile(out + "big.bin", tests::PatternBytes(64 * 1024));
    tests::WriteFile(out + "small.bin", tests::PatternBytes(1000));
    ASSERT_TRUE(Start());
    auto held = Hold("big.bin", static_cast<std::uint16_t>(port));
    ASSERT_EQ(app->Listener()->TransferCount(), 1);

    ASSERT_TRUE(Setup([&](COptions* sheet) {
        Retype(Control<QLineEdit>(Visit(sheet, kOptions), COther::IDC_PORT), "1070");
        Click(sheet, COptions::IDOK_BUTTON);
    }));
    EXPECT_EQ(app->settings.Port, "1070");
    QPointer<CPortChangeDlg> dialog = app->PortChangeDlg();
    ASSERT_TRUE(dialog) << "the user is asked";
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(dialog->windowTitle(), "Executive decision time ...");
    QStringList texts;
    for (auto* label : dialog->findChildren<QLabel*>()) texts << label->text();
    for (const QString& text : CPortChangeDlg::Texts()) EXPECT_TRUE(texts.contains(text)) << text.toStdString();
    EXPECT_EQ(addresses.selections, 1) << "not restarted yet";
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.6969");
    auto old = tests::TftpGet(kHost, port, "small.bin", dir.File("old.bin"));
    EXPECT_EQ(old.exitCode, 0) << "the old port keeps serving: " << old.output;

    // Drop Clients: the listener moves now.
    QTest::mouseClick(dialog->DropButton(), Qt::LeftButton);
    EXPECT_EQ(app->PortChangeDlg(), nullptr);
    EXPECT_EQ(addresses.selections, 2);
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.1070");
    auto moved = tests::TftpGet(kHost, 1070, "small.bin", dir.File("new.bin"));
    EXPECT_EQ(moved.exitCode, 0) << moved.output;
}

TEST_F(OptionsInTheProgram, SingleAddressHostLeavesTheMultihomedSwitchAlone) {
    for (const int show : {0, 1}) {
        SCOPED_TRACE(show);
        stored.bShowMultihomed = show;
        stored.bAllowTsize = 1;
        ASSERT_TRUE(Start());
        ASSERT_EQ(app->LocalAddressCount(), 1);
        bool enabled = true, checked = true;
        ASSERT_TRUE(Setup([&](COptions* sheet) {
            QWidget* page = Visit(sheet, kOptions);
            auto* box = Control<QCheckBox>(page, COther::IDC_NO_MULTIHOMED_BOX);
            ASSERT_NE(box, nullptr);
            enabled = box->isEnabled();
            checked = box->isChecked();
            Click(page, COther::IDC_NO_MULTIHOMED_BOX);  // disabled: nothing happens
            Click(page, COther::IDC_ALLOW_TSIZE);        // a real change on the same page
            Click(sheet, COptions::IDOK_BUTTON);
        }));
        EXPECT_FALSE(enabled);
        EXPECT_FALSE(checked);
        EXPECT_EQ(app->settings.bShowMultihomed, show);
        EXPECT_EQ(app->settings.bAllowTsize, 0);
        Exit();
        const ServerSettings saved = Reload();
        EXPECT_EQ(saved.bShowMultihomed, show);
        EXPECT_EQ(saved.bAllowTsize, 0);
        EXPECT_TRUE(prompts.Prompts().empty());
    }
}

TEST_F(OptionsInTheProgram, MultihomedHostAsksAgainOnceTheSheetTurnsTheRequestBoxBackOn) {
    addresses.list = {kHost, "10.9.9.1"};
    stored.bShowMultihomed = 1;
    stored.nDefAddress = 255;
    prompts.Queue(platform::ScriptedPromptService::Answer{});  // OK on the first address
    ASSERT_TRUE(Start());
    // First start: asked, with "Do not show this box again" ticked and left so.
    ASSERT_EQ(prompts.Prompts().size(), 1u);
    EXPECT_EQ(prompts.Prompts()[0].kind, platform::ScriptedPromptService::Kind::ChooseAddress);
    EXPECT_TRUE(prompts.Prompts()[0].checkBoxShown);
    ASSERT_EQ(app->LocalAddressCount(), 2);
    ASSERT_EQ(app->settings.bShowMultihomed, 0);
    EXPECT_EQ(app->settings.nDefAddress, 1);
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.6969");

    bool enabled = false, checked = false;
    ASSERT_TRUE(Setup([&](COptions* sheet) {
        QWidget* page = Visit(sheet, kOptions);
        auto* box = Control<QCheckBox>(page, COther::IDC_NO_MULTIHOMED_BOX);
        ASSERT_NE(box, nullptr);
        enabled = box->isEnabled();
        checked = box->isChecked();
        Click(page, COther::IDC_NO_MULTIHOMED_BOX);
        Click(sheet, COptions::IDOK_BUTTON);
    }));
    EXPECT_TRUE(enabled) << "two addresses";
    EXPECT_TRUE(checked) << "the inverse of bShowMultihomed";
    EXPECT_EQ(app->settings.bShowMultihomed, 1);
    EXPECT_EQ(prompts.Prompts().size(), 1u) << "nothing asked until the next start";
    Exit();
    const ServerSettings saved = Reload();
    EXPECT_EQ(saved.bShowMultihomed, 1);
    EXPECT_EQ(saved.nDefAddress, 1);

    stored = saved;
    prompts.Queue(platform::ScriptedPromptService::Answer{});
    ASSERT_TRUE(Start());
    ASSERT_EQ(prompts.Prompts().size(), 2u) << "asked again at the next start";
    EXPECT_TRUE(prompts.Prompts()[1].checkBoxShown);
}

TEST_F(OptionsInTheProgram, MinimizeAtStartupAloneAlsoSwitchesTheSplashOffForTheNextStart) {
    stored.bNoSplash = 0;
    stored.bMinimiseAtStart = 0;
    ASSERT_TRUE(Start());
    ASSERT_NE(CStartupSplash::Current(), nullptr) << "the splash shows at this start";
    CStartupSplash::HideSplash();  // as its timer does; a key would be used up by it
    bool splashBoxTicked = true;
    ASSERT_TRUE(Setup([&](COptions* sheet) {
        QWidget* page = Visit(sheet, kOptions);
        Click(page, COther::IDC_MINIMISE_AT_START);
        splashBoxTicked = Control<QCheckBox>(page, COther::IDC_NO_SPLASH)->isChecked();
        Click(sheet, COptions::IDOK_BUTTON);
    }));
    EXPECT_FALSE(splashBoxTicked);
    EXPECT_EQ(app->settings.bMinimiseAtStart, 1);
    EXPECT_EQ(app->settings.bNoSplash, 1);
    EXPECT_FALSE(app->MainFrame()->isMinimized()) << "takes effect at the next start";
    Exit();
    const ServerSettings saved = Reload();
    EXPECT_EQ(saved.bMinimiseAtStart, 1);
    EXPECT_EQ(saved.bNoSplash, 1);

    stored = saved;
    ASSERT_TRUE(Start());
    EXPECT_TRUE(app->MainFrame()->isMinimized());
    EXPECT_EQ(CStartupSplash::Current(), nullptr);
}

TEST_F(OptionsInTheProgram, NeverChosenPriorityIsStoredAsAutomaticAndTheProcessPriorityFollows) {
    const bool privileged = geteuid() == 0;  // raising a priority needs it
    stored.nPriority = 4;
    stored.bRaisePriority = 0;
    BystanderThread bystander;
    ASSERT_TRUE(Start());
    EXPECT_EQ(bystander.Nice(), platform::kNiceNormal);
    bool automatic = false;
    ASSERT_TRUE(Setup([&](COptions* sheet) {
        QWidget* page = Visit(sheet, kThreads);
        auto* radio = Control<QRadioButton>(page, CThreadsPage::IDC_AUTOMATIC);
        ASSERT_NE(radio, nullptr);
        automatic = radio->isChecked();
        Click(page, CThreadsPage::IDC_RAISE_PRIORITY);
        Click(sheet, COptions::IDOK_BUTTON);
    }));
    EXPECT_TRUE(automatic) << "4 shows as \"Automatic Priority Changes\"";
    EXPECT_EQ(app->settings.nPriority, 3);
    EXPECT_EQ(app->settings.bRaisePriority, 1);
    const pid_t self = platform::CurrentThreadId();
    if (privileged) {
        EXPECT_EQ(bystander.Nice(), platform::kNiceHighClass) << "applied at once";
        // The next idle pass puts the automatic level (no transfer: below
        // normal) on top of the raised class.
        EXPECT_TRUE(tests::RunUntil(
            [&] { return platform::ThreadNice(self) == platform::kNiceHighClass + platform::kNiceBelowNormal; },
            10000))
            << platform::ThreadNice(self);
    }

    ASSERT_TRUE(Setup([&](COptions* sheet) {
        Click(Visit(sheet, kThreads), CThreadsPage::IDC_RAISE_PRIORITY);
        Click(sheet, COptions::IDOK_BUTTON);
    }));
    EXPECT_EQ(app->settings.bRaisePriority, 0);
    if (privileged) {
        EXPECT_EQ(bystander.Nice(), platform::kNiceNormal);
        EXPECT_TRUE(tests::RunUntil([&] { return platform::ThreadNice(self) == platform::kNiceBelowNormal; }, 10000))
            << platform::ThreadNice(self);
    }
    Exit();
    EXPECT_EQ(Reload().nPriority, 3);
    EXPECT_NE(StoreFile().find("\"nPriority\"=dword:00000003\n"), std::string::npos) << StoreFile();
}

TEST_F(OptionsInTheProgram, ASheetChangeTakesEffectAtOnceAndReachesTheStoreWhenAccepted) {
    const std::string served = dir.File("served");
    std::filesystem::create_directories(served);
    tests::WriteFile(served + "/boot.img", tests::PatternBytes(3000, 9));
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Setup([&](COptions* sheet) {
        Retype(Control<QLineEdit>(Visit(sheet, kOutbound), COutboundPage::IDC_PATH),
               QString::fromStdString(served));
        QWidget* allow = Visit(sheet, kAllow);
        Retype(Control<QLineEdit>(allow, CAllow::SlotId(10)), "127.0.*.*");
        Click(allow, CAllow::IDC_SWITCH);
        Retype(Control<QLineEdit>(Visit(sheet, kOptions), COther::IDC_TIMEOUT), "45");
        Click(sheet, COptions::IDOK_BUTTON);
    }));
    EXPECT_EQ(app->settings.OutPath, served + "/");
    EXPECT_EQ(app->settings.Timeout, "45");
    // In effect at once: the next request reads from the new folder and
    // passes the new allow list.
    auto got = tests::TftpGet(kHost, port, "boot.img", dir.File("got.img"));
    EXPECT_EQ(got.exitCode, 0) << got.output;
    EXPECT_EQ(tests::ReadFile(dir.File("got.img")), tests::PatternBytes(3000, 9));
    EXPECT_NE(StoreFile().find("\"Timeout\"=\"45\"\n"), std::string::npos) << "stored when accepted";

    Exit();
    const ServerSettings saved = Reload();
    EXPECT_EQ(saved.OutPath, served + "/");
    EXPECT_EQ(saved.Timeout, "45");
    EXPECT_EQ(saved.bAllow, 1);
    EXPECT_EQ(saved.Allow[9], "127.0.*.*");
    const std::string text = StoreFile();
    EXPECT_NE(text.find("\"OutPath\"=\"" + served + "/\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Timeout\"=\"45\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Allow10\"=\"127.0.*.*\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"bAllow\"=dword:00000001\n"), std::string::npos) << text;
}

TEST_F(OptionsInTheProgram, CancelAfterApplyKeepsWhatApplyWroteUpToTheStore) {
    const std::string applied = dir.File("applied.log");
    const std::string cancelled = dir.File("cancelled.log");
    ASSERT_TRUE(Start());
    bool applyEnabledAfterApply = true;
    ASSERT_TRUE(Setup([&](COptions* sheet) {
        auto* log = Control<QLineEdit>(Visit(sheet, kThreads), CThreadsPage::IDC_LOG_FILE);
        Retype(log, QString::fromStdString(applied));
        Click(sheet, COptions::ID_APPLY_NOW);
        applyEnabledAfterApply = Control<QPushButton>(sheet, COptions::ID_APPLY_NOW)->isEnabled();
        Retype(log, QString::fromStdString(cancelled));
        Retype(Control<QLineEdit>(Visit(sheet, kOptions), COther::IDC_TIMEOUT), "99");
        Click(sheet, COptions::IDCANCEL_BUTTON);
    }));
    EXPECT_FALSE(applyEnabledAfterApply);
    EXPECT_EQ(app->settings.LogFile, applied);
    EXPECT_EQ(app->settings.Timeout, "30");

    Exit();
    // The rows went to the applied log when the program ended.
    EXPECT_NE(tests::ReadFile(applied).find("Ready"), std::string::npos);
    EXPECT_FALSE(tests::FileExists(cancelled));
    const ServerSettings saved = Reload();
    EXPECT_EQ(saved.LogFile, applied);
    EXPECT_EQ(saved.Timeout, "30");
    const std::string text = StoreFile();
    EXPECT_NE(text.find("\"LogFile\"=\"" + applied + "\"\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("cancelled"), std::string::npos) << text;
}

// A port that cannot be bound, typed into the sheet, used to end the program.
// Now the sheet says which address and port and why, and stays open until a
// port that listens is chosen; what it wrote is stored at each OK.
TEST_F(OptionsInTheProgram, APortThatCannotBeBoundKeepsTheSheetOpenUntilAnotherPortListens) {
    platform::AsyncUdpSocket squatter;
    ASSERT_TRUE(squatter.Create(kHost, 1071, false));
    ASSERT_TRUE(Start());
    bool openAfterFailure = false, noListener = false;
    std::string storedAfterFailure;
    ASSERT_TRUE(Setup([&](COptions* sheet) {
        QWidget* page = Visit(sheet, kOptions);
        Retype(Control<QLineEdit>(page, COther::IDC_PORT), "1071");
        Retype(Control<QLineEdit>(page, COther::IDC_TIMEOUT), "77");
        Click(sheet, COptions::IDOK_BUTTON);
        openAfterFailure = sheet->isVisible();
        noListener = app->Listener() == nullptr;
        storedAfterFailure = StoreFile();
        Retype(Control<QLineEdit>(Visit(sheet, kOptions), COther::IDC_PORT), "1072");
        Click(sheet, COptions::IDOK_BUTTON);
    }));
    EXPECT_TRUE(openAfterFailure);
    EXPECT_TRUE(noListener);
    EXPECT_NE(storedAfterFailure.find("\"Timeout\"=\"77\""), std::string::npos) << storedAfterFailure;
    EXPECT_EQ(prompts.MessageTexts(),
              (std::vector<std::string>{"Unable to Create listening port",
                                        "Unable to listen on 127.0.0.1 port 1071: Address already in use\n\n" +
                                            std::string(CServerApp::kChooseInSheet)}));
    EXPECT_FALSE(app->Ended());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "closed by the second OK";
    EXPECT_EQ(Caption(), "Vantrel - 127.0.0.1.1072");
    EXPECT_NE(StoreFile().find("\"Port\"=\"1072\""), std::string::npos) << "stored at OK";
    auto got = tests::TftpGet(kHost, 1072, "nothere.bin", dir.File("x.bin"));
    EXPECT_EQ(Rows(), 2) << "serving on the new port: " << got.output;
}

// Cancelled while the server has no listening port: asked to open the sheet
// again or end; No ends the program as File > Exit does.
TEST_F(OptionsInTheProgram, CancellingTheSheetWithoutAListeningPortAsksAgain) {
    platform::AsyncUdpSocket squatter;
    ASSERT_TRUE(squatter.Create(kHost, 1071, false));
    ASSERT_TRUE(Start());
    prompts.Queue({});  // "Unable to Create listening port"
    prompts.Queue({});  // what failed, inside the sheet
    prompts.Queue(Button(platform::kIdNo));
    ASSERT_TRUE(Setup([&](COptions* sheet) {
        Retype(Control<QLineEdit>(Visit(sheet, kOptions), COther::IDC_PORT), "1071");
        Click(sheet, COptions::ID_APPLY_NOW);
        Click(sheet, COptions::IDCANCEL_BUTTON);
    }));
    ASSERT_EQ(prompts.Prompts().size(), 3u);
    EXPECT_EQ(prompts.Prompts()[2].buttons, platform::PromptButtons::YesNo);
    EXPECT_NE(prompts.Prompts()[2].text.find(CServerApp::kSetupOrQuit), std::string::npos);
    EXPECT_TRUE(app->Ended());
    Stop();
    EXPECT_EQ(Reload().Port, "1071") << "a port in use is a valid choice; it may be free next time";
}

// A shutdown while the sheet is open: the sheet closes as if cancelled, the
// program ends as File > Exit does, and only what Apply wrote is saved.
TEST_F(OptionsInTheProgram, ATerminationSignalWhileTheSheetIsOpenSavesOnlyWhatApplyWrote) {
    const std::string applied = dir.File("applied.log");
    ASSERT_TRUE(Start());
    bool ended = false;
    ASSERT_TRUE(Setup([&](COptions* sheet) {
        Retype(Control<QLineEdit>(Visit(sheet, kThreads), CThreadsPage::IDC_LOG_FILE),
               QString::fromStdString(applied));
        Click(sheet, COptions::ID_APPLY_NOW);
        Retype(Control<QLineEdit>(Visit(sheet, kOptions), COther::IDC_TIMEOUT), "88");
        raise(SIGTERM);
        ended = tests::RunUntil([&] { return app->Ended() && !sheet->isVisible(); }, 10000);
    }));
    EXPECT_TRUE(ended);
    EXPECT_TRUE(app->MainFrame()->Closed());
    EXPECT_EQ(app->settings.Timeout, "30") << "not applied: not written back";
    EXPECT_NE(tests::ReadFile(applied).find("Ready"), std::string::npos) << "the rows went to the applied log";
    Stop();
    const ServerSettings saved = Reload();
    EXPECT_EQ(saved.LogFile, applied);
    EXPECT_EQ(saved.Timeout, "30");
}
