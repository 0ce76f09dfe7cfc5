// Skerry, the TFTP client with a window.
#include "client/client_app.h"
#include "client/client_ids.h"
#include "client/client_profile.h"
#include "client/command_transfer.h"
#include "common/local_address.h"
#include "common/widgets/dialog_prompt_service.h"
#include "platform/clock.h"
#include "platform/command_line.h"
#include "platform/desktop_identity.h"
#include "platform/profile_file.h"

#include <QApplication>
#include <QCoreApplication>

namespace {

// skerry --get / --put: no window, so no display either.
int CommandLineTransfer(int argc, char** argv) {
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName("skerry");
    QCoreApplication::setApplicationVersion(QStringLiteral(TFTP_VERSION));
    CommandTransfer command;
    if (const int status = ReadCommandTransfer(QCoreApplication::arguments(), command); status >= 0)
        return status;
    // The user's choice of local address holds here too.
    ClientSettings settings;
    skerry::LoadSettings(platform::ProfileFile(platform::ProfileFile::DefaultPath(skerry::kProfileFileName)),
                         settings);
    platform::SystemClock clock;
    tftp::SystemAddressProvider addresses;
    return RunCommandTransfer(command, settings, clock, addresses);
}

}  // namespace

int main(int argc, char** argv) {
    if (WantsCommandTransfer(argc, argv)) return CommandLineTransfer(argc, argv);
    const QString about = QStringLiteral(
        "Skerry, a TFTP client with a window.\n"
        "One transfer without a window: skerry --get HOST[:PORT] REMOTE [LOCAL],\n"
        "skerry --put HOST[:PORT] LOCAL [REMOTE] (skerry --get --help lists their options).");
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
