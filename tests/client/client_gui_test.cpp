// Skerry's windows, driven headless through their real controls: the entry
// checks, names, Match Files, drops, progress, caption, menus, Setup, About,
// help, the settings file, and transfers against a hand-driven server.
#include "client/about.h"
#include "client/block_size_dlg.h"
#include "client/client_app.h"
#include "client/client_ids.h"
#include "client/engine/host_lookup.h"
#include "client/engine/transfer_messages.h"
#include "client/halden_doc.h"
#include "client/halden_view.h"
#include "client/main_frame.h"
#include "client/options_sheet.h"
#include "client/short_name.h"
#include "client/status_pane.h"
#include "common/tftp_packet.h"
#include "common/widgets/address_dialogs.h"
#include "platform/clock.h"
#include "platform/control_ids.h"
#include "platform/scripted_prompt_service.h"
#include "tests/client/client_test_support.h"
#include "tests/support/accessible_names.h"
#include "tests/support/event_loop.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QStatusBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTextBrowser>
#include <QTextDocument>
#include <QScreen>
#include <QSpinBox>
#include <QtMath>
#include <QUrl>
#include <QElapsedTimer>
#include <QWhatsThis>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace skerry;
using platform::FindControl;
using tests::Bytes;
using tests::FakePeer;

namespace {

// Writes a file, making its folders first.
void Put(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    tests::WriteFile(path, bytes);
}

// Texts that do not fit their control, each with what it needs and has:
// labels measured against their own box, buttons and check boxes against
// their smallest size. The status line's pane elides on purpose.
QStringList ClippedTexts(const QWidget* root) {
    QStringList clipped;
    const auto size = [](QSize s) { return QStringLiteral("%1x%2").arg(s.width()).arg(s.height()); };
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(root) || label->text().isEmpty() || dynamic_cast<CStatusPane*>(label))
            continue;
        const QRect box = label->contentsRect();
        QSize need;
        if (Qt::mightBeRichText(label->text())) {
            QTextDocument doc;
            doc.setDefaultFont(label->font());
            doc.setDocumentMargin(0);
            doc.setHtml(label->text());
            if (label->wordWrap()) doc.setTextWidth(box.width());
            need = QSize(qCeil(label->wordWrap() ? doc.size().width() : doc.idealWidth()),
                         qCeil(doc.size().height()));
        } else {
            const int flags = static_cast<int>(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
            need = label->fontMetrics().boundingRect(QRect(0, 0, box.width(), 100000), flags, label->text()).size();
        }
        // One pixel of height is rounding between the font's metrics and the
        // label's text layout, not a cut line.
        if (need.width() > box.width() || need.height() > box.height() + 1)
            clipped << label->text().left(40) + " needs " + size(need) + " has " + size(box.size());
    }
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(root) || button->text().isEmpty()) continue;
        const QSize need = button->minimumSizeHint();
        if (button->width() < need.width() || button->height() < need.height())
            clipped << button->text() + " needs " + size(need) + " has " + size(button->size());
    }
    return clipped;
}

// The same for every page of each tab widget under root, each shown in turn.
QStringList ClippedTextsOnEveryPage(QWidget* root) {
    QStringList clipped = ClippedTexts(root);
    for (QTabWidget* tabs : root->findChildren<QTabWidget*>()) {
        const int was = tabs->currentIndex();
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            for (const QString& text : ClippedTexts(tabs->widget(i)))
                clipped << tabs->tabText(i) + ": " + text;
        }
        tabs->setCurrentIndex(was);
    }
    clipped.removeDuplicates();
    return clipped;
}

class SkerryGui : public ::testing::Test {
protected:
    void SetUp() override {
        profilePath = dir.File("config/Skerry.INI");
        // A modal dialog no test expected fails the test and is closed,
        // instead of leaving it hanging.
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            modalMs = modal ? modalMs + kWatchdogTickMs : 0;
            if (!modal || modalMs < kUnexpectedModalMs) return;
            ADD_FAILURE() << "unexpected modal dialog: " << modal->windowTitle().toStdString();
            if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
            else modal->close();
            modalMs = 0;
        });
        watchdog.start(kWatchdogTickMs);
    }
    void TearDown() override {
        watchdog.stop();
        app.reset();
    }

    void Start() {
        app = std::make_unique<CClientApp>(prompts, clock, addresses, profilePath);
        // The tests move the clock; idle processing keeps a transfer's time.
        app->Context().timeOnTransferThreads = false;
        ASSERT_TRUE(app->InitInstance());
        frame = app->MainFrame();
        view = app->View();
    }

    template <typename T = QLineEdit>
    T* Control(int id) {
        T* c = FindControl<T>(frame, id);
        EXPECT_NE(c, nullptr) << id;
        return c;
    }
    // Replaces a field's text as a user would.
    void Type(int id, const QString& text) {
        QLineEdit* e = Control(id);
        e->setFocus();
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Backspace);
        if (!text.isEmpty()) QTest::keyClicks(e, text);
    }
    void TypeBlockSize(const QString& text) {
        QComboBox* c = Control<QComboBox>(IDC_BLOCK_SIZE);
        c->lineEdit()->selectAll();
        QTest::keyClick(c->lineEdit(), Qt::Key_Backspace);
        QTest::keyClicks(c->lineEdit(), text);
    }
    void Click(int id) { QTest::mouseClick(Control<QAbstractButton>(id), Qt::LeftButton); }
    QString Text(int id) { return Control(id)->text(); }
    bool Checked(int id) { return Control<QCheckBox>(id)->isChecked(); }
    QString Status() { return frame->MessagePane()->text(); }
    // Whether the message pane comes to show text (a text may be drawn a
    // few milliseconds after the one before).
    bool Shows(const QString& text) {
        return tests::RunUntil([&] { return Status() == text; }, 5000);
    }
    // Fills the form for a transfer to the fake server.
    void Aim(const QString& local, const QString& remote) {
        Type(IDC_HOST, "127.0.0.1");
        Type(IDC_PORT, QString::number(server.Port()));
        Type(IDC_LOCAL_FILE, local);
        Type(IDC_REMOTE_FILE, remote);
    }
    // Presses OK on the block size dialog that is about to open; the flag
    // says it did.
    std::shared_ptr<bool> ExpectBlockSizeDialog() {
        return tests::OnNextModal([this](QWidget* w) {
            blockDialogTitle = w->windowTitle();
            if (auto* ok = FindControl<QPushButton>(w, IDOK)) ok->click();
        });
    }
    std::string Profile() { return tests::FileExists(profilePath) ? tests::ReadFile(profilePath) : ""; }

    static constexpr int kWatchdogTickMs = 100;
    static constexpr int kUnexpectedModalMs = 3000;
    QTimer watchdog;
    int modalMs = 0;
    tests::TempDir dir;
    std::string profilePath;
    platform::ScriptedPromptService prompts;
    platform::ManualClock clock;
    tftp::FixedAddressProvider addresses{"skerry", {"127.0.0.1"}};
    std::unique_ptr<CClientApp> app;
    CMainFrame* frame = nullptr;
    CHaldenView* view = nullptr;
    FakePeer server;
    FakePeer port;
    QString blockDialogTitle;
};

// ---- start-up -------------------------------------------------------------------

TEST_F(SkerryGui, MissingSettingsFileGivesTheDefaults) {
    Start();
    EXPECT_EQ(Text(IDC_HOST), "");
    EXPECT_EQ(Text(IDC_LOCAL_FILE), "");
    EXPECT_EQ(Text(IDC_REMOTE_FILE), "");
    EXPECT_EQ(Text(IDC_PORT), "69");
    EXPECT_EQ(Text(IDC_TIMEOUT), "10");
    EXPECT_EQ(Control<QComboBox>(IDC_BLOCK_SIZE)->currentText(), "512");
    EXPECT_TRUE(Checked(IDC_BINARY));
    EXPECT_TRUE(Checked(IDC_MATCH_FILES));
    EXPECT_FALSE(Checked(IDC_SEND_TIMEOUT));
    EXPECT_EQ(Control<QPushButton>(IDC_SEND)->text(), "Send");
    EXPECT_EQ(Control<QPushButton>(IDC_GET)->text(), "Fetch");
    EXPECT_EQ(app->overwrite + app->truncate + app->changeButtons + app->defaultIp, 0);
    EXPECT_FALSE(tests::FileExists(profilePath)) << "nothing is written at start";
}

