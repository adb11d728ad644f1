#include "ui/Pictures.h"

#include <QPainter>

#include <gtest/gtest.h>

namespace {

struct TPicture
{
    const char* Name;
    QSize Size;
};

const TPicture AllPictures[] = {
    {"question-disc", {64, 64}}, {"tick", {24, 24}},        {"arrow-tray", {64, 64}},  {"usb-plug", {128, 128}},
    {"logo", {257, 59}},         {"cmd-connect", {32, 32}}, {"cmd-read", {32, 32}},    {"cmd-write", {32, 32}},
    {"cmd-edit", {32, 32}},      {"cmd-master", {32, 32}},  {"cmd-load", {32, 32}},    {"cmd-save", {32, 32}},
    {"cmd-delete", {32, 32}},    {"cmd-clear", {32, 32}},   {"cmd-door", {32, 32}},    {"card", {16, 16}},
    {"app-icon", {64, 64}},      {"info-disc", {32, 32}},   {"error-disc", {32, 32}},  {"warning-triangle", {32, 32}},
};

int OpaquePixels(const QImage& Image)
{
    int Count = 0;
    for (int Y = 0; Y < Image.height(); ++Y)
        for (int X = 0; X < Image.width(); ++X)
            Count += qAlpha(Image.pixel(X, Y)) > 0;
    return Count;
}

TEST(Pictures, EveryPictureIsDrawnOnATransparentBackground)
{
    for (const TPicture& P : AllPictures) {
        const QImage Image = Picture(P.Name, P.Size, 1.0).toImage();
        ASSERT_EQ(Image.size(), P.Size) << P.Name;
        const int Opaque = OpaquePixels(Image);
        EXPECT_GT(Opaque, P.Size.width() * P.Size.height() / 20) << P.Name << " draws something";
        EXPECT_EQ(qAlpha(Image.pixel(0, 0)), 0) << P.Name << " leaves its corner transparent";
    }
}

TEST(Pictures, AreDrawnAtTheScreensPixelDensity)
{
    const QPixmap Sharp = Picture("tick", QSize(24, 24), 2.0);
    EXPECT_EQ(Sharp.size(), QSize(48, 48));
    EXPECT_EQ(Sharp.deviceIndependentSize(), QSizeF(24, 24));

    // Drawn afresh at the density, not a small picture blown up.
    QImage Drawn = Sharp.toImage();
    Drawn.setDevicePixelRatio(1.0);
    EXPECT_EQ(Drawn, Picture("tick", QSize(48, 48), 1.0).toImage());

    const QIcon Icon = PictureIcon("cmd-read", QSize(32, 32));
    EXPECT_EQ(Icon.pixmap(QSize(32, 32), 2.0).size(), QSize(64, 64));
    EXPECT_EQ(Icon.actualSize(QSize(64, 64)), QSize(64, 64));
    EXPECT_GT(OpaquePixels(Icon.pixmap(QSize(32, 32), 3.0).toImage()), 96 * 96 / 20);
}

TEST(Pictures, KeepTheirProportions)
{
    const QImage Logo = Picture("logo", QSize(257, 257), 1.0).toImage();
    EXPECT_EQ(qAlpha(Logo.pixel(128, 10)), 0) << "the wordmark is centred, not stretched to fill";
    EXPECT_EQ(PictureIcon("logo", QSize(257, 59)).actualSize(QSize(514, 514)), QSize(514, 118));
}

TEST(Pictures, AnUnknownNameIsAnError)
{
    EXPECT_THROW(Picture("no-such-picture", QSize(16, 16)), std::exception);
    EXPECT_THROW(PictureIcon("no-such-picture", QSize(16, 16)), std::exception);
}

} // namespace
