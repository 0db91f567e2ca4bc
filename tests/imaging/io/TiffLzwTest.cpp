// The TIFF LZW codec: strips written by libtiff decode to the original
// pixels, the encoder's output round-trips through the decoder at every
// end state of the code table, hand-made code streams exercise the
// decoder's special cases, damaged data fail cleanly, and write failures
// are reported.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/formats/tiff/TiffLzw.h"
#include "tests/imaging/io/TiffTestFile.h"
#include "tests/support/TestSupport.h"

using namespace imaging;

namespace {

std::vector<uint8_t> Encode(const std::vector<uint8_t>& data, size_t rowLength)
{
    classlib::TMemoryStream stream;
    void* state = nullptr;
    const uint8_t none = 0;
    if (data.empty())
        PxTIFFLZWCompress(&none, 0, &stream, state);
    for (size_t at = 0; at < data.size(); at += rowLength) {
        const size_t n = std::min(rowLength, data.size() - at);
        PxTIFFLZWCompress(data.data() + at, static_cast<int32_t>(n), &stream, state);
    }
    PxTIFFLZWCompress(nullptr, 0, &stream, state);
    EXPECT_EQ(state, nullptr);
    const uint8_t* p = static_cast<const uint8_t*>(stream.GetMemory());
    return std::vector<uint8_t>(p, p + stream.GetSize());
}

// Decodes rows of rowLength bytes until total bytes are out; a row the
// decoder refuses ends the result early.
std::vector<uint8_t> Decode(const std::vector<uint8_t>& strip, size_t total, int32_t rowLength, int32_t fillOrder = 1)
{
    std::vector<uint8_t> out;
    void* state = nullptr;
    while (out.size() < total) {
        const uint8_t* row = PxTIFFLZWDecompress(strip.data(), static_cast<int64_t>(strip.size()), rowLength, state,
                                                 fillOrder);
        if (!row)
            break;
        out.insert(out.end(), row, row + std::min<size_t>(rowLength, total - out.size()));
    }
    EXPECT_EQ(PxTIFFLZWDecompress(nullptr, 0, rowLength, state, fillOrder), nullptr);
    EXPECT_EQ(state, nullptr);
    return out;
}

std::vector<uint8_t> Noise(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

// Packs (code, width) pairs most significant bit first, zero-padded.
std::vector<uint8_t> PackCodes(const std::vector<std::pair<int, int>>& codes)
{
    std::vector<uint8_t> out;
    uint64_t bits = 0;
    int count = 0;
    for (auto [code, width] : codes) {
        bits = (bits << width) | uint64_t(code);
        count += width;
        while (count >= 8) {
            out.push_back(static_cast<uint8_t>(bits >> (count - 8)));
            count -= 8;
        }
    }
    if (count > 0)
        out.push_back(static_cast<uint8_t>(bits << (8 - count)));
    return out;
}

// A stream that takes Limit bytes and then refuses to write.
class TFullStream : public classlib::TMemoryStream {
public:
    explicit TFullStream(int64_t limit) : Limit(limit) {}
    int64_t Write(const void* Buffer, int64_t Count) override
    {
        const int64_t n = std::max<int64_t>(0, std::min(Count, Limit - GetSize()));
        return n > 0 ? classlib::TMemoryStream::Write(Buffer, n) : 0;
    }
    int64_t Limit;
};

}  // namespace

// Strips that libtiff compressed (tiffcp -c lzw, see make_lzw_fixtures.sh)
// decode to the raw pixels they were made from: a strip whose table fills
// and is cleared, several strips per image, and bit-reversed bytes.
TEST(TiffLzw, DecodesLibtiffStrips)
{
    struct Case {
        const wchar_t* Tif;
        const wchar_t* Raw;
        int32_t FillOrder;
    } cases[] = {
        {L"lzw_noise.tif", L"lzw_noise.raw", 1},
        {L"lzw_struct.tif", L"lzw_struct.raw", 1},
        {L"lzw_struct_fill2.tif", L"lzw_struct.raw", 2},
    };
    const std::wstring dir = testsupport::FixtureDir(L"io\\tiff-write") + L"\\";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Tif, c.Tif + wcslen(c.Tif)));
        tifftest::TFile file;
        ASSERT_EQ(tifftest::Load(dir + c.Tif, file), "");
        const std::vector<uint8_t> raw = tifftest::ReadFileBytes(dir + c.Raw);
        const tifftest::TDirectory& ifd = file.Directories.at(0);
        ASSERT_EQ(ifd.Value(259), 5);
        ASSERT_EQ(ifd.Value(266, 1), c.FillOrder);
        const int32_t rowLength = static_cast<int32_t>(ifd.Value(256) * ifd.Value(277, 1));
        const int64_t height = ifd.Value(257), rowsPerStrip = ifd.Value(278);
        ASSERT_EQ(static_cast<size_t>(rowLength * height), raw.size());
        std::vector<uint8_t> decoded;
        const size_t strips = ifd.Values(273).size();
        ASSERT_EQ(strips, static_cast<size_t>((height + rowsPerStrip - 1) / rowsPerStrip));
        for (size_t s = 0; s < strips; ++s) {
            const int64_t rows = std::min(rowsPerStrip, height - int64_t(s) * rowsPerStrip);
            std::vector<uint8_t> part = Decode(file.Strip(ifd, s), size_t(rows * rowLength), rowLength, c.FillOrder);
            decoded.insert(decoded.end(), part.begin(), part.end());
        }
        EXPECT_EQ(decoded, raw);
    }
}

