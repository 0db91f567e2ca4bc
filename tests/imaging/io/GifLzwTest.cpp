// GIF LZW codec: encode/decode round trips over sizes, depths and both row
// orders; hand-packed code streams for the decoder's special codes and its
// failure paths (the stream position is the only failure signal); the
// encoder's code-size byte and sub-block packing.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/formats/gif/GifLzw.h"

using namespace imaging;

namespace {

// Packs codes least-significant bit first into one GIF data stream: the
// code-size byte, sub-blocks of up to 255 bytes, the terminator. Widths
// are given per code.
std::vector<uint8_t> PackCodes(uint8_t CodeSize, const std::vector<std::pair<int, int>>& Codes)
{
    std::vector<uint8_t> bytes;
    uint32_t acc = 0;
    int n = 0;
    for (auto [code, width] : Codes) {
        acc |= static_cast<uint32_t>(code) << n;
        n += width;
        while (n >= 8) {
            bytes.push_back(static_cast<uint8_t>(acc & 0xFF));
            acc >>= 8;
            n -= 8;
        }
    }
    if (n > 0)
        bytes.push_back(static_cast<uint8_t>(acc & 0xFF));
    std::vector<uint8_t> out{CodeSize};
    for (size_t at = 0; at < bytes.size(); at += 255) {
        const size_t len = std::min<size_t>(255, bytes.size() - at);
        out.push_back(static_cast<uint8_t>(len));
        out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                   bytes.begin() + static_cast<std::ptrdiff_t>(at + len));
    }
    out.push_back(0);
    return out;
}

struct TDecodeResult {
    std::vector<uint8_t> Pixels;
    int64_t Position;
};

// Decodes Data placed after a 3-byte prefix so that "back at the start"
// and "not moved" are told apart from position 0.
TDecodeResult Decode(const std::vector<uint8_t>& Data, int Width, int Height, bool Interlaced, uint8_t Fill = 0xEE)
{
    classlib::TMemoryStream m;
    const uint8_t prefix[3] = {1, 2, 3};
    m.WriteBuffer(prefix, 3);
    m.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
    m.WriteBuffer(";", 1);
    m.SetPosition(3);
    TDecodeResult r{std::vector<uint8_t>(static_cast<size_t>(Width * Height), Fill), 0};
    PxGIFLZWDecompress(&m, Height, Width, Interlaced, r.Pixels.data());
    r.Position = m.GetPosition();
    return r;
}

std::vector<uint8_t> Encode(const std::vector<uint8_t>& Pixels, int Width, int Height, bool Interlaced, int Bits)
{
    classlib::TMemoryStream m;
    PxGIFLZWCompress(&m, Height, Width, Interlaced, Pixels.data(), Bits);
    const auto* p = static_cast<const uint8_t*>(m.GetMemory());
    return std::vector<uint8_t>(p, p + m.GetSize());
}

TEST(GifLzw, EncodeThenDecodeGivesTheIndexesBack)
{
    struct TCase {
        int Width, Height, Bits;
        bool Random;
    };
    // 300 x 200 random 8-bit indexes fill the 4096-entry table many times
    // (clear codes inside the data); heights below 5 have interlace passes
    // without rows; a run of one value builds long strings.
    const TCase cases[] = {{1, 1, 8, true},   {7, 5, 1, true},   {13, 11, 3, true}, {300, 200, 8, true},
                           {1, 5, 4, true},   {2, 2, 2, true},   {9, 3, 5, true},   {640, 3, 2, false},
                           {33, 17, 7, true}, {64, 64, 6, true}};
    std::mt19937 rng(42);
    for (const TCase& c : cases) {
        std::vector<uint8_t> pixels(static_cast<size_t>(c.Width * c.Height));
        for (auto& p : pixels)
            p = c.Random ? static_cast<uint8_t>(rng() & ((1u << c.Bits) - 1)) : 1;
        for (bool interlaced : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.Width << "x" << c.Height << " bits " << c.Bits << " interlaced "
                                            << interlaced);
            const std::vector<uint8_t> data = Encode(pixels, c.Width, c.Height, interlaced, c.Bits);
            ASSERT_GE(data.size(), 3u);
            EXPECT_EQ(data[0], std::max(c.Bits, 2));  // a 1-bit image has code size 2
            EXPECT_EQ(data.back(), 0);
            const TDecodeResult r = Decode(data, c.Width, c.Height, interlaced);
            EXPECT_EQ(r.Position, 3 + static_cast<int64_t>(data.size()));
            EXPECT_EQ(r.Pixels, pixels);
        }
    }
}

