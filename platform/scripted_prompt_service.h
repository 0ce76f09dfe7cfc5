// A prompt service for tests: records every prompt and answers from a script.
#pragma once

#include "prompt_service.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace platform {

class ScriptedPromptService final : public PromptService {
public:
    enum class Kind { Message, ChooseAddress, EnterAddress };

    struct Prompt {
        Kind kind;
        std::string text;  // message text; empty for the dialogs
        PromptIcon icon = PromptIcon::Information;
        PromptButtons buttons = PromptButtons::Ok;
        AddressForm form = AddressForm::Server;
        std::vector<std::string> addresses;  // what the address choice listed
        bool checkBoxShown = false;          // the check box state it opened with
    };

    struct Answer {
        int button = kIdOk;          // message box result
        bool ok = true;              // dialogs: closed with OK
        int index = 0;               // ChooseLocalAddress selection
        bool checkBox = false;       // ChooseLocalAddress check box on close
        bool touchCheckBox = false;  // false: leave the check box as it opened
        std::string typed;           // EnterLocalAddress text
    };

    // Answers are used in order; with none left, message boxes answer their
    // first button and dialogs are cancelled.
    void Queue(const Answer& answer) { answers_.push_back(answer); }

    const std::vector<Prompt>& Prompts() const { return prompts_; }
    std::vector<std::string> MessageTexts() const;
    void Clear() { prompts_.clear(); answers_.clear(); }

    // Runs while a message box is "open", before it is answered: what the
    // program does meanwhile in the box's own event loop.
    std::function<void()> whileOpen;

    int MessageBox(const std::string& text, PromptIcon icon, PromptButtons buttons) override;
    bool ChooseLocalAddress(AddressForm form, const std::vector<std::string>& addresses,
                            bool& checkBox, int& index) override;
    bool EnterLocalAddress(AddressForm form, std::string& typed) override;

private:
    bool Next(Answer& out);

    std::deque<Answer> answers_;
    std::vector<Prompt> prompts_;
};

}  // namespace platform