TEST_F(SkerryGui, StartupSectionFillsTheFormAndSwitchesNameTheButtons) {
    Put(profilePath, "[Startup]\nHost=192.168.0.20\nLocal=a.txt\nRemote=b.txt\n"
                                  "[Options]\nChange Buttons=yes\n");
    Start();
    EXPECT_EQ(Text(IDC_HOST), "192.168.0.20");
    EXPECT_EQ(Text(IDC_LOCAL_FILE), "a.txt");
    EXPECT_EQ(Text(IDC_REMOTE_FILE), "b.txt");
    EXPECT_EQ(Control<QPushButton>(IDC_SEND)->text(), "Put");
    EXPECT_EQ(Control<QPushButton>(IDC_GET)->text(), "Get");
}

TEST_F(SkerryGui, TheFormHasItsControlsAndTheNineBlockSizes) {
    Start();
    QComboBox* sizes = Control<QComboBox>(IDC_BLOCK_SIZE);
    QStringList items;
    for (int i = 0; i < sizes->count(); ++i) items << sizes->itemText(i);
    EXPECT_EQ(items, QStringList({"64", "128", "256", "512", "1024", "2048", "4096", "8192", "12250"}));
    EXPECT_TRUE(sizes->isEditable());
    EXPECT_EQ(sizes->currentIndex(), 3);
    EXPECT_EQ(Control<QCheckBox>(IDC_SEND_TIMEOUT)->text(), "Send timeout to Server");
    EXPECT_EQ(Control<QCheckBox>(IDC_BINARY)->text(), "Binary");
    EXPECT_EQ(Control<QCheckBox>(IDC_BINARY)->layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(Control<QCheckBox>(IDC_MATCH_FILES)->text(), "Match Files");
    EXPECT_EQ(Control<QPushButton>(ID_TRANSFER_ABORT)->text(), "Abort");
    QProgressBar* bar = Control<QProgressBar>(IDC_PROGRESS);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
}

TEST_F(SkerryGui, WindowIsFixedInSizeWithoutMaximiseAndShowsTheClock) {
    Start();
    EXPECT_EQ(frame->minimumSize(), frame->maximumSize());
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(frame->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(frame->windowTitle(), " - Halden");
    EXPECT_TRUE(Shows("Press F1 for Help")) << Status().toStdString();
    // The clock pane shows the locale's time ("%X"), within a second or two.
    QStringList candidates;
    for (int back = 0; back < 3; ++back) {
        const std::time_t t = std::time(nullptr) - back;
        std::tm local{};
        localtime_r(&t, &local);
        char text[64];
        std::strftime(text, sizeof text, "%X", &local);
        candidates << QString::fromLocal8Bit(text);
    }
    EXPECT_TRUE(candidates.contains(frame->TimePane()->text())) << frame->TimePane()->text().toStdString();
}

TEST_F(SkerryGui, MenusCarryTheirTextsPromptsAndShortNames) {
    Start();
    struct Item { int id; const char* text; const char* tip; const char* shortName; };
    const Item items[] = {
        {ID_FILE_OPEN, "&Send...\tCtrl+S", "Select a file to Send", "Send"},
        {ID_TRANSFER_ABORT, "&Abort", "Abort the current transfer", nullptr},
        {ID_APP_EXIT, "E&xit", "Quit Halden Client", "Exit"},
        {ID_OPTIONS_SETUP, "&Setup", "Set up transfer options", nullptr},
        {ID_OPTIONS_RENAME_BUTTONS, "&Rename Buttons", "Change button names", nullptr},
        {ID_HELP_INDEX, "&Index", "List Help topics", nullptr},
        {ID_HELP_USING, "&Using Help", "Display instructions about how to use help", nullptr},
        {ID_APP_ABOUT, "&About Halden...", "Display program information", "About"},
    };
    for (const Item& item : items) {
        QAction* a = FindCommand(frame, item.id);
        ASSERT_NE(a, nullptr) << item.id;
        EXPECT_EQ(a->text(), item.text);
        EXPECT_EQ(a->statusTip(), item.tip);
        if (item.shortName) {
            EXPECT_EQ(a->toolTip(), item.shortName);
        }
    }
    EXPECT_EQ(FindCommand(frame, ID_FILE_OPEN)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    QStringList menus;
    for (QAction* a : frame->menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, QStringList({"&File", "&Options", "&Help"}));
    QMenu* file = frame->menuBar()->actions()[0]->menu();
    ASSERT_EQ(file->actions().size(), 5);
    EXPECT_TRUE(file->actions()[1]->isSeparator());
    EXPECT_TRUE(file->actions()[3]->isSeparator());
    QMenu* help = frame->menuBar()->actions()[2]->menu();
    ASSERT_EQ(help->actions().size(), 4);
    EXPECT_TRUE(help->actions()[2]->isSeparator());
}

// ---- entry checks ---------------------------------------------------------------

TEST_F(SkerryGui, EmptyNamesStartNothingAndSayNothingButStillBindAndShowTheAddress) {
    Start();
    Type(IDC_HOST, "192.168.0.20");
    Click(IDC_SEND);
    ASSERT_NE(view->transfer, nullptr) << "a new transfer object is made and bound";
    EXPECT_FALSE(view->TransferBusy());
    EXPECT_TRUE(prompts.MessageTexts().empty());
    EXPECT_TRUE(tests::RunUntil([&] { return frame->windowTitle() == "127.0.0.1 - Halden"; }));
    Type(IDC_LOCAL_FILE, "a.txt");
    Type(IDC_REMOTE_FILE, "");
    EXPECT_EQ(view->ValidateInputs(), 0);
    EXPECT_TRUE(prompts.MessageTexts().empty());
    EXPECT_EQ(Profile(), "") << "nothing is saved";
}

TEST_F(SkerryGui, HostsMustBeAddressesOtherThanZeroAndAllOnes) {
    Start();
    Type(IDC_LOCAL_FILE, "a.txt");
    for (const char* bad : {"255.255.255.255", "0.0.0.0", "myserver"}) {
        prompts.Clear();
        Type(IDC_HOST, bad);
        EXPECT_EQ(view->ValidateInputs(), 0) << bad;
        ASSERT_EQ(prompts.MessageTexts().size(), 1u) << bad;
        EXPECT_EQ(prompts.MessageTexts()[0], "Illegal I.P. for Host Address\nPlease be more diligent  :)");
        EXPECT_EQ(prompts.Prompts()[0].icon, platform::PromptIcon::Warning);
    }
    EXPECT_EQ(Profile(), "");
    prompts.Clear();
    Type(IDC_HOST, "192.168.0.20");
    EXPECT_EQ(view->ValidateInputs(), 1);
    EXPECT_TRUE(prompts.MessageTexts().empty());
    EXPECT_EQ(view->hostAddress, "192.168.0.20");
}

TEST_F(SkerryGui, AHostTextIsCutToTwoHundredFiftyFiveCharacters) {
    Start();
    Type(IDC_LOCAL_FILE, "a.txt");
    // The first 255 characters are an address (1.2.3.4 with its last part in
    // octal); the 256th would spoil it.
    const QString host = "1.2.3." + QString(248, '0') + "4x";
    ASSERT_EQ(host.size(), 256);
    Type(IDC_HOST, host);
    EXPECT_EQ(view->ValidateInputs(), 1);
    EXPECT_EQ(view->hostAddress, host.left(255).toStdString());
    EXPECT_TRUE(prompts.MessageTexts().empty());
    // Room for the longest IPv6 literal with brackets and a zone.
    const QString longest = "[ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.254%lo]";
    Type(IDC_HOST, longest);
    EXPECT_EQ(view->ValidateInputs(), 1);
    EXPECT_EQ(view->hostAddress, longest.toStdString());
}

TEST_F(SkerryGui, PortsAreReadAsLeadingDigitsWithSixtyNineForNone) {
    Start();
    Type(IDC_HOST, "192.168.0.20");
    Type(IDC_LOCAL_FILE, "a.txt");
    struct Case { const char* text; int port; bool told; };
    for (const Case& c : {Case{"21x", 21, false}, Case{"0", 69, true}, Case{"", 69, true},
                          Case{"x21", 69, true}, Case{"70000", 70000, false},
                          Case{"99999999999999", 2147483647, false}}) {
        prompts.Clear();
        Type(IDC_PORT, c.text);
        EXPECT_EQ(view->ValidateInputs(), 1) << c.text;
        EXPECT_EQ(view->port, c.port) << c.text;
        EXPECT_EQ(prompts.MessageTexts().size(), c.told ? 1u : 0u) << c.text;
        if (c.told) {
            EXPECT_EQ(prompts.MessageTexts()[0], "Illegal port number specified\nport 69 will be used");
        }
        EXPECT_EQ(Text(IDC_PORT), c.text) << "the field keeps what was typed";
    }
}

TEST_F(SkerryGui, TimeoutsAreReadAsLeadingDigitsWithThirtyForNone) {
    Start();
    Type(IDC_HOST, "192.168.0.20");
    Type(IDC_LOCAL_FILE, "a.txt");
    struct Case { const char* text; int secs; bool told; };
    for (const Case& c : {Case{"5s", 5, false}, Case{"0", 30, true}, Case{"", 30, true},
                          Case{"99999999999999", 2147483647, false}}) {
        prompts.Clear();
        Type(IDC_TIMEOUT, c.text);
        EXPECT_EQ(view->ValidateInputs(), 1) << c.text;
        EXPECT_EQ(view->timeoutSecs, c.secs) << c.text;
        EXPECT_EQ(prompts.MessageTexts().size(), c.told ? 1u : 0u) << c.text;
        if (c.told) {
            EXPECT_EQ(prompts.MessageTexts()[0], "Timeout set to 30 seconds");
        }
    }
}

TEST_F(SkerryGui, BlockSizesOutOfRangeShowTheDialogAndGiveFiveTwelve) {
    Start();
    Type(IDC_HOST, "192.168.0.20");
    Type(IDC_LOCAL_FILE, "a.txt");
    for (const char* good : {"64", "12250", "65420"}) {
        TypeBlockSize(good);
        EXPECT_EQ(view->ValidateInputs(), 1);
        EXPECT_EQ(view->blockSize, QString(good).toInt()) << good;
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    for (const char* bad : {"63", "65421", "100000", "1k", "abc", "99999999999999"}) {
        TypeBlockSize(bad);
        blockDialogTitle.clear();
        auto seen = ExpectBlockSizeDialog();
        EXPECT_EQ(view->ValidateInputs(), 1) << bad;
        EXPECT_TRUE(*seen) << bad;
        EXPECT_EQ(blockDialogTitle, "Transmission block size error");
        EXPECT_EQ(view->blockSize, 512) << bad;
        EXPECT_EQ(Control<QComboBox>(IDC_BLOCK_SIZE)->currentText(), "512") << bad;
    }
    EXPECT_TRUE(prompts.MessageTexts().empty());
}

TEST_F(SkerryGui, TheBlockSizeDialogHasOnlyOkAndItsText) {
    CBlockSizeDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "Transmission block size error");
    const auto buttons = dlg.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text(), "OK");
    bool found = false;
    for (QLabel* l : dlg.findChildren<QLabel*>())
        if (l->text().startsWith("Transmission blocks may be set to any value within the range of "
                                 "64 to 65420 bytes") &&
            l->text().endsWith("For this session the block size has defaulted to 512 bytes."))
            found = true;
    EXPECT_TRUE(found);
}

TEST_F(SkerryGui, AcceptedEntriesAreSavedInTheStartupSection) {
    Start();
    Type(IDC_HOST, "192.168.0.20");
    Type(IDC_LOCAL_FILE, QString(600, 'L'));
    Type(IDC_REMOTE_FILE, "remote.bin");
    EXPECT_EQ(view->ValidateInputs(), 1);
    EXPECT_EQ(view->localName, std::string(500, 'L')) << "cut to 500 characters";
    EXPECT_EQ(app->host, "192.168.0.20");
    EXPECT_EQ(Profile(), "[Startup]\nHost=192.168.0.20\nLocal=" + std::string(500, 'L') +
                             "\nRemote=remote.bin\n");
}

// ---- names ----------------------------------------------------------------------

TEST(ShortName, NamesAreCutToEightDotThree) {
    const std::pair<const char*, const char*> cases[] = {
        {"longfilename.txt", "longfile.txt"}, {"report.html", "report.htm"},
        {"my file-v2.tar.gz", "myfilev2.tar"}, {"README", "README"},
        {"abcdefghijk", "abcdefgh"}, {"abc.", "abc"}, {".profile", ".pro"}, {"-.txt", ".txt"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(ShortName(in), out) << in;
}

TEST(ShortName, BytesAboveOneTwentySevenAreNotLettersAndCharactersAreNotCut) {
    EXPECT_EQ(ShortName("na\xC3\xAFve.txt"), "nave.txt");
    EXPECT_EQ(ShortName("\xE6\x97\xA5\xE8\xAE\xB0.txt"), ".txt");
    // An extension of several-byte characters keeps three whole characters.
    EXPECT_EQ(ShortName("a.\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"), "a.\xC3\xA9\xC3\xA9\xC3\xA9");
}

TEST_F(SkerryGui, TruncateShowsTheShortNameInTheRemoteField) {
    Put(profilePath, "[Options]\nTruncate=Yes\n");
    Start();
    Type(IDC_HOST, "192.168.0.20");
    Type(IDC_LOCAL_FILE, "longfilename.txt");
    EXPECT_EQ(Text(IDC_REMOTE_FILE), "longfilename.txt");
    EXPECT_EQ(view->ValidateInputs(), 1);
    EXPECT_EQ(view->remoteName, "longfile.txt");
    EXPECT_EQ(Text(IDC_REMOTE_FILE), "longfile.txt");
    EXPECT_TRUE(Checked(IDC_MATCH_FILES)) << "the exchange is not a user's edit";
}

TEST_F(SkerryGui, WithoutTruncateTheFullNameIsRequested) {
    Start();
    Type(IDC_HOST, "192.168.0.20");
    Type(IDC_LOCAL_FILE, "longfilename.txt");
    EXPECT_EQ(view->ValidateInputs(), 1);
    EXPECT_EQ(view->remoteName, "longfilename.txt");
}

TEST_F(SkerryGui, MatchFilesMirrorsTheLocalNameUntilTheRemoteOneIsEdited) {
    Start();
    Type(IDC_LOCAL_FILE, "a.txt");
    EXPECT_EQ(Text(IDC_REMOTE_FILE), "a.txt");
    QTest::keyClicks(Control(IDC_REMOTE_FILE), "x");
    EXPECT_FALSE(Checked(IDC_MATCH_FILES));
    EXPECT_EQ(Text(IDC_REMOTE_FILE), "a.txtx");
    Type(IDC_LOCAL_FILE, "b.txt");
    EXPECT_EQ(Text(IDC_REMOTE_FILE), "a.txtx") << "no longer mirrored";
    Click(IDC_MATCH_FILES);
    EXPECT_TRUE(Checked(IDC_MATCH_FILES));
    EXPECT_EQ(Text(IDC_REMOTE_FILE), "b.txt") << "checking copies at once";
    Click(IDC_MATCH_FILES);
    EXPECT_EQ(Text(IDC_REMOTE_FILE), "b.txt") << "unchecking changes nothing else";
}

// ---- buttons, menus and dialogs -------------------------------------------------

TEST_F(SkerryGui, RenameButtonsTwiceRestoresTheNamesAndWritesTheSwitchEachTime) {
    Start();
    QAction* rename = FindCommand(frame, ID_OPTIONS_RENAME_BUTTONS);
    rename->trigger();
    EXPECT_EQ(Control<QPushButton>(IDC_SEND)->text(), "Put");
    EXPECT_EQ(Control<QPushButton>(IDC_GET)->text(), "Get");
    EXPECT_EQ(Profile(), "[Options]\nChange Buttons=Yes\n");
    rename->trigger();
    EXPECT_EQ(Control<QPushButton>(IDC_SEND)->text(), "Send");
    EXPECT_EQ(Control<QPushButton>(IDC_GET)->text(), "Fetch");
    EXPECT_EQ(Profile(), "[Options]\nChange Buttons=No\n");
}

TEST_F(SkerryGui, SetupWritesBothFoldersAndSwitchesOnOk) {
    Put(profilePath, "[Options]\nOverWrite=Yes\nDefault IP=2\n");
    Start();
    auto seen = tests::OnNextModal([](QWidget* w) {
        auto* sheet = qobject_cast<COptionsSheet*>(w);
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->windowTitle(), "File Locations & Options");
        QTabWidget* tabs = sheet->findChild<QTabWidget*>();
        EXPECT_EQ(tabs->currentIndex(), 0);
        EXPECT_EQ(tabs->tabText(0), "Inbound");
        EXPECT_EQ(tabs->tabText(1), "Outbound");
        EXPECT_TRUE(FindControl<QCheckBox>(&sheet->incomingPage, IDC_SWITCH)->isChecked());
        EXPECT_EQ(FindControl<QCheckBox>(&sheet->incomingPage, IDC_SWITCH)->text(), "Overwrite exisiting files");
        EXPECT_EQ(FindControl<QCheckBox>(&sheet->outgoingPage, IDC_SWITCH)->text(), "Truncate long filenames");
        tabs->setCurrentIndex(1);
        QLineEdit* folder = FindControl<QLineEdit>(&sheet->outgoingPage, IDC_FOLDER);
        QTest::keyClicks(folder, "/srv/tftp/out");
        QTest::mouseClick(FindControl<QCheckBox>(&sheet->outgoingPage, IDC_SWITCH), Qt::LeftButton);
        FindControl<QPushButton>(sheet, IDOK)->click();
    });
    FindCommand(frame, ID_OPTIONS_SETUP)->trigger();
    EXPECT_TRUE(*seen);
    EXPECT_EQ(app->outboundPath, "/srv/tftp/out/");
    EXPECT_EQ(app->truncate, 1);
    EXPECT_EQ(Profile(), "[Options]\nOverWrite=Yes\nDefault IP=2\nInbound=\n"
                         "Outbound=/srv/tftp/out/\nTruncate=Yes\n");
}

TEST_F(SkerryGui, SetupEndedWithCancelWritesNothingEvenAfterApply) {
    Put(profilePath, "[Options]\nOverWrite=Yes\n");
    Start();
    auto seen = tests::OnNextModal([](QWidget* w) {
        auto* sheet = qobject_cast<COptionsSheet*>(w);
        ASSERT_NE(sheet, nullptr);
        QTest::mouseClick(FindControl<QCheckBox>(&sheet->incomingPage, IDC_SWITCH), Qt::LeftButton);
        QTest::keyClicks(FindControl<QLineEdit>(&sheet->incomingPage, IDC_FOLDER), "/in");
        sheet->findChild<QTabWidget*>()->setCurrentIndex(2);
        auto* window = FindControl<QSpinBox>(&sheet->transferPage, IDC_WINDOW_SIZE);
        ASSERT_NE(window, nullptr);
        window->selectAll();
        QTest::keyClicks(window, "5");
        QPushButton* apply = nullptr;
        for (QPushButton* b : sheet->findChildren<QPushButton*>())
            if (b->text().contains("Apply")) apply = b;
        ASSERT_NE(apply, nullptr);
        EXPECT_TRUE(apply->isEnabled());
        apply->click();
        FindControl<QPushButton>(sheet, IDCANCEL)->click();
    });
    FindCommand(frame, ID_OPTIONS_SETUP)->trigger();
    EXPECT_TRUE(*seen);
    EXPECT_EQ(app->overwrite, 1);
    EXPECT_EQ(app->inboundPath, "");
    EXPECT_EQ(app->windowSize, ClientSettings::kDefaultWindowSize);
    EXPECT_EQ(Profile(), "[Options]\nOverWrite=Yes\n");
}

// No stored window: the Transfer page shows the default and a send asks for
// it; a stored 1 is shown and sends the request without any windowsize.
TEST_F(SkerryGui, TheWindowAskedForIsTheStoredOneOrTheDefault) {
    const struct {
        const char* profile;
        int shown;
        std::string asked;  // the windowsize option's value; empty: none
    } cases[] = {
        {"[Options]\n", ClientSettings::kDefaultWindowSize, std::to_string(ClientSettings::kDefaultWindowSize)},
        {"[Options]\nWindow Size=1\n", 1, ""},
        {"[Options]\nWindow Size=32\n", 32, "32"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile);
        app.reset();  // one program at a time, each from its own profile
        Put(profilePath, c.profile);
        Start();
        auto seen = tests::OnNextModal([&c](QWidget* w) {
            auto* sheet = qobject_cast<COptionsSheet*>(w);
            ASSERT_NE(sheet, nullptr);
            auto* window = FindControl<QSpinBox>(&sheet->transferPage, IDC_WINDOW_SIZE);
            ASSERT_NE(window, nullptr);
            EXPECT_EQ(window->value(), c.shown);
            FindControl<QPushButton>(sheet, IDCANCEL)->click();
        });
        FindCommand(frame, ID_OPTIONS_SETUP)->trigger();
        EXPECT_TRUE(*seen);

        Put(dir.File("a.txt"), "hello");
        app->outboundPath = dir.Path() + "/";
        Aim("a.txt", "a.txt");
        Click(IDC_SEND);
        // The request; the ERROR of the previous case's abort may come first.
        Bytes request;
        tests::SentRequest sent;
        do {
            ASSERT_TRUE(server.Receive(request));
            sent = tests::ParseSentRequest(request);
        } while (sent.opcode == tftp::kError);
        EXPECT_EQ(sent.opcode, tftp::kWrq);
        std::string asked;
        for (const auto& [name, value] : sent.options)
            if (name == "windowsize") asked = value;
        EXPECT_EQ(asked, c.asked);
        FindCommand(frame, ID_TRANSFER_ABORT)->trigger();
        EXPECT_EQ(view->transfer->busy, 0);
    }
}

TEST_F(SkerryGui, SetupWindowSizeIsStoredAndGivenToTheNextTransfer) {
    Put(profilePath, "[Options]\nWindow Size=4\n");
    Start();
    EXPECT_EQ(app->windowSize, 4);
    auto seen = tests::OnNextModal([](QWidget* w) {
        auto* sheet = qobject_cast<COptionsSheet*>(w);
        ASSERT_NE(sheet, nullptr);
        QTabWidget* tabs = sheet->findChild<QTabWidget*>();
        ASSERT_EQ(tabs->count(), 3);
        EXPECT_EQ(tabs->tabText(2), "Transfer");
        tabs->setCurrentIndex(2);
        auto* window = FindControl<QSpinBox>(&sheet->transferPage, IDC_WINDOW_SIZE);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->value(), 4);
        EXPECT_EQ(window->accessibleName(), "Window size");
        window->setFocus();
        window->selectAll();
        QTest::keyClicks(window, "16");
        FindControl<QPushButton>(sheet, IDOK)->click();
    });
    FindCommand(frame, ID_OPTIONS_SETUP)->trigger();
    EXPECT_TRUE(*seen);
    EXPECT_EQ(app->windowSize, 16);
    EXPECT_EQ(Profile(), "[Options]\nWindow Size=16\nInbound=\nOutbound=\nOverWrite=No\nTruncate=No\n"
                         "Default IP=0\n");

    Put(dir.File("a.txt"), "hello");
    app->outboundPath = dir.Path() + "/";
    Aim("a.txt", "a.txt");
    Click(IDC_SEND);
    Bytes request;
    ASSERT_TRUE(server.Receive(request));
    ASSERT_NE(view->transfer, nullptr);
    EXPECT_EQ(view->transfer->windowSize, 16);
    FindCommand(frame, ID_TRANSFER_ABORT)->trigger();
    EXPECT_FALSE(view->TransferBusy());
}

// The largest block size typed on the Transfer page is stored, comes back,
// and holds the next transfer's offer below the block size in the window.
TEST_F(SkerryGui, SetupLargestBlockSizeIsStoredAndCapsTheNextOffer) {
    // Lock-step set: the offer is the block size alone.
    Put(profilePath, "[Options]\nLargest Block Size=1428\nWindow Size=1\n");
    Start();
    EXPECT_EQ(app->maxBlockSize, 1428);
    auto seen = tests::OnNextModal([](QWidget* w) {
        auto* sheet = qobject_cast<COptionsSheet*>(w);
        ASSERT_NE(sheet, nullptr);
        sheet->findChild<QTabWidget*>()->setCurrentIndex(2);
        auto* cap = FindControl<QLineEdit>(&sheet->transferPage, IDC_MAX_BLOCK_SIZE);
        ASSERT_NE(cap, nullptr);
        EXPECT_EQ(cap->text(), "1428");
        EXPECT_EQ(cap->accessibleName(), "Largest block size");
        cap->setFocus();
        cap->selectAll();
        QTest::keyClicks(cap, "10x24");  // digits only
        EXPECT_EQ(cap->text(), "1024");
        FindControl<QPushButton>(sheet, IDOK)->click();
    });
    FindCommand(frame, ID_OPTIONS_SETUP)->trigger();
    EXPECT_TRUE(*seen);
    EXPECT_EQ(app->maxBlockSize, 1024);
    EXPECT_NE(Profile().find("Largest Block Size=1024\n"), std::string::npos) << Profile();

    Put(dir.File("a.txt"), "hello");
    app->outboundPath = dir.Path() + "/";
    Aim("a.txt", "a.txt");
    TypeBlockSize("8192");
    Click(IDC_SEND);
    Bytes request;
    ASSERT_TRUE(server.Receive(request));
    const auto sent = tests::ParseSentRequest(request);
    ASSERT_EQ(sent.options.size(), 1u);
    EXPECT_EQ(sent.options[0], (std::pair<std::string, std::string>{"blksize", "1024"}));
    FindCommand(frame, ID_TRANSFER_ABORT)->trigger();
}

TEST_F(SkerryGui, AboutTwiceGivesOneWindowOkClosesItAndAboutOpensANewOne) {
    Start();
    QAction* about = FindCommand(frame, ID_APP_ABOUT);
    about->trigger();
    about->trigger();
    int windows = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<CAbout*>(w) && w->isVisible()) ++windows;
    EXPECT_EQ(windows, 1);
    ASSERT_TRUE(app->aboutSheet);
    EXPECT_EQ(app->aboutSheet->windowTitle(), "About Halden Client");
    EXPECT_EQ(app->aboutSheet->Pages()->currentIndex(), 1);
    EXPECT_EQ(app->aboutSheet->Pages()->tabText(0), "The Company");
    EXPECT_EQ(app->aboutSheet->Pages()->tabText(1), "Version");
    FindControl<QPushButton>(app->aboutSheet, IDOK)->click();
    EXPECT_TRUE(tests::RunUntil([&] { return app->aboutSheet.isNull(); }));
    about->trigger();
    EXPECT_FALSE(app->aboutSheet.isNull());
}

TEST_F(SkerryGui, HelpShowsTheProgramsPageAndShiftF1EntersContextHelp) {
    Start();
    FindCommand(frame, ID_HELP_INDEX)->trigger();
    ASSERT_NE(app->Help().Window(), nullptr);
    EXPECT_TRUE(app->Help().Window()->isVisible());
    EXPECT_TRUE(app->Help().Browser()->toPlainText().contains("Skerry"));
    FindCommand(frame, ID_HELP_USING)->trigger();
    EXPECT_EQ(app->Help().Browser()->source().fragment(), "using-help");
    Control(IDC_PORT)->setFocus();
    FindCommand(frame, ID_HELP)->trigger();
    EXPECT_EQ(app->Help().Browser()->source().fragment(), "id1001");
    FindCommand(frame, ID_CONTEXT_HELP)->trigger();
    EXPECT_TRUE(QWhatsThis::inWhatsThisMode());
    QWhatsThis::leaveWhatsThisMode();
    EXPECT_FALSE(Control(IDC_HOST)->whatsThis().isEmpty());
}

// ---- transfers through the form ---------------------------------------------------

TEST_F(SkerryGui, AbortBeforeAnyTransferDoesNothingAndFileAbortIsEnabledOnlyWhileBusy) {
    Start();
    Click(ID_TRANSFER_ABORT);
    EXPECT_EQ(view->transfer, nullptr);
    QMenu* file = frame->menuBar()->actions()[0]->menu();
    QAction* abort = FindCommand(frame, ID_TRANSFER_ABORT);
    emit file->aboutToShow();
    EXPECT_FALSE(abort->isEnabled());

    Put(dir.File("a.txt"), "hello");
    app->outboundPath = dir.Path() + "/";
    Aim("a.txt", "a.txt");
    Click(IDC_SEND);
    ASSERT_TRUE(view->TransferBusy());
    emit file->aboutToShow();
    EXPECT_TRUE(abort->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(IDC_SEND)->isEnabled()) << "no control is ever disabled";
    abort->trigger();
    EXPECT_FALSE(view->TransferBusy());
    EXPECT_TRUE(Shows("Transfer Aborted")) << Status().toStdString();
}

TEST_F(SkerryGui, StatusLineFollowsASendOfAThousandBytes) {
    const std::string body = tests::PatternBytes(1000);
    Put(dir.File("a.bin"), body);
    Start();
    app->outboundPath = dir.Path() + "/";
    Aim("a.bin", "a.bin");
    Click(IDC_SEND);
    Bytes p;
    platform::PeerAddress client;
    ASSERT_TRUE(server.Receive(p, client));
    EXPECT_TRUE(Shows("Offering file to server ...")) << Status().toStdString();
    port.Send(tests::Ack(0), client);
    ASSERT_TRUE(port.Receive(p));
    EXPECT_TRUE(Shows("Sent 512 bytes (51%)")) << Status().toStdString();
    port.Send(tests::Ack(1), client);
    ASSERT_TRUE(port.Receive(p));
    port.Send(tests::Ack(2), client);
    EXPECT_TRUE(tests::RunUntil([&] { return !view->TransferBusy(); }));
    EXPECT_TRUE(Shows("Sent 1000 bytes (100%) - Done")) << Status().toStdString();
    EXPECT_EQ(Profile(), "[Startup]\nHost=127.0.0.1\nLocal=a.bin\nRemote=a.bin\n");
}

TEST_F(SkerryGui, StatusLineFollowsAFetchOfAHundredBytes) {
    Start();
    app->inboundPath = dir.Path() + "/";
    Aim("got.bin", "got.bin");
    Click(IDC_GET);
    Bytes p;
    platform::PeerAddress client;
    ASSERT_TRUE(server.Receive(p, client));
    EXPECT_TRUE(Shows("Requesting file from server ...")) << Status().toStdString();
    const std::string body = tests::PatternBytes(100);
    port.Send(tests::Data(1, body), client);
    ASSERT_TRUE(port.Receive(p));
    EXPECT_TRUE(Shows("Received 100 bytes (1 blocks) - Done")) << Status().toStdString();
    EXPECT_EQ(tests::ReadFile(dir.File("got.bin")), body);
}

TEST_F(SkerryGui, ALateAnswerToOverwriteItStillFetchesTheFileWhole) {
    // "Overwrite it ?" stays open for a minute while idle processing runs in
    // its loop: the transfer must neither time out behind it nor leave the
    // old file emptied, and the fetch goes on once the user says Yes.
    Start();
    app->inboundPath = dir.Path() + "/";
    app->overwrite = 0;
    Put(dir.File("late.bin"), "the old bytes");
    prompts.whileOpen = [&] {
        clock.Advance(60);
        for (long count = 0; count < 0x80; ++count) app->OnIdle(count);
    };
    Aim("late.bin", "late.bin");
    Click(IDC_GET);
    prompts.whileOpen = nullptr;
    ASSERT_EQ(prompts.MessageTexts().size(), 1u);
    Bytes p;
    platform::PeerAddress client;
    ASSERT_TRUE(server.Receive(p, client));
    EXPECT_TRUE(view->TransferBusy());
    EXPECT_EQ(tests::ReadFile(dir.File("late.bin")), "the old bytes");
    const std::string body = tests::PatternBytes(100);
    port.Send(tests::Data(1, body), client);
    ASSERT_TRUE(port.Receive(p));
    EXPECT_TRUE(Shows("Received 100 bytes (1 blocks) - Done")) << Status().toStdString();
    EXPECT_EQ(tests::ReadFile(dir.File("late.bin")), body);
}

TEST_F(SkerryGui, ServerErrorIsShownCutToSixty) {
    Start();
    app->inboundPath = dir.Path() + "/";
    Aim("x.bin", "x.bin");
    Click(IDC_GET);
    Bytes p;
    platform::PeerAddress client;
    ASSERT_TRUE(server.Receive(p, client));
    port.Send(tests::Error(1, std::string(70, 'e')), client);
    EXPECT_TRUE(tests::RunUntil([&] { return !view->TransferBusy(); }));
    EXPECT_TRUE(Shows(QString("Msg from Server > ") + QString(42, 'e'))) << Status().toStdString();
}

TEST_F(SkerryGui, TheAbortButtonSendsErrorEightAndLeavesNoPartialFile) {
    Start();
    app->inboundPath = dir.Path() + "/";
    Aim("part.bin", "part.bin");
    Click(IDC_GET);
    Bytes p;
    platform::PeerAddress client;
    ASSERT_TRUE(server.Receive(p, client));
    const std::string block = tests::PatternBytes(512);
    port.Send(tests::Data(1, block), client);
    ASSERT_TRUE(port.Receive(p));
    Click(ID_TRANSFER_ABORT);
    ASSERT_TRUE(port.Receive(p));
    EXPECT_EQ(tests::Opcode(p), tftp::kError);
    EXPECT_EQ(tests::Block(p), 8);
    EXPECT_EQ(tests::ErrorTextOf(p), "Transfer Aborted");
    // Half a file would pass for the whole one: the part fetched goes.
    EXPECT_FALSE(tests::FileExists(dir.File("part.bin")));
    EXPECT_TRUE(Shows("Received 512 bytes (1 blocks) - Aborted")) << Status().toStdString();
}

TEST_F(SkerryGui, SilentServerTimesOutThroughTheIdleProcessing) {
    Start();
    app->inboundPath = dir.Path() + "/";
    Aim("late.bin", "late.bin");
    Type(IDC_TIMEOUT, "5");
    Click(IDC_GET);
    Bytes p;
    ASSERT_TRUE(server.Receive(p));
    tests::RunFor(300);
    EXPECT_TRUE(view->TransferBusy()) << "not before the time-out";
    clock.Advance(6);
    EXPECT_TRUE(tests::RunUntil([&] { return Status() == "Timed out"; }, 10000));
    EXPECT_FALSE(view->TransferBusy());
    EXPECT_TRUE(server.Silent(100));
}

TEST_F(SkerryGui, TheBarGoesAsThePercentageAndIsFullAtDone) {
    Start();
    app->outboundPath = dir.Path() + "/";
    QProgressBar* bar = Control<QProgressBar>(IDC_PROGRESS);
    for (const int size : {50, 150, 10000}) {
        const std::string name = "p" + std::to_string(size);
        Put(dir.File(name), tests::PatternBytes(static_cast<std::size_t>(size)));
        Aim(QString::fromStdString(name), QString::fromStdString(name));
        Click(IDC_SEND);
        Bytes p;
        platform::PeerAddress client;
        ASSERT_TRUE(server.Receive(p, client));
        std::uint16_t block = 0;
        for (;;) {
            port.Send(tests::Ack(block), client);
            if (!port.Receive(p, 2000)) break;
            block = tests::Block(p);
            if (size == 10000 && block == 1) {
                EXPECT_TRUE(tests::RunUntil([&] { return bar->value() == 5; }))
                    << "512 of 10000 bytes: " << bar->value();
            }
        }
        EXPECT_TRUE(tests::RunUntil([&] { return !view->TransferBusy(); }));
        EXPECT_TRUE(tests::RunUntil([&] { return bar->value() == 100; })) << size << ": " << bar->value();
    }
    // A transfer whose count falls short of the size it announced (a text
    // file with CR LF line ends goes out with LF) still ends full; sizes past
    // 4 GiB keep their proportion.
    struct Step { std::int64_t wParam, lParam; int bar; };
    for (const Step& step : {Step{kProgressStart, 1000, 0}, Step{kProgressSent, 950, 95},
                             Step{kProgressDone, 950, 100}, Step{kProgressStart, 5000000000LL, 0},
                             Step{kProgressReceived, 2500000000LL, 50}}) {
        view->OnTransferProgress(step.wParam, step.lParam);
        EXPECT_EQ(bar->value(), step.bar) << step.wParam << " " << step.lParam;
    }
}

TEST_F(SkerryGui, ADroppedFileFillsBothNamesAndIsSentFromItsOwnFolder) {
    Put(dir.File("sub/name.txt"), "dropped bytes");
    Put(dir.File("name.txt"), "the outbound copy");
    Start();
    app->outboundPath = dir.Path() + "/";
    Type(IDC_HOST, "127.0.0.1");
    Type(IDC_PORT, QString::number(server.Port()));
    Type(IDC_REMOTE_FILE, "other");  // switches Match Files off
    ASSERT_FALSE(Checked(IDC_MATCH_FILES));

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.File("sub/name.txt")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame, &drop);

    EXPECT_EQ(Text(IDC_LOCAL_FILE), "name.txt");
    EXPECT_EQ(Text(IDC_REMOTE_FILE), "name.txt");
    EXPECT_TRUE(Checked(IDC_MATCH_FILES));
    Bytes p;
    platform::PeerAddress client;
    ASSERT_TRUE(server.Receive(p, client));
    EXPECT_EQ(tests::ParseSentRequest(p).name, "name.txt");
    port.Send(tests::Ack(0), client);
    ASSERT_TRUE(port.Receive(p));
    EXPECT_EQ(tests::Payload(p), "dropped bytes");
    EXPECT_EQ(view->transfer->sourceDir, dir.File("sub/"));

    // A second drop while the first send runs is ignored.
    QApplication::sendEvent(frame, &drop);
    EXPECT_TRUE(server.Silent(200));
}