TEST(GifLzw, EncoderFillsSubBlocksOf254Bytes)
{
    // Find an image whose coded data are exactly 254 bytes: one full
    // sub-block, then the terminator (no empty block in between).
    std::mt19937 rng(5);
    std::vector<uint8_t> pixels;
    bool found = false;
    for (int n = 1; n < 400 && !found; ++n) {
        pixels.push_back(static_cast<uint8_t>(rng()));
        const std::vector<uint8_t> data = Encode(pixels, n, 1, false, 8);
        if (data.size() == 1 + 1 + 254 + 1) {
            found = true;
            EXPECT_EQ(data[1], 254);
            EXPECT_EQ(data.back(), 0);
        }
    }
    EXPECT_TRUE(found);

    // A larger image: every block but the last is 254 bytes long.
    std::vector<uint8_t> big(5000);
    for (auto& p : big)
        p = static_cast<uint8_t>(rng());
    const std::vector<uint8_t> data = Encode(big, 100, 50, false, 8);
    size_t at = 1;
    std::vector<int> lengths;
    while (at < data.size() && data[at] != 0) {
        lengths.push_back(data[at]);
        at += 1 + data[at];
    }
    ASSERT_EQ(at, data.size() - 1);
    ASSERT_GE(lengths.size(), 2u);
    for (size_t i = 0; i + 1 < lengths.size(); ++i)
        EXPECT_EQ(lengths[i], 254);
}

TEST(GifLzw, DecoderSpecialCodes)
{
    // Code size 2: clear 4, end 5, first free 6, codes of 3 bits.
    {
        // KwKwK: 0 then the code being defined (6 = "0 0").
        const TDecodeResult r = Decode(PackCodes(2, {{4, 3}, {0, 3}, {6, 3}, {5, 3}}), 3, 1, false);
        EXPECT_EQ(r.Pixels, (std::vector<uint8_t>{0, 0, 0}));
        EXPECT_EQ(r.Position, 3 + 1 + 1 + 2 + 1);
    }
    {
        // Several clear codes in a row, then literals; a stream that ends
        // without an end code is short data, not a failure.
        const TDecodeResult r = Decode(PackCodes(2, {{4, 3}, {4, 3}, {1, 3}, {2, 3}, {3, 3}}), 4, 1, false);
        EXPECT_EQ(r.Pixels, (std::vector<uint8_t>{1, 2, 3, 0xEE}));
        EXPECT_GT(r.Position, 3);
    }
    {
        // Interlaced 1 x 5: rows are written in the order 0, 4, 2, 1, 3.
        const TDecodeResult r =
            Decode(PackCodes(3, {{8, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}, {5, 4}, {9, 4}}), 1, 5, true);
        EXPECT_EQ(r.Pixels, (std::vector<uint8_t>{1, 4, 3, 5, 2}));
    }
    {
        // Codes past the last pixel are dropped.
        const TDecodeResult r = Decode(PackCodes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 4}}), 2, 1, false);
        EXPECT_EQ(r.Pixels, (std::vector<uint8_t>{1, 2}));
    }
}

TEST(GifLzw, DecoderFailuresPutTheStreamBack)
{
    // 12-bit table filled with literal pairs (code size 8): 2 + 4096 - 258
    // codes after the clear, then a further code that is not a clear.
    std::vector<std::pair<int, int>> full{{256, 9}};
    int nextFree = 258, width = 9;
    full.push_back({7, width});
    while (nextFree < 4096) {
        full.push_back({7, width});  // each code adds one entry
        ++nextFree;
        if (nextFree == (1 << width) && width < 12)
            ++width;
    }
    std::vector<std::pair<int, int>> fullThenClear = full;
    full.push_back({7, 12});
    full.push_back({257, 12});
    fullThenClear.push_back({256, 12});
    fullThenClear.push_back({7, 9});
    fullThenClear.push_back({257, 9});

    struct TCase {
        const char* Name;
        std::vector<uint8_t> Data;
    };
    const TCase failures[] = {
        {"code size 1", PackCodes(1, {{2, 2}, {1, 2}, {3, 2}})},
        {"code size 10", PackCodes(10, {{1024, 11}, {1, 11}, {1025, 11}})},
        {"code above the next free code", PackCodes(2, {{4, 3}, {1, 3}, {7, 3}, {5, 3}})},
        {"end code after a clear while data remain", PackCodes(2, {{4, 3}, {5, 3}, {1, 3}, {2, 3}, {3, 3}, {1, 3}})},
        {"coding on after the table is full", PackCodes(8, full)},
    };
    for (const TCase& c : failures) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Decode(c.Data, 64, 64, false).Position, 3);
    }
    // The same full table followed by a clear code decodes.
    const std::vector<uint8_t> ok = PackCodes(8, fullThenClear);
    EXPECT_EQ(Decode(ok, 4096, 2, false).Position, 3 + static_cast<int64_t>(ok.size()));
}

}  // namespace
