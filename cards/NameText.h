#pragma once

#include <QByteArray>
#include <QString>

// Card names are 8-bit text in memory and in .tdb files; the screen is Unicode. Files made on
// Windows PCs hold Windows-1252, names typed here may need more, so:

// A name shown on screen: as UTF-8 when its bytes are valid UTF-8, else as Windows-1252.
QString NameToText(const QByteArray& Name);

// A name typed by the user: Windows-1252 when every character fits, else UTF-8.
QByteArray TextToName(const QString& Text);