TEST_F(SkerryGui, FileSendOpensTheFileDialogAndSendsTheChosenFile) {
    Put(dir.File("pick/chosen.dat"), "picked");
    Start();
    Type(IDC_HOST, "127.0.0.1");
    Type(IDC_PORT, QString::number(server.Port()));
    const std::string chosen = dir.File("pick/chosen.dat");
    auto seen = tests::OnNextModal([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(dialog, nullptr);
        // Type the path into the name field, as a user would, and press Open.
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(chosen));
        static_cast<QDialog*>(dialog)->accept();
        if (dialog->isVisible()) dialog->reject();  // never leave the test hanging
    });
    FindCommand(frame, ID_FILE_OPEN)->trigger();
    EXPECT_TRUE(*seen);
    EXPECT_EQ(Text(IDC_LOCAL_FILE), "chosen.dat");
    Bytes p;
    platform::PeerAddress client;
    ASSERT_TRUE(server.Receive(p, client));
    port.Send(tests::Ack(0), client);
    ASSERT_TRUE(port.Receive(p));
    EXPECT_EQ(tests::Payload(p), "picked");
}

TEST_F(SkerryGui, AStartWhileBusyIsIgnored) {
    Put(dir.File("a.txt"), "x");
    Start();
    app->outboundPath = dir.Path() + "/";
    Aim("a.txt", "a.txt");
    Click(IDC_SEND);
    Bytes p;
    ASSERT_TRUE(server.Receive(p));
    CTransferSocket* running = view->transfer.get();
    Click(IDC_SEND);
    Click(IDC_GET);
    EXPECT_EQ(view->transfer.get(), running);
    EXPECT_TRUE(server.Silent(200));
    EXPECT_TRUE(prompts.MessageTexts().empty());
}

