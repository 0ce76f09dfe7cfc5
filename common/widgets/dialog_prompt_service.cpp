#include "dialog_prompt_service.h"

#include "address_dialogs.h"

namespace tftp {

bool DialogPromptService::ChooseLocalAddress(platform::AddressForm form,
                                             const std::vector<std::string>& addresses,
                                             bool& checkBox, int& index) {
    CMultihomedDlg dlg(form, addresses, checkBox, DialogParent());
    if (dlg.exec() != QDialog::Accepted) return false;
    index = dlg.SelectedIndex();
    if (form == platform::AddressForm::Server) checkBox = dlg.CheckBox();
    return true;
}

bool DialogPromptService::EnterLocalAddress(platform::AddressForm form, std::string& typed) {
    CListenAddressDlg dlg(form, DialogParent());
    if (dlg.exec() != QDialog::Accepted) return false;
    typed = dlg.Typed();
    return true;
}

}  // namespace tftp
