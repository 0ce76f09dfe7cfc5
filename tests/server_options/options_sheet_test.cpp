// The real "Server Options" sheet, driven as a user drives it: clicking
// tabs, typing into edits, ticking boxes and pressing OK, Apply or Cancel.
#include "server/app/options/address_list_pages.h"
#include "server/app/options/clients_page.h"
#include "server/app/options/folder_browser.h"
#include "server/app/options/folder_pages.h"
#include "server/app/options/folder_system.h"
#include "server/app/options/name_rules_page.h"
#include "server/app/options/options.h"
#include "server/app/options/other_page.h"
#include "server/app/options/threads_page.h"

#include "options_test_support.h"
#include "tests/support/temp_dir.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using tests::Click;
using tests::Control;
using tests::FakeOptionsHost;

namespace {

enum PageIndex { kInbound, kOutbound, kAllow, kDeny, kOptions, kClients, kThreads, kNameRules };

void Retype(QLineEdit* edit, const QString& text) {
    ASSERT_NE(edit, nullptr);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

class OptionsSheet : public ::testing::Test {
protected:
    void Open(int addresses = 1) {
        host = std::make_unique<FakeOptionsHost>(settings, addresses);
        sheet = std::make_unique<COptions>(settings, *host);
        sheet->show();
    }
    QWidget* Visit(PageIndex index) {
        tests::ClickTab(sheet->Tabs(), index);
        return sheet->Page(index);
    }
    void Press(int id) { Click(sheet.get(), id); }
    bool ApplyEnabled() const {
        return Control<QPushButton>(sheet.get(), COptions::ID_APPLY_NOW)->isEnabled();
    }

    tests::TempDir home;
    tests::ScopedEnv homeEnv{"HOME", home.Path().c_str()};
    ServerSettings settings;
    std::unique_ptr<FakeOptionsHost> host;  // outlives the sheet
    std::unique_ptr<COptions> sheet;
};

}  // namespace

TEST_F(OptionsSheet, EightPagesInOrderWithTheirCaptionsAndButtons) {
    Open();
    EXPECT_EQ(sheet->windowTitle(), "Server Options");
    EXPECT_TRUE(sheet->isModal());
    const QStringList captions = {"Inbound", "Outbound",      "Allow",
                                  "Deny",    "Options",       "Client Limits",
                                  "MultiThreading && Logging",  // one "&" on screen
                                  "Name Rules"};
    const int dialogs[] = {103, 105, 106, 107, 108, 140, 141, 143};
    ASSERT_EQ(sheet->Tabs()->count(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(sheet->Tabs()->tabText(i), captions[i]);
        EXPECT_EQ(sheet->Page(i)->DialogId(), dialogs[i]);
    }
    EXPECT_EQ(sheet->Tabs()->currentIndex(), kInbound);
    EXPECT_EQ(Control<QPushButton>(sheet.get(), COptions::IDOK_BUTTON)->text(), "OK");
    EXPECT_EQ(Control<QPushButton>(sheet.get(), COptions::IDCANCEL_BUTTON)->text(), "Cancel");
    EXPECT_EQ(Control<QPushButton>(sheet.get(), COptions::ID_APPLY_NOW)->text(), "Apply");
}

TEST_F(OptionsSheet, OkWithoutVisitingAnotherPageWritesBackOnlyInbound) {
    settings.OutPath = "";
    settings.nMaxClients = 15;
    settings.nPriority = 4;
    settings.Port = "69";
    Open();
    auto* note = Control<QLabel>(sheet->Page(kInbound), CFolderPage::IDC_EMPTY_NOTE);
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->text().contains(QString::fromStdString(home.Path() + "/tftp/inbound/")))
        << note->text().toStdString();
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(settings.InPath, home.Path() + "/tftp/inbound/") << "the page's own folder, made now";
    EXPECT_TRUE(std::filesystem::is_directory(home.Path() + "/tftp/inbound"));
    EXPECT_FALSE(std::filesystem::exists(home.Path() + "/tftp/outbound")) << "its page was not shown";
    EXPECT_EQ(settings.OutPath, "");    // the Outbound page would have normalised it
    EXPECT_EQ(settings.nMaxClients, 15);  // Client Limits would have stored 1
    EXPECT_EQ(settings.nPriority, 4);     // the threads page would have stored 3
    EXPECT_TRUE(host->portsAtChange.empty());
    EXPECT_TRUE(host->raiseAtApply.empty());
}

TEST_F(OptionsSheet, FolderTextsAreStoredWithATrailingSlash) {
    settings.InPath = "/srv/tftp/incoming/";
    settings.OutPath = "/srv/tftp";
    Open();
    auto* in = Control<QLineEdit>(sheet->Page(kInbound), CInboundPage::IDC_PATH);
    EXPECT_EQ(in->text(), "/srv/tftp/incoming/");
    Retype(in, "/srv/tftp");
    QWidget* out = Visit(kOutbound);
    EXPECT_EQ(Control<QLineEdit>(out, COutboundPage::IDC_PATH)->text(), "/srv/tftp");
    Click(out, COutboundPage::IDC_FORCE);
    Retype(Control<QLineEdit>(out, COutboundPage::IDC_FORCE_FILE), "pxelinux.0");
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.InPath, "/srv/tftp/");
    EXPECT_EQ(settings.OutPath, "/srv/tftp/");
    EXPECT_EQ(settings.bForce, 1);
    EXPECT_EQ(settings.ForceFile, "pxelinux.0");
}