// ---- status line, keys, signals, names ----------------------------------------------

TEST_F(SkerryGui, AMenuGivesTheLastResultBackWhenItCloses) {
    Start();
    app->SetStatusText(0, "Timed out");
    ASSERT_TRUE(Shows("Timed out"));
    QMenu* file = frame->menuBar()->actions()[0]->menu();
    frame->menuBar()->setActiveAction(file->menuAction());
    ASSERT_TRUE(tests::RunUntil([&] { return file->isVisible(); }));
    file->setActiveAction(FindCommand(frame, ID_FILE_OPEN));
    EXPECT_TRUE(tests::RunUntil([&] {
        return frame->statusBar()->currentMessage() == "Select a file to Send";
    })) << frame->statusBar()->currentMessage().toStdString();
    file->hide();
    EXPECT_TRUE(tests::RunUntil([&] { return frame->statusBar()->currentMessage().isEmpty(); }));
    tests::RunFor(2 * CMainFrame::kMessagePaintMs);
    EXPECT_EQ(Status(), "Timed out");
    EXPECT_TRUE(frame->MessagePane()->isVisible());
}

TEST_F(SkerryGui, ALongStatusIsElidedInTheMiddleAndTheClockKeepsItsWidth) {
    Start();
    EXPECT_FALSE(frame->statusBar()->isSizeGripEnabled()) << "the window has a fixed size";
    CStatusPane* pane = frame->MessagePane();
    QLabel* clock = frame->TimePane();
    struct Case { QString text; bool elided; };
    for (const Case& c : {Case{"Timed out", false},
                          Case{"Msg from Server > " + QString(42, 'e'), true},
                          Case{"Received 52428800 bytes (102401 blocks) - Done", true}}) {
        app->SetStatusText(0, c.text.toStdString());
        ASSERT_TRUE(Shows(c.text));
        tests::RunFor(20);
        const QString shown = pane->ShownText();
        EXPECT_LE(pane->fontMetrics().horizontalAdvance(shown), pane->contentsRect().width());
        if (c.elided) {
            EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
            EXPECT_TRUE(shown.startsWith(c.text.left(3)) && shown.endsWith(c.text.right(3)))
                << shown.toStdString();
            EXPECT_EQ(pane->toolTip(), c.text);
        } else {
            EXPECT_EQ(shown, c.text);
            EXPECT_TRUE(pane->toolTip().isEmpty());
        }
        EXPECT_GE(clock->contentsRect().width(), clock->fontMetrics().horizontalAdvance(clock->text()))
            << c.text.toStdString();
        EXPECT_LE(clock->geometry().right(), frame->statusBar()->contentsRect().right())
            << c.text.toStdString();
    }
}

