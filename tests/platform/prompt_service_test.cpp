// The scripted prompt service tests use, and the Qt message box's answers.
#include "platform/qt_prompt_service.h"
#include "platform/scripted_prompt_service.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace platform;

TEST(ScriptedPromptService, RecordsPromptsAndAnswersInOrder) {
    ScriptedPromptService p;
    ScriptedPromptService::Answer no;
    no.button = kIdNo;
    p.Queue(no);
    EXPECT_EQ(p.MessageBox("Overwrite?", PromptIcon::Question, PromptButtons::YesNo), kIdNo);
    EXPECT_EQ(p.MessageBox("again", PromptIcon::Question, PromptButtons::YesNo), kIdYes);
    ASSERT_EQ(p.MessageTexts().size(), 2u);
    EXPECT_EQ(p.Prompts()[0].icon, PromptIcon::Question);
    EXPECT_EQ(p.Prompts()[0].buttons, PromptButtons::YesNo);
}

TEST(ScriptedPromptService, DialogsCancelWithoutAScript) {
    ScriptedPromptService p;
    bool box = true;
    int index = 5;
    EXPECT_FALSE(p.ChooseLocalAddress(AddressForm::Server, {"10.0.0.1", "10.0.0.2"}, box, index));
    EXPECT_EQ(index, 5);
    EXPECT_TRUE(box);
    std::string typed = "keep";
    EXPECT_FALSE(p.EnterLocalAddress(AddressForm::Client, typed));
    EXPECT_EQ(typed, "keep");
    ASSERT_EQ(p.Prompts().size(), 2u);
    EXPECT_TRUE(p.Prompts()[0].checkBoxShown);
    EXPECT_EQ(p.Prompts()[0].addresses.size(), 2u);
}

namespace {
class MessageOnly final : public QtPromptService {
public:
    using QtPromptService::QtPromptService;
    bool ChooseLocalAddress(AddressForm, const std::vector<std::string>&, bool&, int&) override {
        return false;
    }
    bool EnterLocalAddress(AddressForm, std::string&) override { return false; }
};

// Presses the given button of the message box once it is up, and records its title.
void PressWhenShown(QMessageBox::StandardButton which, QString* title, QString* text) {
    QTimer::singleShot(0, [=] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                *title = box->windowTitle();
                *text = box->text();
                box->button(which)->click();
                return;
            }
        }
        PressWhenShown(which, title, text);
    });
}
}  // namespace

TEST(QtPromptService, MessageBoxCarriesTheProgramTitleAndReturnsTheButton) {
    MessageOnly prompts("Halden Client");
    ASSERT_TRUE(prompts.Headless()) << "the tests run on the offscreen platform";
    prompts.SetHeadless(false);
    QString title, text;
    PressWhenShown(QMessageBox::No, &title, &text);
    EXPECT_EQ(prompts.MessageBox("File already exists\n\nOverwrite it ?", PromptIcon::Question,
                                 PromptButtons::YesNo),
              kIdNo);
    EXPECT_EQ(title, "Halden Client");
    EXPECT_EQ(text, "File already exists\n\nOverwrite it ?");
    PressWhenShown(QMessageBox::Ok, &title, &text);
    EXPECT_EQ(prompts.MessageBox("Timed out", PromptIcon::Warning, PromptButtons::Ok), kIdOk);
}

// Without a visible display nothing waits: each box is one line on standard
// error and a question takes the answer of the Enter key.
TEST(QtPromptService, HeadlessBoxesAnswerAsEnterAndWriteOneLine) {
    struct Case {
        std::string text;
        PromptButtons buttons;
        int answer;
        std::string line;
    };
    const Case cases[] = {
        {"Unable to Create listening port", PromptButtons::Ok, kIdOk,
         "Vantrel: Unable to Create listening port\n"},
        {"File already exists\n\nOverwrite it ?", PromptButtons::YesNo, kIdYes,
         "Vantrel: File already exists Overwrite it ? [Yes]\n"},
        {"Drop the clients?", PromptButtons::OkCancel, kIdOk, "Vantrel: Drop the clients? [OK]\n"},
    };
    MessageOnly prompts("Vantrel");
    ASSERT_TRUE(prompts.Headless());
    for (const Case& c : cases) {
        // A box shown would never be answered: fail rather than wait.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
            ADD_FAILURE() << "a message box was shown";
        });
        watchdog.start(2000);
        testing::internal::CaptureStderr();
        const int answer = prompts.MessageBox(c.text, PromptIcon::Question, c.buttons);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(answer, c.answer) << c.text;
        EXPECT_EQ(err, c.line);
    }
}
