#pragma once
#include <QIcon>

// The pictures the windows carry, drawn rather than stored.
namespace Artwork {
// Yellow disc outlined in black with "OV" in black italic capitals, 32 x 32.
QIcon productIcon();
// Red disc with a white diagonal cross, in 32 x 32 and 16 x 16.
QIcon exitIcon();
// Nothing drawn, in 32 x 32 and 16 x 16: the icon of a window that shows
// none. An empty QIcon would not do, as a window without an icon of its
// own shows its parent's or the application's.
QIcon blankIcon();
}
