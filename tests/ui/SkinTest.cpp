#include "ui/Skin.h"

#include "ui/Palette.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace {

// WCAG 2 relative luminance and contrast ratio.
double Luminance(QColor C)
{
    const auto Channel = [](double V) { return V <= 0.04045 ? V / 12.92 : std::pow((V + 0.055) / 1.055, 2.4); };
    return 0.2126 * Channel(C.redF()) + 0.7152 * Channel(C.greenF()) + 0.0722 * Channel(C.blueF());
}

double Contrast(QColor A, QColor B)
{
    const double La = Luminance(A), Lb = Luminance(B);
    return (std::max(La, Lb) + 0.05) / (std::min(La, Lb) + 0.05);
}

TEST(Contrast, MatchesKnownRatios)
{
    EXPECT_NEAR(Contrast(Qt::black, Qt::white), 21.0, 0.01);
    EXPECT_NEAR(Contrast(QColor(0x77, 0x77, 0x77), Qt::white), 4.48, 0.01);
}

using TDeclarations = std::map<QString, QString>;

// Selector -> declarations of every rule of the sheet.
std::map<QString, TDeclarations> ParseSheet(QString Sheet)
{
    Sheet.remove(QRegularExpression(QStringLiteral("/\\*.*?\\*/"), QRegularExpression::DotMatchesEverythingOption));
    std::map<QString, TDeclarations> Rules;
    static const QRegularExpression Rule(QStringLiteral("([^{}]+)\\{([^}]*)\\}"));
    for (const QRegularExpressionMatch& M : Rule.globalMatch(Sheet)) {
        TDeclarations Declarations;
        for (const QString& D : M.captured(2).split(';', Qt::SkipEmptyParts)) {
            const qsizetype Colon = D.indexOf(':');
            if (Colon > 0)
                Declarations[D.left(Colon).trimmed()] = D.mid(Colon + 1).trimmed();
        }
        for (const QString& Selector : M.captured(1).split(',')) {
            TDeclarations& Target = Rules[Selector.simplified()];
            for (const auto& [Key, Value] : Declarations)
                Target[Key] = Value;
        }
    }
    return Rules;
}

// "QPushButton:hover" inherits from "QPushButton". A sub-control such as "QMenu::item" sits on
// the background of its control, but shows text of its own only where it says so: a progress
// bar's band carries no text.
QStringList Ancestry(const QString& Selector, bool IntoControl)
{
    QStringList Chain{Selector};
    static const QRegularExpression State(QStringLiteral("(?<!:):[\\w-]+$"));
    static const QRegularExpression Sub(QStringLiteral("::[\\w-]+$"));
    QString S = Selector;
    while (true) {
        QString Next = S;
        Next.remove(State);
        if (Next == S && IntoControl)
            Next.remove(Sub);
        if (Next == S || Next.isEmpty())
            return Chain;
        Chain << Next;
        S = Next;
    }
}

std::optional<QColor> Lookup(const std::map<QString, TDeclarations>& Rules, const QString& Selector,
                             std::initializer_list<const char*> Keys, bool IntoControl)
{
    for (const QString& S : Ancestry(Selector, IntoControl)) {
        const auto Rule = Rules.find(S);
        if (Rule == Rules.end())
            continue;
        for (const char* Key : Keys) {
            const auto Found = Rule->second.find(QLatin1String(Key));
            if (Found != Rule->second.end() && QColor::isValidColorName(Found->second))
                return QColor::fromString(Found->second);
        }
    }
    return std::nullopt;
}

TEST(Skin, StyleSheetUsesOnlyPaletteColours)
{
    const QString Sheet = SkinStyleSheet();
    EXPECT_FALSE(Sheet.contains('@')) << "every @Name@ is a colour of the palette";
    EXPECT_TRUE(Sheet.contains("#9d9d9d")) << "labels are grey";
    EXPECT_TRUE(Sheet.contains("#1a1a1a")) << "edits are dark";
    // Colours written straight into the sheet would escape the contrast check below.
    QFile File(":/skin/dorvik.qss");
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    const QString Template = QString::fromUtf8(File.readAll());
    EXPECT_FALSE(Template.contains(QRegularExpression("#[0-9A-Fa-f]{3,8}\\b|rgba?\\(|\\b(white|black|gr[ae]y)\\b")));
}

