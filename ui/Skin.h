#pragma once

#include <QFont>
#include <QPalette>
#include <QString>

class QApplication;

// The dark skin in which every window of the program is drawn: style, palette, font, style sheet
// and window icon. Called once at start-up, before the first window is created.
void ApplySkin(QApplication& App);

// The style sheet ":/skin/dorvik.qss" with the colours of ui/Palette.h filled in.
QString SkinStyleSheet();

// The widget palette built from the same colours, for whatever the style sheet does not cover.
QPalette SkinPalette();

// The program's font. The windows were laid out for an 8-point "Tahoma" or "MS Sans Serif";
// where neither exists the default sans-serif font stands in at the same size.
QFont SkinFont();
