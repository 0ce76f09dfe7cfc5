#include "main_frame.h"

#include "platform/tinted_icons.h"
#include "server/app/command_ids.h"
#include "server/app/dunmore_doc.h"
#include "server/app/help_window.h"
#include "server/app/new_view.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QWhatsThis>

using namespace vantrel;

namespace {

// Splits a prompt into its status-bar text and its tooltip.
void ApplyPrompt(QAction* action, const char* prompt) {
    const QString text = CMainFrame::tr(prompt);
    const int newline = text.indexOf(QLatin1Char('\n'));
    action->setStatusTip(newline < 0 ? text : text.left(newline));
    if (newline >= 0) action->setToolTip(text.mid(newline + 1));
    action->setWhatsThis(newline < 0 ? text : text.left(newline));
}

}  // namespace

CMainFrame::CMainFrame(AppCommands& app, DisplayHost& host, CDunmoreDoc& doc)
    : QMainWindow(nullptr), app_(app), doc_(doc) {
    setWindowTitle(QString::fromLatin1(kAppTitle));
    view_ = new CNewView(host, this);
    setCentralWidget(view_);
    BuildActions();
    BuildMenu();
    BuildToolBar();
    BuildStatusBar();
    BuildAccelerators();
    resize(680, 320);
    UpdateCommandUi();
}

CMainFrame::~CMainFrame() {
    if (help_) delete help_;
}

QAction* CMainFrame::Action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::BuildActions() {
    QStyle* s = style();
    const std::map<int, QIcon> icons = {
        {ID_APP_ABOUT, s->standardIcon(QStyle::SP_MessageBoxInformation)},
        {ID_CONTEXT_HELP, s->standardIcon(QStyle::SP_TitleBarContextHelpButton)},
        {ID_STOP_SERVING, s->standardIcon(QStyle::SP_MediaStop)},
        {ID_START_SERVING, s->standardIcon(QStyle::SP_MediaPlay)},
        {ID_CLEAR_DISPLAY, s->standardIcon(QStyle::SP_DialogResetButton)},
    };
    for (const CommandText& c : kCommands) {
        auto* action = new QAction(tr(c.menuText), this);
        if (c.menuText[0] == '\0') action->setText(tr("Help"));
        ApplyPrompt(action, c.prompt);
        const auto icon = icons.find(c.id);
        if (icon != icons.end()) action->setIcon(icon->second);
        action->setData(c.id);
        const int id = c.id;
        connect(action, &QAction::triggered, this, [this, id] { ExecuteCommand(id); });
        actions_[c.id] = action;
    }
    for (const int id : {ID_USE_GRAPHIC, ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR}) Action(id)->setCheckable(true);
    platform::TintToolIcons(this, {Action(ID_CONTEXT_HELP), Action(ID_STOP_SERVING), Action(ID_START_SERVING)});
}

void CMainFrame::BuildMenu() {
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu(tr("&File"));
    file->addAction(Action(ID_STOP_SERVING));
    file->addAction(Action(ID_START_SERVING));
    file->addSeparator();
    file->addAction(Action(ID_APP_EXIT));
    QMenu* system = bar->addMenu(tr("System"));
    system->addAction(Action(ID_SETUP));
    system->addSeparator();
    system->addAction(Action(ID_SERVER_INFO));
    QMenu* view = bar->addMenu(tr("&View"));
    view->addAction(Action(ID_VIEW_TOOLBAR));
    view->addAction(Action(ID_VIEW_STATUS_BAR));
    view->addSeparator();
    view->addAction(Action(ID_CLEAR_DISPLAY));
    view->addSeparator();
    view->addAction(Action(ID_USE_GRAPHIC));
    QMenu* help = bar->addMenu(tr("&Help"));
    help->addAction(Action(ID_HELP_FINDER));
    help->addSeparator();
    help->addAction(Action(ID_APP_ABOUT));
    help->addSeparator();
    help->addAction(Action(ID_CHECK_VERSION));
    for (QMenu* menu : {file, system, view, help})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
}

void CMainFrame::BuildToolBar() {
    toolBar_ = addToolBar(tr("Toolbar"));
    toolBar_->setObjectName(QStringLiteral("toolbar%1").arg(IDR_MAINFRAME));
    toolBar_->setIconSize(QSize(16, 16));
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    toolBar_->addAction(Action(ID_APP_ABOUT));
    toolBar_->addAction(Action(ID_CONTEXT_HELP));
    toolBar_->addSeparator();
    toolBar_->addAction(Action(ID_STOP_SERVING));
    toolBar_->addSeparator();
    toolBar_->addAction(Action(ID_START_SERVING));
    toolBar_->addSeparator();
    toolBar_->addAction(Action(ID_CLEAR_DISPLAY));
}

