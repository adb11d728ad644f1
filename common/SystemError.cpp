#include "common/SystemError.h"

#include <cstring>

namespace {

// strerror_r comes in two forms: the GNU one returns the text (which may not be in Buffer), the
// POSIX one fills Buffer and returns 0 on success.
[[maybe_unused]] const char* TextOf(const char* Returned, const char*) { return Returned; }
[[maybe_unused]] const char* TextOf(int Returned, const char* Buffer) { return Returned == 0 ? Buffer : nullptr; }

} // namespace

std::string ErrnoText(int Error)
{
    char Buffer[256] = "";
    const char* Text = TextOf(strerror_r(Error, Buffer, sizeof Buffer), Buffer);
    return Text && *Text ? std::string(Text) : "Unknown error " + std::to_string(Error);
}
