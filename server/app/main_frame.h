// The server's main window: menu, accelerators, toolbar and status bar around
// the transfer list. It routes each command to the view, to itself (help,
// toolbar and status-bar toggles, exit) or to the application.
#pragma once

#include "server/app/display_host.h"
#include "server/app/help_window.h"

#include <QMainWindow>
#include <QPointer>

#include <map>

class CDunmoreDoc;
class CNewView;
class QAction;
class QLabel;
class QShortcut;

// The commands the application object handles.
class AppCommands {
public:
    virtual ~AppCommands() = default;
    // ID_STOP_SERVING, ID_START_SERVING, ID_SETUP, ID_SERVER_INFO, ID_APP_ABOUT.
    virtual void OnAppCommand(int id) = 0;
    virtual bool IsAppCommandEnabled(int id) const = 0;
    // The main window has closed (rows logged, rectangle saved): end the run.
    virtual void OnMainFrameClosed() = 0;
};

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame(AppCommands& app, DisplayHost& host, CDunmoreDoc& doc);
    ~CMainFrame() override;

    CNewView* View() const { return view_; }
    // The action of a command id (menu item or toolbar button), or null.
    QAction* Action(int id) const;
    QToolBar* ToolBar() const { return toolBar_; }
    QLabel* IdleStatus() const { return idleStatus_; }
    // The status bar's note on a log file that cannot be written (hidden
    // while there is none).
    QLabel* LogStatus() const { return logStatus_; }
    CHelpWindow* HelpWindow() const { return help_; }

    // Runs a command as its menu item, button or accelerator does; nothing
    // happens when the command is disabled.
    void ExecuteCommand(int id);
    bool IsCommandEnabled(int id) const;
    // Brings enabled states and check marks up to date.
    void UpdateCommandUi();

    // The caption: "Vantrel - <title>".
    void SetDocumentTitle(const QString& title);
    bool Closed() const { return closed_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildActions();
    void BuildMenu();
    void BuildToolBar();
    void BuildStatusBar();
    void BuildAccelerators();
    void OnHelp();
    void OnContextHelp();
    void ShowLogProblem(const QString& text);

    AppCommands& app_;
    CDunmoreDoc& doc_;
    CNewView* view_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QLabel* idleStatus_ = nullptr;
    QLabel* logStatus_ = nullptr;
    QPointer<CHelpWindow> help_;
    std::map<int, QAction*> actions_;
    unsigned commandState_ = ~0u;  // what UpdateCommandUi last applied
    bool closed_ = false;
};
