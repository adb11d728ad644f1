#pragma once

#include <QByteArray>
#include <QString>

// A new password for User: asked twice without echo when standard input is a terminal (they must
// agree), else one line read from standard input. Raises Exception when none is given.
QByteArray ReadNewPassword(const QString& User);
