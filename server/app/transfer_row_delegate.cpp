#include "transfer_row_delegate.h"

#include "server/app/transfer_list_model.h"
#include "server/app/transfer_rows.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kTextMargin = 2;

}  // namespace

TransferRowDelegate::TransferRowDelegate(std::function<bool()> graphicFlag, QObject* parent)
    : QStyledItemDelegate(parent), graphicFlag_(std::move(graphicFlag)) {}

QColor TransferRowDelegate::TextColour(std::int32_t itemValue) {
    switch (itemValue) {
    case kItemEnded: return QColor(0, 0, 0);
    case kItemFailed: return QColor(255, 0, 0);
    case kItemAbandoned: return QColor(255, 255, 0);
    default: return QColor(0, 0, 255);
    }
}

void TransferRowDelegate::PaintBar(QPainter* painter, const QRect& cell, int value) {
    // Edges as the window system counts them: right and bottom exclusive.
    const int x = cell.x();
    const int w = cell.width();
    const int top = cell.y();
    const int bottom = cell.y() + cell.height();
    const int frameRight = x + w - 2;
    if (frameRight <= x || bottom <= top) return;
    painter->save();
    painter->setClipRect(cell);
    // One-pixel frame around (x, top)-(x + w - 2, bottom).
    painter->fillRect(QRect(x, top, frameRight - x, 1), kBarFrame);
    painter->fillRect(QRect(x, bottom - 1, frameRight - x, 1), kBarFrame);
    painter->fillRect(QRect(x, top, 1, bottom - top), kBarFrame);
    painter->fillRect(QRect(frameRight - 1, top, 1, bottom - top), kBarFrame);
    // The bar: (x + 1, top + 1)-(x - 1 + trunc((w - 2) * 0.01 * value), bottom - 1).
    const double length = std::trunc((w - 2) * 0.01 * value);
    const int barRight = x - 1 + static_cast<int>(std::min(length, 1e6));
    if (barRight > x + 1 && bottom - 1 > top + 1)
        painter->fillRect(QRect(x + 1, top + 1, barRight - (x + 1), (bottom - 1) - (top + 1)), kBarFill);
    painter->restore();
}

QString TransferRowDelegate::Elide(const QFontMetrics& metrics, const QString& text, int width,
                                   bool path) {
    if (metrics.horizontalAdvance(text) <= width) return text;
    if (path) {
        // Keep the file name: the folder part gives way first.
        const int slash = text.lastIndexOf(QLatin1Char('/'));
        if (slash > 0) {
            const QString tail = text.mid(slash);
            const int room = width - metrics.horizontalAdvance(tail);
            const QString head = metrics.elidedText(text.left(slash), Qt::ElideRight, std::max(room, 0));
            if (room > 0 && !head.isEmpty()) return head + tail;
            // Not even the file name fits: it keeps its start and its end
            // (boot files differ at the end: ...01-52-54-00-12-34-56).
            return metrics.elidedText(tr("\u2026") + tail, Qt::ElideMiddle, width);
        }
        return metrics.elidedText(text, Qt::ElideMiddle, width);
    }
    return metrics.elidedText(text, Qt::ElideRight, width);
}

void TransferRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const QRect cell = option.rect;
    if (index.column() == kColumnStatus && graphicFlag_ && graphicFlag_()) {
        const int value = index.data(TransferListModel::kGraphicValueRole).toInt();
        if (value > 0) {
            PaintBar(painter, cell, value);
            return;
        }
    }
    painter->fillRect(cell, kCellGrey);
    const auto itemValue = static_cast<std::int32_t>(index.data(TransferListModel::kItemValueRole).toInt());
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty()) return;
    const QRect area = cell.adjusted(kTextMargin, 0, -kTextMargin, 0);
    painter->save();
    painter->setFont(option.font);
    painter->setPen(TextColour(itemValue));
    const QString shown = Elide(option.fontMetrics, text, area.width(), index.column() == kColumnFile);
    painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    painter->restore();
}

QSize TransferRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return QSize(40, option.fontMetrics.height() + 4);
}
