#pragma once

#include <QString>

#include <cstdint>

// The toolkit's integer conversion of edit texts. Leading spaces, one sign, then either decimal
// digits within the signed 32-bit range, or "$", "x", "X", "0x", "0X" and hexadecimal digits whose
// 32-bit pattern is taken as signed ("$FFFFFFFF" is -1). Everything up to the end must belong to
// the number. Value is changed only when the text converts.
bool TryStrToInt(const QString& Text, int32_t& Value);
