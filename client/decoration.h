// The client's own picture: the form's decoration and the window's icon.
#pragma once

#include <QPixmap>

// A rock in the sea under a low sun, 72 by 72 pixels.
QPixmap Decoration();
