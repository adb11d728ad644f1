#include "web/WebSessions.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>

namespace {

QByteArray Digest(const QByteArray& Id) { return QCryptographicHash::hash(Id, QCryptographicHash::Sha256); }

bool Ended(const TWebSession& S, qint64 NowMs)
{
    return NowMs - S.SeenMs > TWebSessions::IdleMs || NowMs - S.OpenedMs > TWebSessions::LifetimeMs;
}

} // namespace

QByteArray RandomText(int Bytes)
{
    QByteArray Raw(Bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(Raw.begin(), Raw.end());
    return Raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray TWebSessions::Open(const QString& User, const QByteArray& Hash, qint64 NowMs)
{
    Prune(NowMs);
    const QByteArray Id = RandomText(32);
    FSessions[Digest(Id)] = TWebSession{User, Hash, RandomText(32), NowMs, NowMs};
    return Id;
}

TWebSession* TWebSessions::Find(const QByteArray& Id, qint64 NowMs)
{
    if (Id.isEmpty())
        return nullptr;
    const auto Found = FSessions.find(Digest(Id));
    if (Found == FSessions.end())
        return nullptr;
    if (Ended(Found->second, NowMs)) {
        FSessions.erase(Found);
        return nullptr;
    }
    Found->second.SeenMs = NowMs;
    return &Found->second;
}

void TWebSessions::Close(const QByteArray& Id) { FSessions.erase(Digest(Id)); }

void TWebSessions::Prune(qint64 NowMs)
{
    std::erase_if(FSessions, [NowMs](const auto& Entry) { return Ended(Entry.second, NowMs); });
    while (FSessions.size() >= Most) {
        const auto Oldest = std::min_element(FSessions.begin(), FSessions.end(),
                                             [](const auto& A, const auto& B) { return A.second.SeenMs < B.second.SeenMs; });
        FSessions.erase(Oldest);
    }
}
