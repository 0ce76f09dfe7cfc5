#include "qt_prompt_service.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

QWidget* QtPromptService::DialogParent() { return QApplication::activeWindow(); }

int QtPromptService::MessageBox(const std::string& text, PromptIcon icon, PromptButtons buttons) {
    QMessageBox box(DialogParent());
    box.setWindowTitle(title_);
    box.setText(QString::fromLocal8Bit(text.c_str()));
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
