#include "setting_text.h"

#include "server/app/server_settings.h"

#include <QLineEdit>

#include <algorithm>

namespace options {

namespace {

// The bytes the text will take once stored (a folder also gets its "/").
qsizetype StoredSize(const QString& text, TextKind kind) {
    qsizetype size = text.toUtf8().size();
    if (kind == TextKind::Folder && !text.isEmpty() && !text.endsWith('/')) ++size;
    return size;
}

}  // namespace

bool FitsSetting(const QString& text, TextKind kind) {
    if (kind == TextKind::Digits &&
        !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; }))
        return false;
    return StoredSize(text, kind) <= static_cast<qsizetype>(ServerSettings::kMaxText);
}

QString CutToSetting(const QString& text, TextKind kind) {
    const TextKind sizeKind = kind == TextKind::Digits ? TextKind::Plain : kind;
    QString cut = text;
    while (!cut.isEmpty() && !FitsSetting(cut, sizeKind)) {
        cut.chop(1);
        if (!cut.isEmpty() && cut.back().isHighSurrogate()) cut.chop(1);
    }
    return cut;
}

QValidator::State SettingTextValidator::validate(QString& input, int&) const {
    return FitsSetting(input, kind_) ? Acceptable : Invalid;
}

void LimitEdit(QLineEdit* edit, TextKind kind) {
    edit->setMaxLength(static_cast<int>(ServerSettings::kMaxText));
    edit->setValidator(new SettingTextValidator(kind, edit));
}

std::string NormaliseFolderText(std::string text, const std::function<std::string()>& emptyFolder) {
    // An empty text would name the folder the server was started from: the
    // folder of its own stands in for it, however long its name.
    if (text.empty()) text = emptyFolder();
    if (!text.empty() && text.back() != '/') text.push_back('/');
    return text;
}

}  // namespace options
