// The raw bitmap dump: layout, round trips of every pixel format with
// palette, display fields and alpha in memory and file storage, and bad or
// truncated dumps that must fail cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxRawDump.h"
#include "tests/imaging/model/PxCopyTestSupport.h"

using namespace imaging;
using namespace copytest;

namespace {

std::vector<uint8_t> Dump(TPxBitmap& b)
{
    classlib::TMemoryStream stream;
    EXPECT_TRUE(SaveRawToStream(b, nullptr, 0, &stream));
    const auto* p = static_cast<const uint8_t*>(stream.GetMemory());
    return std::vector<uint8_t>(p, p + stream.GetSize());
}

int32_t ReadInt(const std::vector<uint8_t>& d, size_t offset)
{
    int32_t v;
    std::memcpy(&v, d.data() + offset, 4);
    return v;
}

void WriteInt(std::vector<uint8_t>& d, size_t offset, int32_t v)
{
    std::memcpy(d.data() + offset, &v, 4);
}

bool Load(TPxBitmap& b, const std::vector<uint8_t>& d)
{
    return LoadRawFromStream(b, d.data(), static_cast<int64_t>(d.size()), nullptr);
}

TEST(PxRawDump, LayoutOfA24BitImage)
{
    auto b = Make(Store::Memory, 3, 2, px24RGB);
    FillPattern(*b, 1);
    b->DisplayMax = 2.5;
    b->Contrast = -7;
    const auto d = Dump(*b);
    ASSERT_EQ(d.size(), 100u);  // 75 + 2 rows of 12 + the has-alpha byte
    EXPECT_EQ(std::string(d.begin(), d.begin() + 12), "TPXBITMAPRAW");
    EXPECT_EQ(ReadInt(d, 12), 0);   // version
    EXPECT_EQ(ReadInt(d, 16), 0);   // palette count
    EXPECT_EQ(ReadInt(d, 20), 3);   // width
    EXPECT_EQ(ReadInt(d, 24), 2);   // height
    EXPECT_EQ(d[28], px24RGB);
    double max;
    std::memcpy(&max, d.data() + 42, 8);
    EXPECT_EQ(max, 2.5);
    EXPECT_EQ(ReadInt(d, 67), -7);  // contrast
    EXPECT_EQ(ReadInt(d, 71), 32);  // row alignment
    EXPECT_EQ(d[75], PatternByte(1, 0, 0));
    EXPECT_EQ(d[75 + 12], PatternByte(1, 1, 0));
    EXPECT_EQ(d[99], 0);  // no alpha channel
    EXPECT_EQ(PxRawDumpSize(*b), 100);

    // Into a block: exactly the same bytes; a block too small gets nothing.
    std::vector<uint8_t> block(100, 0xEE);
    EXPECT_FALSE(SaveRawToStream(*b, block.data(), 99, nullptr));
    EXPECT_EQ(block[0], 0xEE);
    ASSERT_TRUE(SaveRawToStream(*b, block.data(), 100, nullptr));
    EXPECT_EQ(block, d);
}

TEST(PxRawDump, RoundTripEveryFormatWithPaletteAndAlpha)
{
    for (Store from : {Store::Memory, Store::File}) {
        for (Store into : {Store::Memory, Store::File}) {
            for (TPxPixelFormat f : kFormats) {
                SCOPED_TRACE(std::string(StoreName(from)) + " -> " + StoreName(into) + " format " +
                             std::to_string(f));
                auto src = Make(from, 9, 4, f);
                FillPattern(*src, 2);
                for (int i = 0; i < src->GetPaletteLen(); ++i)
                    src->SetPaletteEntry(i, TPxRGB{static_cast<uint8_t>(i), 7, static_cast<uint8_t>(255 - i)});
                src->PaletteCapacity = 16;
                src->DisplayMin = -1.25;
                src->DisplayMax = 1000.5;
                src->RedOffset = 1;
                src->GreenOffset = -2;
                src->BlueOffset = 3;
                src->FourthOffset = -4;
                src->Adjust = 1;
                src->Contrast = 12;
                FillPattern(*src->GetAlphaChannel(), 3);
                src->GetAlphaChannel()->FullAlpha = true;  // a flag is stored as given
                src->FullAlpha = true;
                const auto d = Dump(*src);
                ASSERT_EQ(static_cast<int64_t>(d.size()), PxRawDumpSize(*src));

                StoreScope scope(into);
                auto dst = Make(into, 2, 2, px8g);
                classlib::TMemoryStream stream;
                stream.WriteBuffer(d.data(), static_cast<int64_t>(d.size()));
                stream.SetPosition(0);
                ASSERT_TRUE(LoadRawFromStream(*dst, nullptr, 0, &stream));
                EXPECT_EQ(stream.GetPosition(), static_cast<int64_t>(d.size()));
                ASSERT_EQ(dst->GetPixelFormat(), f);
                EXPECT_EQ(Pixels(*dst), Pixels(*src));
                EXPECT_TRUE(PxCompareBitmaps(dst.get(), src.get()));
                EXPECT_EQ(dst->GetPaletteLen(), src->GetPaletteLen());
                for (int i = 0; i < src->GetPaletteLen(); ++i)
                    ASSERT_EQ(dst->GetPaletteEntry(i), src->GetPaletteEntry(i)) << i;
                EXPECT_EQ(dst->PaletteCapacity, 16);
                EXPECT_EQ(dst->DisplayMin, -1.25);
                EXPECT_EQ(dst->DisplayMax, 1000.5);
                EXPECT_EQ(dst->RedOffset, 1);
                EXPECT_EQ(dst->GreenOffset, -2);
                EXPECT_EQ(dst->BlueOffset, 3);
                EXPECT_EQ(dst->FourthOffset, -4);
                EXPECT_EQ(dst->Adjust, 1);
                EXPECT_EQ(dst->Contrast, 12);
                EXPECT_TRUE(dst->FullAlpha);
                ASSERT_TRUE(dst->HasAlphaChannel());
                EXPECT_TRUE(dst->GetAlphaChannel()->FullAlpha);
                // Saved again, the dump is the same.
                EXPECT_EQ(Dump(*dst), d);
            }
        }
    }
}

TEST(PxRawDump, AlignmentVersionAndAlphaRemoval)
{
    auto src = Make(Store::Memory, 5, 3, px8g);
    src->SetRowAlignment(8);
    FillPattern(*src, 4);
    auto d = Dump(*src);
    ASSERT_EQ(d.size(), 75u + 15 + 1);
    // A new image (asking for a file) takes the dump's alignment.
    auto dst = std::make_unique<TPxBitmap>();
    dst->GetAlphaChannel();
    ASSERT_TRUE(Load(*dst, d));
    EXPECT_EQ(dst->GetRowAlignment(), 8);
    EXPECT_EQ(Pixels(*dst), Pixels(*src));
    EXPECT_FALSE(dst->HasAlphaChannel());  // the dump has none

    // Any version from 0 up reads as version 0.
    WriteInt(d, 12, 7);
    auto v7 = std::make_unique<TPxBitmap>();
    ASSERT_TRUE(Load(*v7, d));
    EXPECT_EQ(Pixels(*v7), Pixels(*src));

    // Same size and format as the dump: the old alpha channel still goes.
    auto same = Make(Store::Memory, 5, 3, px8g);
    same->SetRowAlignment(8);
    same->GetAlphaChannel()->Fill(1);
    ASSERT_TRUE(Load(*same, d));
    EXPECT_FALSE(same->HasAlphaChannel());
}

// A small dump with a palette and an alpha channel.
std::vector<uint8_t> SmallDump()
{
    auto b = Make(Store::Memory, 3, 2, px8p);
    FillPattern(*b, 5);
    b->GetAlphaChannel()->Fill(128);
    return Dump(*b);
}

TEST(PxRawDump, TruncatedDumpsFailCleanly)
{
    const auto d = SmallDump();
    ASSERT_EQ(d.size(), 75u + 3 * 256 + 2 * 4 + 1 + 2 * 4 + 1);
    for (size_t n = 0; n < d.size(); ++n) {
        SCOPED_TRACE("length " + std::to_string(n));
        auto b = Make(Store::Memory, 4, 4, px24RGB);
        b->GetAlphaChannel();
        FillPattern(*b, 1);
        const auto before = Pixels(*b);
        // Through a block bounded by its size, and through a stream.
        EXPECT_FALSE(LoadRawFromStream(*b, d.data(), static_cast<int64_t>(n), nullptr));
        if (n < 16) {
            EXPECT_EQ(Pixels(*b), before);  // magic or version not read: untouched
        } else {
            EXPECT_TRUE(b->IsEmpty());
            EXPECT_FALSE(b->HasAlphaChannel());
        }
        classlib::TMemoryStream stream;
        stream.WriteBuffer(d.data(), static_cast<int64_t>(n));
        stream.SetPosition(0);
        auto c = Make(Store::File, 4, 4, px24RGB);
        EXPECT_FALSE(LoadRawFromStream(*c, nullptr, 0, &stream));
    }
    auto b = std::make_unique<TPxBitmap>();
    EXPECT_TRUE(LoadRawFromStream(*b, d.data(), static_cast<int64_t>(d.size()), nullptr));
}

TEST(PxRawDump, BadDumpsFailCleanly)
{
    const auto good = SmallDump();
    const size_t fixed = 20 + 3 * 256;  // the width field
    struct BadCase {
        const char* what;
        size_t offset;
        int32_t value;
        bool byte;
    };
    const BadCase cases[] = {
        {"version -1", 12, -1, false},
        {"palette count 300", 16, 300, false},
        {"palette count -1", 16, -1, false},
        {"width -3", fixed, -3, false},
        {"width 0", fixed, 0, false},
        {"height -1", fixed + 4, -1, false},
        {"height 2^31-1", fixed + 4, 0x7FFFFFFF, false},
        {"width 2^31-1", fixed, 0x7FFFFFFF, false},
        {"pixel format 0", fixed + 8, 0, true},
        {"pixel format 11", fixed + 8, 11, true},
        {"row alignment 12", fixed + 51, 12, false},
        {"row alignment 0", fixed + 51, 0, false},
        {"row alignment -32", fixed + 51, -32, false},
        {"row alignment 2^31-8", fixed + 51, 0x7FFFFFF8, false},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.what);
        auto d = good;
        if (c.byte)
            d[c.offset] = static_cast<uint8_t>(c.value);
        else
            WriteInt(d, c.offset, c.value);
        classlib::TMemoryStream stream;
        stream.WriteBuffer(d.data(), static_cast<int64_t>(d.size()));
        stream.SetPosition(0);
        auto b = Make(Store::Memory, 2, 2, px8g);
        EXPECT_FALSE(LoadRawFromStream(*b, nullptr, 0, &stream));
        EXPECT_FALSE(b->HasAlphaChannel());
    }
    // A wrong magic reads nothing more and leaves the image alone.
    auto d = good;
    d[3] = 'x';
    auto b = Make(Store::Memory, 2, 2, px8g);
    FillPattern(*b, 1);
    classlib::TMemoryStream stream;
    stream.WriteBuffer(d.data(), static_cast<int64_t>(d.size()));
    stream.SetPosition(0);
    EXPECT_FALSE(LoadRawFromStream(*b, nullptr, 0, &stream));
    EXPECT_EQ(stream.GetPosition(), 12);
    EXPECT_EQ(b->GetWidth(), 2);
    EXPECT_FALSE(LoadRawFromStream(*b, nullptr, 0, nullptr));
}

TEST(PxRawDump, LoadIntoStorageThatCannotBeHad)
{
    const auto d = SmallDump();
    NoStorageScope scope;
    auto b = std::make_unique<TPxBitmap>();
    EXPECT_FALSE(Load(*b, d));
    EXPECT_TRUE(b->IsEmpty());
    EXPECT_FALSE(b->HasAlphaChannel());
}

}  // namespace
