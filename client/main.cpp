// Skerry, the TFTP client with a window.
#include "client/client_app.h"
#include "client/client_ids.h"
#include "common/local_address.h"
#include "common/widgets/dialog_prompt_service.h"
#include "platform/clock.h"
#include "platform/command_line.h"
#include "platform/desktop_identity.h"
#include "platform/profile_file.h"

#include <QApplication>

int main(int argc, char** argv) {
    const QString about = QStringLiteral("Skerry, a TFTP client with a window.");
    if (const int status = platform::EarlyCommandLine(argc, argv, QStringLiteral("Skerry"),
                                                      QStringLiteral(TFTP_VERSION), about);
        status >= 0)
        return status;
    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Skerry");
    QApplication::setApplicationVersion(QStringLiteral(TFTP_VERSION));
    if (const int status = platform::HandleCommandLine(about); status >= 0) return status;
    platform::SetDesktopIdentity(TFTP_DESKTOP_ID, TFTP_ICON_NAME);
    tftp::DialogPromptService prompts(skerry::kProgramTitle);
    platform::SystemClock clock;
    tftp::SystemAddressProvider addresses;
    CClientApp app(prompts, clock, addresses,
                   platform::ProfileFile::DefaultPath(skerry::kProfileFileName));
    if (!app.InitInstance()) return 1;
    return QApplication::exec();
}
