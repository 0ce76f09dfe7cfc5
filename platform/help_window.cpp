#include "help_window.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <QWidget>

namespace platform {
namespace {

// A top-level window that Escape closes, as it would a dialog.
class HelpFrame final : public QWidget {
public:
    HelpFrame() : QWidget(nullptr, Qt::Window) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) close();
        else QWidget::keyPressEvent(event);
    }
};

}  // namespace

HelpWindow::HelpWindow(QString page, QString title)
    : page_(std::move(page)), title_(std::move(title)) {}

HelpWindow::~HelpWindow() { delete window_.data(); }

QWidget* HelpWindow::Window() const { return window_.data(); }

void HelpWindow::ShowTopic(const QString& anchor) {
    if (!window_) {
        auto* window = new HelpFrame;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWindowTitle(title_);
        auto* layout = new QVBoxLayout(window);
        browser_ = new QTextBrowser(window);
        browser_->setOpenExternalLinks(true);
        layout->addWidget(browser_);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
        QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QWidget::close);
        layout->addWidget(buttons);
        window->resize(560, 480);
        window_ = window;
    }
    QUrl url(page_);
    if (!anchor.isEmpty()) url.setFragment(anchor);
    browser_->setSource(url);
    if (!anchor.isEmpty()) browser_->scrollToAnchor(anchor);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void HelpWindow::EnterContextHelp() { QWhatsThis::enterWhatsThisMode(); }

}  // namespace platform
