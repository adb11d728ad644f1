#pragma once

#include "common/Errors.h"

#include <QString>

// A fault in one line of a text file a person edits. what() reads "line N: reason"; the parts stay
// apart so that a caller that knows the file's name can say "site.csv:N: reason" instead.
class ELineFault : public Exception
{
public:
    ELineFault(int Line, const QString& Reason)
        : Exception(QStringLiteral("line %1: %2").arg(Line).arg(Reason).toStdString()), Line(Line), Reason(Reason)
    {
    }

    int Line;
    QString Reason;
};