TEST_F(OptionsSheet, PortChangeIsReportedOnlyWhenTheTextDiffers) {
    settings.Port = "69";
    Open();
    QWidget* page = Visit(kOptions);
    auto* port = Control<QLineEdit>(page, COther::IDC_PORT);
    EXPECT_EQ(port->text(), "69");
    Retype(port, "69");
    sheet->Apply();
    EXPECT_TRUE(host->portsAtChange.empty());

    Retype(port, "069");
    sheet->Apply();
    // Called once, after the new text is in place.
    EXPECT_EQ(host->portsAtChange, std::vector<std::string>{"069"});
    EXPECT_EQ(settings.Port, "069");

    Press(COptions::IDOK_BUTTON);  // nothing changed since Apply
    EXPECT_EQ(host->portsAtChange.size(), 1u);
}

TEST_F(OptionsSheet, PortAndTimeoutTakeDigitsOnly) {
    Open();
    QWidget* page = Visit(kOptions);
    Retype(Control<QLineEdit>(page, COther::IDC_PORT), "10a69");
    Retype(Control<QLineEdit>(page, COther::IDC_TIMEOUT), "-45s");
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.Port, "1069");
    EXPECT_EQ(settings.Timeout, "45");
}

// A port outside 1 to 65535 used to be stored, end the server and lock every
// later start out. OK and Apply refuse it with a message and write nothing;
// the sheet stays open on the Options page until the port is mended.
TEST_F(OptionsSheet, APortOutside1To65535IsRefusedAndNothingIsWritten) {
    for (const char* bad : {"70000", "65536", "0", "", "99999999999"}) {
        SCOPED_TRACE(bad);
        sheet.reset();
        settings = ServerSettings{};
        Open();
        QWidget* page = Visit(kOptions);
        auto* port = Control<QLineEdit>(page, COther::IDC_PORT);
        Retype(port, bad);
        Retype(Control<QLineEdit>(page, COther::IDC_TIMEOUT), "45");
        Visit(kInbound);
        for (const int button : {COptions::ID_APPLY_NOW, COptions::IDOK_BUTTON}) {
            Press(button);
            EXPECT_TRUE(sheet->isVisible());
            EXPECT_EQ(sheet->Tabs()->currentIndex(), kOptions);
        }
        EXPECT_EQ(host->prompts.MessageTexts(), std::vector<std::string>(2, COptions::kBadPort));
        EXPECT_EQ(settings.Port, "69");
        EXPECT_EQ(settings.Timeout, "30");
        EXPECT_TRUE(host->portsAtChange.empty());
        EXPECT_TRUE(host->portsAtAccept.empty()) << "nothing reached the store";

        Retype(port, "65535");
        Press(COptions::IDOK_BUTTON);
        EXPECT_FALSE(sheet->isVisible());
        EXPECT_EQ(settings.Port, "65535");
        EXPECT_EQ(host->portsAtAccept, std::vector<std::string>{"65535"});
    }
}

