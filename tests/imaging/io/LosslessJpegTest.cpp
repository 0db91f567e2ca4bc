// The lossless JPEG decoder on streams made by a small encoder of the test
// (one scan, one table of 5-bit codes for the categories 0 to 16): every
// predictor with grey of 8 and 12 bits and with colour triples, 16-bit
// extremes, restart intervals; and data it must refuse without reading or
// writing out of bounds.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/io/formats/dicom/LosslessJpeg.h"
#include "imaging/model/PxStreamUtils.h"

using namespace imaging;

namespace {

struct TImage {
    int Width = 0, Height = 0, Components = 1, Precision = 8;
    std::vector<int> Samples;  // rows top first, components interleaved
};

// Writes entropy-coded bits most significant first, stuffing a zero after
// every FF byte.
class TBitWriter {
public:
    explicit TBitWriter(std::vector<uint8_t>& Out) : out_(Out) {}
    void Put(uint32_t Value, int Count)
    {
        for (int i = Count - 1; i >= 0; --i) {
            byte_ = uint8_t((byte_ << 1) | ((Value >> i) & 1));
            if (++bits_ == 8)
                Emit();
        }
    }
    // Pads the last byte with one bits.
    void Flush()
    {
        while (bits_ != 0)
            Put(1, 1);
    }

private:
    void Emit()
    {
        out_.push_back(byte_);
        if (byte_ == 0xFF)
            out_.push_back(0);
        byte_ = 0;
        bits_ = 0;
    }
    std::vector<uint8_t>& out_;
    uint8_t byte_ = 0;
    int bits_ = 0;
};

void Put16(std::vector<uint8_t>& Out, int Value)
{
    Out.push_back(uint8_t(Value >> 8));
    Out.push_back(uint8_t(Value));
}

// The image as a lossless JPEG: SOI, SOF3, DHT, DRI (with a restart
// interval), SOS, the coded samples with restart markers, EOI. The first
// sample of the scan and of each restart interval is predicted as half the
// range, the rest of its line from the left, the first column from above.
std::vector<uint8_t> Encode(const TImage& Image, int Predictor, int RestartInterval = 0)
{
    const int nc = Image.Components;
    std::vector<uint8_t> out = {0xFF, 0xD8, 0xFF, 0xC3};
    Put16(out, 8 + 3 * nc);
    out.push_back(uint8_t(Image.Precision));
    Put16(out, Image.Height);
    Put16(out, Image.Width);
    out.push_back(uint8_t(nc));
    for (int k = 0; k < nc; ++k)
        out.insert(out.end(), {uint8_t(k + 1), 0x11, 0});
    out.insert(out.end(), {0xFF, 0xC4, 0, 36, 0x00});
    for (int l = 1; l <= 16; ++l)
        out.push_back(l == 5 ? 17 : 0);
    for (int v = 0; v <= 16; ++v)
        out.push_back(uint8_t(v));
    if (RestartInterval > 0) {
        out.insert(out.end(), {0xFF, 0xDD, 0, 4});
        Put16(out, RestartInterval);
    }
    out.insert(out.end(), {0xFF, 0xDA});
    Put16(out, 6 + 2 * nc);
    out.push_back(uint8_t(nc));
    for (int k = 0; k < nc; ++k)
        out.insert(out.end(), {uint8_t(k + 1), 0x00});
    out.insert(out.end(), {uint8_t(Predictor), 0, 0});

    TBitWriter bits(out);
    const int w = Image.Width;
    auto at = [&](int x, int y, int k) { return Image.Samples[size_t((y * w + x) * nc + k)]; };
    int64_t mcu = 0;
    int intervalRow = -1;  // the row the current restart interval began in
    for (int y = 0; y < Image.Height; ++y) {
        for (int x = 0; x < w; ++x, ++mcu) {
            const bool restart = RestartInterval > 0 && mcu % RestartInterval == 0;
            if (restart && mcu > 0) {
                bits.Flush();
                out.insert(out.end(), {0xFF, uint8_t(0xD0 + (mcu / RestartInterval - 1) % 8)});
            }
            if (restart || mcu == 0)
                intervalRow = y;
            for (int k = 0; k < nc; ++k) {
                int predicted;
                if (restart || mcu == 0) {
                    predicted = 1 << (Image.Precision - 1);
                } else if (y == intervalRow) {
                    predicted = at(x - 1, y, k);
                } else if (x == 0) {
                    predicted = at(x, y - 1, k);
                } else {
                    const int ra = at(x - 1, y, k), rb = at(x, y - 1, k), rc = at(x - 1, y - 1, k);
                    const int p[8] = {0, ra, rb, rc, ra + rb - rc, ra + ((rb - rc) >> 1), rb + ((ra - rc) >> 1),
                                      (ra + rb) >> 1};
                    predicted = p[Predictor];
                }
                int diff = (at(x, y, k) - predicted) & 0xFFFF;
                if (diff >= 32768)
                    diff -= 65536;
                int category = 0;
                for (int m = diff < 0 ? -diff : diff; m > 0; m >>= 1)
                    ++category;
                bits.Put(uint32_t(category), 5);
                if (category > 0 && category < 16)
                    bits.Put(uint32_t(diff > 0 ? diff : diff + (1 << category) - 1), category);
            }
        }
    }
    bits.Flush();
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

TImage MakeImage(int Width, int Height, int Components, int Precision)
{
    TImage im{Width, Height, Components, Precision, {}};
    const int max = (1 << Precision) - 1;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            for (int k = 0; k < Components; ++k) {
                // Smooth parts, an edge, and the ends of the range.
                int v = (x * 37 + y * 11 + k * 50) % (max + 1);
                if (x == Width - 1)
                    v = y % 2 ? max : 0;
                im.Samples.push_back(v);
            }
    return im;
}

// Decodes Data into a buffer of Count samples plus a guard zone; the guard
// must stay untouched. Returns the decoder's result.
bool Decode(const std::vector<uint8_t>& Data, bool Sixteen, size_t Count, std::vector<int>& Samples)
{
    constexpr size_t kGuard = 16;
    std::vector<uint8_t> out8(Sixteen ? 0 : Count + kGuard, 0xAB);
    std::vector<uint16_t> out16(Sixteen ? Count + kGuard : 0, 0xABAB);
    TPxMemStream stream(Data.data(), int64_t(Data.size()));
    const bool ok = PxDecodeLosslessJPEG(&stream, Sixteen ? out16.data() : nullptr, Sixteen ? nullptr : out8.data(),
                                         int64_t(Count), TPxProgressEvent(), nullptr, int64_t(Data.size()));
    Samples.clear();
    for (size_t i = 0; i < Count + kGuard; ++i) {
        const int v = Sixteen ? out16[i] : out8[i];
        if (i < Count)
            Samples.push_back(v);
        else
            EXPECT_EQ(v, Sixteen ? 0xABAB : 0xAB) << "written beyond the output at " << i;
    }
    return ok;
}

}  // namespace

TEST(LosslessJpeg, EveryPredictorRestoresTheSamples)
{
    struct TKind {
        const char* Name;
        int Components, Precision, RestartInterval;
    };
    const TKind kinds[] = {
        {"grey 8", 1, 8, 0},
        {"grey 12", 1, 12, 0},
        {"colour 8", 3, 8, 0},
        {"grey 12, a restart every row", 1, 12, 9},
        {"grey 8, restarts within rows", 1, 8, 4},
    };
    for (const TKind& kind : kinds) {
        const TImage image = MakeImage(9, 6, kind.Components, kind.Precision);
        for (int predictor = 1; predictor <= 7; ++predictor) {
            SCOPED_TRACE(std::string(kind.Name) + ", predictor " + std::to_string(predictor));
            std::vector<int> got;
            ASSERT_TRUE(Decode(Encode(image, predictor, kind.RestartInterval), kind.Precision > 8,
                               image.Samples.size(), got));
            EXPECT_EQ(got, image.Samples);
        }
    }
    // 16 bits: a difference of 32768 has no extra bits.
    TImage wide{4, 3, 1, 16, {0, 65535, 0, 65535, 32768, 0, 1, 65534, 65535, 0, 32767, 32768}};
    for (int predictor : {1, 4, 7}) {
        SCOPED_TRACE(predictor);
        std::vector<int> got;
        ASSERT_TRUE(Decode(Encode(wide, predictor), true, wide.Samples.size(), got));
        EXPECT_EQ(got, wide.Samples);
    }
}

TEST(LosslessJpeg, RefusesWhatItCannotDecode)
{
    const TImage grey = MakeImage(9, 6, 1, 8);
    const std::vector<uint8_t> good = Encode(grey, 1);
    const size_t n = grey.Samples.size();
    auto cut = [&](size_t Size) { return std::vector<uint8_t>(good.begin(), good.begin() + std::ptrdiff_t(Size)); };
    auto patched = [&](size_t At, uint8_t Value) {
        std::vector<uint8_t> d = good;
        d[At] = Value;
        return d;
    };
    const size_t sos = 4 + 2 + 9 + 38;  // SOI, SOF3 marker and segment, DHT
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Data;
        bool Sixteen;
        size_t Count;
    };
    const TCase cases[] = {
        {"coded data cut short", cut(good.size() - 20), false, n},
        {"coded data cut at once", cut(sos + 10), false, n},
        {"cut inside the tables", cut(40), false, n},
        {"fewer than 32 bytes", cut(31), false, n},
        {"predictor 0", patched(sos + 7, 0), false, n},
        {"predictor 8", patched(sos + 7, 8), false, n},
        {"not the lossless process", patched(3, 0xC1), false, n},
        {"a category beyond 16", patched(4 + 2 + 9 + 4 + 17 + 16, 17), false, n},
        {"output smaller than the frame", good, false, n - 1},
        {"8-bit samples asked as 16-bit", good, true, n},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<int> got;
        EXPECT_FALSE(Decode(c.Data, c.Sixteen, c.Count, got));
    }
    // Both or neither output: refused.
    std::vector<uint8_t> out8(n);
    std::vector<uint16_t> out16(n);
    TPxMemStream stream(good.data(), int64_t(good.size()));
    EXPECT_FALSE(PxDecodeLosslessJPEG(&stream, out16.data(), out8.data(), int64_t(n), TPxProgressEvent(), nullptr,
                                      int64_t(good.size())));
    EXPECT_FALSE(PxDecodeLosslessJPEG(&stream, nullptr, nullptr, int64_t(n), TPxProgressEvent(), nullptr,
                                      int64_t(good.size())));
}
