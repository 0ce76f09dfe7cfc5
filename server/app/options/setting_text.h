// The rules for the texts typed into the options pages. Every text setting
// is stored through a 100-byte buffer, so an edit refuses any input that
// would make its text longer than ServerSettings::kMaxText bytes (UTF-8);
// port and time-out edits take digits only; a folder text must leave room
// for the "/" its write-back adds.
#pragma once

#include <QValidator>

#include <functional>
#include <string>

class QLineEdit;

namespace options {

enum class TextKind { Plain, Digits, Folder };

// True when text may stand in an edit of this kind.
bool FitsSetting(const QString& text, TextKind kind);

// A stored value cut to the longest whole-character start that fits, for
// values that came in longer than the limit.
QString CutToSetting(const QString& text, TextKind kind);

class SettingTextValidator : public QValidator {
public:
    SettingTextValidator(TextKind kind, QObject* parent) : QValidator(parent), kind_(kind) {}
    State validate(QString& input, int& pos) const override;

private:
    TextKind kind_;
};

// Gives an edit its length limit and validator.
void LimitEdit(QLineEdit* edit, TextKind kind);

// The folder write-back: an empty text becomes emptyFolder() (the server's
// own folder for that direction); every text gets a trailing "/" when it has
// none.
std::string NormaliseFolderText(std::string text, const std::function<std::string()>& emptyFolder);

}  // namespace options
