// The questions and messages that an operation deep inside either program may
// have to put to the user: message boxes, and the two local-address dialogs.
// The programs answer them with real dialogs; tests answer them from a script.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class PromptIcon { Information, Warning, Error, Question };
enum class PromptButtons { Ok, OkCancel, YesNo };

// Answers, numbered as the message-box results the programs compare with.
enum PromptAnswer : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

// Whose copy of an address dialog is shown: the server's or the client's.
enum class AddressForm { Server, Client };

class PromptService {
public:
    virtual ~PromptService() = default;

    // A modal message box titled with the program's title; returns a PromptAnswer.
    virtual int MessageBox(const std::string& text, PromptIcon icon, PromptButtons buttons) = 0;
    // False where no one could see a window the program opens (no visible
    // display): then nothing is to be offered that waits for the user.
    virtual bool CanShowWindows() const { return true; }

    // The "Multihomed Host" dialog over the address texts, in list order.
    // checkBox is the server form's "Do not show this box again" (in and out;
    // the client form has none and leaves it alone). True when closed with OK,
    // index then holding the selection (0 when nothing is selected).
    virtual bool ChooseLocalAddress(AddressForm form, const std::vector<std::string>& addresses,
                                    bool& checkBox, int& index) = 0;

    // The "Listening Address" dialog. True when closed with OK, typed then
    // holding what the user entered (the edit starts empty).
    virtual bool EnterLocalAddress(AddressForm form, std::string& typed) = 0;
};

}  // namespace platform
