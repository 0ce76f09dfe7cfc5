#include "main_frame.h"

#include "client/client_app.h"
#include "client/client_ids.h"
#include "client/decoration.h"
#include "client/halden_doc.h"
#include "client/halden_view.h"
#include "platform/control_ids.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QTimerEvent>
#include <QUrl>

#include <ctime>

using namespace skerry;

namespace {

// prompt: the status-bar text, then after '\n' the command's short name.
QAction* Command(QWidget* owner, QMenu* menu, int id, const QString& text, const QString& prompt) {
    auto* action = new QAction(text, owner);
    SetCommandId(action, id);
    const qsizetype cut = prompt.indexOf('\n');
    action->setStatusTip(cut < 0 ? prompt : prompt.left(cut));
    if (cut >= 0) action->setToolTip(prompt.mid(cut + 1));
    if (menu) menu->addAction(action);
    else owner->addAction(action);
    return action;
}

QString LocalTime() {
    char text[64] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    std::strftime(text, sizeof text, "%X", &local);
    return QString::fromLocal8Bit(text);
}

}  // namespace

CMainFrame::CMainFrame(CClientApp& app) : QMainWindow(nullptr), app_(app) {
    // No sizing border and no maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setObjectName(QStringLiteral("frame%1").arg(IDR_MAINFRAME));
    setWindowIcon(QIcon(Decoration()));
}

int CMainFrame::OnCreate() {
    BuildMenus();
    return BuildStatusBar() ? 0 : -1;
}

void CMainFrame::BuildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* send = Command(this, file, ID_FILE_OPEN, tr("&Send...\tCtrl+S"), tr("Select a file to Send\nSend"));
    send->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(send, &QAction::triggered, this, &CMainFrame::OnFileSend);
    file->addSeparator();
    QAction* abort = Command(this, file, ID_TRANSFER_ABORT, tr("&Abort"), tr("Abort the current transfer"));
    connect(abort, &QAction::triggered, this, [this] {
        if (CHaldenView* view = app_.View()) view->OnAbort();
    });
    file->addSeparator();
    QAction* exit = Command(this, file, ID_APP_EXIT, tr("E&xit"), tr("Quit Halden Client\nExit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    // File > Abort is enabled only while a transfer runs.
    connect(file, &QMenu::aboutToShow, this, [this, abort] {
        CHaldenView* view = app_.View();
        abort->setEnabled(view && view->OnUpdateAbort());
    });

    QMenu* options = menuBar()->addMenu(tr("&Options"));
    connect(Command(this, options, ID_OPTIONS_SETUP, tr("&Setup"), tr("Set up transfer options")),
            &QAction::triggered, this, [this] { app_.OnSetup(); });
    connect(Command(this, options, ID_OPTIONS_RENAME_BUTTONS, tr("&Rename Buttons"), tr("Change button names")),
            &QAction::triggered, this, [this] { app_.OnRenameButtons(); });

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    connect(Command(this, help, ID_HELP_INDEX, tr("&Index"), tr("List Help topics")), &QAction::triggered,
            this, [this] { app_.OnHelpIndex(); });
    connect(Command(this, help, ID_HELP_USING, tr("&Using Help"),
                    tr("Display instructions about how to use help")),
            &QAction::triggered, this, [this] { app_.OnHelpUsing(); });
    help->addSeparator();
    connect(Command(this, help, ID_APP_ABOUT, tr("&About Halden..."), tr("Display program information\nAbout")),
            &QAction::triggered, this, [this] { app_.OnAppAbout(); });

    // Context help: F1 for the focused control's topic, Shift+F1 to click on one.
    QAction* f1 = Command(this, nullptr, ID_HELP, tr("Help"), tr("Display help for current task or command\nHelp"));
    f1->setShortcut(QKeySequence(Qt::Key_F1));
    connect(f1, &QAction::triggered, this, [this] { app_.OnHelp(); });
    QAction* shiftF1 = Command(this, nullptr, ID_CONTEXT_HELP, tr("Context Help"),
                               tr("Display help for clicked on buttons, menus and windows\nHelp"));
    shiftF1->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1));
    connect(shiftF1, &QAction::triggered, this, [this] { app_.OnContextHelp(); });
    QAction* index = Command(this, nullptr, ID_DEFAULT_HELP, tr("Default Help"), tr("List Help topics"));
    connect(index, &QAction::triggered, this, [this] { app_.OnHelpIndex(); });

    // A menu's prompts cover the bar only while it is open: the message
    // pane under them keeps the last result.
}

