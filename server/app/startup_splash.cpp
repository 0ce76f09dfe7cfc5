#include "startup_splash.h"

#include <QApplication>
#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>

namespace {

bool splashEnabled = false;
CStartupSplash* current = nullptr;

}  // namespace

void CStartupSplash::EnableSplash(bool enable) { splashEnabled = enable; }
bool CStartupSplash::Enabled() { return splashEnabled; }
CStartupSplash* CStartupSplash::Current() { return current; }

void CStartupSplash::ShowSplash(QWidget* parent) {
    if (!splashEnabled || current) return;
    current = new CStartupSplash(parent);
    current->show();
    current->repaint();
}

void CStartupSplash::HideSplash() {
    if (!current) return;
    CStartupSplash* splash = current;
    QWidget* owner = splash->owner_;
    current = nullptr;
    splash->hide();
    splash->deleteLater();
    if (owner && owner->isVisible()) {
        // As the window system does when an owned popup goes: the owner is active again.
        if (!QApplication::activeWindow()) owner->activateWindow();
        owner->repaint();
    }
}

QPixmap CStartupSplash::Picture() {
    QPixmap pixmap(420, 240);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient sky(0, 0, 0, 240);
    sky.setColorAt(0, QColor(20, 40, 110));
    sky.setColorAt(1, QColor(80, 140, 210));
    p.fillRect(pixmap.rect(), sky);
    // A row of packets flying over the name.
    for (int i = 0; i < 9; ++i) {
        const QRect packet(28 + i * 42, 40 + (i % 3) * 8, 26, 18);
        p.setPen(QPen(QColor(255, 255, 255, 180), 1));
        p.setBrush(QColor(255, 220, 80, 60 + i * 20));
        p.drawRect(packet);
    }
    QFont title(QStringLiteral("DejaVu Sans"), 40, QFont::Bold);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 90, 420, 60), Qt::AlignCenter, tr("Vantrel"));
    QFont line(QStringLiteral("DejaVu Sans"), 12);
    p.setFont(line);
    p.drawText(QRect(0, 150, 420, 24), Qt::AlignCenter, tr("TFTP Server"));
    p.setPen(QColor(220, 230, 255));
    p.drawText(QRect(0, 200, 410, 24), Qt::AlignRight | Qt::AlignVCenter,
               tr("Brellin  \u00b7  version %1").arg(QStringLiteral(VANTREL_VERSION)));
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(pixmap.rect().adjusted(1, 1, -2, -2));
    return pixmap;
}

CStartupSplash::CStartupSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      picture_(Picture()),
      owner_(parent) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setCursor(Qt::ArrowCursor);
    setFixedSize(picture_.size());
    const QRect over = parent && parent->isVisible() ? parent->frameGeometry()
                       : QGuiApplication::primaryScreen()
                           ? QGuiApplication::primaryScreen()->availableGeometry()
                           : QRect(QPoint(0, 0), picture_.size());
    move(over.center() - rect().center());
    timer_.start(kShowMs, this);
    // The splash has the first look at every event of the program.
    qApp->installEventFilter(this);
}

CStartupSplash::~CStartupSplash() {
    qApp->removeEventFilter(this);
    if (current == this) current = nullptr;
}

void CStartupSplash::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(0, 0, picture_);
}

void CStartupSplash::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timer_.timerId()) {
        timer_.stop();
        HideSplash();
        return;
    }
    QWidget::timerEvent(event);
}

bool CStartupSplash::eventFilter(QObject* watched, QEvent* event) {
    if (current != this) return false;
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
        HideSplash();
        return true;
    case QEvent::ShortcutOverride:
        // Keeps an accelerator from acting before its key press is used up here.
        event->accept();
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}
