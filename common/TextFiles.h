#pragma once

#include <QString>

// Whole text files in UTF-8, with the card database file's messages for a file that cannot be
// opened or created.

// Raises Exception when the file cannot be read or is not UTF-8. A byte order mark is dropped.
QString ReadUtf8File(const QString& FileName);

// Bytes read from FileName as text; raises Exception when they are not UTF-8. A byte order mark
// is dropped.
QString Utf8Text(const QString& FileName, const QByteArray& Bytes);

// Replaces the file only when every byte is written: a failure leaves no partial file.
void SaveUtf8File(const QString& FileName, const QString& Text);
