// Vantrel, the TFTP server with a window.
#include "common/local_address.h"
#include "common/widgets/dialog_prompt_service.h"
#include "platform/clock.h"
#include "platform/descriptor_limit.h"
#include "platform/command_line.h"
#include "platform/desktop_identity.h"
#include "platform/registry_store.h"
#include "server/app/command_ids.h"
#include "server/app/server_app.h"
#include "server/app/settings_store.h"

#include <QApplication>

int main(int argc, char** argv) {
    const QString about = QStringLiteral("Vantrel, a TFTP server with a window.");
    if (const int status = platform::EarlyCommandLine(argc, argv, QString::fromLatin1(vantrel::kAppTitle),
                                                      QStringLiteral(VANTREL_VERSION), about);
        status >= 0)
        return status;
    // Every transfer holds descriptors; many clients need more than 1024.
    platform::RaiseDescriptorLimit();
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(vantrel::kAppTitle));
    QApplication::setOrganizationName(QStringLiteral("Brellin"));
    QApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    if (const int status = platform::HandleCommandLine(about); status >= 0) return status;
    platform::SetDesktopIdentity(TFTP_DESKTOP_ID, TFTP_ICON_NAME);
    // The run ends when the main window closes, whatever else is open.
    QApplication::setQuitOnLastWindowClosed(false);

    platform::RegistryStore store(ServerStorePath());
    platform::SystemClock clock;
    tftp::DialogPromptService prompts(QString::fromLatin1(vantrel::kAppTitle));
    tftp::SystemAddressProvider addresses;

    // Beyond --help and --version the program takes no options; its own path
    // is all it records.
    CServerApp app(store, clock, prompts, addresses, QApplication::applicationFilePath().toStdString());
    if (!app.InitInstance()) return 1;
    if (app.Ended()) return 0;
    return QApplication::exec();
}
