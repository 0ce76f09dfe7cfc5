#include "help_window.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

// The help page is compiled into a static library: its resources must be
// registered by name.
static void InitHelpResources() { Q_INIT_RESOURCE(vantrel); }

CHelpWindow::CHelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    InitHelpResources();
    setWindowTitle(tr(kTitle));
    browser_ = new QTextBrowser(this);
    browser_->setOpenExternalLinks(false);
    browser_->setSource(QUrl(QString::fromLatin1(kHelpPage)));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(560, 480);
}

void CHelpWindow::ShowTopic(const QString& anchor) {
    if (anchor.isEmpty()) browser_->setSource(QUrl(QString::fromLatin1(kHelpPage)));
    else browser_->scrollToAnchor(anchor);
    show();
    raise();
    activateWindow();
}
