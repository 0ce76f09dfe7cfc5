// Message boxes as real Qt dialogs, titled with the program's title. The
// address dialogs belong to the programs' own code, which derives from this.
//
// Every prompt is also written to standard error as one line, so that a
// message is seen where the user looks even without a window. With no
// visible display (the offscreen platform) nothing is shown: a question takes
// the answer the Enter key would give, written after it.
#pragma once

#include "prompt_service.h"

#include <QString>

class QWidget;

namespace platform {

class QtPromptService : public PromptService {
public:
    explicit QtPromptService(QString title);

    int MessageBox(const std::string& text, PromptIcon icon, PromptButtons buttons) override;

    const QString& Title() const { return title_; }
    // The window the dialogs are centred on: the active window, if any.
    static QWidget* DialogParent();

    // True where no one can see a dialog (the offscreen platform).
    bool Headless() const { return headless_; }
    bool CanShowWindows() const override { return !headless_; }
    void SetHeadless(bool headless) { headless_ = headless; }

protected:
    // "Title: text" on standard error, line breaks folded into spaces; with
    // answer, " [answer]" after it.
    void Echo(const QString& text, const QString& answer = QString()) const;

private:
    QString title_;
    bool headless_;
};

}  // namespace platform
