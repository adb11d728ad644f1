#pragma once

#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

// The program's pictures are SVG files compiled in as ":/pictures/<Name>.svg". They are drawn
// at the pixel density of the screen, so they stay crisp on high-DPI screens.

// Name drawn into Size (device-independent pixels) at DevicePixelRatio, on a transparent
// background, keeping its proportions. Throws Exception when there is no picture of that name.
QPixmap Picture(const QString& Name, const QSize& Size,
                qreal DevicePixelRatio = qApp->devicePixelRatio());

// An icon that draws Name afresh at whatever size and pixel density it is asked for; the
// disabled look comes from the style. Size is the size it reports as its natural one.
QIcon PictureIcon(const QString& Name, const QSize& Size);