// The transfer ports and the largest block size: what OK stores, and what it
// refuses with a message (nothing written, the sheet open on the Options page).
TEST_F(OptionsSheet, TransferPortsAndTheLargestBlockSizeAreStoredOrRefusedWithAClearMessage) {
    struct Case {
        const char* port;
        const char* low;
        const char* high;
        const char* cap;
        const char* refusal;  // nullptr: stored
        int storedLow, storedHigh, storedCap;
    };
    const Case cases[] = {
        {"69", "", "", "", nullptr, 0, 0, 0},
        {"69", "50000", "50099", "1024", nullptr, 50000, 50099, 1024},
        {"6969", "6970", "6970", "8", nullptr, 6970, 6970, 8},
        {"6969", "1", "6968", "65464", nullptr, 1, 6968, 65464},
        {"69", "50000", "", "", COptions::kPortRangeOneEnd, 0, 0, 0},
        {"69", "", "50099", "", COptions::kPortRangeOneEnd, 0, 0, 0},
        {"69", "50000", "65536", "", COptions::kPortRangeNotAPort, 0, 0, 0},
        {"69", "0", "100", "", COptions::kPortRangeNotAPort, 0, 0, 0},
        {"69", "50099", "50000", "", COptions::kPortRangeReversed, 0, 0, 0},
        {"6969", "6900", "7000", "", COptions::kPortRangeHoldsPort, 0, 0, 0},
        {"6969", "6969", "6969", "", COptions::kPortRangeHoldsPort, 0, 0, 0},
        {"69", "", "", "7", COptions::kBadMaxBlksize, 0, 0, 0},
        {"69", "", "", "0", COptions::kBadMaxBlksize, 0, 0, 0},
        {"69", "", "", "65465", COptions::kBadMaxBlksize, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "port " << c.port << ", " << c.low << " to " << c.high << ", cap "
                                          << c.cap);
        sheet.reset();
        settings = ServerSettings{};
        Open();
        QWidget* page = Visit(kOptions);
        Retype(Control<QLineEdit>(page, COther::IDC_PORT), c.port);
        Retype(Control<QLineEdit>(page, COther::IDC_PORT_RANGE_LOW), c.low);
        Retype(Control<QLineEdit>(page, COther::IDC_PORT_RANGE_HIGH), c.high);
        Retype(Control<QLineEdit>(page, COther::IDC_MAX_BLKSIZE), c.cap);
        Visit(kInbound);
        Press(COptions::IDOK_BUTTON);
        if (c.refusal) {
            EXPECT_TRUE(sheet->isVisible());
            EXPECT_EQ(sheet->Tabs()->currentIndex(), kOptions);
            EXPECT_EQ(host->prompts.MessageTexts(), std::vector<std::string>{c.refusal});
            EXPECT_TRUE(host->portsAtAccept.empty()) << "nothing reached the store";
            EXPECT_EQ(settings.Port, "69");
        } else {
            EXPECT_FALSE(sheet->isVisible());
            EXPECT_TRUE(host->prompts.MessageTexts().empty());
            EXPECT_EQ(settings.Port, c.port);
        }
        EXPECT_EQ(settings.nPortRangeLow, c.storedLow);
        EXPECT_EQ(settings.nPortRangeHigh, c.storedHigh);
        EXPECT_EQ(settings.nMaxBlksize, c.storedCap);
    }
    // Stored values come back into the edits; emptied, they are unset again.
    sheet.reset();
    settings = ServerSettings{};
    settings.nPortRangeLow = 50000;
    settings.nPortRangeHigh = 50099;
    settings.nMaxBlksize = 1428;
    Open();
    QWidget* page = Visit(kOptions);
    EXPECT_EQ(Control<QLineEdit>(page, COther::IDC_PORT_RANGE_LOW)->text(), "50000");
    EXPECT_EQ(Control<QLineEdit>(page, COther::IDC_PORT_RANGE_HIGH)->text(), "50099");
    EXPECT_EQ(Control<QLineEdit>(page, COther::IDC_MAX_BLKSIZE)->text(), "1428");
    for (const int id : {COther::IDC_PORT_RANGE_LOW, COther::IDC_PORT_RANGE_HIGH, COther::IDC_MAX_BLKSIZE})
        Retype(Control<QLineEdit>(page, id), "");
    Press(COptions::IDOK_BUTTON);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(settings.nPortRangeLow, 0);
    EXPECT_EQ(settings.nPortRangeHigh, 0);
    EXPECT_EQ(settings.nMaxBlksize, 0);
}

// Left without a listening port after OK, the server keeps the sheet open
// where another port or address can be chosen.
TEST_F(OptionsSheet, OkStaysOpenWhileTheServerHasNoListeningPort) {
    Open();
    host->listening = false;
    Retype(Control<QLineEdit>(Visit(kOptions), COther::IDC_PORT), "1071");
    Press(COptions::IDOK_BUTTON);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->Tabs()->currentIndex(), kOptions);
    EXPECT_EQ(host->portsAtAccept, std::vector<std::string>{"1071"});
    host->listening = true;
    Press(COptions::IDOK_BUTTON);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(host->portsAtChange, std::vector<std::string>{"1071"}) << "changed once";
    EXPECT_EQ(host->portsAtAccept.size(), 2u) << "every OK tries again";
}

