#pragma once

#include <QColor>
#include <QString>

#include <array>

// The colours of the dark skin, in one place: the style sheet names them as @Name@ and the
// widget palette is built from them, so a colour is changed here or nowhere.
namespace SkinColours {
inline constexpr QRgb Window = 0xFF252526;        // window and dialog backgrounds
inline constexpr QRgb Panel = 0xFF2D2D30;         // panels and bands inside a window
inline constexpr QRgb Frame = 0xFF3F3F46;         // panel and edit borders
inline constexpr QRgb Label = 0xFF9D9D9D;         // label text
inline constexpr QRgb Text = 0xFFD4D4D4;          // captions of radio buttons and other controls
inline constexpr QRgb Edit = 0xFF1A1A1A;          // edit and list backgrounds
inline constexpr QRgb EditText = 0xFFBDBDBD;      // text typed into edits and shown in lists
inline constexpr QRgb ListAlternate = 0xFF202022; // every other row of a list
inline constexpr QRgb Button = 0xFF3A3A3D;
inline constexpr QRgb ButtonHover = 0xFF46464A;
inline constexpr QRgb ButtonPressed = 0xFF2A2A2D;
inline constexpr QRgb ButtonBorder = 0xFF55555B;
inline constexpr QRgb ButtonText = 0xFFE0E0E0;
inline constexpr QRgb Accent = 0xFF3E8ED0;        // focus and default-button rims
inline constexpr QRgb Highlight = 0xFF2F6EA5;     // selected rows and text
inline constexpr QRgb HighlightText = 0xFFFFFFFF;
inline constexpr QRgb Disabled = 0xFF6E6E6E;      // text of disabled controls
inline constexpr QRgb Progress = 0xFF3FAE49;      // the moving band of a progress bar
inline constexpr QRgb ScrollHandle = 0xFF4A4A4F;
inline constexpr QRgb ScrollHandleHover = 0xFF5C5C62;
} // namespace SkinColours

struct TSkinColour
{
    const char* Name;
    QRgb Value;
};

inline constexpr std::array<TSkinColour, 20> SkinColourTable{{
    {"Window", SkinColours::Window},
    {"Panel", SkinColours::Panel},
    {"Frame", SkinColours::Frame},
    {"Label", SkinColours::Label},
    {"Text", SkinColours::Text},
    {"Edit", SkinColours::Edit},
    {"EditText", SkinColours::EditText},
    {"ListAlternate", SkinColours::ListAlternate},
    {"Button", SkinColours::Button},
    {"ButtonHover", SkinColours::ButtonHover},
    {"ButtonPressed", SkinColours::ButtonPressed},
    {"ButtonBorder", SkinColours::ButtonBorder},
    {"ButtonText", SkinColours::ButtonText},
    {"Accent", SkinColours::Accent},
    {"Highlight", SkinColours::Highlight},
    {"HighlightText", SkinColours::HighlightText},
    {"Disabled", SkinColours::Disabled},
    {"Progress", SkinColours::Progress},
    {"ScrollHandle", SkinColours::ScrollHandle},
    {"ScrollHandleHover", SkinColours::ScrollHandleHover},
}};

// The backgrounds that text without a background of its own (labels, radio buttons) sits on.
inline constexpr std::array<QRgb, 2> SkinSurfaces{SkinColours::Window, SkinColours::Panel};
