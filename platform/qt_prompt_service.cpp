#include "qt_prompt_service.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>

#include <cstdio>

namespace platform {

namespace {

// The answer of the Enter key: the box's default button.
int EnterAnswer(PromptButtons buttons) {
    return buttons == PromptButtons::YesNo ? kIdYes : kIdOk;
}

QString AnswerName(int answer) {
    switch (answer) {
    case kIdYes: return QStringLiteral("Yes");
    case kIdNo: return QStringLiteral("No");
    case kIdCancel: return QStringLiteral("Cancel");
    default: return QStringLiteral("OK");
    }
}

}  // namespace

QtPromptService::QtPromptService(QString title)
    : title_(std::move(title)),
      headless_(QGuiApplication::platformName() == QLatin1String("offscreen")) {}

QWidget* QtPromptService::DialogParent() { return QApplication::activeWindow(); }

void QtPromptService::Echo(const QString& text, const QString& answer) const {
    QString line = title_ + QStringLiteral(": ") + text.simplified();
    if (!answer.isEmpty()) line += QStringLiteral(" [") + answer + QLatin1Char(']');
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

int QtPromptService::MessageBox(const std::string& text, PromptIcon icon, PromptButtons buttons) {
    // Callers pass the program's own fixed texts: they are looked up in the
    // installed translation, if any, by the text itself.
    const QString message = QCoreApplication::translate("Prompts", text.c_str());
    if (headless_) {
        const int answer = EnterAnswer(buttons);
        Echo(message, buttons == PromptButtons::Ok ? QString() : AnswerName(answer));
        return answer;
    }
    Echo(message);
    QMessageBox box(DialogParent());
    box.setWindowTitle(title_);
    box.setText(message);
    switch (icon) {
    case PromptIcon::Information: box.setIcon(QMessageBox::Information); break;
    case PromptIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case PromptIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case PromptIcon::Question: box.setIcon(QMessageBox::Question); break;
    }
    switch (buttons) {
    case PromptButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case PromptButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case PromptButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return kIdOk;
    case QMessageBox::Yes: return kIdYes;
    case QMessageBox::No: return kIdNo;
    default: return buttons == PromptButtons::YesNo ? kIdNo : kIdCancel;
    }
}

}  // namespace platform
