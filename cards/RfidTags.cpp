#include "cards/RfidTags.h"

#include "common/Errors.h"

uint32_t TRfidTag::CardValue() const
{
    return (uint32_t(Bytes[1]) << 24) | (uint32_t(Bytes[2]) << 16) | (uint32_t(Bytes[3]) << 8) |
           uint32_t(Bytes[4]);
}

QString TRfidTag::CardNumber() const
{
    const uint32_t Value = CardValue();
    // The format's first field is unsigned: values from 2^31 on print as they are.
    return QString::asprintf("%.10u %.3u,%u", Value, Value >> 16, Value & 0xFFFFu);
}

int CompareTags(const TRfidTag& A, const TRfidTag& B)
{
    for (int I = 1; I <= 4; ++I) {
        if (A.Bytes[I] != B.Bytes[I])
            return int(A.Bytes[I]) - int(B.Bytes[I]);
    }
    return 0;
}

void TRfidTags::CheckIndex(int Index) const
{
    if (Index < 0 || Index >= Count())
        throw Exception(Format("List index out of bounds (%d)", Index));
}

TRfidTag& TRfidTags::Items(int Index)
{
    CheckIndex(Index);
    return *FItems[size_t(Index)];
}

const TRfidTag& TRfidTags::Items(int Index) const
{
    CheckIndex(Index);
    return *FItems[size_t(Index)];
}

TRfidTag& TRfidTags::Add()
{
    FItems.push_back(std::make_unique<TRfidTag>());
    return *FItems.back();
}

void TRfidTags::Delete(int Index)
{
    CheckIndex(Index);
    FItems.erase(FItems.begin() + Index);
}

int TRfidTags::IndexOf(const TRfidTag& Tag) const
{
    // The last match wins: every record is visited.
    int Result = -1;
    for (int I = 0; I < Count(); ++I) {
        if (CompareTags(*FItems[size_t(I)], Tag) == 0)
            Result = I;
    }
    return Result;
}

void TRfidTags::TakeRecordsFrom(TRfidTags& Other)
{
    FItems = std::move(Other.FItems);
    Other.FItems.clear();
}
