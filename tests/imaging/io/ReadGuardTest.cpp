// The readers' safety kit: exact reads of both byte orders over a stream and
// a buffer, the raster check's caps and data bounds, and the failure reason
// travelling beside the aborting flag.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/ReadGuard.h"

using namespace imaging;

namespace {

const std::vector<uint8_t> kBytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE};

TEST(ByteReader, ReadsBothOrdersAndStopsAtTheEndOverStreamAndBuffer)
{
    classlib::TMemoryStream m;
    m.WriteBuffer(kBytes.data(), static_cast<int64_t>(kBytes.size()));
    m.SetPosition(0);
    TPxByteReader overStream(m, TPxByteOrder::Big);
    TPxByteReader overBuffer(kBytes.data(), kBytes.size(), TPxByteOrder::Big);
    for (TPxByteReader* r : {&overStream, &overBuffer}) {
        EXPECT_EQ(r->Remaining(), 7);
        EXPECT_EQ(r->U16(), 0x1234u);
        r->SetOrder(TPxByteOrder::Little);
        EXPECT_EQ(r->U32(), 0xBC9A7856u);
        EXPECT_EQ(r->Remaining(), 1);
        EXPECT_FALSE(r->Failed());
        // A short read reads nothing: the last byte is still there.
        EXPECT_EQ(r->U16(), 0u);
        EXPECT_TRUE(r->Failed());
        EXPECT_EQ(r->Position(), 6);
        EXPECT_EQ(r->U8(), 0xDEu);
        EXPECT_EQ(r->Remaining(), 0);
        EXPECT_FALSE(r->Skip(1));
        EXPECT_FALSE(r->Seek(8));
        EXPECT_TRUE(r->Seek(1));
        EXPECT_EQ(r->S16(), static_cast<int16_t>(0x5634));
    }
}

TEST(ByteReader, MemoryDecodersOfBothOrders)
{
    EXPECT_EQ(PxLe16(kBytes.data()), 0x3412u);
    EXPECT_EQ(PxBe16(kBytes.data()), 0x1234u);
    EXPECT_EQ(PxLe32(kBytes.data() + 3), 0xDEBC9A78u);
    EXPECT_EQ(PxBe32(kBytes.data() + 3), 0x789ABCDEu);
    EXPECT_EQ(PxLeS32(kBytes.data() + 3), static_cast<int32_t>(0xDEBC9A78u));
}

TEST(RasterCheck, CapsAndDataBounds)
{
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    struct TCase {
        int64_t W, H, Bits;
        TPxCoding Coding;
        int64_t Data;
        TPxReadFailure Want;
    };
    const TCase cases[] = {
        {0, 10, 8, TPxCoding::Raw, -1, TPxReadFailure::NoImage},
        {10, -1, 8, TPxCoding::Raw, -1, TPxReadFailure::NoImage},
        // The storage cap (1 GiB), the side cap, and products that overflow.
        {16384, 16384, 32, TPxCoding::Raw, -1, TPxReadFailure::None},
        {16384, 16385, 32, TPxCoding::Raw, -1, TPxReadFailure::TooLarge},
        {kMax, kMax, 8, TPxCoding::Raw, -1, TPxReadFailure::TooLarge},
        {2, int64_t{1} << 21, 1, TPxCoding::Raw, -1, TPxReadFailure::TooLarge},
        {1000, 1000, kMax, TPxCoding::Raw, -1, TPxReadFailure::TooLarge},
        // Raw: the data must hold the rows (beyond the small-image allowance).
        {1000, 1000, 24, TPxCoding::Raw, 3000000, TPxReadFailure::None},
        {1000, 1000, 24, TPxCoding::Raw, 1000000, TPxReadFailure::MoreThanData},
        // Raw data that may end early: 16:1.
        {1000, 1000, 8, TPxCoding::RawShort, 62500, TPxReadFailure::None},
        {1000, 1000, 8, TPxCoding::RawShort, 50000, TPxReadFailure::MoreThanData},
        // Small images pass the ratio bound, but not without data or with
        // raw samples short of the first row.
        {256, 256, 8, TPxCoding::Raw, 256, TPxReadFailure::None},
        {256, 256, 8, TPxCoding::Raw, 0, TPxReadFailure::Truncated},
        {256, 256, 8, TPxCoding::RawShort, 255, TPxReadFailure::Truncated},
        {8, 6, 1, TPxCoding::Raw, 1, TPxReadFailure::None},
        {302, 36, 1, TPxCoding::RawShort, 3, TPxReadFailure::Truncated},
        {10, 10, 8, TPxCoding::Rle, 0, TPxReadFailure::Truncated},
        {10, 10, 8, TPxCoding::Rle, 1, TPxReadFailure::None},
        // Ratios: deflate about 1032:1, LZW 4096:1, runs 128:1.
        {10000, 10000, 24, TPxCoding::Deflate, 300000, TPxReadFailure::None},
        {10000, 10000, 24, TPxCoding::Deflate, 200000, TPxReadFailure::MoreThanData},
        {10000, 10000, 8, TPxCoding::Lzw, 30000, TPxReadFailure::None},
        {10000, 10000, 8, TPxCoding::Lzw, 20000, TPxReadFailure::MoreThanData},
        {10000, 10000, 8, TPxCoding::Rle, 1000000, TPxReadFailure::None},
        {10000, 10000, 8, TPxCoding::Rle, 500000, TPxReadFailure::MoreThanData},
        // Fax: one bit per row; JPEG: one bit per 8 x 8 block.
        {20000, 4000, 1, TPxCoding::Fax, 500, TPxReadFailure::None},
        {20000, 65535, 1, TPxCoding::Fax, 500, TPxReadFailure::MoreThanData},
        {4000, 4000, 24, TPxCoding::Jpeg, 40000, TPxReadFailure::None},
        {65500, 65500, 24, TPxCoding::Jpeg, 166, TPxReadFailure::TooLarge},
        {8000, 8000, 8, TPxCoding::Jpeg, 166, TPxReadFailure::MoreThanData},
        // No ratio: only the cap.
        {10000, 10000, 8, TPxCoding::Unbounded, 10, TPxReadFailure::None},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.W << "x" << c.H << " bits " << c.Bits << " coding "
                                        << static_cast<int>(c.Coding) << " data " << c.Data);
        EXPECT_EQ(PxCheckRaster({.Width = c.W, .Height = c.H, .CodedBits = c.Bits, .Coding = c.Coding, .DataBytes = c.Data}),
                  c.Want);
    }
}