// The encoder's output starts with the 9-bit Clear code and ends with EOI
// and zero bits to a whole byte.
TEST(TiffLzw, EncodedStripFraming)
{
    // Clear(256) 'A'(65) EOI(257), 9 bits each, 5 zero bits.
    EXPECT_EQ(Encode({'A'}, 1), (std::vector<uint8_t>{0x80, 0x10, 0x60, 0x20}));
    // An empty strip is Clear and EOI.
    EXPECT_EQ(Encode({}, 1), PackCodes({{256, 9}, {257, 9}}));
    const std::vector<uint8_t> strip = Encode(Noise(3000, 7), 100);
    ASSERT_GE(strip.size(), 2u);
    EXPECT_EQ(strip[0], 0x80);
    EXPECT_EQ(strip[1] & 0x80, 0);
}

// Every length of noise from 1 to 6,000 bytes round-trips: the strip ends
// at each point of the table's growth, so EOI falls on every code-width
// switch (next free code 511, 1,023, 2,047) and before, at and after the
// table reset. Structured data of other shapes round-trip too.
TEST(TiffLzw, RoundTrips)
{
    const std::vector<uint8_t> noise = Noise(6000, 99);
    for (size_t n = 1; n <= noise.size(); ++n) {
        const std::vector<uint8_t> data(noise.begin(), noise.begin() + n);
        const std::vector<uint8_t> back = Decode(Encode(data, n), n, static_cast<int32_t>(n));
        if (back != data) {
            ADD_FAILURE() << "noise of " << n << " bytes";
            break;
        }
    }
    std::vector<uint8_t> ramp, runs, rgb;
    for (int i = 0; i < 50000; ++i) {
        ramp.push_back(static_cast<uint8_t>(i));
        runs.push_back(static_cast<uint8_t>((i / 37) % 5));
        rgb.push_back(static_cast<uint8_t>(i % 3 == 0 ? (i / 300) : i % 3 == 1 ? 128 : (i * 7) & 0xF0));
    }
    struct Case {
        const char* Name;
        std::vector<uint8_t> Data;
        size_t EncodeRow;
        int32_t DecodeRow;
    } cases[] = {
        {"ramp", ramp, 1000, 1000},
        {"runs", runs, 333, 77},
        {"rgb", rgb, 7, 3000},
        {"long noise", Noise(100000, 3), 4096, 4096},  // several resets
        {"10000 bytes of one value", std::vector<uint8_t>(10000, 0xA5), 10000, 10000},
        {"odd rows", Noise(20000, 5), 1, 999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Decode(Encode(c.Data, c.EncodeRow), c.Data.size(), c.DecodeRow), c.Data);
    }
    // A run long enough for strings beyond a thousand bytes, decoded in rows
    // far shorter than one string.
    const std::vector<uint8_t> zeros(700000, 0);
    const std::vector<uint8_t> strip = Encode(zeros, 65536);
    EXPECT_LT(strip.size(), 7000u);
    EXPECT_EQ(Decode(strip, zeros.size(), 3), zeros);
}

// Hand-made code streams: KwKwK, a Clear in the middle after the width
// grew, and bit-reversed data.
TEST(TiffLzw, DecoderSpecialCases)
{
    // Clear, 'A', 258 (not yet defined: the previous string plus its first
    // byte), EOI.
    EXPECT_EQ(Decode(PackCodes({{256, 9}, {65, 9}, {258, 9}, {257, 9}}), 3, 3),
              (std::vector<uint8_t>{65, 65, 65}));

    // 254 literals bring the next free code to 511, so the codes after them
    // are 10 bits wide; a Clear resets the width to 9.
    std::vector<std::pair<int, int>> codes = {{256, 9}};
    std::vector<uint8_t> expected;
    for (int i = 0; i < 254; ++i) {
        codes.push_back({i, 9});
        expected.push_back(static_cast<uint8_t>(i));
    }
    codes.push_back({258, 10});  // "0 1"
    expected.insert(expected.end(), {0, 1});
    codes.push_back({256, 10});
    codes.push_back({7, 9});
    codes.push_back({258, 9});  // KwKwK again after the reset: "7 7"
    codes.push_back({257, 9});
    expected.insert(expected.end(), {7, 7, 7});
    EXPECT_EQ(Decode(PackCodes(codes), expected.size(), static_cast<int32_t>(expected.size())), expected);
    // Read as rows of 16 bytes the same data come out.
    EXPECT_EQ(Decode(PackCodes(codes), expected.size(), 16), expected);

    // Fill order 2: every byte bit-reversed.
    std::vector<uint8_t> reversed = PackCodes(codes);
    for (auto& b : reversed) {
        uint8_t r = 0;
        for (int k = 0; k < 8; ++k)
            r = static_cast<uint8_t>(r | (((b >> k) & 1) << (7 - k)));
        b = r;
    }
    EXPECT_EQ(Decode(reversed, expected.size(), static_cast<int32_t>(expected.size()), 2), expected);
}