TEST_F(OptionsSheet, OptionsPageStoresItsSwitches) {
    settings.bAlertMinimised = 1;
    settings.bAllowTsize = 1;
    settings.bAllowTimeout = 1;
    Open();
    QWidget* page = Visit(kOptions);
    const struct {
        int id;
        const char* text;
    } boxes[] = {{COther::IDC_NO_MULTIHOMED_BOX, "Do not show multihomed request box"},
                 {COther::IDC_ALERT_MINIMISED, "Show alert box when minimised"},
                 {COther::IDC_ALLOW_TSIZE, "Allow tSize option request"},
                 {COther::IDC_ALLOW_TIMEOUT, "Allow timeout option request"},
                 {COther::IDC_ALLOW_WINDOWSIZE, "Allow windowsize option request"},
                 {COther::IDC_NO_SPLASH, "Disable splash at startup"},
                 {COther::IDC_MINIMISE_AT_START, "Minimize at startup"}};
    for (const auto& b : boxes) {
        auto* box = Control<QCheckBox>(page, b.id);
        ASSERT_NE(box, nullptr) << b.id;
        EXPECT_EQ(box->text(), b.text);
    }
    Click(page, COther::IDC_ALERT_MINIMISED);
    Click(page, COther::IDC_ALLOW_TIMEOUT);
    Click(page, COther::IDC_NO_SPLASH);
    Retype(Control<QLineEdit>(page, COther::IDC_TIMEOUT), "7200");
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.bAlertMinimised, 0);
    EXPECT_EQ(settings.bAllowTsize, 1);
    EXPECT_EQ(settings.bAllowTimeout, 0);
    EXPECT_EQ(settings.bNoSplash, 1);
    EXPECT_EQ(settings.bMinimiseAtStart, 0);
    EXPECT_EQ(settings.Timeout, "7200");
}

TEST_F(OptionsSheet, WindowsizeSwitchAndLargestWindowAreStoredOnOkAndKeptOnCancel) {
    const struct {
        const char* typed;
        int stored;  // after OK; Cancel keeps the 64 the sheet opened with
    } cases[] = {{"16", 16}, {"65535", 65535}, {"0", 1}, {"", 1}, {"70000", 7000}};
    for (const auto& c : cases) {
        for (const int button : {COptions::IDOK_BUTTON, COptions::IDCANCEL_BUTTON}) {
            settings.bAllowWindowsize = 1;
            settings.nMaxWindowsize = 64;
            Open();
            QWidget* page = Visit(kOptions);
            auto* spin = Control<QSpinBox>(page, COther::IDC_MAX_WINDOWSIZE);
            ASSERT_NE(spin, nullptr);
            EXPECT_EQ(spin->value(), 64);
            EXPECT_EQ(spin->accessibleName(), "Maximum window size (blocks)");
            EXPECT_TRUE(Control<QCheckBox>(page, COther::IDC_ALLOW_WINDOWSIZE)->isChecked());
            Click(page, COther::IDC_ALLOW_WINDOWSIZE);
            spin->setFocus();
            spin->selectAll();
            QTest::keyClick(spin, Qt::Key_Delete);
            QTest::keyClicks(spin, c.typed);
            EXPECT_TRUE(ApplyEnabled()) << c.typed;
            Press(button);
            const bool ok = button == COptions::IDOK_BUTTON;
            EXPECT_EQ(settings.bAllowWindowsize, ok ? 0 : 1) << c.typed;
            EXPECT_EQ(settings.nMaxWindowsize, ok ? c.stored : 64) << c.typed;
        }
    }
}

TEST_F(OptionsSheet, MinimizeAtStartupAlsoStoresNoSplash) {
    Open();
    QWidget* page = Visit(kOptions);
    Click(page, COther::IDC_MINIMISE_AT_START);
    sheet->Apply();
    EXPECT_EQ(settings.bMinimiseAtStart, 1);
    EXPECT_EQ(settings.bNoSplash, 1);
    // The box itself is left as the user set it until the sheet is reopened.
    EXPECT_FALSE(Control<QCheckBox>(page, COther::IDC_NO_SPLASH)->isChecked());

    Click(page, COther::IDC_MINIMISE_AT_START);  // off again: the splash box decides
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.bMinimiseAtStart, 0);
    EXPECT_EQ(settings.bNoSplash, 0);
}

