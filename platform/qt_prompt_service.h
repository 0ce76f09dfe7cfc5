// Message boxes as real Qt dialogs, titled with the program's title. The
// address dialogs belong to the programs' own code, which derives from this.
#pragma once

#include "prompt_service.h"

#include <QString>

class QWidget;

namespace platform {

class QtPromptService : public PromptService {
public:
    explicit QtPromptService(QString title) : title_(std::move(title)) {}

    int MessageBox(const std::string& text, PromptIcon icon, PromptButtons buttons) override;

    const QString& Title() const { return title_; }
    // The window the dialogs are centred on: the active window, if any.
    static QWidget* DialogParent();

private:
    QString title_;
};

}  // namespace platform
