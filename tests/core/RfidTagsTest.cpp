#include "cards/RfidTags.h"

#include <gtest/gtest.h>

namespace {

TRfidTag Tag(uint8_t B0, uint8_t B1, uint8_t B2, uint8_t B3, uint8_t B4, const char* Name = "")
{
    TRfidTag T;
    T.Bytes = {B0, B1, B2, B3, B4};
    T.Name = Name;
    return T;
}

void Append(TRfidTags& Tags, const TRfidTag& T)
{
    TRfidTag& New = Tags.Add();
    New.AssignBytes(T);
    New.Name = T.Name;
}

std::string ErrorOf(const std::function<void()>& Action)
{
    try {
        Action();
    } catch (const std::exception& E) {
        return E.what();
    }
    return "";
}

} // namespace

TEST(RfidTag, CardNumberTextFollowsTheFormat)
{
    EXPECT_EQ(TRfidTag().CardNumber(), "0000000000 000,0");
    EXPECT_EQ(Tag(0x01, 0x00, 0x12, 0xD6, 0x87).CardNumber(), "0001234567 018,54919");
    EXPECT_EQ(Tag(0, 0, 0, 0, 5).CardNumber(), "0000000005 000,5");
    EXPECT_EQ(Tag(0, 0x80, 0, 0, 1).CardNumber(), "2147483649 32768,1");
    EXPECT_EQ(Tag(0, 0xFF, 0xFF, 0xFF, 0xFF).CardNumber(), "4294967295 65535,65535");
}

TEST(RfidTag, IdentityIgnoresByteZeroAndName)
{
    EXPECT_EQ(CompareTags(Tag(1, 2, 3, 4, 5, "a"), Tag(9, 2, 3, 4, 5, "b")), 0);
    EXPECT_EQ(CompareTags(Tag(0, 0, 0, 0, 1), Tag(0, 0, 0, 0, 0xFF)), -254);
    EXPECT_EQ(CompareTags(Tag(0, 0xFF, 0, 0, 0), Tag(0, 0, 0xFF, 0xFF, 0xFF)), 255);
    EXPECT_EQ(CompareTags(Tag(0, 1, 2, 3, 4), Tag(0, 1, 2, 9, 0)), -6); // first difference decides
}

TEST(RfidTag, AssignBytesKeepsTheName)
{
    TRfidTag Target = Tag(0, 0, 0, 0, 0, "Front door");
    Target.AssignBytes(Tag(5, 4, 3, 2, 1, "other"));
    EXPECT_EQ(Target.Bytes, (std::array<uint8_t, 5>{5, 4, 3, 2, 1}));
    EXPECT_EQ(Target.Name, "Front door");
}

TEST(RfidTags, IndexOfFindsTheHighestMatchThroughByteZero)
{
    TRfidTags Tags;
    EXPECT_EQ(Tags.IndexOf(Tag(0, 0, 0, 0, 1)), -1);
    for (int I = 0; I < 6; ++I)
        Append(Tags, Tag(0, 0, 0, 0, uint8_t(I == 5 ? 2 : I)));
    // Same card at 2 and 5 (byte 0 differs in the probe).
    EXPECT_EQ(Tags.IndexOf(Tag(0x77, 0, 0, 0, 2)), 5);
    EXPECT_EQ(Tags.IndexOf(Tag(0, 0, 0, 0, 3)), 3);
    EXPECT_EQ(Tags.IndexOf(Tag(0, 1, 0, 0, 3)), -1);
}

TEST(RfidTags, AddIgnoresLimitAndDeleteClosesTheGap)
{
    TRfidTags Tags;
    EXPECT_EQ(Tags.Limit, 0);
    Tags.Limit = 2;
    Append(Tags, Tag(0, 0, 0, 0, 1, "one"));
    Append(Tags, Tag(0, 0, 0, 0, 2, "two"));
    Append(Tags, Tag(0, 0, 0, 0, 3, "three"));
    EXPECT_EQ(Tags.Count(), 3);
    Tags.Delete(0);
    ASSERT_EQ(Tags.Count(), 2);
    EXPECT_EQ(Tags.Items(0).Name, "two");
    EXPECT_EQ(Tags.Items(1).Name, "three");
    Tags.Clear();
    EXPECT_EQ(Tags.Count(), 0);
    Tags.Clear();
    EXPECT_EQ(Tags.Count(), 0);
}

TEST(RfidTags, IndexOutOfBoundsIsReportedAndChangesNothing)
{
    TRfidTags Tags;
    Append(Tags, Tag(0, 0, 0, 0, 1));
    EXPECT_EQ(ErrorOf([&] { Tags.Items(1); }), "List index out of bounds (1)");
    EXPECT_EQ(ErrorOf([&] { Tags.Items(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(ErrorOf([&] { Tags.Delete(5); }), "List index out of bounds (5)");
    EXPECT_EQ(Tags.Count(), 1);
}

TEST(RfidTags, RecordsKeepTheirAddressWhenOthersAreAdded)
{
    TRfidTags Tags;
    TRfidTag& First = Tags.Add();
    First.Name = "kept";
    for (int I = 0; I < 1000; ++I)
        Tags.Add();
    EXPECT_EQ(&Tags.Items(0), &First);
    EXPECT_EQ(First.Name, "kept");
}
