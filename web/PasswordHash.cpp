#include "web/PasswordHash.h"

#include "common/Errors.h"

#include <crypt.h>

#include <cstdlib>
#include <memory>

namespace {

// crypt_rn's working area is large (32 KB): on the heap, wiped and freed on every path.
struct TCryptArea
{
    std::unique_ptr<crypt_data> Data = std::make_unique<crypt_data>();
    ~TCryptArea() { explicit_bzero(Data.get(), sizeof(crypt_data)); }
};

QByteArray Crypt(const QByteArray& Password, const QByteArray& Setting)
{
    TCryptArea Area;
    const char* Result = crypt_rn(Password.constData(), Setting.constData(), Area.Data.get(), int(sizeof(crypt_data)));
    return Result ? QByteArray(Result) : QByteArray();
}

} // namespace

QByteArray HashPassword(const QByteArray& Password)
{
    if (Password.contains('\0'))
        throw Exception("a password cannot hold a NUL character");
    std::unique_ptr<char, decltype(&std::free)> Setting(crypt_gensalt_ra("$y$", 0, nullptr, 0), &std::free);
    if (!Setting)
        throw Exception("libcrypt cannot make a yescrypt salt");
    const QByteArray Hash = Crypt(Password, Setting.get());
    if (Hash.isEmpty())
        throw Exception("libcrypt cannot hash the password");
    return Hash;
}

bool HashUsable(const QByteArray& Hash) { return !Hash.isEmpty() && crypt_checksalt(Hash.constData()) == CRYPT_SALT_OK; }

bool PasswordMatches(const QByteArray& Password, const QByteArray& Hash)
{
    if (!HashUsable(Hash) || Password.contains('\0'))
        return false;
    const QByteArray Given = Crypt(Password, Hash);
    if (Given.size() != Hash.size())
        return false;
    // Every byte compared, whatever the first difference.
    unsigned char Difference = 0;
    for (qsizetype I = 0; I < Hash.size(); ++I)
        Difference |= uchar(Given[I] ^ Hash[I]);
    return Difference == 0;
}
