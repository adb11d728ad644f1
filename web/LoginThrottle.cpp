#include "web/LoginThrottle.h"

#include <algorithm>

namespace {

constexpr qint64 ForgetMs = 24 * 3600 * 1000;

// One key for a whole IPv6 /64: a host is given that many addresses.
QString AddressKey(const QHostAddress& Address)
{
    if (Address.protocol() != QAbstractSocket::IPv6Protocol || Address.toIPv4Address() != 0)
        return Address.toString();
    Q_IPV6ADDR Bytes = Address.toIPv6Address();
    std::fill(std::begin(Bytes.c) + 8, std::end(Bytes.c), 0);
    return QHostAddress(Bytes).toString() + QStringLiteral("/64");
}

} // namespace

qint64 TLoginThrottle::WaitOf(const TRecords& Records, const QString& Key, qint64 NowMs)
{
    const auto Found = Records.find(Key);
    return Found == Records.end() ? 0 : std::max<qint64>(0, Found->second.NotBeforeMs - NowMs);
}

qint64 TLoginThrottle::Wait(const QString& User, const QHostAddress& Address, qint64 NowMs) const
{
    return std::max(User.isEmpty() ? 0 : WaitOf(FByUser, User, NowMs), WaitOf(FByAddress, AddressKey(Address), NowMs));
}

void TLoginThrottle::Fail(TRecords& Records, const QString& Key, qint64 NowMs)
{
    std::erase_if(Records, [NowMs](const auto& R) { return NowMs - R.second.LastMs > ForgetMs && R.second.NotBeforeMs < NowMs; });
    if (Records.size() >= Most && !Records.count(Key))
        Records.erase(std::min_element(Records.begin(), Records.end(),
                                       [](const auto& A, const auto& B) { return A.second.LastMs < B.second.LastMs; }));
    TRecord& R = Records[Key];
    R.Failures += 1;
    R.LastMs = NowMs;
    if (R.Failures > FreeFailures) {
        const int Doublings = std::min(R.Failures - FreeFailures - 1, 16);
        R.NotBeforeMs = NowMs + std::min(FirstWaitMs << Doublings, LongestWaitMs);
    }
}

void TLoginThrottle::Failed(const QString& User, const QHostAddress& Address, qint64 NowMs)
{
    if (!User.isEmpty())
        Fail(FByUser, User, NowMs);
    Fail(FByAddress, AddressKey(Address), NowMs);
}

void TLoginThrottle::Succeeded(const QString& User, const QHostAddress& Address)
{
    FByUser.erase(User);
    FByAddress.erase(AddressKey(Address));
}
