#pragma once

#include <QByteArray>

// Passwords as the system keeps them in /etc/shadow: yescrypt through libcrypt, with a fresh
// random salt each time. Raises Exception when the library cannot make a hash.
QByteArray HashPassword(const QByteArray& Password);

// Whether Password gives Hash. A hash of a method the library calls weak or unknown never matches.
bool PasswordMatches(const QByteArray& Password, const QByteArray& Hash);

// Whether the library takes Hash as a setting of a method it does not call legacy.
bool HashUsable(const QByteArray& Hash);