TEST_F(SkerryGui, EnterPressesTheFocusedButtonAndEscapeClosesHelp) {
    Put(dir.File("k.txt"), "keys");
    std::filesystem::create_directories(dir.File("in"));
    Start();
    app->outboundPath = dir.Path() + "/";
    app->inboundPath = dir.File("in/");
    Aim("k.txt", "k.txt");
    struct Case { int button; Qt::Key key; std::uint16_t opcode; };
    for (const Case& c : {Case{IDC_SEND, Qt::Key_Return, tftp::kWrq},
                          Case{ID_TRANSFER_ABORT, Qt::Key_Enter, tftp::kError},
                          Case{IDC_GET, Qt::Key_Enter, tftp::kRrq},
                          Case{ID_TRANSFER_ABORT, Qt::Key_Return, tftp::kError}}) {
        auto* button = Control<QPushButton>(c.button);
        button->setFocus();
        QTest::keyClick(button, c.key);
        Bytes p;
        ASSERT_TRUE(server.Receive(p, 2000)) << c.button;
        EXPECT_EQ(tests::Opcode(p), c.opcode) << c.button;
    }
    FindCommand(frame, ID_HELP_INDEX)->trigger();
    ASSERT_NE(app->Help().Window(), nullptr);
    QTest::keyClick(app->Help().Browser(), Qt::Key_Escape);
    EXPECT_TRUE(tests::RunUntil([&] { return app->Help().Window() == nullptr; }));
}

