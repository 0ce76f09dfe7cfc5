// Skerry, the TFTP client with a window.
#include "client/client_app.h"
#include "client/client_ids.h"
#include "common/local_address.h"
#include "common/widgets/dialog_prompt_service.h"
#include "platform/clock.h"
#include "platform/profile_file.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Skerry");
    tftp::DialogPromptService prompts(skerry::kProgramTitle);
    platform::SystemClock clock;
    tftp::SystemAddressProvider addresses;
    CClientApp app(prompts, clock, addresses,
                   platform::ProfileFile::DefaultPath(skerry::kProfileFileName));
    if (!app.InitInstance()) return 1;
    return QApplication::exec();
}