TEST(Skin, EveryTextOfTheStyleSheetStandsOutFromItsBackground)
{
    const auto Rules = ParseSheet(SkinStyleSheet());
    int Checked = 0;
    for (const auto& [Selector, Declarations] : Rules) {
        if (Selector.contains(":disabled")) // disabled controls are exempt
            continue;
        const auto Check = [&, S = Selector](QColor Text, QColor Back) {
            ++Checked;
            EXPECT_GE(Contrast(Text, Back), 4.5) << S.toStdString() << ": " << Text.name().toStdString()
                                                 << " on " << Back.name().toStdString();
        };
        if (const auto Text = Lookup(Rules, Selector, {"color"}, false)) {
            // Text without a background of its own sits on a window or a panel.
            std::vector<QColor> Backs;
            const auto Back = Lookup(Rules, Selector, {"background-color", "background"}, true);
            if (Back && Back->alpha() == 255)
                Backs.push_back(*Back);
            else
                for (QRgb Surface : SkinSurfaces)
                    Backs.push_back(QColor::fromRgb(Surface));
            if (const auto Alternate = Lookup(Rules, Selector, {"alternate-background-color"}, true))
                Backs.push_back(*Alternate);
            for (const QColor& B : Backs)
                Check(*Text, B);
        }
        const auto Selected = Lookup(Rules, Selector, {"selection-color"}, false);
        const auto SelectedBack = Lookup(Rules, Selector, {"selection-background-color"}, true);
        if (Selected && SelectedBack)
            Check(*Selected, *SelectedBack);
    }
    EXPECT_GT(Checked, 20);
}

// A focus rim must be seen (3:1) against the surface it sits on and the one it surrounds.
TEST(Skin, EveryFocusRimStandsOutFromItsNeighbours)
{
    using namespace SkinColours;
    const struct
    {
        const char* Rim;
        QRgb Colour;
        std::vector<QRgb> Neighbours;
    } Rims[] = {
        {"button", Accent, {Window, Panel, Button}},
        {"edit, combo box, list", Accent, {Window, Panel, Edit}},
        {"focused row", Accent, {Edit, ListAlternate}},
        {"focused selected row", HighlightText, {Highlight}},
    };
    const QString Sheet = SkinStyleSheet();
    EXPECT_TRUE(Sheet.contains("QAbstractItemView::item:focus:selected { border: 1px solid #ffffff; }"));
    for (const auto& R : Rims)
        for (QRgb N : R.Neighbours)
            EXPECT_GE(Contrast(QColor::fromRgb(R.Colour), QColor::fromRgb(N)), 3.0)
                << R.Rim << " against " << QColor::fromRgb(N).name().toStdString();
}

TEST(Skin, EveryTextOfThePaletteStandsOutFromItsBackground)
{
    const QPalette P = SkinPalette();
    const std::pair<QPalette::ColorRole, QPalette::ColorRole> Pairs[] = {
        {QPalette::WindowText, QPalette::Window},   {QPalette::Text, QPalette::Base},
        {QPalette::Text, QPalette::AlternateBase},  {QPalette::ButtonText, QPalette::Button},
        {QPalette::HighlightedText, QPalette::Highlight}, {QPalette::ToolTipText, QPalette::ToolTipBase},
        {QPalette::PlaceholderText, QPalette::Base},
    };
    for (const auto& [Text, Back] : Pairs)
        EXPECT_GE(Contrast(P.color(QPalette::Active, Text), P.color(QPalette::Active, Back)), 4.5)
            << "roles " << Text << " on " << Back;
}

TEST(Skin, AppliedSkinGivesLabelsTheirGreyAndAReadableFont)
{
    ApplySkin(*qApp);
    QLabel Label("Desired behavior:");
    Label.ensurePolished();
    EXPECT_EQ(Label.palette().color(QPalette::WindowText), QColor(0x9D, 0x9D, 0x9D));
    const QFontInfo Info(Label.font());
    EXPECT_TRUE(QFontDatabase::hasFamily(Info.family())) << Info.family().toStdString();
    EXPECT_EQ(Info.pointSize(), 8);
    EXPECT_LE(Label.sizeHint().height(), 16) << "the windows were laid out for 13-pixel text";
    qApp->setStyleSheet(QString());
}

} // namespace
