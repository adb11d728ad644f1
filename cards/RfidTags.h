#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QObject;

// One RFID card: the five code bytes the reader reports and a name that lives only on this PC.
// Bytes 1 to 4 are the card value, most significant first; byte 0 takes no part in identity.
class TRfidTag
{
public:
    std::array<uint8_t, 5> Bytes{};
    QByteArray Name; // 8-bit text, kept byte for byte

    void AssignBytes(const TRfidTag& Source) { Bytes = Source.Bytes; }
    uint32_t CardValue() const;
    QString CardNumber() const;
};

// 0 when A and B denote the same card; otherwise A's byte minus B's at the first of bytes 1..4
// where they differ.
int CompareTags(const TRfidTag& A, const TRfidTag& B);

using TTagEvent = std::function<void(QObject* Sender, TRfidTag& Tag)>;

// The card database in memory. Owns its records; references from Items/Add stay valid until the
// record is deleted or the list cleared.
class TRfidTags
{
public:
    TRfidTags() = default;
    TRfidTags(const TRfidTags&) = delete;
    TRfidTags& operator=(const TRfidTags&) = delete;
    TRfidTags(TRfidTags&&) noexcept = default;
    TRfidTags& operator=(TRfidTags&&) noexcept = default;
    virtual ~TRfidTags() = default;

    int Limit = 0; // what the reader accepts; the list itself never reads it

    int Count() const { return static_cast<int>(FItems.size()); }
    TRfidTag& Items(int Index);
    const TRfidTag& Items(int Index) const;
    TRfidTag& Add();
    void Delete(int Index);
    void Clear() { FItems.clear(); }
    int IndexOf(const TRfidTag& Tag) const;

    // Takes every record of Other over, leaving Other empty; Limit stays this list's own.
    void TakeRecordsFrom(TRfidTags& Other);

private:
    void CheckIndex(int Index) const;
    std::vector<std::unique_ptr<TRfidTag>> FItems;
};
