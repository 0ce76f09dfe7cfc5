// Every control of the server's main window and of its options sheet has a
// name that a screen reader can say and a UI test can find it by.
#include "fake_host.h"
#include "server/app/about_sheet.h"
#include "server/app/decision_dialogs.h"
#include "server/app/dunmore_doc.h"
#include "server/app/server_info_dlg.h"
#include "server/app/main_frame.h"
#include "server/app/new_view.h"
#include "server/app/options/options.h"
#include "server/app/options_host.h"
#include "tests/support/accessible_names.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "platform/scripted_prompt_service.h"

#include <string>

namespace {

class MultihomedHost : public COptionsHost {
public:
    void OnPortChanged() override {}
    void ApplyProcessPriority() override {}
    int LocalAddressCount() const override { return 2; }  // every switch is shown
    platform::PromptService& Prompts() override { return prompts; }
    bool OnSettingsAccepted() override { return true; }
    platform::ScriptedPromptService prompts;
};

TEST(AccessibleNames, EveryControlOfTheMainWindowAndTheOptionsSheetIsNamed) {
    FakeHost host;
    FakeApp app;
    std::string label = "127.0.0.1.69";
    CDunmoreDoc doc(label);
    {
        CMainFrame frame(app, host, doc);
        doc.SetView(frame.View());
        doc.OnNewDocument();
        frame.View()->OnInitialUpdate();
        ServerSettings settings;
        MultihomedHost optionsHost;
        COptions sheet(settings, optionsHost);
        for (const QWidget* window : {static_cast<const QWidget*>(&frame), static_cast<const QWidget*>(&sheet)}) {
            const QStringList unnamed = tests::UnnamedControls(window);
            EXPECT_TRUE(unnamed.isEmpty()) << window->metaObject()->className() << ": "
                                           << unnamed.join(", ").toStdString();
            // A screen reader says the text, not the shortcut marker in it.
            const QStringList marked = tests::NamesWithMnemonics(window);
            EXPECT_TRUE(marked.isEmpty()) << window->metaObject()->className() << ": "
                                          << marked.join(", ").toStdString();
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(AccessibleNames, NoNameInTheServersDialogsCarriesAShortcutMarker) {
    CPortChangeDlg portChange([](bool) {}, nullptr);
    CStopServingDlg stopServing([](bool) {}, nullptr);
    CAbout about;
    CServerInfoDlg info(CServerInfoDlg::Info{});
    for (const QWidget* window : {static_cast<const QWidget*>(&portChange), static_cast<const QWidget*>(&stopServing),
                                  static_cast<const QWidget*>(&about), static_cast<const QWidget*>(&info)}) {
        const QStringList marked = tests::NamesWithMnemonics(window);
        EXPECT_TRUE(marked.isEmpty()) << window->metaObject()->className() << ": " << marked.join(", ").toStdString();
    }
}

}  // namespace