TEST_F(OptionsSheet, SingleAddressHostLeavesTheMultihomedSwitchAlone) {
    for (int stored : {0, 1}) {
        settings.bShowMultihomed = stored;
        Open(1);
        QWidget* page = Visit(kOptions);
        auto* box = Control<QCheckBox>(page, COther::IDC_NO_MULTIHOMED_BOX);
        EXPECT_FALSE(box->isEnabled());
        EXPECT_FALSE(box->isChecked());
        Press(COptions::IDOK_BUTTON);
        EXPECT_EQ(settings.bShowMultihomed, stored);
    }
}

TEST_F(OptionsSheet, MultihomedHostShowsTheSwitchInverted) {
    settings.bShowMultihomed = 0;
    Open(2);
    QWidget* page = Visit(kOptions);
    auto* box = Control<QCheckBox>(page, COther::IDC_NO_MULTIHOMED_BOX);
    EXPECT_TRUE(box->isEnabled());
    EXPECT_TRUE(box->isChecked());
    Click(page, COther::IDC_NO_MULTIHOMED_BOX);
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.bShowMultihomed, 1);

    Open(3);
    page = Visit(kOptions);
    Click(page, COther::IDC_NO_MULTIHOMED_BOX);
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.bShowMultihomed, 0);
}

TEST_F(OptionsSheet, TrackBarsOutOfRangeAreShownAndStoredAtTheirFallbacks) {
    settings.nMaxClients = 15;
    settings.nMaxDisplay = -2;
    Open();
    QWidget* page = Visit(kClients);
    auto* clients = Control<QSlider>(page, CClientsPage::IDC_MAX_CLIENTS);
    auto* display = Control<QSlider>(page, CClientsPage::IDC_MAX_DISPLAY);
    EXPECT_EQ(clients->value(), 1);
    EXPECT_EQ(display->value(), 6);
    EXPECT_FALSE(ApplyEnabled());  // a fallback is not an edit
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.nMaxClients, 1);
    EXPECT_EQ(settings.nMaxDisplay, 6);
}

TEST_F(OptionsSheet, TrackBarsHaveTheirRangesScalesAndTicks) {
    settings.nMaxClients = 5;
    settings.nMaxDisplay = 0;
    Open();
    QWidget* page = Visit(kClients);
    auto* clients = Control<QSlider>(page, CClientsPage::IDC_MAX_CLIENTS);
    auto* display = Control<QSlider>(page, CClientsPage::IDC_MAX_DISPLAY);
    EXPECT_EQ(clients->value(), 5);
    EXPECT_EQ(display->value(), 0);
    EXPECT_EQ(clients->maximum(), 5);
    EXPECT_EQ(display->maximum(), 6);
    EXPECT_EQ(clients->minimum(), 0);
    EXPECT_NE(clients->tickPosition(), QSlider::NoTicks);
    EXPECT_NE(display->tickPosition(), QSlider::NoTicks);
    QStringList groups, labels;
    for (auto* g : page->findChildren<QGroupBox*>()) groups << g->title();
    for (auto* l : page->findChildren<QLabel*>()) labels << l->text();
    EXPECT_EQ(groups, QStringList({"Maximum simultaneous Clients", "Maximum Clients in display"}));
    EXPECT_TRUE(labels.contains(
        "1            5            10           15            30             ~"));
    EXPECT_TRUE(labels.contains(
        "5         10        20         30         40        50        100"));
}

TEST_F(OptionsSheet, MovingATrackBarEnablesApplyAndIsStored) {
    settings.nMaxDisplay = 6;
    Open();
    QWidget* page = Visit(kClients);
    auto* display = Control<QSlider>(page, CClientsPage::IDC_MAX_DISPLAY);
    EXPECT_FALSE(ApplyEnabled());
    QTest::keyClick(display, Qt::Key_Left);
    EXPECT_EQ(display->value(), 5);
    EXPECT_TRUE(ApplyEnabled());
    Press(COptions::ID_APPLY_NOW);
    EXPECT_EQ(settings.nMaxDisplay, 5);
    EXPECT_FALSE(ApplyEnabled());
    QTest::keyClick(Control<QSlider>(page, CClientsPage::IDC_MAX_CLIENTS), Qt::Key_End);
    EXPECT_TRUE(ApplyEnabled());
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.nMaxClients, 5);
}

