// Vantrel, the TFTP server with a window.
#include "common/local_address.h"
#include "common/widgets/dialog_prompt_service.h"
#include "platform/clock.h"
#include "platform/descriptor_limit.h"
#include "platform/desktop_identity.h"
#include "platform/headless_platform.h"
#include "platform/registry_store.h"
#include "server/app/command_ids.h"
#include "server/app/run_options.h"
#include "server/app/server_app.h"
#include "server/app/settings_store.h"
#include "server/engine/server_events.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    const QString about = QStringLiteral("Vantrel, a TFTP server with a window.");
    // Where there is no display (over SSH, under a service manager) the
    // server runs on the offscreen platform rather than abort.
    const bool fallbackPrepared = platform::PrepareOffscreenFallback(argc, argv);
    // Every transfer holds descriptors; many clients need more than 1024.
    platform::RaiseDescriptorLimit();
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(vantrel::kAppTitle));
    QApplication::setOrganizationName(QStringLiteral("Brellin"));
    QApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    RunOverrides overrides;
    if (const int status = ReadRunOptions(QCoreApplication::arguments(), about, overrides); status >= 0)
        return status;
    if (platform::FellBackToOffscreen(fallbackPrepared)) {
        std::fprintf(stderr, "%s: no display: running headless on the offscreen platform\n", vantrel::kAppTitle);
        std::fflush(stderr);
    }
    platform::QuietOffscreenNotices();
    platform::SetDesktopIdentity(TFTP_DESKTOP_ID, TFTP_ICON_NAME);
    // The run ends when the main window closes, whatever else is open.
    QApplication::setQuitOnLastWindowClosed(false);

    platform::RegistryStore store(ServerStorePath());
    platform::SystemClock clock;
    tftp::DialogPromptService prompts(QString::fromLatin1(vantrel::kAppTitle));
    tftp::SystemAddressProvider addresses;
    StderrEventSink events(vantrel::kAppTitle);

    CServerApp app(store, clock, prompts, addresses, QApplication::applicationFilePath().toStdString());
    app.SetRunOverrides(overrides);
    app.Context().events = &events;
    if (!app.InitInstance()) return 1;
    if (app.Ended()) return 0;
    return QApplication::exec();
}
