#include "new_client_alert.h"

#include "platform/control_ids.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimerEvent>
#include <QVBoxLayout>

namespace {

const QColor kMagenta(255, 0, 255);

void DrawComputer(QPainter& p, const QRect& r, const QColor& screen) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(220, 220, 220));
    p.drawRect(r.adjusted(0, 0, -1, -6));
    p.setBrush(screen);
    p.drawRect(r.adjusted(3, 3, -4, -9));
    p.setBrush(QColor(160, 160, 160));
    p.drawRect(QRect(r.center().x() - 6, r.bottom() - 5, 12, 4));
}

}  // namespace

CAlertAnimation::CAlertAnimation(QWidget* parent) : QWidget(parent) {
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CAlertAnimation::Play() {
    frame_ = 0;
    timer_.start(kFrameMs, this);
    update();
}

void CAlertAnimation::Stop() { timer_.stop(); }

void CAlertAnimation::DrawFrame(QPainter& p, int frame) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.fillRect(QRect(0, 0, kWidth, kHeight), kMagenta);
    // The server on the left, the client on the right, the wire between.
    DrawComputer(p, QRect(6, 4, 36, 32), QColor(0, 0, 160));
    const bool arrived = frame >= kFrames - 3;
    DrawComputer(p, QRect(kWidth - 42, 4, 36, 32), arrived ? QColor(0, 200, 0) : QColor(0, 80, 0));
    p.setPen(QPen(Qt::white, 2, Qt::DotLine));
    p.drawLine(46, 18, kWidth - 46, 18);
    // The packet: an envelope moving one step a frame.
    const int travel = (kWidth - 46 - 18) - 46;
    const int x = 46 + travel * frame / (kFrames - 1);
    QRect envelope(x, 11, 18, 14);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(255, 255, 160));
    p.drawRect(envelope);
    QPainterPath flap;
    flap.moveTo(envelope.topLeft());
    flap.lineTo(envelope.center().x(), envelope.center().y() + 1);
    flap.lineTo(envelope.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
    p.restore();
}

void CAlertAnimation::paintEvent(QPaintEvent*) {
    QPainter p(this);
    DrawFrame(p, frame_);
}

void CAlertAnimation::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    frame_ = (frame_ + 1) % kFrames;
    update();
}

CNewClientAlert::CNewClientAlert() : QDialog(nullptr) {
    setWindowTitle(tr(kTitle));
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setModal(false);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kMagenta);
    setPalette(pal);
    setAutoFillBackground(true);

    animation_ = new CAlertAnimation(this);
    platform::SetControlId(animation_, IDC_ANIMATE);
    edit_ = new QLineEdit(this);
    edit_->setReadOnly(true);
    edit_->setAlignment(Qt::AlignCenter);
    edit_->setFrame(true);
    platform::SetControlId(edit_, IDC_CLIENT);
    ok_ = new QPushButton(tr("OK"), this);
    ok_->setDefault(true);
    platform::SetControlId(ok_, IDOK_BUTTON);
    connect(ok_, &QPushButton::clicked, this, &QWidget::hide);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(animation_, 0, Qt::AlignHCenter);
    layout->addWidget(edit_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    // Presses on any part of the box reach this filter before the control.
    for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
    animation_->Play();
}

void CNewClientAlert::ShowClient(const QString& client) {
    client_ = client;
    edit_->setText(client);
    showNormal();
    raise();
}

bool CNewClientAlert::HidesOn(const QEvent* event) const {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::KeyPress:
        return true;
    default:
        return false;
    }
}

bool CNewClientAlert::eventFilter(QObject* watched, QEvent* event) {
    if (HidesOn(event)) {
        hide();
        return true;  // the press goes no further, not even to the OK button
    }
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool CNewClientAlert::event(QEvent* event) {
    if (HidesOn(event)) {
        hide();
        return true;
    }
    // Shortcut keys would reach the dialog's buttons before the key press.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    return QDialog::event(event);
}
