#include "dialog_prompt_service.h"

#include "address_dialogs.h"

#include <QStringList>

namespace tftp {

bool DialogPromptService::ChooseLocalAddress(platform::AddressForm form,
                                             const std::vector<std::string>& addresses,
                                             bool& checkBox, int& index) {
    if (Headless()) {
        // Enter takes the first address and leaves the check box as it is.
        QStringList listed;
        for (const std::string& a : addresses) listed << QString::fromStdString(a);
        index = 0;
        Echo(QStringLiteral("Multihomed Host: ") + listed.join(QStringLiteral(", ")),
             listed.isEmpty() ? QStringLiteral("OK") : listed.first());
        return true;
    }
    CMultihomedDlg dlg(form, addresses, checkBox, DialogParent());
    if (dlg.exec() != QDialog::Accepted) return false;
    index = dlg.SelectedIndex();
    if (form == platform::AddressForm::Server) checkBox = dlg.CheckBox();
    return true;
}

bool DialogPromptService::EnterLocalAddress(platform::AddressForm form, std::string& typed) {
    if (Headless()) {
        // Enter on the empty edit: OK with nothing typed.
        typed.clear();
        Echo(QStringLiteral("Listening Address: no address found, none typed"), QStringLiteral("OK"));
        return true;
    }
    CListenAddressDlg dlg(form, DialogParent());
    if (dlg.exec() != QDialog::Accepted) return false;
    typed = dlg.Typed();
    return true;
}

}  // namespace tftp
