#include "ui/Skin.h"

#include "common/Errors.h"
#include "ui/Palette.h"
#include "ui/Pictures.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QStyleFactory>

#include <algorithm>

namespace {

QColor NamedColour(const QString& Name)
{
    const auto Found = std::find_if(SkinColourTable.begin(), SkinColourTable.end(),
                                    [&](const TSkinColour& C) { return Name == QLatin1String(C.Name); });
    if (Found == SkinColourTable.end())
        throw Exception(Format("Unknown skin colour \"%s\"", qPrintable(Name)));
    return QColor::fromRgb(Found->Value);
}

QString ReadSkinFile()
{
    QFile File(QStringLiteral(":/skin/dorvik.qss"));
    if (!File.open(QIODevice::ReadOnly | QIODevice::Text))
        throw Exception("Missing skin \":/skin/dorvik.qss\"");
    return QString::fromUtf8(File.readAll());
}

// Fusion, with the message box icons drawn in the style of the program's own pictures and the
// buttons of a box in one order on every desktop: OK before Cancel, Yes before No.
class TSkinStyle : public QProxyStyle
{
public:
    TSkinStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    int styleHint(StyleHint Hint, const QStyleOption* Option, const QWidget* Widget,
                  QStyleHintReturn* Return) const override
    {
        if (Hint == SH_DialogButtonLayout)
            return QDialogButtonBox::WinLayout;
        return QProxyStyle::styleHint(Hint, Option, Widget, Return);
    }

    QIcon standardIcon(StandardPixmap Which, const QStyleOption* Option, const QWidget* Widget) const override
    {
        switch (Which) {
        case SP_MessageBoxInformation:
            return PictureIcon(QStringLiteral("info-disc"), QSize(32, 32));
        case SP_MessageBoxCritical:
            return PictureIcon(QStringLiteral("error-disc"), QSize(32, 32));
        case SP_MessageBoxWarning:
            return PictureIcon(QStringLiteral("warning-triangle"), QSize(32, 32));
        case SP_MessageBoxQuestion:
            return PictureIcon(QStringLiteral("question-disc"), QSize(32, 32));
        default:
            return QProxyStyle::standardIcon(Which, Option, Widget);
        }
    }
};

} // namespace

QString SkinStyleSheet()
{
    const QString Template = ReadSkinFile();
    static const QRegularExpression Placeholder(QStringLiteral("@(\\w+)@"));
    QString Result;
    qsizetype Done = 0;
    for (const QRegularExpressionMatch& M : Placeholder.globalMatch(Template)) {
        Result += QStringView(Template).mid(Done, M.capturedStart() - Done);
        Result += NamedColour(M.captured(1)).name(QColor::HexRgb);
        Done = M.capturedEnd();
    }
    Result += QStringView(Template).mid(Done);
    return Result;
}

QPalette SkinPalette()
{
    using namespace SkinColours;
    QPalette P;
    const auto Set = [&](QPalette::ColorRole Role, QRgb Colour) { P.setColor(Role, QColor::fromRgb(Colour)); };
    Set(QPalette::Window, Window);
    Set(QPalette::WindowText, Label);
    Set(QPalette::Base, Edit);
    Set(QPalette::AlternateBase, ListAlternate);
    Set(QPalette::Text, EditText);
    Set(QPalette::PlaceholderText, Label);
    Set(QPalette::Button, Button);
    Set(QPalette::ButtonText, ButtonText);
    Set(QPalette::BrightText, HighlightText);
    Set(QPalette::Highlight, Highlight);
    Set(QPalette::HighlightedText, HighlightText);
    Set(QPalette::ToolTipBase, Edit);
    Set(QPalette::ToolTipText, Text);
    Set(QPalette::Link, Accent);
    Set(QPalette::Light, ButtonHover);
    Set(QPalette::Midlight, Button);
    Set(QPalette::Mid, Frame);
    Set(QPalette::Dark, ButtonPressed);
    Set(QPalette::Shadow, 0xFF000000);
    for (const auto Role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        P.setColor(QPalette::Disabled, Role, QColor::fromRgb(Disabled));
    return P;
}

QFont SkinFont()
{
    QFont Font;
    Font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans")});
    Font.setStyleHint(QFont::SansSerif);
    Font.setPointSize(8);
    return Font;
}

void ApplySkin(QApplication& App)
{
    // Fusion draws everything from the palette, so what the style sheet leaves to the style
    // (the combo box arrow, check marks) comes out dark as well.
    App.setStyle(new TSkinStyle);
    App.setPalette(SkinPalette());
    App.setFont(SkinFont());
    App.setStyleSheet(SkinStyleSheet());
    App.setWindowIcon(PictureIcon(QStringLiteral("app-icon"), QSize(64, 64)));
}