TEST_F(SkerryGui, ACancelledOrFailedAddressChoiceEndsTheStartWithNoOtherMessage) {
    Put(dir.File("a.txt"), "x");
    Start();
    app->outboundPath = dir.Path() + "/";
    Aim("a.txt", "a.txt");
    addresses.failLookup = true;
    const std::string lookup = "Unable to resolve Local Host I.P. address";
    struct Case { bool ok; std::string typed; std::vector<std::string> messages; };
    for (const Case& c : {Case{false, "", {lookup}},
                          Case{true, "abc", {lookup, "Unable to Create port"}}}) {
        prompts.Clear();
        prompts.Queue({});  // OK on the lookup message
        platform::ScriptedPromptService::Answer entry;
        entry.ok = c.ok;
        entry.typed = c.typed;
        prompts.Queue(entry);
        Click(IDC_SEND);
        tests::RunFor(100);
        EXPECT_EQ(prompts.MessageTexts(), c.messages) << c.typed;
        EXPECT_EQ(frame->windowTitle(), " - Halden") << c.typed;
        EXPECT_FALSE(view->OnUpdateAbort()) << c.typed;
        EXPECT_TRUE(server.Silent(100)) << c.typed;
    }
}

TEST_F(SkerryGui, TerminationSignalsEndTheProgramAsFileExitDoes) {
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        app.reset();
        Start();
        ASSERT_TRUE(frame->isVisible());
        // The program's own event loop must end, and soon.
        QTimer::singleShot(0, [signalNumber] { ::raise(signalNumber); });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(5000);
        EXPECT_EQ(QCoreApplication::exec(), 0) << signalNumber;
        EXPECT_FALSE(frame->isVisible()) << signalNumber;
    }
}

