// DCX files: pages of a file written by ImageMagick checked against its
// decodes, the page table (count, lengths, limits), page insertion by the
// writer, failures that leave the target as it was; and PCX and DCX through
// the I/O object and the registry.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "PcxTestFiles.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOCounters.h"

using namespace pcxtest;

namespace {

class PcxDcx : public testing::Test {
protected:
    void SetUp() override { InstallPcx(); }
};

std::unique_ptr<TPxBitmap> Picture(int Width, int Height)
{
    auto b = std::make_unique<TPxBitmap>(Width, Height, px24RGB);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            b->SetPixelRGB(x, y, TPxRGB{static_cast<uint8_t>(x * 37), static_cast<uint8_t>(y * 91), 200});
    return b;
}

// The page table of DCX bytes (entries before the first 0).
std::vector<uint32_t> TableOf(const std::vector<uint8_t>& Bytes)
{
    std::vector<uint32_t> t;
    for (size_t at = 4; at + 4 <= Bytes.size() && t.size() < 1024 && Get32(Bytes, at) != 0; at += 4)
        t.push_back(Get32(Bytes, at));
    return t;
}

// 1024 pages, all the same 2 x 1 image; the table has no closing 0.
std::vector<uint8_t> FullTable()
{
    std::vector<uint8_t> d(4 + 4096, 0);
    Put32(d, 0, PxDCXMagic);
    for (int i = 0; i < 1024; ++i)
        Put32(d, 4 + 4 * i, 4100);
    THeader h;
    h.Width = 2;
    h.Planes = 3;
    const std::vector<uint8_t> page = MakePcx(h, {0xC6, 77});
    d.insert(d.end(), page.begin(), page.end());
    return d;
}

TEST_F(PcxDcx, ReadsThePageOfTheIndex)
{
    const std::vector<uint8_t> file = LoadBytes("multi.dcx");
    struct TCase {
        int Index, Page;
    };
    // Beyond the last page reads the last one, below 0 the first; the page
    // read is stored back as the index of every group.
    for (const TCase& c : {TCase{0, 0}, TCase{1, 1}, TCase{2, 2}, TCase{7, 2}, TCase{-3, 0}}) {
        SCOPED_TRACE(c.Index);
        classlib::TMemoryStream m;
        SetBytes(m, file);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.DCXImageIndex = c.Index;
        TResult r = ReadDcx(m, bitmap, params);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(r.Count, 3);
        EXPECT_EQ(params.DCXImageIndex, c.Page);
        EXPECT_EQ(params.ImageIndex, c.Page);
        EXPECT_EQ(bitmap.GetWidth(), c.Page == 2 ? 9 : 71);
        ExpectPixels(bitmap, LoadBytes("multi-" + std::to_string(c.Page) + ".rgb"));
    }
    {
        // Parameters only.
        classlib::TMemoryStream m;
        SetBytes(m, file);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.DCXImageIndex = 2;
        EXPECT_FALSE(ReadDcx(m, bitmap, params, true).Aborted);
        EXPECT_TRUE(bitmap.IsEmpty());
        EXPECT_EQ(params.Width, 9);
        EXPECT_EQ(params.Height, 71);
    }
    {
        // A full table of 1024 entries needs no closing 0.
        classlib::TMemoryStream m;
        SetBytes(m, FullTable());
        EXPECT_EQ(PxCountDCXPages(&m), 1024);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        params.DCXImageIndex = 5000;
        TResult r = ReadDcx(m, bitmap, params);
        ASSERT_FALSE(r.Aborted);
        EXPECT_EQ(params.DCXImageIndex, 1023);
        EXPECT_EQ(bitmap.GetPixelRGB(1, 0), (TPxRGB{77, 77, 77}));
    }
}

TEST_F(PcxDcx, CountsPagesAndMeasuresThem)
{
    std::vector<uint8_t> file = LoadBytes("multi.dcx");
    classlib::TMemoryStream m;
    SetBytes(m, file);
    EXPECT_EQ(PxCountDCXPages(&m), 3);
    EXPECT_EQ(m.GetPosition(), 0);
    // The magic is not checked by the count; the position comes back.
    file[0] = 0;
    std::vector<uint8_t> shifted(6, 0);
    shifted.insert(shifted.end(), file.begin(), file.end());
    SetBytes(m, shifted);
    m.SetPosition(6);
    EXPECT_EQ(PxCountDCXPages(&m), 3);
    EXPECT_EQ(m.GetPosition(), 6);
    EXPECT_EQ(PxCountDCXPagesInFile(FixturePath("multi.dcx")), 3);

    struct TCase {
        const char* Name;
        std::vector<uint32_t> Table;
        int64_t Size;
        std::vector<int64_t> Lengths;
    };
    const TCase cases[] = {
        {"unordered", {100, 50, 200}, 300, {100, 50, 100}},
        {"same offset twice", {50, 50, 80}, 100, {30, 30, 20}},
        {"compared unsigned", {0x90000000u, 10}, 0x100000000LL, {0x70000000LL, 0x8FFFFFF6LL}},
        {"beyond the data", {40}, 20, {0}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<uint32_t> table = c.Table;
        table.resize(1024, 0);
        EXPECT_EQ(PxDCXPageLengths(table, static_cast<int>(c.Table.size()), c.Size), c.Lengths);
    }
}

TEST_F(PcxDcx, RefusesDataThatAreNotDCX)
{
    std::vector<uint8_t> atSize = LoadBytes("multi.dcx");
    Put32(atSize, 8, static_cast<uint32_t>(atSize.size()));  // page 1 at the stream's size
    std::vector<uint8_t> empty(8, 0);
    Put32(empty, 0, PxDCXMagic);
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Bytes;
    };
    const TCase cases[] = {
        {"a PCX file", LoadBytes("pal8.pcx")},
        {"entry at the stream's size", atSize},
        {"no pages", empty},
        {"magic only, cut", {0xB1, 0x68, 0xDE}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        classlib::TMemoryStream m;
        SetBytes(m, c.Bytes);
        TPxBitmap bitmap;
        TIOParamsVals params(nullptr);
        EXPECT_TRUE(ReadDcx(m, bitmap, params).Aborted);
        EXPECT_TRUE(bitmap.IsEmpty());
    }
    classlib::TMemoryStream m;
    SetBytes(m, atSize);
    EXPECT_FALSE(PxIsDCX(m));
}

TEST_F(PcxDcx, WritesIntoAnEmptyStream)
{
    auto picture = Picture(5, 3);
    TIOParamsVals params(nullptr);
    classlib::TMemoryStream single;
    ASSERT_TRUE(WritePcx(single, *picture, params));
    classlib::TMemoryStream m;
    params.DCXImageIndex = 0;
    ASSERT_TRUE(WriteDcx(m, *picture, params));
    std::vector<uint8_t> expected{0xB1, 0x68, 0xDE, 0x3A, 12, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> page = StreamBytes(single);
    expected.insert(expected.end(), page.begin(), page.end());
    EXPECT_EQ(StreamBytes(m), expected);
}

TEST_F(PcxDcx, InsertsAPageAndKeepsTheOthers)
{
    const std::vector<uint8_t> file = LoadBytes("multi.dcx");
    auto picture = Picture(6, 4);
    struct TCase {
        int Index;
        std::vector<int> Pages;  // old page numbers, -1 for the new page
    };
    const TCase cases[] = {
        {0, {-1, 0, 1, 2}}, {1, {0, -1, 1, 2}}, {3, {0, 1, 2, -1}}, {4, {0, 1, 2}}, {-1, {0, 1, 2}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Index);
        classlib::TMemoryStream m;
        SetBytes(m, file);
        m.SetPosition(100);
        TIOParamsVals params(nullptr);
        params.DCXImageIndex = c.Index;
        ASSERT_TRUE(WriteDcx(m, *picture, params));
        const std::vector<uint8_t> out = StreamBytes(m);
        ASSERT_EQ(TableOf(out).size(), c.Pages.size());
        EXPECT_EQ(Get32(out, 4 + 4 * c.Pages.size()), 0u) << "closing entry";
        for (size_t p = 0; p < c.Pages.size(); ++p) {
            SCOPED_TRACE(p);
            m.SetPosition(0);
            TPxBitmap bitmap;
            TIOParamsVals in(nullptr);
            in.DCXImageIndex = static_cast<int>(p);
            TResult r = ReadDcx(m, bitmap, in);
            ASSERT_FALSE(r.Aborted);
            EXPECT_EQ(r.Count, static_cast<int>(c.Pages.size()));
            if (c.Pages[p] < 0)
                ExpectSamePixels(bitmap, *picture);
            else
                ExpectPixels(bitmap, LoadBytes("multi-" + std::to_string(c.Pages[p]) + ".rgb"));
        }
    }
}

TEST_F(PcxDcx, FailedWritesLeaveTheTarget)
{
    auto picture = Picture(3, 2);
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Target;
        int Index;
        int Bits;
    };
    const TCase cases[] = {
        {"not a DCX file", LoadBytes("pal8.pcx"), 0, 8},
        {"a 1025th page", FullTable(), 0, 8},
        {"a page the PCX writer refuses", LoadBytes("multi.dcx"), 1, 16},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        classlib::TMemoryStream m;
        SetBytes(m, c.Target);
        TIOParamsVals params(nullptr);
        params.DCXImageIndex = c.Index;
        params.BitsPerSample = c.Bits;
        params.SamplesPerPixel = c.Bits == 16 ? 1 : 3;
        EXPECT_FALSE(WriteDcx(m, *picture, params));
        EXPECT_EQ(StreamBytes(m), c.Target);
    }
}

TEST_F(PcxDcx, LoadsAndSavesThroughTheIOObject)
{
    const bool existed = PxFormatRegistryExists();
    if (!existed)
        PxBuildFormatRegistry();
    InstallPcx();
    testsupport::TempDir dir;
    auto picture = Picture(9, 5);
    {
        // A file, with the extension's row; the content is recognised.
        auto io = TImgIO::CreateForBitmap(picture.get());
        const std::wstring name = dir.File(L"a.pcx");
        io->SaveToFile(name);
        ASSERT_FALSE(io->AbortFlag);
        TPxBitmap back;
        auto in = TImgIO::CreateForBitmap(&back);
        in->LoadFromFile(name);
        ASSERT_FALSE(in->AbortFlag);
        EXPECT_EQ(in->FileParams->FileFormat, ffPCX);
        ExpectSamePixels(back, *picture);
        EXPECT_EQ(PxDetectFileFormat(name, true), ffPCX);
    }
    {
        // A stream block with its "PCX2" header, followed by other data.
        auto io = TImgIO::CreateForBitmap(picture.get());
        io->StreamHeaders = true;
        classlib::TMemoryStream m;
        io->SavePCXToStream(&m);
        ASSERT_FALSE(io->AbortFlag);
        const int64_t end = m.GetSize();
        const uint8_t more[3] = {1, 2, 3};
        m.WriteBuffer(more, 3);
        m.SetPosition(0);
        TPxBitmap back;
        auto in = TImgIO::CreateForBitmap(&back);
        in->StreamHeaders = true;
        in->LoadPCXFromStream(&m);
        ASSERT_FALSE(in->AbortFlag);
        EXPECT_EQ(m.GetPosition(), end);
        ExpectSamePixels(back, *picture);
    }
    {
        // DCX: saved as a one-page file, page counter installed.
        auto io = TImgIO::CreateForBitmap(picture.get());
        const std::wstring name = dir.File(L"b.dcx");
        io->SaveDCXToFile(name);
        ASSERT_FALSE(io->AbortFlag);
        EXPECT_EQ(PxCountFileFrames(name), 1);
        EXPECT_EQ(PxDetectFileFormat(name, true), ffDCX);
        TPxBitmap back;
        auto in = TImgIO::CreateForBitmap(&back);
        in->FileParams->DCXImageIndex = 4;
        in->LoadDCXFromFile(name);
        ASSERT_FALSE(in->AbortFlag);
        EXPECT_EQ(in->FileParams->DCXImageIndex, 0);
        ExpectSamePixels(back, *picture);
        EXPECT_EQ(PxCountFileFrames(FixturePath("multi.dcx")), 3);
    }
    if (!existed)
        PxFreeFormatRegistry();
}

}  // namespace
