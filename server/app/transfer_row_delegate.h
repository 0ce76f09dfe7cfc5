// Draws the rows of the transfer list: every cell on light grey in the colour
// of the row's state, and in graphic mode the progress of the Status cell as
// a blue bar in a red frame.
#pragma once

#include <QColor>
#include <QStyledItemDelegate>

#include <cstdint>
#include <functional>

class TransferRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static inline const QColor kCellGrey{192, 192, 192};
    static inline const QColor kBarFrame{255, 0, 0};
    static inline const QColor kBarFill{0, 0, 255};

    // graphicFlag tells whether the Status column shows bars.
    TransferRowDelegate(std::function<bool()> graphicFlag, QObject* parent = nullptr);

    // The text colour of a row by its item value: blue while running, black
    // when ended, red when timed out (and the "Ready" row), yellow when
    // abandoned.
    static QColor TextColour(std::int32_t itemValue);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The bar of a graphic Status cell at cell with value percent.
    static void PaintBar(QPainter* painter, const QRect& cell, int value);
    // Text shortened to width: a path loses the end of its folder part and
    // keeps its file name, and where even that does not fit, the middle of
    // the file name; other texts lose their end.
    static QString Elide(const QFontMetrics& metrics, const QString& text, int width, bool path);

private:
    std::function<bool()> graphicFlag_;
};
