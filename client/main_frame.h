// The client's main window: menus, the form, and a status bar with a message
// pane and a clock. It can be neither resized nor maximised; it takes the
// size of the form.
#pragma once

#include "client/status_pane.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QMainWindow>

class CClientApp;
class CHaldenView;
class QLabel;
class QMenu;
class QStatusBar;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CClientApp& app);

    // Builds menus and the status bar; 0 on success, -1 to fail the creation.
    int OnCreate();
    void SetView(CHaldenView* view);
    // Shrinks the window to the form (never enlarges it) and fixes its size.
    void ShrinkToForm();
    // The caption: the document's title, " - ", "Halden".
    void UpdateCaption(const std::string& documentTitle);

    // Pane 0, drawn at once; while texts come faster than the eye can follow
    // (a status per block of a transfer), the latest is drawn a few
    // milliseconds later instead of each one.
    void SetMessageText(const QString& text);
    static constexpr int kMessagePaintMs = 40;
    void OnUpdateTime();

    CStatusPane* MessagePane() const { return messagePane_; }
    QLabel* TimePane() const { return timeLabel_; }

    int timePane = 1;  // index of the clock pane

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void BuildMenus();
    bool BuildStatusBar();
    void OnFileSend();

    CClientApp& app_;
    QStatusBar* statusBar_ = nullptr;
    CStatusPane* messagePane_ = nullptr;
    QLabel* timeLabel_ = nullptr;
    int clockTimer_ = 0;
    QString pendingText_;
    QElapsedTimer lastPaint_;
    QBasicTimer paintTimer_;

    void ShowPendingText();
};
