#pragma once

class QWidget;

// What the main window offers beyond the mouse: names and roles for assistive technology, the
// usual desktop shortcuts, and a card number column wide enough for the font in use.
void SetUpMainFormAccess(QWidget& Form);

// The roles that Qt does not give the program's windows by itself: its top-level windows are
// windows, its command bands tool bars.
void InstallAccessibleRoles();

// The widest text the card number column has to show.
inline constexpr char WidestCardNumber[] = "4294967295 65535,65535";
