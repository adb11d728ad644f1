#include "ui/Pictures.h"

#include "common/Errors.h"

#include <QApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>

#include <cmath>

namespace {

QString PicturePath(const QString& Name) { return QStringLiteral(":/pictures/%1.svg").arg(Name); }

// The part of Bounds that a picture of the given proportions fills, centred.
QRectF FittedRect(const QSizeF& Picture, const QRectF& Bounds)
{
    const QSizeF Fitted = Picture.scaled(Bounds.size(), Qt::KeepAspectRatio);
    return QRectF(Bounds.x() + (Bounds.width() - Fitted.width()) / 2,
                  Bounds.y() + (Bounds.height() - Fitted.height()) / 2, Fitted.width(),
                  Fitted.height());
}

QImage RenderPicture(const QString& Name, const QSize& PixelSize)
{
    QSvgRenderer Renderer(PicturePath(Name));
    if (!Renderer.isValid())
        throw Exception(Format("Missing picture \"%s\"", qPrintable(Name)));
    QImage Image(PixelSize, QImage::Format_ARGB32_Premultiplied);
    Image.fill(Qt::transparent);
    QPainter Painter(&Image);
    Renderer.render(&Painter, FittedRect(Renderer.viewBoxF().size(), QRectF(QPointF(0, 0), PixelSize)));
    return Image;
}

class TPictureIconEngine : public QIconEngine
{
public:
    TPictureIconEngine(const QString& Name, const QSize& Size) : FName(Name), FSize(Size) {}

    QPixmap pixmap(const QSize& Size, QIcon::Mode Mode, QIcon::State) override
    {
        QPixmap Result = QPixmap::fromImage(RenderPicture(FName, Size));
        if (Mode == QIcon::Disabled) {
            QStyleOption Option;
            Option.palette = QApplication::palette();
            Result = QApplication::style()->generatedIconPixmap(Mode, Result, &Option);
        }
        return Result;
    }

    void paint(QPainter* Painter, const QRect& Rect, QIcon::Mode Mode, QIcon::State State) override
    {
        const qreal Ratio = Painter->device()->devicePixelRatioF();
        const QSize PixelSize(int(std::ceil(Rect.width() * Ratio)), int(std::ceil(Rect.height() * Ratio)));
        QPixmap Drawn = pixmap(PixelSize, Mode, State);
        Drawn.setDevicePixelRatio(Ratio);
        Painter->drawPixmap(Rect.topLeft(), Drawn);
    }

    QSize actualSize(const QSize& Size, QIcon::Mode, QIcon::State) override
    {
        return FSize.scaled(Size, Qt::KeepAspectRatio).boundedTo(Size);
    }

    QIconEngine* clone() const override { return new TPictureIconEngine(FName, FSize); }
    QString key() const override { return QStringLiteral("DorvikPicture"); }

private:
    QString FName;
    QSize FSize;
};

} // namespace

QPixmap Picture(const QString& Name, const QSize& Size, qreal DevicePixelRatio)
{
    const QSize PixelSize(int(std::ceil(Size.width() * DevicePixelRatio)),
                          int(std::ceil(Size.height() * DevicePixelRatio)));
    QPixmap Result = QPixmap::fromImage(RenderPicture(Name, PixelSize));
    Result.setDevicePixelRatio(DevicePixelRatio);
    return Result;
}

QIcon PictureIcon(const QString& Name, const QSize& Size)
{
    // Fail now, where the icon is made, rather than later in a paint event.
    RenderPicture(Name, QSize(1, 1));
    return QIcon(new TPictureIconEngine(Name, Size));
}