// Damaged data: refused rows return nullptr and the state is still freed;
// rows that end short keep the buffer's earlier bytes; nothing is read past
// the strip.
TEST(TiffLzw, DamagedData)
{
    void* state = nullptr;
    // Undefined code right after Clear.
    std::vector<uint8_t> bad = PackCodes({{256, 9}, {300, 9}, {257, 9}});
    EXPECT_EQ(PxTIFFLZWDecompress(bad.data(), int64_t(bad.size()), 4, state, 1), nullptr);
    EXPECT_NE(state, nullptr);
    EXPECT_EQ(PxTIFFLZWDecompress(nullptr, 0, 4, state, 1), nullptr);
    EXPECT_EQ(state, nullptr);

    // A table that would pass 4,096 entries without a Clear.
    std::vector<std::pair<int, int>> codes = {{256, 9}};
    for (int i = 0; i < 4000; ++i)
        {
        const int nextFree = 257 + i;  // before the literal is read
        codes.push_back({i % 256, nextFree < 511 ? 9 : nextFree < 1023 ? 10 : nextFree < 2047 ? 11 : 12});
    }
    bad = PackCodes(codes);
    std::vector<uint8_t> out = Decode(bad, 4000, 4000);
    EXPECT_TRUE(out.empty());

    // A row-length below 1 creates nothing.
    EXPECT_EQ(PxTIFFLZWDecompress(bad.data(), int64_t(bad.size()), 0, state, 1), nullptr);
    EXPECT_EQ(state, nullptr);

    // A code above the next free one ends the row short; so do EOI and the
    // end of the data. The rows still come back.
    const std::vector<uint8_t> shortRow = PackCodes({{256, 9}, {1, 9}, {2, 9}, {400, 9}, {3, 9}, {257, 9}});
    const uint8_t* row = PxTIFFLZWDecompress(shortRow.data(), int64_t(shortRow.size()), 8, state, 1);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row[0], 1);
    EXPECT_EQ(row[1], 2);
    PxTIFFLZWDecompress(nullptr, 0, 8, state, 1);

    // A strip cut inside: every row is returned, the bytes decoded so far
    // are right.
    const std::vector<uint8_t> data = Noise(5000, 11);
    std::vector<uint8_t> strip = Encode(data, 100);
    strip.resize(strip.size() / 2);
    const std::vector<uint8_t> back = Decode(strip, data.size(), 100);
    ASSERT_EQ(back.size(), data.size());
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 2000, data.begin()));
}

// A stream that stops taking bytes makes the encoder raise EWriteError,
// during the rows or when the strip ends; the state can always be freed.
TEST(TiffLzw, WriteFailuresAreReported)
{
    const std::vector<uint8_t> data = Noise(4000, 1);
    {
        TFullStream stream(300);
        void* state = nullptr;
        EXPECT_THROW(PxTIFFLZWCompress(data.data(), int32_t(data.size()), &stream, state), classlib::EWriteError);
        ASSERT_NE(state, nullptr);
        EXPECT_NO_THROW(PxTIFFLZWCompress(data.data(), 10, &stream, state));
        EXPECT_NO_THROW(PxTIFFLZWCompress(nullptr, 0, &stream, state));
        EXPECT_EQ(state, nullptr);
    }
    {
        // Fewer than one packet: the failure shows at the end of the strip.
        TFullStream stream(0);
        void* state = nullptr;
        PxTIFFLZWCompress(data.data(), 50, &stream, state);
        EXPECT_THROW(PxTIFFLZWCompress(nullptr, 0, &stream, state), classlib::EWriteError);
        EXPECT_EQ(state, nullptr);
    }
}

// The unit provides the I/O start-up's default routines.
TEST(TiffLzw, InstalledAsDefaults)
{
    PxInstallTIFFLZWCodec();
    EXPECT_EQ(PxIODefaults().TIFFLZWDecompress, &PxTIFFLZWDecompress);
    EXPECT_EQ(PxIODefaults().TIFFLZWCompress, &PxTIFFLZWCompress);
    EXPECT_NE(PxGlobalTIFFLZWDecompress, nullptr);
    EXPECT_NE(PxGlobalTIFFLZWCompress, nullptr);
}
