// Fusion with a dark palette, as a desktop with a dark colour scheme gives.
#include <QPalette>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStylePlugin>

namespace {

QPalette DarkPalette() {
    QPalette p;
    const QColor window(0x2d, 0x2d, 0x30), base(0x1e, 0x1e, 0x1e), text(0xe6, 0xe6, 0xe6);
    const QColor disabled(0x7f, 0x7f, 0x7f);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabled);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Light, window.lighter(150));
    p.setColor(QPalette::Midlight, window.lighter(125));
    p.setColor(QPalette::Mid, window.darker(120));
    p.setColor(QPalette::Dark, window.darker(150));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Link, QColor(0x5a, 0xa9, 0xe6));
    p.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    p.setColor(QPalette::HighlightedText, Qt::white);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    return p;
}

class DarkFusion final : public QProxyStyle {
public:
    DarkFusion() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    QPalette standardPalette() const override { return DarkPalette(); }
    // The application's palette passes through here last, after the theme's.
    void polish(QPalette& palette) override { palette = DarkPalette(); }
    using QProxyStyle::polish;
};

class DarkFusionPlugin final : public QStylePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QStyleFactoryInterface" FILE "dark_fusion.json")
public:
    QStyle* create(const QString& key) override {
        return key.compare(QLatin1String("DarkFusion"), Qt::CaseInsensitive) == 0 ? new DarkFusion : nullptr;
    }
};

}  // namespace

#include "dark_fusion.moc"
