#pragma once

// Lets GoogleTest print Qt texts readably in failure messages.

#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString& Text, std::ostream* Out) { *Out << '"' << Text.toStdString() << '"'; }

inline void PrintTo(const QStringList& Texts, std::ostream* Out)
{
    *Out << "{";
    for (qsizetype I = 0; I < Texts.size(); ++I) {
        *Out << (I ? ", " : "");
        PrintTo(Texts[I], Out);
    }
    *Out << "}";
}
