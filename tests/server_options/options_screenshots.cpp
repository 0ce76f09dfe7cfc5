// Takes a picture of every page of "Server Options" and of the folder
// browser, for the documentation: vantrel_options_screenshots <folder>.
// Run under a real display server (scripts/screenshots-options.sh uses Xvfb).
#include "server/app/options/folder_browser.h"
#include "server/app/options/name_rules_page.h"
#include "server/app/options/options.h"
#include "platform/control_ids.h"
#include "platform/scripted_prompt_service.h"
#include "server/app/options_host.h"
#include "server/app/server_settings.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

#include <cstdio>
#include <iterator>

namespace {

class ShowHost : public COptionsHost {
public:
    void OnPortChanged() override {}
    void ApplyProcessPriority() override {}
    int LocalAddressCount() const override { return 2; }
    platform::PromptService& Prompts() override { return prompts; }
    bool OnSettingsAccepted() override { return true; }

    platform::ScriptedPromptService prompts;
};

bool Save(QWidget* window, const QString& file) {
    QTest::qWait(200);  // let the window be laid out and painted
    const bool ok = window->grab().save(file);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(file));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = true;

    // A fixed place, so that the pictures do not change from run to run.
    QDir tree("/tmp/vantrel-screenshots");
    const QString tftp = tree.path() + "/tftp/";
    for (const char* d : {"boot", "boot/pxelinux.cfg", "images", "incoming", ".snapshots"})
        QDir().mkpath(tftp + d);

    ServerSettings settings;
    settings.InPath = (tftp + "incoming/").toStdString();
    settings.OutPath = tftp.toStdString();
    settings.ForceFile = "pxelinux.0";
    settings.bAllow = 1;
    settings.Allow[0] = "192.168.1.*";
    settings.Allow[1] = "10.0.0.*";
    settings.Deny[0] = "192.168.1.13";
    settings.nMaxClients = 2;
    settings.nMaxDisplay = 6;
    settings.nPriority = 1;
    settings.NameRules = {{"^/?tftpboot/", "", false},
                          {"(?i)^pxelinux\\.0$", "boot/pxelinux.0", true},
                          {"^01-([0-9a-f-]+)$", "boot/pxelinux.cfg/01-\\1", true}};
    ShowHost host;

    COptions sheet(settings, host);
    sheet.show();
    const char* names[] = {"inbound", "outbound", "allow", "deny", "options", "client-limits",
                           "multithreading-logging", "name-rules"};
    static_assert(std::size(names) == 8);
    for (int i = 0; i < sheet.PageCount() && i < static_cast<int>(std::size(names)); ++i) {
        sheet.Tabs()->setCurrentIndex(i);
        if (i == 7) {
            // The test field with a name as firmware asks for it.
            if (auto* test = platform::FindControl<QLineEdit>(&sheet, CNameRulesPage::IDC_TEST_NAME))
                test->setText("/tftpboot/PXELINUX.0");
        }
        ok &= Save(&sheet, out.filePath(QString("options-%1-%2.png").arg(i + 1).arg(names[i])));
    }
    sheet.reject();

    CFolderBrowser browser((tftp + "boot/").toStdString());
    browser.show();
    ok &= Save(&browser, out.filePath("folder-browser.png"));
    browser.reject();
    tree.removeRecursively();
    return ok ? 0 : 1;
}
