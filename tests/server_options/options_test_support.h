// Helpers for driving the options sheet and the folder browser as a user
// would: a host that records what the sheet asks of it, clicks on tabs and
// buttons, and acting on a modal dialog once it has opened.
#pragma once

#include "platform/control_ids.h"
#include "platform/scripted_prompt_service.h"
#include "server/app/options_host.h"
#include "server/app/server_settings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QListWidget>
#include <QPointer>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tests {

// Records every call with the settings as they stood at that moment.
class FakeOptionsHost : public COptionsHost {
public:
    explicit FakeOptionsHost(const ServerSettings& settings, int addresses = 1)
        : settings_(settings), addresses_(addresses) {}

    void OnPortChanged() override { portsAtChange.push_back(settings_.Port); }
    void ApplyProcessPriority() override { raiseAtApply.push_back(settings_.bRaisePriority); }
    int LocalAddressCount() const override { return addresses_; }
    platform::PromptService& Prompts() override { return prompts; }
    bool OnSettingsAccepted() override {
        portsAtAccept.push_back(settings_.Port);
        return listening;
    }

    std::vector<std::string> portsAtChange;
    std::vector<int> raiseAtApply;
    std::vector<std::string> portsAtAccept;  // one entry per OK or Apply that wrote back
    bool listening = true;                   // what OnSettingsAccepted answers
    platform::ScriptedPromptService prompts;

private:
    const ServerSettings& settings_;
    int addresses_;
};

inline void ClickTab(QTabWidget* tabs, int index) {
    QTabBar* bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
}

template <typename T = QAbstractButton>
T* Control(const QWidget* root, int id) {
    return platform::FindControl<T>(root, id);
}

// Check boxes and radio buttons take clicks on their mark and text only.
inline void Click(const QWidget* root, int id) {
    QAbstractButton* button = Control<QAbstractButton>(root, id);
    if (!button) return;
    const bool marked = qobject_cast<QCheckBox*>(button) || qobject_cast<QRadioButton*>(button);
    const QPoint at = marked ? QPoint(6, button->height() / 2) : button->rect().center();
    QTest::mouseClick(button, Qt::LeftButton, {}, at);
}

inline void DoubleClickRow(QListWidget* list, int row) {
    const QPoint at = list->visualItemRect(list->item(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

inline void DoubleClickEntry(QListWidget* list, const QString& text) {
    const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
    if (!found.isEmpty()) DoubleClickRow(list, list->row(found.first()));
}

// Runs act on the next modal dialog of type Dialog as soon as it is open;
// gives up after about 30 seconds.
template <typename Dialog>
void WhenModal(std::function<void(Dialog*)> act) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (!dialog && ++*tries < 3000) return;
        timer->stop();
        timer->deleteLater();
        if (dialog) act(dialog);
    });
    timer->start(10);
}

}  // namespace tests