TEST_F(OptionsSheet, NeverChosenPriorityShowsAutomaticAndIsStoredAsThree) {
    settings.nPriority = 4;
    settings.LogFile = "Orvane.log";
    Open();
    QWidget* page = Visit(kThreads);
    EXPECT_TRUE(Control<QRadioButton>(page, CThreadsPage::IDC_AUTOMATIC)->isChecked());
    EXPECT_EQ(Control<QRadioButton>(page, CThreadsPage::IDC_AUTOMATIC)->text(),
              "Automatic Priority Changes");
    EXPECT_EQ(Control<QLineEdit>(page, CThreadsPage::IDC_LOG_FILE)->text(), "Orvane.log");
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.nPriority, 3);
    EXPECT_EQ(host->raiseAtApply.size(), 1u);  // accepting the page applies the priority
}

TEST_F(OptionsSheet, ThreadsPageStoresBeforeApplyingTheProcessPriority) {
    settings.nPriority = 1;
    Open();
    QWidget* page = Visit(kThreads);
    EXPECT_TRUE(Control<QRadioButton>(page, CThreadsPage::IDC_NORMAL)->isChecked());
    Click(page, CThreadsPage::IDC_HIGH);
    Click(page, CThreadsPage::IDC_RAISE_PRIORITY);
    Retype(Control<QLineEdit>(page, CThreadsPage::IDC_LOG_FILE), "");
    sheet->Apply();
    EXPECT_EQ(settings.nPriority, 2);
    EXPECT_EQ(settings.LogFile, "");
    EXPECT_EQ(host->raiseAtApply, std::vector<int>{1});
    Click(page, CThreadsPage::IDC_LOW);
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.nPriority, 0);
    EXPECT_EQ(host->raiseAtApply, (std::vector<int>{1, 1}));
}

TEST_F(OptionsSheet, AllowEditInTheBottomRightCornerIsSlotTen) {
    settings.Allow[0] = "10.0.0.*";
    settings.Allow[9] = "192.168.*.*";
    Open();
    QWidget* page = Visit(kAllow);
    EXPECT_EQ(Control<QCheckBox>(page, CAllow::IDC_SWITCH)->text(), "Only allow these connections");
    auto* slot1 = Control<QLineEdit>(page, 1006);
    auto* slot9 = Control<QLineEdit>(page, 1014);
    auto* slot10 = Control<QLineEdit>(page, 1015);
    EXPECT_EQ(slot1->text(), "10.0.0.*");
    EXPECT_EQ(slot10->text(), "192.168.*.*");
    // Slot 10 sits to the right of slot 9, below slot 1.
    EXPECT_GT(slot10->mapTo(page, QPoint()).x(), slot9->mapTo(page, QPoint()).x());
    EXPECT_EQ(slot10->mapTo(page, QPoint()).y(), slot9->mapTo(page, QPoint()).y());
    EXPECT_GT(slot10->mapTo(page, QPoint()).y(), slot1->mapTo(page, QPoint()).y());
    Retype(slot10, "");
    Click(page, CAllow::IDC_SWITCH);
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.Allow[9], "");
    EXPECT_EQ(settings.Allow[0], "10.0.0.*");
    EXPECT_EQ(settings.bAllow, 1);
}

TEST_F(OptionsSheet, DenyPageEditsTheDenyList) {
    Open();
    QWidget* page = Visit(kDeny);
    EXPECT_EQ(Control<QCheckBox>(page, CDeny::IDC_SWITCH)->text(),
              "Do not allow these connections");
    Click(page, CDeny::IDC_SWITCH);
    QTest::keyClicks(Control<QLineEdit>(page, CDeny::SlotId(3)), "172.16.*.*");
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.bDeny, 1);
    EXPECT_EQ(settings.Deny[2], "172.16.*.*");
    EXPECT_EQ(settings.Deny[0], "");
}

TEST_F(OptionsSheet, CancelAfterApplyKeepsWhatApplyWrote) {
    settings.LogFile = "old.log";
    Open();
    QWidget* page = Visit(kThreads);
    auto* log = Control<QLineEdit>(page, CThreadsPage::IDC_LOG_FILE);
    Retype(log, "applied.log");
    Press(COptions::ID_APPLY_NOW);
    EXPECT_EQ(settings.LogFile, "applied.log");
    Retype(log, "cancelled.log");
    Press(COptions::IDCANCEL_BUTTON);
    EXPECT_EQ(sheet->result(), QDialog::Rejected);
    EXPECT_EQ(settings.LogFile, "applied.log");
    EXPECT_EQ(host->raiseAtApply.size(), 1u);
}

