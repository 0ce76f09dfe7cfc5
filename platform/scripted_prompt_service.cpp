#include "scripted_prompt_service.h"

namespace platform {

bool ScriptedPromptService::Next(Answer& out) {
    if (answers_.empty()) return false;
    out = answers_.front();
    answers_.pop_front();
    return true;
}

std::vector<std::string> ScriptedPromptService::MessageTexts() const {
    std::vector<std::string> texts;
    for (const Prompt& p : prompts_)
        if (p.kind == Kind::Message) texts.push_back(p.text);
    return texts;
}

int ScriptedPromptService::MessageBox(const std::string& text, PromptIcon icon,
                                      PromptButtons buttons) {
    prompts_.push_back(Prompt{Kind::Message, text, icon, buttons, AddressForm::Server, {}, false});
    if (whileOpen) whileOpen();
    Answer a;
    if (Next(a)) return a.button;
    return buttons == PromptButtons::YesNo ? kIdYes : kIdOk;
}

bool ScriptedPromptService::ChooseLocalAddress(AddressForm form,
                                               const std::vector<std::string>& addresses,
                                               bool& checkBox, int& index) {
    prompts_.push_back(Prompt{Kind::ChooseAddress, {}, PromptIcon::Information,
                              PromptButtons::Ok, form, addresses, checkBox});
    Answer a;
    if (!Next(a) || !a.ok) return false;
    index = a.index;
    if (a.touchCheckBox && form == AddressForm::Server) checkBox = a.checkBox;
    return true;
}

bool ScriptedPromptService::EnterLocalAddress(AddressForm form, std::string& typed) {
    prompts_.push_back(Prompt{Kind::EnterAddress, {}, PromptIcon::Information,
                              PromptButtons::Ok, form, {}, false});
    Answer a;
    if (!Next(a) || !a.ok) return false;
    typed = a.typed;
    return true;
}

}  // namespace platform