TEST_F(SkerryGui, NoTextOfTheWindowsIsClipped) {
    // Run at the screen's 96 dpi and once more at 144 (CMakeLists.txt).
    const char* dpi = std::getenv("TFTP_FONT_DPI");
    EXPECT_EQ(QGuiApplication::primaryScreen()->logicalDotsPerInchY(), dpi ? std::atoi(dpi) : 96);
    Start();
    FindCommand(frame, ID_APP_ABOUT)->trigger();
    ASSERT_TRUE(app->aboutSheet);
    CBlockSizeDlg blockSize(frame);
    blockSize.show();
    COptionsSheet options(frame);
    options.show();
    tftp::CListenAddressDlg listening(platform::AddressForm::Client, frame);
    listening.show();
    tftp::CMultihomedDlg multihomed(platform::AddressForm::Client, {"192.168.0.5", "10.0.0.5"}, false,
                                    frame);
    multihomed.show();
    const std::pair<const char*, QWidget*> windows[] = {
        {"main window", frame}, {"About", app->aboutSheet}, {"block size", &blockSize},
        {"Setup", &options}, {"Listening Address", &listening}, {"Multihomed Host", &multihomed}};
    tests::RunFor(50);
    for (const auto& [name, window] : windows) {
        const QStringList clipped = ClippedTextsOnEveryPage(window);
        EXPECT_TRUE(clipped.isEmpty()) << name << ": " << clipped.join("; ").toStdString();
    }
}

