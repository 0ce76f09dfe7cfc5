#include "tinted_icons.h"

#include <QAction>
#include <QEvent>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <utility>
#include <vector>

namespace platform {

namespace {

// The glyph's shape filled with one colour, at every size the icon offers.
QIcon Tinted(const QIcon& glyph, const QColor& color) {
    QList<QSize> sizes = glyph.availableSizes();
    if (sizes.isEmpty()) sizes = {QSize(16, 16), QSize(32, 32)};
    QIcon tinted;
    for (const QSize& size : sizes) {
        QPixmap pixmap = glyph.pixmap(size);
        if (pixmap.isNull()) continue;
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
        painter.end();
        tinted.addPixmap(pixmap);
    }
    return tinted;
}

class IconTinter final : public QObject {
public:
    IconTinter(QWidget* owner, const QList<QAction*>& actions) : QObject(owner), owner_(owner) {
        for (QAction* action : actions)
            if (action) glyphs_.emplace_back(action, action->icon());
        owner->installEventFilter(this);
        Apply();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == owner_ && event->type() == QEvent::PaletteChange) Apply();
        return false;
    }

private:
    void Apply() {
        const QColor color = owner_->palette().color(QPalette::Active, QPalette::ButtonText);
        for (auto& [action, glyph] : glyphs_)
            if (action) action->setIcon(Tinted(glyph, color));
    }

    QWidget* owner_;
    std::vector<std::pair<QPointer<QAction>, QIcon>> glyphs_;
};

}  // namespace

void TintToolIcons(QWidget* owner, const QList<QAction*>& actions) { new IconTinter(owner, actions); }

}  // namespace platform