TEST_F(OptionsSheet, ApplyStaysDisabledUntilAnEditOrClick) {
    settings.InPath = "/srv/tftp/";
    Open();
    for (int i = kInbound; i <= kThreads; ++i) Visit(static_cast<PageIndex>(i));
    EXPECT_FALSE(ApplyEnabled());  // visiting is not changing

    QWidget* in = Visit(kInbound);
    QTest::keyClicks(Control<QLineEdit>(in, CInboundPage::IDC_PATH), "boot");
    EXPECT_TRUE(ApplyEnabled());
    Press(COptions::ID_APPLY_NOW);
    EXPECT_FALSE(ApplyEnabled());
    EXPECT_EQ(settings.InPath, "/srv/tftp/boot/");

    Click(Visit(kOptions), COther::IDC_ALLOW_TSIZE);
    EXPECT_TRUE(ApplyEnabled());
    Press(COptions::ID_APPLY_NOW);
    Click(Visit(kThreads), CThreadsPage::IDC_LOW);
    EXPECT_TRUE(ApplyEnabled());
}

TEST_F(OptionsSheet, TextsLongerThanAStoredValueAreRefused) {
    Open();
    QWidget* page = Visit(kOutbound);
    auto* force = Control<QLineEdit>(page, COutboundPage::IDC_FORCE_FILE);
    QTest::keyClicks(force, QString(130, 'x'));
    auto* path = Control<QLineEdit>(page, COutboundPage::IDC_PATH);
    QTest::keyClicks(path, "/" + QString(120, 'p'));
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.ForceFile, std::string(ServerSettings::kMaxText, 'x'));
    EXPECT_EQ(settings.OutPath.size(), ServerSettings::kMaxText);  // its "/" included
    EXPECT_EQ(settings.OutPath.back(), '/');
}

TEST_F(OptionsSheet, BrowseWalksIntoAFolderAndMarksThePageModified) {
    tests::TempDir dir;
    std::filesystem::create_directories(dir.Path() + "/tftp/boot");
    settings.InPath = dir.Path() + "/tftp/";
    Open();
    QWidget* page = sheet->Page(kInbound);
    tests::WhenModal<CFolderBrowser>([](CFolderBrowser* browser) {
        auto* list = Control<QListWidget>(browser, CFolderBrowser::IDC_FOLDERS);
        tests::DoubleClickEntry(list, "boot");
        Click(browser, CFolderBrowser::IDOK_BUTTON);
    });
    Click(page, CFolderPage::IDC_BROWSE);
    EXPECT_EQ(Control<QLineEdit>(page, CInboundPage::IDC_PATH)->text().toStdString(),
              dir.Path() + "/tftp/boot/");
    EXPECT_TRUE(ApplyEnabled());
    Press(COptions::IDOK_BUTTON);
    EXPECT_EQ(settings.InPath, dir.Path() + "/tftp/boot/");
}

TEST_F(OptionsSheet, CancelledBrowseLeavesTheFolderTextUntouched) {
    tests::TempDir dir;
    std::filesystem::create_directories(dir.Path() + "/tftp/boot");
    settings.OutPath = dir.Path() + "/tftp";  // no trailing "/" yet
    Open();
    QWidget* page = Visit(kOutbound);
    tests::WhenModal<CFolderBrowser>([](CFolderBrowser* browser) {
        auto* list = Control<QListWidget>(browser, CFolderBrowser::IDC_FOLDERS);
        tests::DoubleClickEntry(list, "tftp");
        Click(browser, CFolderBrowser::IDCANCEL_BUTTON);
    });
    Click(page, CFolderPage::IDC_BROWSE);
    EXPECT_EQ(Control<QLineEdit>(page, COutboundPage::IDC_PATH)->text().toStdString(),
              dir.Path() + "/tftp");
    EXPECT_FALSE(ApplyEnabled());
}

