#include <gtest/gtest.h>

#include <cstring>

#include "classlib/Streams.h"
#include "imaging/model/PxLists.h"

using namespace imaging;

namespace {

TEST(PxListTest, SetCountGrowsToDoubleOrRequested)
{
    struct Case {
        int32_t from, to, capacity;
    } cases[] = {{3, 4, 6}, {3, 10, 10}, {0, 1, 1}, {6, 2, 6}};
    for (const auto& c : cases) {
        TPxIntegerList list;
        list.SetCount(c.from);
        for (int i = 0; i < c.from; ++i)
            list[i] = 100 + i;
        list.SetCount(c.to);
        EXPECT_EQ(list.Capacity, c.capacity) << c.from << "->" << c.to;
        EXPECT_EQ(list.Count, c.to);
        for (int i = 0; i < std::min(c.from, c.to); ++i)
            EXPECT_EQ(list[i], 100 + i);
        EXPECT_EQ(list.Changed & 1, 1);
    }
}

TEST(PxListTest, DeleteReallocatesExactly)
{
    TPxIntegerList list;
    for (int v : {1, 2, 3, 4})
        list.Add(v);
    list.Delete(1);
    ASSERT_EQ(list.Count, 3);
    EXPECT_EQ(list.Capacity, 3);
    EXPECT_EQ(list[0], 1);
    EXPECT_EQ(list[1], 3);
    EXPECT_EQ(list[2], 4);
    list.Delete(3);  // out of range: ignored
    list.Delete(-1);
    EXPECT_EQ(list.Count, 3);

    TPxIntegerList one;
    one.Add(7);
    one.Delete(0);
    EXPECT_EQ(one.Count, 0);
    EXPECT_EQ(one.Capacity, 0);
    EXPECT_EQ(one.Data, nullptr);
}

TEST(PxListTest, AssignCopiesItemsExtrasAndGrowsOnNextAdd)
{
    TPxDoubleList source;
    for (double v : {0.5, 1.5, 2.5})
        source.Add(v);
    source.ExtraFloats[1] = 9.25;
    source.ExtraInts[0] = -3;

    TPxDoubleList copy;
    copy.Assign(&source);
    EXPECT_EQ(copy.Capacity, 3);
    copy.Add(3.5);
    ASSERT_EQ(copy.Count, 4);
    EXPECT_EQ(copy.Capacity, 6);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(copy[i], 0.5 + i);
    EXPECT_EQ(copy.ExtraFloats[1], 9.25);
    EXPECT_EQ(copy.ExtraInts[0], -3);
    EXPECT_EQ(source.Count, 3);  // the source keeps its own block

    copy.Clear();
    EXPECT_EQ(copy.Count, 0);
    EXPECT_EQ(copy.ItemSize, 8);
    EXPECT_EQ(copy.ExtraFloats[1], 0.0);
}

TEST(PxListTest, RecordListKeepsRecords)
{
    struct Rec {
        int32_t a;
        char name[6];
    };
    TPxRecordList list(sizeof(Rec));
    Rec r1{1, "one"}, r2{2, "two"};
    EXPECT_EQ(list.Add(&r1), 0);
    EXPECT_EQ(list.Add(&r2), 1);
    auto* got = static_cast<Rec*>(list.GetItem(1));
    EXPECT_EQ(got->a, 2);
    EXPECT_STREQ(got->name, "two");
    list.Clear();
    EXPECT_EQ(list.ItemSize, static_cast<int32_t>(sizeof(Rec)));
}

TEST(PxByteArrayTest, GrowsAndShrinksByBlocksKeepingBytes)
{
    TPxByteArray a(16);
    EXPECT_EQ(a.Capacity, 16);
    for (int i = 0; i < 100; ++i)
        a.AppendByte(static_cast<uint8_t>(i));
    EXPECT_EQ(a.Size, 100);
    EXPECT_GE(a.Capacity, 100);
    a.SetSize(5);
    EXPECT_EQ(a.Size, 5);
    EXPECT_EQ(a.Capacity, 21);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(a.Data[i], i);
    a.SetSize(20);  // within capacity: no re-allocation
    EXPECT_EQ(a.Capacity, 21);
}

TEST(PxByteArrayTest, AppendFromStreamKeepsOnlyBytesRead)
{
    classlib::TMemoryStream s;
    s.WriteBuffer("abcdef", 6);
    s.SetPosition(2);
    TPxByteArray a(4);
    a.AppendByte('x');
    EXPECT_EQ(a.AppendFromStream(&s, 10), 4);
    ASSERT_EQ(a.Size, 5);
    EXPECT_EQ(std::memcmp(a.Data.get(), "xcdef", 5), 0);
}

TEST(THash1Test, CountsDistinctKeysAcrossSharedSlots)
{
    THash1 h(4);
    EXPECT_EQ(PxHash1AddKey(&h, 0x123456), 1);
    EXPECT_EQ(PxHash1AddKey(&h, 0x123456), 0);
    EXPECT_EQ(h.Count, 1);
    // 0x10, 0x20 and 0x30 share slot 0 with 0x00 (16 slots).
    for (uint32_t k : {0x00u, 0x10u, 0x20u, 0x30u})
        EXPECT_EQ(PxHash1AddKey(&h, k), 1) << k;
    for (uint32_t k : {0x00u, 0x10u, 0x20u, 0x30u})
        EXPECT_EQ(PxHash1AddKey(&h, k), 0) << k;
    EXPECT_EQ(h.Count, 5);
    EXPECT_EQ(h.State[0], 2);
}

TEST(THash1Test, DistinctColoursOfAnImageRow)
{
    THash1 h(13);
    int added = 0;
    for (uint32_t i = 0; i < 20000; ++i)
        added += PxHash1AddKey(&h, (i * 2654435761u) & 0xFFFFFF & ~0xFFu);  // many collisions
    EXPECT_EQ(h.Count, added);
    THash1 check(10);
    for (uint32_t i = 0; i < 3000; ++i)
        PxHash1AddKey(&check, i % 1000);
    EXPECT_EQ(check.Count, 1000);
}

TEST(TNulStreamTest, CountsWithoutStoring)
{
    TNulStream s;
    EXPECT_EQ(s.Write(nullptr, 10), 10);
    EXPECT_EQ(s.Seek(4, classlib::soBeginning), 4);
    EXPECT_EQ(s.Write(nullptr, 2), 2);
    EXPECT_EQ(s.Position, 6);
    EXPECT_EQ(s.Size, 10);
    EXPECT_EQ(s.Seek(3, classlib::soEnd), 7);  // from the end counts back
    EXPECT_EQ(s.Read(nullptr, 5), 5);
    EXPECT_EQ(s.Size, 12);
    EXPECT_EQ(s.GetSize(), 12);
    s.WriteBuffer("abc", 3);  // the class-library helpers work on it too
    EXPECT_EQ(s.GetPosition(), 15);
}

}  // namespace