void CMainFrame::BuildStatusBar() {
    // The message pane: the idle text, replaced by a command's prompt while
    // the pointer rests on its menu item or button.
    idleStatus_ = new QLabel(tr(kIdleStatus), this);
    statusBar()->addWidget(idleStatus_, 1);
    // A log that cannot be written loses rows: told here, where menu prompts
    // do not cover it, until the log works again.
    logStatus_ = new QLabel(this);
    logStatus_->setStyleSheet(QStringLiteral("color: #c00000"));
    logStatus_->hide();
    statusBar()->addPermanentWidget(logStatus_);
    connect(view_, &CNewView::LogProblem, this, &CMainFrame::ShowLogProblem);
}

void CMainFrame::ShowLogProblem(const QString& text) {
    logStatus_->setText(text);
    logStatus_->setVisible(!text.isEmpty());
}

void CMainFrame::BuildAccelerators() {
    for (const Accelerator& a : kAccelerators) {
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(a.keys)), this);
        shortcut->setContext(Qt::WindowShortcut);
        const int id = a.id;
        connect(shortcut, &QShortcut::activated, this, [this, id] { ExecuteCommand(id); });
    }
}

bool CMainFrame::IsCommandEnabled(int id) const {
    switch (id) {
    case ID_CLEAR_DISPLAY: return view_->CanClearDisplay();
    case ID_STOP_SERVING:
    case ID_START_SERVING:
    case ID_SETUP:
    case ID_SERVER_INFO:
    case ID_APP_ABOUT: return app_.IsAppCommandEnabled(id);
    default: return true;
    }
}

void CMainFrame::UpdateCommandUi() {
    // Runs after every burst of events (each datagram of a busy server is
    // one): only a change of state reaches the actions.
    const unsigned state = (IsCommandEnabled(ID_STOP_SERVING) ? 1u : 0u) |
                           (IsCommandEnabled(ID_START_SERVING) ? 2u : 0u) |
                           (IsCommandEnabled(ID_CLEAR_DISPLAY) ? 4u : 0u) |
                           (view_->GraphicFlag() ? 8u : 0u) |
                           (toolBar_ && toolBar_->isVisibleTo(this) ? 16u : 0u) |
                           (statusBar()->isVisibleTo(this) ? 32u : 0u);
    if (state == commandState_) return;
    commandState_ = state;
    for (const auto& [id, action] : actions_) action->setEnabled(IsCommandEnabled(id));
    Action(ID_USE_GRAPHIC)->setChecked(view_->GraphicFlag());
    Action(ID_VIEW_TOOLBAR)->setChecked(toolBar_ && toolBar_->isVisibleTo(this));
    Action(ID_VIEW_STATUS_BAR)->setChecked(statusBar()->isVisibleTo(this));
}

void CMainFrame::ExecuteCommand(int id) {
    if (closed_ || !IsCommandEnabled(id)) return;
    switch (id) {
    case ID_CLEAR_DISPLAY: view_->OnClearDisplay(); break;
    case ID_USE_GRAPHIC: view_->OnUseGraphic(); break;
    case ID_CHECK_VERSION: view_->OnCheckVersion(); break;
    case ID_APP_EXIT: close(); break;
    case ID_HELP_FINDER:
    case ID_HELP:
    case ID_DEFAULT_HELP: OnHelp(); break;
    case ID_CONTEXT_HELP: OnContextHelp(); break;
    case ID_VIEW_TOOLBAR: toolBar_->setVisible(!toolBar_->isVisibleTo(this)); break;
    case ID_VIEW_STATUS_BAR: statusBar()->setVisible(!statusBar()->isVisibleTo(this)); break;
    default: app_.OnAppCommand(id); break;
    }
    if (!closed_) UpdateCommandUi();
}

void CMainFrame::OnHelp() {
    if (!help_) help_ = new CHelpWindow(nullptr);
    help_->ShowTopic(QString());
}

void CMainFrame::OnContextHelp() { QWhatsThis::enterWhatsThisMode(); }

void CMainFrame::SetDocumentTitle(const QString& title) {
    setWindowTitle(title.isEmpty() ? QString::fromLatin1(kAppTitle)
                                   : QString::fromLatin1(kAppTitle) + QStringLiteral(" - ") + title);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (closed_) {
        event->accept();
        return;
    }
    closed_ = true;
    // The last check reports what has ended; CDunmoreDoc closes (the view
    // logs and deletes its rows), then the view goes (saving the window's
    // rectangle), then the run ends.
    view_->CheckBeforeClosing();
    doc_.OnCloseDocument();
    view_->OnDestroy();
    if (help_) help_->close();
    event->accept();
    app_.OnMainFrameClosed();
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (closed_) return;
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !isMinimized()) {
        view_->OnActivateView();
    } else if (event->type() == QEvent::WindowStateChange) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        if ((change->oldState() & Qt::WindowMinimized) && !isMinimized()) view_->OnActivateView();
    }
}