TEST(RasterCheck, StorageAndFramesCount)
{
    // 1-bit coded pixels stored as 32-bit ones pass the cap only as coded.
    TPxRasterCheck check;
    check.Width = 20000;
    check.Height = 20000;
    check.CodedBits = 1;
    EXPECT_EQ(PxCheckRaster(check), TPxReadFailure::None);
    check.StorageBits = 32;
    EXPECT_EQ(PxCheckRaster(check), TPxReadFailure::TooLarge);
    // Frames share the data.
    check = {};
    check.Width = check.Height = 1000;
    check.CodedBits = 8;
    check.DataBytes = 1000000;
    EXPECT_EQ(PxCheckRaster(check), TPxReadFailure::None);
    check.Frames = 3;
    EXPECT_EQ(PxCheckRaster(check), TPxReadFailure::MoreThanData);
}

TEST(ReadFailure, FailRecordsTheFirstReasonBesideTheFlag)
{
    bool aborting = false;
    TPxReadFailure why = TPxReadFailure::None;
    TPxIOProgressInfo info;
    info.Aborting = &aborting;
    info.Failure = &why;
    EXPECT_FALSE(PxCheckRaster(70000, 70000, 24, TPxCoding::Raw, -1, info));
    EXPECT_TRUE(aborting);
    EXPECT_EQ(why, TPxReadFailure::TooLarge);
    info.Fail(TPxReadFailure::Truncated);
    EXPECT_EQ(why, TPxReadFailure::TooLarge);
    EXPECT_TRUE(PxCheckRaster(10, 10, 24, TPxCoding::Raw, 300, info));

    // A record without the caller's pointers still works inside the scope.
    TPxIOProgressInfo bare;
    {
        TPxAbortFlagScope scope(bare);
        bare.Fail(TPxReadFailure::Corrupt);
        EXPECT_TRUE(bare.Aborted());
        EXPECT_EQ(*bare.Failure, TPxReadFailure::Corrupt);
    }
    EXPECT_EQ(bare.Aborting, nullptr);
    EXPECT_EQ(bare.Failure, nullptr);
}

TEST(ReadFailure, EveryReasonHasItsOwnText)
{
    EXPECT_EQ(PxReadFailureText(TPxReadFailure::None), L"");
    std::vector<std::wstring> seen;
    for (int i = 1; i <= static_cast<int>(TPxReadFailure::Stopped); ++i) {
        const std::wstring text = PxReadFailureText(static_cast<TPxReadFailure>(i));
        EXPECT_FALSE(text.empty()) << i;
        for (const std::wstring& other : seen)
            EXPECT_NE(text, other) << i;
        seen.push_back(text);
    }
}

}  // namespace
