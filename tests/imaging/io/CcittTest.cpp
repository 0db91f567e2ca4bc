// The CCITT fax codec: strips coded by libtiff (Modified Huffman, Group 3
// one- and two-dimensional, Group 4, both fill orders) decode to the pixels
// ImageMagick drew; every encoder round-trips through the decoders; exact
// codes of the long-run and end-of-strip cases; uncompressed mode; damaged
// and random data never write outside the row.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "classlib/Streams.h"
#include "imaging/io/formats/tiff/Ccitt.h"
#include "tests/imaging/io/TiffTestFile.h"
#include "tests/support/TestSupport.h"

using namespace imaging;

namespace {

size_t Stride(int32_t width) { return (static_cast<size_t>(width) + 7) / 8; }

int Pixel(const uint8_t* row, int32_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

// A bi-level page, rows of Stride(Width) bytes.
struct TPage {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Bits;
    const uint8_t* Row(int32_t y) const { return Bits.data() + Stride(Width) * y; }
};

// ImageMagick's raw PBM: 1 = black.
TPage LoadPbm(const std::wstring& name)
{
    TPage page;
    const std::vector<uint8_t> bytes = tifftest::ReadFileBytes(testsupport::FixtureDir(L"io/ccitt") + L"\\" + name);
    std::string text(bytes.begin(), bytes.end());
    size_t at = 0;
    std::vector<std::string> words;
    while (words.size() < 3 && at < text.size()) {
        while (at < text.size() && isspace(static_cast<unsigned char>(text[at]))) ++at;
        const size_t start = at;
        while (at < text.size() && !isspace(static_cast<unsigned char>(text[at]))) ++at;
        words.push_back(text.substr(start, at - start));
    }
    if (words.size() != 3 || words[0] != "P4") return page;
    page.Width = std::stoi(words[1]);
    page.Height = std::stoi(words[2]);
    page.Bits.assign(bytes.begin() + static_cast<ptrdiff_t>(at + 1), bytes.end());
    if (page.Bits.size() != Stride(page.Width) * page.Height) page = TPage();
    return page;
}

// Decodes every strip of the first page of a TIFF the way the TIFF reader
// does; rows come out 1 = white.
TPage DecodeTiff(const tifftest::TFile& file)
{
    const tifftest::TDirectory& dir = file.Directories.at(0);
    TPage page;
    page.Width = static_cast<int32_t>(dir.Value(256));
    page.Height = static_cast<int32_t>(dir.Value(257));
    const int64_t compression = dir.Value(259);
    const auto fillOrder = static_cast<int32_t>(dir.Value(266, 1));
    const int64_t t4 = dir.Value(292, 0);
    const int64_t rowsPerStrip = std::min<int64_t>(dir.Value(278, page.Height), page.Height);
    const size_t stride = Stride(page.Width);
    page.Bits.assign(stride * page.Height, 0);
    std::vector<uint8_t> ref(stride);
    int32_t y = 0;
    for (size_t s = 0; y < page.Height; ++s) {
        const std::vector<uint8_t> strip = file.Strip(dir, s);
        const auto size = static_cast<int64_t>(strip.size());
        std::fill(ref.begin(), ref.end(), 0xFF);
        int64_t pos = 0;
        for (int64_t r = 0; r < rowsPerStrip && y < page.Height; ++r, ++y) {
            uint8_t* row = page.Bits.data() + stride * y;
            if (compression == 2) {
                pos += PxCCITTDecodeRowMH(row, strip.data() + pos, size - pos, fillOrder, page.Width);
            } else if (compression == 3 && (t4 & 1) == 0) {
                pos = PxCCITTDecodeRow1D(row, strip.data(), size, fillOrder, pos, page.Width);
            } else {
                pos = PxCCITTDecodeRow2D(row, strip.data(), size, compression == 3, fillOrder, pos, ref.data(),
                                         page.Width);
            }
        }
    }
    return page;
}

// Pixels where decoded (1 = white) and expected (1 = black) rows disagree.
int CountMismatches(const TPage& decoded, const TPage& expected, std::string& first)
{
    int bad = 0;
    for (int32_t y = 0; y < expected.Height; ++y)
        for (int32_t x = 0; x < expected.Width; ++x)
            if (Pixel(decoded.Row(y), x) == Pixel(expected.Row(y), x)) {
                if (bad++ == 0) first = "row " + std::to_string(y) + " x " + std::to_string(x);
            }
    return bad;
}

struct TFixtureCase {
    const wchar_t* File;
    int64_t Compression;
    int64_t FillOrder;
};

}  // namespace

TEST(CcittDecode, LibtiffStripsGiveTheSourcePixels)
{
    const TFixtureCase cases[] = {
        {L"mixed-mh.tif", 2, 1},          {L"mixed-g3-1d.tif", 3, 1},     {L"mixed-g3-1d-fill.tif", 3, 1},
        {L"mixed-g3-2d.tif", 3, 1},       {L"mixed-g3-2d-fill-lsb.tif", 3, 2},
        {L"mixed-g4.tif", 4, 1},          {L"mixed-g4-lsb-be.tif", 4, 2}, {L"mixed-fax2tiff.tif", 3, 2},
        {L"wide-mh.tif", 2, 1},           {L"wide-g3-1d.tif", 3, 1},      {L"wide-g3-1d-fill.tif", 3, 1},
        {L"wide-g3-2d.tif", 3, 1},        {L"wide-g3-2d-fill-lsb.tif", 3, 2},
        {L"wide-g4.tif", 4, 1},           {L"wide-g4-lsb-be.tif", 4, 2},
    };
    const TPage mixed = LoadPbm(L"mixed.pbm");
    const TPage wide = LoadPbm(L"wide.pbm");
    ASSERT_EQ(mixed.Width, 203);
    ASSERT_EQ(wide.Width, 2700);
    for (const TFixtureCase& c : cases) {
        SCOPED_TRACE(std::string(c.File, c.File + wcslen(c.File)));
        tifftest::TFile file;
        ASSERT_EQ(tifftest::Load(testsupport::FixtureDir(L"io/ccitt") + L"\\" + c.File, file), "");
        const tifftest::TDirectory& dir = file.Directories.at(0);
        ASSERT_EQ(dir.Value(259), c.Compression);
        ASSERT_EQ(dir.Value(266, 1), c.FillOrder);
        const TPage& expected = c.File[0] == L'm' ? mixed : wide;
        const TPage decoded = DecodeTiff(file);
        ASSERT_EQ(decoded.Width, expected.Width);
        ASSERT_EQ(decoded.Height, expected.Height);
        std::string first;
        EXPECT_EQ(CountMismatches(decoded, expected, first), 0) << "first at " << first;
    }
}

// ---------------------------------------------------------------------------

namespace {

enum TCodec { cdMH, cdG31D, cdG32D, cdG4 };

// Codes rows [First, First + Count) of a page (1 = black) as one strip.
std::vector<uint8_t> EncodeStrip(TCodec codec, const TPage& page, int32_t first, int32_t count, int32_t fillOrder)
{
    classlib::TMemoryStream stream;
    bool aborting = false;
    std::vector<uint8_t> ref;
    int32_t pendingBits = 0;
    uint8_t pendingByte = 0;
    for (int32_t y = first; y <= first + count; ++y) {
        const uint8_t* row = y < first + count ? page.Row(y) : nullptr;
        switch (codec) {
            case cdMH: PxEncodeMHRow(row, page.Width, &stream, fillOrder, aborting); break;
            case cdG31D:
                PxEncodeG3Row1D(row, page.Width, &stream, fillOrder, aborting, pendingBits, pendingByte);
                break;
            case cdG32D:
                PxEncodeG3Row2D(row, page.Width, &stream, fillOrder, aborting, ref, pendingBits, pendingByte);
                break;
            case cdG4:
                PxEncodeG4Row(row, page.Width, &stream, fillOrder, aborting, ref, pendingBits, pendingByte);
                break;
        }
    }
    EXPECT_FALSE(aborting);
    EXPECT_TRUE(ref.empty());
    EXPECT_EQ(pendingBits, 0);
    const auto* p = static_cast<const uint8_t*>(stream.GetMemory());
    return std::vector<uint8_t>(p, p + stream.GetSize());
}

// Decodes Count rows of one strip coded by EncodeStrip (rows 1 = white).
TPage DecodeStrip(TCodec codec, const std::vector<uint8_t>& strip, int32_t width, int32_t count, int32_t fillOrder)
{
    TPage page;
    page.Width = width;
    page.Height = count;
    page.Bits.assign(Stride(width) * count, 0);
    std::vector<uint8_t> ref(Stride(width), 0xFF);
    const auto size = static_cast<int64_t>(strip.size());
    int64_t pos = 0;
    for (int32_t y = 0; y < count; ++y) {
        uint8_t* row = page.Bits.data() + Stride(width) * y;
        switch (codec) {
            case cdMH: pos += PxCCITTDecodeRowMH(row, strip.data() + pos, size - pos, fillOrder, width); break;
            case cdG31D: pos = PxCCITTDecodeRow1D(row, strip.data(), size, fillOrder, pos, width); break;
            case cdG32D: pos = PxCCITTDecodeRow2D(row, strip.data(), size, true, fillOrder, pos, ref.data(), width); break;
            case cdG4: pos = PxCCITTDecodeRow2D(row, strip.data(), size, false, fillOrder, pos, ref.data(), width); break;
        }
    }
    return page;
}

TPage RandomPage(int32_t width, int32_t height, uint32_t seed, int runScale)
{
    std::mt19937 random(seed);
    TPage page;
    page.Width = width;
    page.Height = height;
    page.Bits.assign(Stride(width) * height, 0);
    for (int32_t y = 0; y < height; ++y) {
        int black = static_cast<int>(random() & 1);
        for (int32_t x = 0; x < width;) {
            const int32_t run = 1 + static_cast<int32_t>(random() % static_cast<uint32_t>(runScale));
            for (int32_t k = 0; k < run && x < width; ++k, ++x)
                if (black) page.Bits[Stride(width) * y + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
            black ^= 1;
        }
    }
    return page;
}

}  // namespace

TEST(CcittEncode, EveryModeRoundTripsThroughTheDecoders)
{
    std::vector<std::pair<std::string, TPage>> pages = {
        {"mixed", LoadPbm(L"mixed.pbm")},
        {"wide", LoadPbm(L"wide.pbm")},
        {"noise short runs", RandomPage(77, 40, 1, 3)},
        {"noise long runs", RandomPage(3001, 12, 2, 2900)},
        {"width 1", RandomPage(1, 9, 3, 2)},
        {"width 9", RandomPage(9, 9, 4, 4)},
    };
    for (const auto& [name, page] : pages) {
        ASSERT_GT(page.Width, 0) << name;
        for (TCodec codec : {cdMH, cdG31D, cdG32D, cdG4}) {
            for (int32_t fillOrder : {1, 2}) {
                SCOPED_TRACE(name + " codec " + std::to_string(codec) + " fill order " + std::to_string(fillOrder));
                // Strips of 16 rows: the encoder state starts afresh in each.
                for (int32_t first = 0; first < page.Height; first += 16) {
                    const int32_t count = std::min(16, page.Height - first);
                    const std::vector<uint8_t> strip = EncodeStrip(codec, page, first, count, fillOrder);
                    const TPage decoded = DecodeStrip(codec, strip, page.Width, count, fillOrder);
                    TPage expected = page;
                    expected.Height = count;
                    expected.Bits.assign(page.Row(first), page.Row(first) + Stride(page.Width) * count);
                    std::string at;
                    ASSERT_EQ(CountMismatches(decoded, expected, at), 0) << "strip at row " << first << ", " << at;
                }
            }
        }
    }
}

TEST(CcittEncode, ExactCodesOfLongRunsAndStripEnds)
{
    struct TCase {
        const char* Name;
        TCodec Codec;
        int32_t Width;
        int32_t FillOrder;
        std::vector<uint8_t> Expected;
    };
    const std::vector<TCase> cases = {
        // 1728 make-up 010011011, terminating 0 00110101, zero padding.
        {"MH white 1728", cdMH, 1728, 1, {0x4D, 0x9A, 0x80}},
        // The same bits from the least significant end of each byte.
        {"MH white 1728 fill order 2", cdMH, 1728, 2, {0xB2, 0x59, 0x01}},
        // 2561: the 2560 make-up 000000011111, then terminating 1 000111.
        {"MH white 2561", cdMH, 2561, 1, {0x01, 0xF1, 0xC0}},
        // An empty Group 4 strip: two ends of line, padded.
        {"G4 no rows", cdG4, 8, 1, {0x00, 0x10, 0x01}},
        // One white row: V0 (1), then the two ends of line, padded.
        {"G4 white row", cdG4, 8, 1, {0x80, 0x08, 0x00, 0x80}},
        // EOL, tag 1, white 8 (10011), then the strip's EOL, padded.
        {"G3 2D white row", cdG32D, 8, 1, {0x00, 0x1C, 0xC0, 0x04}},
        // Group 3 one-dimensional: no ends of line, white 8 then padding.
        {"G3 1D white row", cdG31D, 8, 1, {0x98}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPage page;
        page.Width = c.Width;
        page.Height = std::string(c.Name) == "G4 no rows" ? 0 : 1;
        page.Bits.assign(Stride(c.Width) * page.Height, 0);
        EXPECT_EQ(EncodeStrip(c.Codec, page, 0, page.Height, c.FillOrder), c.Expected);
    }
}

namespace {

class TRefusingStream : public classlib::TStream {
public:
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t, classlib::TSeekOrigin) override { return 0; }
};

}  // namespace

TEST(CcittEncode, WriteFailureSetsTheAbortingFlag)
{
    const uint8_t row[2] = {0x0F, 0xF0};
    TRefusingStream stream;
    bool aborting = false;
    PxEncodeMHRow(row, 16, &stream, 1, aborting);
    EXPECT_TRUE(aborting);
    aborting = false;
    std::vector<uint8_t> ref;
    int32_t bits = 0;
    uint8_t pending = 0;
    PxEncodeG4Row(row, 16, &stream, 1, aborting, ref, bits, pending);
    PxEncodeG4Row(nullptr, 16, &stream, 1, aborting, ref, bits, pending);
    EXPECT_TRUE(aborting);
}

// ---------------------------------------------------------------------------

namespace {

// Packs a text of '0' and '1' (other characters ignored) most significant
// bit first, zero padded.
std::vector<uint8_t> BitsOf(const std::string& text)
{
    std::vector<uint8_t> out;
    int n = 0;
    for (char c : text) {
        if (c != '0' && c != '1') continue;
        if (n % 8 == 0) out.push_back(0);
        if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
        ++n;
    }
    return out;
}

std::string PixelsOf(const uint8_t* row, int32_t width)
{
    std::string s;
    for (int32_t x = 0; x < width; ++x) s += Pixel(row, x) ? 'w' : 'B';
    return s;
}

}  // namespace

TEST(CcittDecode, EveryCodeOfTheTableIsFoundInItsTree)
{
    // Without the start-up's trees the first lookup builds them.
    PxFinalizeCCITT();
    std::mt19937 random(5);
    for (int black = 0; black < 2; ++black)
        for (int index = 0; index < 128; ++index) {
            const TPxCCITTCode& code = PxCCITTCodes[black][index];
            std::string text(3, '1');
            for (int b = code.Length - 1; b >= 0; --b) text += ((code.Value >> b) & 1) ? '1' : '0';
            for (int k = 0; k < 40; ++k) text += (random() & 1) ? '1' : '0';
            std::vector<uint8_t> data = BitsOf(text);
            EXPECT_EQ(PxCCITTDecodeCode(data.data(), static_cast<int64_t>(data.size()), 1, 3, black != 0), index)
                << "colour " << black;
            for (uint8_t& b : data) {
                uint8_t reversed = 0;
                for (int k = 0; k < 8; ++k)
                    if (b & (1 << k)) reversed |= static_cast<uint8_t>(0x80 >> k);
                b = reversed;
            }
            EXPECT_EQ(PxCCITTDecodeCode(data.data(), static_cast<int64_t>(data.size()), 2, 3, black != 0), index)
                << "colour " << black << " fill order 2";
        }
    const uint8_t one = 0xFF;
    EXPECT_EQ(PxCCITTDecodeCode(&one, 1, 1, 8, false), 127) << "past the data reads as an end of line";
}

TEST(CcittDecode, OneDimensionalEndsOfLineAndTruncation)
{
    std::vector<uint8_t> row(2);
    // White 4 (1011), black 8 (000101), preceded by an EOL with five fill
    // zeros: decodes as if the EOL were absent.
    const std::vector<uint8_t> leading = BitsOf("00000 000000000001 1011 000101");
    int64_t pos = PxCCITTDecodeRow1D(row.data(), leading.data(), static_cast<int64_t>(leading.size()), 1, 0, 12);
    EXPECT_EQ(PixelsOf(row.data(), 12), "wwwwBBBBBBBB");
    EXPECT_EQ(pos, 5 + 12 + 4 + 6);

    // A second EOL right after the first ends the row at once, all white.
    const std::vector<uint8_t> twice = BitsOf("000000000001 000000000001 1011 000101");
    pos = PxCCITTDecodeRow1D(row.data(), twice.data(), static_cast<int64_t>(twice.size()), 1, 0, 12);
    EXPECT_EQ(PixelsOf(row.data(), 12), "wwwwwwwwwwww");
    EXPECT_EQ(pos, 24);

    // Truncated after white 3 (1000): black follows, so the rest is black.
    const std::vector<uint8_t> cut = BitsOf("1000");
    PxCCITTDecodeRow1D(row.data(), cut.data(), 1, 1, 0, 10);
    EXPECT_EQ(PixelsOf(row.data(), 10), "wwwBBBBBBB");

    // Modified Huffman rows report whole bytes: white 8 (10011) uses one.
    const std::vector<uint8_t> mh = BitsOf("10011000 11111111");
    EXPECT_EQ(PxCCITTDecodeRowMH(row.data(), mh.data(), 2, 1, 8), 1);
    EXPECT_EQ(PixelsOf(row.data(), 8), "wwwwwwww");
}

TEST(CcittDecode, UncompressedModePixelsAreDrawn)
{
    // Enter uncompressed mode, then: "1" (one black), "001" (two white, one
    // black), "000001" (five white), exit "00000001" (one white) with tag 1
    // (black follows); then horizontal: black 2 (11), white 4 (1011).
    const std::string body = " 1 001 000001 00000001 1  001 11 1011";
    for (const std::string& entry : {std::string("0000001111"), std::string("000000001111")}) {
        SCOPED_TRACE(entry);
        const std::vector<uint8_t> data = BitsOf(entry + body);
        std::vector<uint8_t> row(2), ref(2, 0xFF);
        const int64_t pos =
            PxCCITTDecodeRow2D(row.data(), data.data(), static_cast<int64_t>(data.size()), false, 1, 0, ref.data(), 16);
        EXPECT_EQ(PixelsOf(row.data(), 16), "BwwBwwwwwwBBwwww");
        EXPECT_EQ(pos, static_cast<int64_t>(entry.size() + 28));
        EXPECT_EQ(ref, row);
    }
}

TEST(CcittDecode, VerticalModesStayInsideTheRow)
{
    // Reference: pixel 6 black. VR1 puts a1 at 7 (black from there); VR3 then
    // points at 8 + 3, past the 8-pixel row: clipped at its end.
    const std::vector<uint8_t> data = BitsOf("011 0000011");
    uint8_t row[3] = {0x55, 0x55, 0x55};
    uint8_t ref[3] = {0xFD, 0x55, 0x55};
    PxCCITTDecodeRow2D(row + 1, data.data(), static_cast<int64_t>(data.size()), false, 1, 0, ref, 8);
    EXPECT_EQ(PixelsOf(row + 1, 8), "wwwwwwwB");
    EXPECT_EQ(row[0], 0x55);
    EXPECT_EQ(row[2], 0x55);
    EXPECT_EQ(ref[1], 0x55);

    // VL3 against a reference black from pixel 1 points before the row.
    const std::vector<uint8_t> left = BitsOf("0000010 001 11 0111");
    uint8_t ref2[3] = {0xBF, 0x55, 0x55};
    row[0] = row[2] = 0x55;
    PxCCITTDecodeRow2D(row + 1, left.data(), static_cast<int64_t>(left.size()), false, 1, 0, ref2, 8);
    EXPECT_EQ(row[0], 0x55);
    EXPECT_EQ(row[2], 0x55);
}

// Changing elements at the row's edges, three rows of 16 coded by hand as
// T.6 defines them (a0 starts on an imaginary white element before the row;
// the reference row counts as white before its first pixel):
//   row 0: horizontal white 0, black 4; V0 at the end (b1 = 16);
//   row 1: the reference starts black, so b1 = 0 and b2 = 4 for the
//          imaginary a0: a pass to 4, then horizontal white 2, black 4, V0;
//   row 2: pass from the row start to b2 = 10, VL1 against b1 = 16 puts the
//          last pixel black, V0 against b1 = 16 ends the row.
TEST(CcittDecode, ModesAtTheRowEdgesFollowTheChangingElements)
{
    const std::vector<uint8_t> data =
        BitsOf("001 00110101 011 1  0001 001 0111 011 1  0001 010 1  000000000001 000000000001");
    std::vector<uint8_t> row(2), ref(2, 0xFF);
    const char* want[3] = {"BBBBwwwwwwwwwwww", "wwwwwwBBBBwwwwww", "wwwwwwwwwwwwwwwB"};
    int64_t pos = 0;
    for (const char* w : want) {
        SCOPED_TRACE(w);
        pos = PxCCITTDecodeRow2D(row.data(), data.data(), static_cast<int64_t>(data.size()), false, 1, pos,
                                 ref.data(), 16);
        EXPECT_EQ(PixelsOf(row.data(), 16), w);
    }
    EXPECT_EQ(pos, 15 + 15 + 8);  // the two end-of-line codes stay unread
}

namespace {

using TRuns = std::vector<std::pair<int32_t, int32_t>>;  // black [from, to)

// A decoded row (1 = white) with the given black runs.
std::vector<uint8_t> RowOf(int32_t width, const TRuns& black)
{
    std::vector<uint8_t> row((size_t(width) + 7) / 8, 0xFF);
    for (const auto& [from, to] : black)
        for (int32_t x = from; x < to; ++x) row[size_t(x) >> 3] &= uint8_t(~(0x80 >> (x & 7)));
    return row;
}

TRuns RunsOf(const uint8_t* row, int32_t width)
{
    TRuns runs;
    for (int32_t x = 0; x < width; ++x)
        if (Pixel(row, x) == 0) {
            if (!runs.empty() && runs.back().second == x)
                ++runs.back().second;
            else
                runs.push_back({x, x + 1});
        }
    return runs;
}

}  // namespace

// Coders other than the usual one may pick any mode the changing elements
// allow (horizontal where vertical or pass would do) and any make-up codes
// that add up to the run; a decoder must follow each the same way.
// ImageMagick decodes streams of these kinds to the same pixels.
TEST(CcittDecode, ModesAndMakeUpCodesAnyCoderMayChooseDecodeAlike)
{
    struct TCase {
        const char* Name;
        int32_t Width;
        TRuns Reference;
        const char* Bits;
        TRuns Want;
    };
    const TCase cases[] = {
        {"horizontal where V0 applies", 16, {{4, 8}}, "001 1011 011  1", {{4, 8}}},
        {"horizontal where a pass applies", 16, {{2, 5}}, "001 00111 11  1", {{10, 12}}},
        {"two passes from the row start", 16, {{1, 3}, {5, 7}}, "0001 0001 001 1100 11  1", {{12, 14}}},
        {"vertical after a pass, black to the row's end", 16, {{0, 3}, {9, 16}}, "0001 010  1", {{8, 16}}},
        {"white 2600 as make-up 1728 + 832 + 40, black 100 as 64 + 36", 2700, {},
         "001 010011011 011010010 00101001 0000001111 000011010100", {{2600, 2700}}},
        {"white 5130 as make-up 2560 twice + 10, black 70", 5200, {}, "001 000000011111 000000011111 00111"
         " 0000001111 0010", {{5130, 5200}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::vector<uint8_t> data = BitsOf(c.Bits);
        std::vector<uint8_t> ref = RowOf(c.Width, c.Reference), row(ref.size());
        int bits = 0;
        for (const char* p = c.Bits; *p != 0; ++p) bits += *p == '0' || *p == '1';
        const int64_t pos = PxCCITTDecodeRow2D(row.data(), data.data(), static_cast<int64_t>(data.size()), false, 1,
                                               0, ref.data(), c.Width);
        EXPECT_EQ(RunsOf(row.data(), c.Width), c.Want);
        EXPECT_EQ(pos, bits);
    }
}

TEST(CcittDecode, RandomAndTruncatedDataStayInsideTheRows)
{
    static constexpr size_t kGuard = 16;
    static constexpr uint8_t kCanary = 0xA5;
    auto guarded = [](std::vector<uint8_t>& buffer, size_t bytes) {
        buffer.assign(bytes + 2 * kGuard, kCanary);
        return buffer.data() + kGuard;
    };
    auto intact = [](const std::vector<uint8_t>& buffer, size_t bytes) {
        for (size_t i = 0; i < kGuard; ++i)
            if (buffer[i] != kCanary || buffer[kGuard + bytes + i] != kCanary) return false;
        return true;
    };

    std::mt19937 random(11);
    for (int round = 0; round < 3000; ++round) {
        const auto width = static_cast<int32_t>(1 + random() % 300);
        const size_t bytes = Stride(width);
        std::vector<uint8_t> data(random() % 80);
        for (uint8_t& b : data) b = static_cast<uint8_t>(random() % 4 == 0 ? 0 : random());
        const auto size = static_cast<int64_t>(data.size());
        const auto fillOrder = static_cast<int32_t>(1 + (random() & 1));
        std::vector<uint8_t> rowBuffer, refBuffer;
        uint8_t* row = guarded(rowBuffer, bytes);
        uint8_t* ref = guarded(refBuffer, bytes);
        std::fill(ref, ref + bytes, static_cast<uint8_t>(random()));
        int64_t pos1 = 0, pos2 = 0, pos4 = 0, mhAt = 0;
        for (int y = 0; y < 40; ++y) {
            pos1 = PxCCITTDecodeRow1D(row, data.data(), size, fillOrder, pos1, width);
            pos2 = PxCCITTDecodeRow2D(row, data.data(), size, true, fillOrder, pos2, ref, width);
            pos4 = PxCCITTDecodeRow2D(row, data.data(), size, false, fillOrder, pos4, ref, width);
            const int64_t used = PxCCITTDecodeRowMH(row, data.data() + mhAt, size - mhAt, fillOrder, width);
            ASSERT_GE(used, 0);
            ASSERT_LE(used, size - mhAt);
            mhAt += used;
        }
        ASSERT_TRUE(intact(rowBuffer, bytes)) << "round " << round;
        ASSERT_TRUE(intact(refBuffer, bytes)) << "round " << round;
    }

    // Every prefix of a libtiff Group 4 and Group 3 two-dimensional strip.
    for (const wchar_t* name : {L"mixed-g4.tif", L"mixed-g3-2d.tif"}) {
        tifftest::TFile file;
        ASSERT_EQ(tifftest::Load(testsupport::FixtureDir(L"io/ccitt") + L"\\" + name, file), "");
        const std::vector<uint8_t> strip = file.Strip(file.Directories[0], 0);
        const bool g3 = file.Directories[0].Value(259) == 3;
        ASSERT_FALSE(strip.empty());
        for (size_t cut = 0; cut <= strip.size(); ++cut) {
            std::vector<uint8_t> data(strip.begin(), strip.begin() + static_cast<ptrdiff_t>(cut));
            std::vector<uint8_t> rowBuffer, refBuffer;
            uint8_t* row = guarded(rowBuffer, Stride(203));
            uint8_t* ref = guarded(refBuffer, Stride(203));
            std::fill(ref, ref + Stride(203), 0xFF);
            int64_t pos = 0;
            for (int y = 0; y < 16; ++y)
                pos = PxCCITTDecodeRow2D(row, data.data(), static_cast<int64_t>(cut), g3, 1, pos, ref, 203);
            ASSERT_TRUE(intact(rowBuffer, Stride(203)) && intact(refBuffer, Stride(203))) << "cut " << cut;
        }
    }
}
