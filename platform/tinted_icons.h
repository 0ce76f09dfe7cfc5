// Toolbar glyphs that stay readable on any palette. The style's stock glyphs
// (stop, start, context help) are dark grey and vanish on a dark palette:
// these are drawn in the palette's text colour instead, and drawn again when
// the palette changes.
#pragma once

#include <QList>

class QAction;
class QWidget;

namespace platform {

// Tints the current icon of each action; owner's palette gives the colour.
void TintToolIcons(QWidget* owner, const QList<QAction*>& actions);

}  // namespace platform
