// A program's help: one window showing an HTML page shipped with the program
// (the Help menu's Index and Using Help, and F1), and the context-help mode
// of Shift+F1, in which a click on a control shows what it does.
#pragma once

#include <QPointer>
#include <QString>
#include <QTextBrowser>
#include <QWidget>

namespace platform {

class HelpWindow {
public:
    // page: the HTML page, e.g. "qrc:/help/skerry.html"; title: the window's.
    HelpWindow(QString page, QString title);
    ~HelpWindow();
    HelpWindow(const HelpWindow&) = delete;
    HelpWindow& operator=(const HelpWindow&) = delete;

    // Shows the page at anchor (empty: its top); one window at most, raised
    // when it is already open.
    void ShowTopic(const QString& anchor = {});
    // Shift+F1: the next click on a control shows its "What's This?" text.
    static void EnterContextHelp();

    // The open window, or null.
    QWidget* Window() const;
    QTextBrowser* Browser() const { return browser_; }

private:
    QString page_;
    QString title_;
    QPointer<QWidget> window_;
    QPointer<QTextBrowser> browser_;
};

}  // namespace platform
