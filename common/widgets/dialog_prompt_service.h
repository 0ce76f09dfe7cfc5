// The programs' prompt service: Qt message boxes and the real address dialogs.
#pragma once

#include "platform/qt_prompt_service.h"

namespace tftp {

class DialogPromptService final : public platform::QtPromptService {
public:
    using platform::QtPromptService::QtPromptService;

    bool ChooseLocalAddress(platform::AddressForm form, const std::vector<std::string>& addresses,
                            bool& checkBox, int& index) override;
    bool EnterLocalAddress(platform::AddressForm form, std::string& typed) override;
};

}  // namespace tftp