// The rules table as a user edits it: a rule added and typed in, the test
// field showing what a name becomes as it is typed (and a name the folder
// refuses), a bad pattern refused with PCRE2's reason on OK, reordering,
// the stop flag and removal, and what OK finally stores.
TEST_F(OptionsSheet, NameRulesTableAndTheTestField) {
    settings.NameRules = {{"^/tftpboot/", "", false}, {"^unused$", "x", false}};
    Open();
    QWidget* page = Visit(kNameRules);
    auto* table = Control<QTableWidget>(page, CNameRulesPage::IDC_RULES);
    auto* test = Control<QLineEdit>(page, CNameRulesPage::IDC_TEST_NAME);
    auto* result = Control<QLabel>(page, CNameRulesPage::IDC_TEST_RESULT);
    auto* error = Control<QLabel>(page, CNameRulesPage::IDC_RULE_ERROR);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(test, nullptr);
    ASSERT_NE(result, nullptr);
    ASSERT_NE(error, nullptr);
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(0, CNameRulesPage::kPattern)->text(), "^/tftpboot/");
    EXPECT_FALSE(ApplyEnabled());

    QTest::keyClicks(test, "/tftpboot/PXELINUX.0");
    EXPECT_EQ(result->text(), "Rewritten to \"PXELINUX.0\": serves PXELINUX.0");
    EXPECT_FALSE(ApplyEnabled()) << "testing a name changes no setting";

    // A new rule after the selected one, typed into its cells.
    table->setCurrentCell(0, CNameRulesPage::kPattern);
    Click(page, CNameRulesPage::IDC_ADD);
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->currentRow(), 1);
    auto* editor = table->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr) << "the new rule's pattern is open for typing";
    QTest::keyClicks(editor, "(?i)^pxelinux\\.0(");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();  // the view commits the edit from its queue
    EXPECT_EQ(table->item(1, CNameRulesPage::kPattern)->text(), "(?i)^pxelinux\\.0(");
    table->item(1, CNameRulesPage::kReplacement)->setText("boot/pxelinux.0");
    EXPECT_TRUE(ApplyEnabled());
    EXPECT_EQ(error->text(), "Rule 2: missing closing parenthesis at offset 17");

    // OK refuses the bad pattern with its reason; nothing is written.
    Visit(kInbound);
    Press(COptions::IDOK_BUTTON);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->Tabs()->currentIndex(), kNameRules);
    EXPECT_EQ(host->prompts.MessageTexts(),
              std::vector<std::string>{"Rule 2: missing closing parenthesis at offset 17"});
    EXPECT_EQ(settings.NameRules.size(), 2u);
    EXPECT_TRUE(host->portsAtAccept.empty());

    table->item(1, CNameRulesPage::kPattern)->setText("(?i)^pxelinux\\.0$");
    EXPECT_EQ(error->text(), "");
    EXPECT_EQ(result->text(), "Rewritten to \"boot/pxelinux.0\": serves boot/pxelinux.0");
    Retype(test, "../etc/passwd");
    EXPECT_EQ(result->text(), "Refused: \"../etc/passwd\" does not name a file inside the folder.");
    Retype(test, "menu.cfg");
    EXPECT_EQ(result->text(), "Not rewritten: serves menu.cfg");

    // Moved to the top and told to stop: the prefix rule no longer runs after it.
    table->setCurrentCell(1, CNameRulesPage::kPattern);
    Click(page, CNameRulesPage::IDC_UP);
    EXPECT_EQ(table->currentRow(), 0);
    EXPECT_FALSE(Control<QPushButton>(page, CNameRulesPage::IDC_UP)->isEnabled());
    table->item(0, CNameRulesPage::kReplacement)->setText("/tftpboot/boot/pxelinux.0");
    Retype(test, "PXELINUX.0");
    EXPECT_EQ(result->text(), "Rewritten to \"boot/pxelinux.0\": serves boot/pxelinux.0");
    table->item(0, CNameRulesPage::kStop)->setCheckState(Qt::Checked);
    EXPECT_EQ(result->text(), "Rewritten to \"/tftpboot/boot/pxelinux.0\": serves tftpboot/boot/pxelinux.0");

    // The last rule removed; Down moves the selected one below the next.
    table->setCurrentCell(2, CNameRulesPage::kPattern);
    Click(page, CNameRulesPage::IDC_REMOVE);
    ASSERT_EQ(table->rowCount(), 2);
    table->setCurrentCell(0, CNameRulesPage::kPattern);
    Click(page, CNameRulesPage::IDC_DOWN);
    EXPECT_EQ(table->currentRow(), 1);
    EXPECT_FALSE(Control<QPushButton>(page, CNameRulesPage::IDC_DOWN)->isEnabled());

    Press(COptions::IDOK_BUTTON);
    EXPECT_FALSE(sheet->isVisible());
    const std::vector<tftp::NameRule> stored = {{"^/tftpboot/", "", false},
                                                {"(?i)^pxelinux\\.0$", "/tftpboot/boot/pxelinux.0", true}};
    EXPECT_EQ(settings.NameRules, stored);
}
