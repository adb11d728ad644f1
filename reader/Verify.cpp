#include "reader/Verify.h"

#include "common/Errors.h"
#include "reader/Protocol.h"

#include <algorithm>

CardValues ValuesOf(const TRfidTags& Tags)
{
    CardValues Values;
    for (int I = 0; I < Tags.Count(); ++I)
        Values.push_back(Tags.Items(I).CardValue());
    return Values;
}

void CheckFits(const TRfidTags& Tags)
{
    if (Tags.Count() > protocol::CardLimit)
        throw Exception(Format("Too many cards (%d/%d). Please remove %d cards.", Tags.Count(),
                               protocol::CardLimit, Tags.Count() - protocol::CardLimit));
}

void Verify(const CardValues& Written, uint8_t WrittenMaster, const TDorvik& Reader)
{
    const CardValues Held = ValuesOf(Reader.Tags());
    size_t Kept = 0;
    for (uint32_t Value : Written)
        Kept += std::find(Held.begin(), Held.end(), Value) != Held.end();
    if (Kept < Written.size())
        throw Exception(Format("Verify failed: the reader holds %zu of %zu cards", Kept, Written.size()));
    if (Held.size() != Written.size())
        throw Exception(Format("Verify failed: the reader holds %zu cards, %zu were written", Held.size(),
                               Written.size()));
    for (size_t I = 0; I < Held.size(); ++I) {
        if (Held[I] != Written[I])
            throw Exception(Format("Verify failed: card %zu is %u on the reader, %u was written", I + 1,
                                   Held[I], Written[I]));
    }
    if (!Reader.ReadWhole())
        throw Exception("Verify failed: the reader's list came without its first frame, so its master card is unknown");
    if (Reader.Master() != WrittenMaster)
        throw Exception(Format("Verify failed: the reader's master index is %u, %u was written",
                               unsigned(Reader.Master()), unsigned(WrittenMaster)));
}