bool CMainFrame::BuildStatusBar() {
    statusBar_ = new QStatusBar(this);
    platform::SetControlId(statusBar_, AFX_IDW_STATUS_BAR);
    statusBar_->setSizeGripEnabled(false);  // the window has a fixed size
    messagePane_ = new CStatusPane(kIdleMessage, statusBar_);
    messagePane_->setObjectName("pane0");
    timeLabel_ = new QLabel(tr("Time"), statusBar_);
    timeLabel_->setObjectName(QStringLiteral("pane%1").arg(ID_INDICATOR_TIME));
    timeLabel_->setAlignment(Qt::AlignCenter);
    timeLabel_->setFrameShape(QFrame::Panel);
    timeLabel_->setFrameShadow(QFrame::Sunken);
    // Both panes are ordinary: a menu prompt takes the whole bar.
    statusBar_->addWidget(messagePane_, 1);
    statusBar_->addWidget(timeLabel_, 0);
    setStatusBar(statusBar_);
    clockTimer_ = startTimer(kClockPeriodMs);
    if (clockTimer_ == 0) return false;
    OnUpdateTime();
    return true;
}

void CMainFrame::SetView(CHaldenView* view) { setCentralWidget(view); }

void CMainFrame::ShrinkToForm() {
    adjustSize();
    setFixedSize(sizeHint().boundedTo(size()).expandedTo(minimumSizeHint()));
}

void CMainFrame::UpdateCaption(const std::string& documentTitle) {
    setWindowTitle(QString::fromStdString(documentTitle) + " - " + kFrameTitle);
}

void CMainFrame::SetMessageText(const QString& text) {
    if (!messagePane_) return;
    pendingText_ = text;
    if (!lastPaint_.isValid() || lastPaint_.elapsed() >= kMessagePaintMs) {
        ShowPendingText();
    } else if (!paintTimer_.isActive()) {
        paintTimer_.start(kMessagePaintMs - static_cast<int>(lastPaint_.elapsed()), this);
    }
}

void CMainFrame::ShowPendingText() {
    paintTimer_.stop();
    messagePane_->SetText(pendingText_);
    messagePane_->repaint();
    lastPaint_.restart();
}

void CMainFrame::OnUpdateTime() {
    const QString text = LocalTime();
    timeLabel_->setFixedWidth(timeLabel_->fontMetrics().horizontalAdvance(text) + 12);
    timeLabel_->setText(text);
    timeLabel_->setEnabled(true);
}

void CMainFrame::timerEvent(QTimerEvent* event) {
    if (event->timerId() == clockTimer_) OnUpdateTime();
    else if (event->timerId() == paintTimer_.timerId()) ShowPendingText();
    else QMainWindow::timerEvent(event);
}

void CMainFrame::OnFileSend() {
    QFileDialog dialog(this, tr("Open"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    app_.Document().OnOpenDocument(dialog.selectedFiles().first().toStdString());
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    event->accept();
    QCoreApplication::quit();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls()) return;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            return;
        }
    }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    if (!event->mimeData()->hasUrls()) return;
    event->acceptProposedAction();
    // One send per file, in the order given; while one runs the rest are ignored.
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) app_.Document().OnOpenDocument(url.toLocalFile().toStdString());
}