TEST_F(SkerryGui, EveryControlHasTheNameOfItsLabel) {
    Start();
    COptionsSheet options(frame);
    for (const QWidget* window : {static_cast<const QWidget*>(frame), static_cast<const QWidget*>(&options)}) {
        const QStringList unnamed = tests::UnnamedControls(window);
        EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join(", ").toStdString();
        // The text as a screen reader says it: no shortcut marker.
        const QStringList marked = tests::NamesWithMnemonics(window);
        EXPECT_TRUE(marked.isEmpty()) << marked.join(", ").toStdString();
    }
    const std::pair<int, const char*> labelled[] = {
        {IDC_HOST, "Host"}, {IDC_PORT, "Port"}, {IDC_TIMEOUT, "Timeout"},
        {IDC_BLOCK_SIZE, "Block Size"}, {IDC_LOCAL_FILE, "Local File"},
        {IDC_REMOTE_FILE, "Remote File"}, {IDC_PROGRESS, "Progress"}};
    for (const auto& [id, name] : labelled) EXPECT_EQ(Control<QWidget>(id)->accessibleName(), name);
    EXPECT_EQ(FindControl<QLineEdit>(&options.incomingPage, IDC_FOLDER)->accessibleName(), "File Path");
}

TEST_F(SkerryGui, ABlockSizeTheSocketLowersIsShownInTheComboBox) {
    Start();
    view->OnTransferBlockSize(0, 980);
    EXPECT_EQ(Control<QComboBox>(IDC_BLOCK_SIZE)->currentText(), "980");
}


// ---- host names and IPv6 ------------------------------------------------------------

TEST_F(SkerryGui, AnIpv6AddressOrAHostNameInTheHostFieldFetchesFromThatServer) {
    FakePeer server6("::1"), port6("::1");
    ASSERT_NE(server6.Port(), 0) << "no IPv6 loopback here";
    Start();
    app->inboundPath = dir.Path() + "/";
    app->overwrite = 1;
    struct Case { const char* host; bool v6; const char* caption; };
    for (const Case& c : {Case{"::1", true, "::1 - Halden"}, Case{"[::1]", true, "::1 - Halden"},
                          Case{"localhost", false, "127.0.0.1 - Halden"}}) {
        SCOPED_TRACE(c.host);
        FakePeer& to = c.v6 ? server6 : server;
        FakePeer& from = c.v6 ? port6 : port;
        Type(IDC_HOST, c.host);
        Type(IDC_PORT, QString::number(to.Port()));
        Type(IDC_LOCAL_FILE, "got.bin");
        Type(IDC_REMOTE_FILE, "got.bin");
        Click(IDC_GET);
        Bytes p;
        platform::PeerAddress client;
        ASSERT_TRUE(to.Receive(p, client, 5000));
        EXPECT_EQ(tests::ParseSentRequest(p).name, "got.bin");
        EXPECT_EQ(client.v6, c.v6);
        const std::string body = tests::PatternBytes(100) + c.host;
        from.Send(tests::Data(1, body), client);
        ASSERT_TRUE(from.Receive(p));
        EXPECT_EQ(p, tests::Ack(1));
        EXPECT_TRUE(Shows(QString("Received %1 bytes (1 blocks) - Done").arg(body.size())))
            << Status().toStdString();
        EXPECT_EQ(tests::ReadFile(dir.File("got.bin")), body);
        EXPECT_TRUE(tests::RunUntil([&] { return frame->windowTitle() == c.caption; }))
            << frame->windowTitle().toStdString();
        EXPECT_EQ(Profile(), std::string("[Startup]\nHost=") + c.host + "\nLocal=got.bin\nRemote=got.bin\n")
            << "the host is kept as it was typed";
    }
    EXPECT_TRUE(prompts.MessageTexts().empty());
}

TEST_F(SkerryGui, ANameThatDoesNotResolveIsAnIllegalHostAndNothingIsSaved) {
    Start();
    Aim("a.txt", "a.txt");
    Type(IDC_HOST, "nonexistent.invalid");
    Click(IDC_GET);
    ASSERT_TRUE(tests::RunUntil([&] { return !prompts.MessageTexts().empty(); }, 10000));
    EXPECT_EQ(prompts.MessageTexts(),
              std::vector<std::string>{"Illegal I.P. for Host Address\nPlease be more diligent  :)"});
    EXPECT_FALSE(view->LookingUp());
    EXPECT_FALSE(view->OnUpdateAbort());
    EXPECT_EQ(Profile(), "");
    EXPECT_TRUE(server.Silent(100));
}

TEST_F(SkerryGui, TheWindowKeepsGoingWhileANameIsLookedUpAndAbortOrClosingEndsTheStart) {
    // A resolver that takes its time; it captures nothing of the test, as
    // it may outlive it.
    const skerry::NameLookup slow = [](const std::string& name, std::vector<platform::PeerAddress>& found) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        platform::PeerAddress a;
        platform::ParseAddress("127.0.0.1", a);
        found = {a};
        return name == "slow.lab";
    };
    Put(dir.File("a.txt"), "x");
    Start();
    app->outboundPath = dir.Path() + "/";
    app->inboundPath = dir.Path() + "/";
    app->overwrite = 1;
    view->HostLookup().UseLookup(slow);
    Aim("a.txt", "a.txt");
    Type(IDC_HOST, "slow.lab");
    QElapsedTimer clicked;
    clicked.start();
    Click(IDC_GET);
    EXPECT_LT(clicked.elapsed(), 200) << "the click does not wait for the resolver";
    EXPECT_TRUE(view->LookingUp());
    EXPECT_TRUE(view->OnUpdateAbort());
    EXPECT_TRUE(Shows("Looking up slow.lab ..."));
    Click(IDC_SEND);  // a second start meanwhile is ignored
    Click(ID_TRANSFER_ABORT);
    EXPECT_FALSE(view->LookingUp());
    EXPECT_TRUE(Shows("Transfer Aborted"));
    EXPECT_TRUE(server.Silent(700)) << "an aborted lookup starts nothing";
    EXPECT_EQ(Profile(), "");

    Click(IDC_GET);
    Bytes p;
    platform::PeerAddress client;
    ASSERT_TRUE(server.Receive(p, client, 5000));
    EXPECT_EQ(tests::ParseSentRequest(p).opcode, tftp::kRrq) << "the Get, not the ignored Send";
    EXPECT_TRUE(server.Silent(100));
    {
        const auto hold = view->transfer->Hold();
        view->transfer->Abort(-1);
    }

    // The window closes while a name is being looked up.
    Click(IDC_SEND);
    EXPECT_TRUE(view->LookingUp());
    app.reset();
    tests::RunFor(600);
    EXPECT_TRUE(server.Silent(50));
    EXPECT_TRUE(prompts.MessageTexts().empty());
}

}  // namespace