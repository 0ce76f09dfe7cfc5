// Tool glyphs follow the palette: drawn in its button-text colour, again when
// the palette changes (a dark palette must not leave dark glyphs).
#include "platform/tinted_icons.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QStyle>
#include <QWidget>

#include <set>

#include <gtest/gtest.h>

namespace {

// The colours of the glyph's opaque pixels at 16 x 16.
std::set<QRgb> GlyphColours(const QAction& action) {
    const QImage image = action.icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) == 255) colours.insert(image.pixel(x, y) | 0xFF000000u);
    return colours;
}

}  // namespace

TEST(TintToolIcons, GlyphsTakeThePaletteTextColourAndFollowItsChanges) {
    QWidget owner;
    QAction stop(owner.style()->standardIcon(QStyle::SP_MediaStop), "Stop", &owner);
    QAction help(owner.style()->standardIcon(QStyle::SP_TitleBarContextHelpButton), "Help", &owner);
    ASSERT_FALSE(GlyphColours(stop).empty());

    for (const QColor text : {QColor(0xe6, 0xe6, 0xe6), QColor(0x10, 0x20, 0x30)}) {
        QPalette palette = owner.palette();
        palette.setColor(QPalette::ButtonText, text);
        owner.setPalette(palette);
        if (text == QColor(0xe6, 0xe6, 0xe6)) platform::TintToolIcons(&owner, {&stop, &help});
        for (const QAction* action : {&stop, &help}) {
            const std::set<QRgb> colours = GlyphColours(*action);
            ASSERT_FALSE(colours.empty()) << action->text().toStdString();
            EXPECT_EQ(colours, std::set<QRgb>{text.rgb()}) << action->text().toStdString();
        }
    }
}
