#include "status_pane.h"

#include <QPainter>
#include <QStyle>

CStatusPane::CStatusPane(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
}

void CStatusPane::SetText(const QString& text) {
    setText(text);
    UpdateToolTip();
}

QString CStatusPane::ShownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

QSize CStatusPane::sizeHint() const { return {0, QLabel::sizeHint().height()}; }
QSize CStatusPane::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

void CStatusPane::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, contentsRect(), QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), ShownText(), foregroundRole());
}

void CStatusPane::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    UpdateToolTip();
}

void CStatusPane::UpdateToolTip() { setToolTip(ShownText() == text() ? QString() : text()); }
