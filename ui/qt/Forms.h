// What both windows share: the font, the background and the panels.
#pragma once

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QRect>

namespace dxfkonv {

inline const QColor kFormColor(128, 128, 128);

// "MS Sans Serif" at 8 points, or the nearest sans-serif font there is.
QFont FormFont();

// Gives a top-level window its font and gray background.
void StyleForm(QWidget* form);

// A panel with a lowered inner bevel at `geometry` within `parent`.
QFrame* MakePanel(QWidget* parent, const char* name, const QRect& geometry);

}  // namespace dxfkonv
