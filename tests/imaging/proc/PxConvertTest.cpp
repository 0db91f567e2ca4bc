// Pixel-format conversion: every pair of formats on a crafted 5 x 3 image in
// memory and in file storage, the bilevel methods, the display range of
// 16-bit grey, CIELab round trips, the CMYK hook and the untouched source of
// PxConvertPixelsFrom.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Exceptions.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/PxConvert.h"

using namespace imaging;

namespace {

// Sentinel positions of the crafted images: A, the fill F, B and C.
const int kPos[4][2] = {{0, 0}, {1, 0}, {2, 1}, {4, 2}};

struct TConvCase {
    TPxPixelFormat src, dst;
    std::vector<double> expected[4];  // at A, F, B, C
};

// Expected values from tests/fixtures/convert/make_convert_table.py, an
// independent reference of the formulas. Values per format: px1g bit; px8p
// index, R, G, B; px8g, px16g, px32f the value; px24RGB R, G, B; pxCMYK C, M,
// Y, K; pxRGB48 r, g, b; pxCIELab L, a, b; px32RGB R, G, B, fourth byte.
const TConvCase kTable[] = {
    {px1g, px1g, {{0}, {1}, {1}, {0}}},
    {px1g, px8p, {{0, 0, 0, 0}, {1, 255, 255, 255}, {1, 255, 255, 255}, {0, 0, 0, 0}}},
    {px1g, px8g, {{0}, {255}, {255}, {0}}},
    {px1g, px16g, {{0}, {65535}, {65535}, {0}}},
    {px1g, px24RGB, {{0, 0, 0}, {255, 255, 255}, {255, 255, 255}, {0, 0, 0}}},
    {px1g, px32f, {{0.0}, {1.0}, {1.0}, {0.0}}},
    {px1g, pxCMYK, {{0, 0, 0, 1}, {255, 255, 255, 255}, {255, 255, 255, 255}, {0, 0, 0, 1}}},
    {px1g, pxRGB48, {{0, 0, 0}, {65535, 65535, 65535}, {65535, 65535, 65535}, {0, 0, 0}}},
    {px1g, pxCIELab, {{0, 0, 0}, {255, 0, 0}, {255, 0, 0}, {0, 0, 0}}},
    {px1g, px32RGB, {{0, 0, 0, 255}, {255, 255, 255, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}}},
    {px8p, px1g, {{0}, {0}, {0}, {1}}},
    {px8p, px8p, {{0, 0, 0, 0}, {3, 10, 20, 30}, {1, 200, 100, 50}, {2, 255, 255, 255}}},
    {px8p, px8g, {{0}, {18}, {117}, {255}}},
    {px8p, px16g, {{0}, {4787}, {30184}, {65535}}},
    {px8p, px24RGB, {{0, 0, 0}, {10, 20, 30}, {200, 100, 50}, {255, 255, 255}}},
    {px8p, px32f, {{0.0}, {0.07292549312114716}, {0.4613725543022156}, {1.0}}},
    {px8p, pxCMYK, {{0, 0, 0, 1}, {85, 170, 255, 30}, {255, 127, 63, 200}, {255, 255, 255, 255}}},
    {px8p, pxRGB48, {{0, 0, 0}, {2570, 5140, 7710}, {51400, 25700, 12850}, {65535, 65535, 65535}}},
    {px8p, pxCIELab, {{0, 0, 0}, {15, 0, -8}, {136, 36, 45}, {255, 0, 0}}},
    {px8p, px32RGB, {{0, 0, 0, 255}, {10, 20, 30, 255}, {200, 100, 50, 255}, {255, 255, 255, 255}}},
    {px8g, px1g, {{0}, {0}, {0}, {1}}},
    {px8g, px8p, {{0, 0, 0, 0}, {18, 18, 18, 18}, {117, 117, 117, 117}, {255, 255, 255, 255}}},
    {px8g, px8g, {{0}, {18}, {117}, {255}}},
    {px8g, px16g, {{0}, {4626}, {30069}, {65535}}},
    {px8g, px24RGB, {{0, 0, 0}, {18, 18, 18}, {117, 117, 117}, {255, 255, 255}}},
    {px8g, px32f, {{0.0}, {0.07058823853731155}, {0.4588235318660736}, {1.0}}},
    {px8g, pxCMYK, {{0, 0, 0, 1}, {255, 255, 255, 18}, {255, 255, 255, 117}, {255, 255, 255, 255}}},
    {px8g, pxRGB48, {{0, 0, 0}, {4626, 4626, 4626}, {30069, 30069, 30069}, {65535, 65535, 65535}}},
    {px8g, pxCIELab, {{0, 0, 0}, {13, 0, 0}, {125, 0, 0}, {255, 0, 0}}},
    {px8g, px32RGB, {{0, 0, 0, 255}, {18, 18, 18, 255}, {117, 117, 117, 255}, {255, 255, 255, 255}}},
    {px16g, px1g, {{0}, {0}, {0}, {1}}},
    {px16g, px8p, {{0, 0, 0, 0}, {18, 18, 18, 18}, {117, 117, 117, 117}, {255, 255, 255, 255}}},
    {px16g, px8g, {{0}, {18}, {117}, {255}}},
    {px16g, px16g, {{0}, {4660}, {30000}, {65535}}},
    {px16g, px24RGB, {{0, 0, 0}, {18, 18, 18}, {117, 117, 117}, {255, 255, 255}}},
    {px16g, px32f, {{0.0}, {0.07110704481601715}, {0.4577706456184387}, {1.0}}},
    {px16g, pxCMYK, {{0, 0, 0, 1}, {255, 255, 255, 18}, {255, 255, 255, 117}, {255, 255, 255, 255}}},
    {px16g, pxRGB48, {{0, 0, 0}, {4660, 4660, 4660}, {30000, 30000, 30000}, {65535, 65535, 65535}}},
    {px16g, pxCIELab, {{0, 0, 0}, {13, 0, 0}, {125, 0, 0}, {255, 0, 0}}},
    {px16g, px32RGB, {{0, 0, 0, 255}, {18, 18, 18, 255}, {117, 117, 117, 255}, {255, 255, 255, 255}}},
    {px24RGB, px1g, {{0}, {0}, {0}, {1}}},
    {px24RGB, px8p, {{0, 0, 0, 0}, {1, 10, 20, 30}, {2, 200, 100, 50}, {3, 255, 255, 255}}},
    {px24RGB, px8g, {{0}, {18}, {117}, {255}}},
    {px24RGB, px16g, {{0}, {4787}, {30184}, {65535}}},
    {px24RGB, px24RGB, {{0, 0, 0}, {10, 20, 30}, {200, 100, 50}, {255, 255, 255}}},
    {px24RGB, px32f, {{0.0}, {0.07292549312114716}, {0.4613725543022156}, {1.0}}},
    {px24RGB, pxCMYK, {{0, 0, 0, 1}, {85, 170, 255, 30}, {255, 127, 63, 200}, {255, 255, 255, 255}}},
    {px24RGB, pxRGB48, {{0, 0, 0}, {2570, 5140, 7710}, {51400, 25700, 12850}, {65535, 65535, 65535}}},
    {px24RGB, pxCIELab, {{0, 0, 0}, {15, 0, -8}, {136, 36, 45}, {255, 0, 0}}},
    {px24RGB, px32RGB, {{0, 0, 0, 255}, {10, 20, 30, 255}, {200, 100, 50, 255}, {255, 255, 255, 255}}},
    {px32f, px1g, {{0}, {1}, {0}, {0}}},
    {px32f, px8p, {{0, 0, 0, 0}, {255, 255, 255, 255}, {127, 127, 127, 127}, {0, 0, 0, 0}}},
    {px32f, px8g, {{0}, {255}, {127}, {0}}},
    {px32f, px16g, {{0}, {65535}, {32767}, {0}}},
    {px32f, px24RGB, {{0, 0, 0}, {255, 255, 255}, {127, 127, 127}, {0, 0, 0}}},
    {px32f, px32f, {{0.0}, {1.5}, {0.5}, {-0.25}}},
    {px32f, pxCMYK, {{0, 0, 0, 1}, {255, 255, 255, 255}, {255, 255, 255, 127}, {0, 0, 0, 1}}},
    {px32f, pxRGB48, {{0, 0, 0}, {65535, 65535, 65535}, {32767, 32767, 32767}, {0, 0, 0}}},
    {px32f, pxCIELab, {{0, 0, 0}, {255, 0, 0}, {135, 0, 0}, {0, 0, 0}}},
    {px32f, px32RGB, {{0, 0, 0, 255}, {255, 255, 255, 255}, {127, 127, 127, 255}, {0, 0, 0, 255}}},
    {pxCMYK, px1g, {{0}, {0}, {0}, {1}}},
    {pxCMYK, px8p, {{0, 0, 0, 0}, {1, 10, 20, 30}, {2, 200, 99, 49}, {3, 255, 255, 255}}},
    {pxCMYK, px8g, {{0}, {18}, {116}, {255}}},
    {pxCMYK, px16g, {{0}, {4787}, {29982}, {65535}}},
    {pxCMYK, px24RGB, {{0, 0, 0}, {10, 20, 30}, {200, 99, 49}, {255, 255, 255}}},
    {pxCMYK, px32f, {{0.0}, {0.07292549312114716}, {0.4582847058773041}, {1.0}}},
    {pxCMYK, pxCMYK, {{0, 0, 0, 255}, {10, 20, 30, 255}, {255, 127, 63, 200}, {255, 255, 255, 255}}},
    {pxCMYK, pxRGB48, {{0, 0, 0}, {2570, 5140, 7710}, {51400, 25443, 12593}, {65535, 65535, 65535}}},
    {pxCMYK, pxCIELab, {{0, 0, 0}, {15, 0, -8}, {136, 36, 45}, {255, 0, 0}}},
    {pxCMYK, px32RGB, {{0, 0, 0, 255}, {10, 20, 30, 255}, {200, 99, 49, 255}, {255, 255, 255, 255}}},
    {pxRGB48, px1g, {{0}, {0}, {0}, {1}}},
    {pxRGB48, px8p, {{0, 0, 0, 0}, {1, 10, 20, 30}, {2, 200, 100, 50}, {3, 255, 255, 255}}},
    {pxRGB48, px8g, {{0}, {18}, {117}, {255}}},
    {pxRGB48, px16g, {{0}, {4787}, {30184}, {65535}}},
    {pxRGB48, px24RGB, {{0, 0, 0}, {10, 20, 30}, {200, 100, 50}, {255, 255, 255}}},
    {pxRGB48, px32f, {{0.0}, {0.07321035861968994}, {0.4631747901439667}, {1.00390625}}},
    {pxRGB48, pxCMYK, {{0, 0, 0, 1}, {85, 170, 255, 30}, {255, 127, 63, 200}, {255, 255, 255, 255}}},
    {pxRGB48, pxRGB48, {{0, 0, 0}, {2570, 5140, 7710}, {51400, 25700, 12850}, {65535, 65535, 65535}}},
    {pxRGB48, pxCIELab, {{0, 0, 0}, {15, 0, -8}, {136, 36, 45}, {255, 0, 0}}},
    {pxRGB48, px32RGB, {{0, 0, 0, 255}, {10, 20, 30, 255}, {200, 100, 50, 255}, {255, 255, 255, 255}}},
    {pxCIELab, px1g, {{0}, {0}, {0}, {1}}},
    {pxCIELab, px8p, {{0, 0, 0, 0}, {1, 201, 197, 119}, {2, 127, 110, 171}, {3, 255, 255, 255}}},
    {pxCIELab, px8g, {{0}, {191}, {118}, {255}}},
    {pxCIELab, px16g, {{0}, {49343}, {30372}, {65535}}},
    {pxCIELab, px24RGB, {{0, 0, 0}, {201, 197, 119}, {127, 110, 171}, {255, 255, 255}}},
    {pxCIELab, px32f, {{0.0}, {0.7537992000579834}, {0.4628172516822815}, {1.0}}},
    {pxCIELab, pxCMYK, {{0, 0, 0, 1}, {255, 249, 150, 201}, {189, 164, 255, 171}, {255, 255, 255, 255}}},
    {pxCIELab, pxRGB48, {{0, 0, 0}, {51657, 50629, 30583}, {32639, 28270, 43947}, {65535, 65535, 65535}}},
    {pxCIELab, pxCIELab, {{0, 0, 0}, {200, -10, 40}, {128, 20, -30}, {255, 0, 0}}},
    {pxCIELab, px32RGB, {{0, 0, 0, 255}, {201, 197, 119, 255}, {127, 110, 171, 255}, {255, 255, 255, 255}}},
    {px32RGB, px1g, {{0}, {0}, {0}, {1}}},
    {px32RGB, px8p, {{0, 0, 0, 0}, {1, 10, 20, 30}, {2, 200, 100, 50}, {3, 255, 255, 255}}},
    {px32RGB, px8g, {{0}, {18}, {117}, {255}}},
    {px32RGB, px16g, {{0}, {4787}, {30184}, {65535}}},
    {px32RGB, px24RGB, {{0, 0, 0}, {10, 20, 30}, {200, 100, 50}, {255, 255, 255}}},
    {px32RGB, px32f, {{0.0}, {0.07292549312114716}, {0.4613725543022156}, {1.0}}},
    {px32RGB, pxCMYK, {{0, 0, 0, 1}, {85, 170, 255, 30}, {255, 127, 63, 200}, {255, 255, 255, 255}}},
    {px32RGB, pxRGB48, {{0, 0, 0}, {2570, 5140, 7710}, {51400, 25700, 12850}, {65535, 65535, 65535}}},
    {px32RGB, pxCIELab, {{0, 0, 0}, {15, 0, -8}, {136, 36, 45}, {255, 0, 0}}},
    {px32RGB, px32RGB, {{0, 0, 0, 9}, {10, 20, 30, 99}, {200, 100, 50, 7}, {255, 255, 255, 0}}},
};

// Sets the raw bytes of pixel (x, y); values as in the table.
void PutPixel(TPxBitmap& b, int x, int y, const std::vector<double>& v)
{
    uint8_t* row = b.GetScanline(y);
    const size_t i = static_cast<size_t>(x);
    switch (b.GetPixelFormat()) {
    case px1g:
        if (v[0] != 0)
            row[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        else
            row[i / 8] &= static_cast<uint8_t>(~(0x80 >> (i % 8)));
        break;
    case px8p:
    case px8g: row[i] = static_cast<uint8_t>(v[0]); break;
    case px16g: {
        const uint16_t w = static_cast<uint16_t>(v[0]);
        std::memcpy(row + 2 * i, &w, 2);
        break;
    }
    case px24RGB:
        row[3 * i] = static_cast<uint8_t>(v[2]);
        row[3 * i + 1] = static_cast<uint8_t>(v[1]);
        row[3 * i + 2] = static_cast<uint8_t>(v[0]);
        break;
    case px32f: {
        const float f = static_cast<float>(v[0]);
        std::memcpy(row + 4 * i, &f, 4);
        break;
    }
    case pxCMYK:
        for (size_t k = 0; k < 4; ++k)
            row[4 * i + k] = static_cast<uint8_t>(v[k]);
        break;
    case pxRGB48:
        for (size_t k = 0; k < 3; ++k) {
            const uint16_t w = static_cast<uint16_t>(v[k]);
            std::memcpy(row + 6 * i + 2 * k, &w, 2);
        }
        break;
    case pxCIELab:
        row[3 * i] = static_cast<uint8_t>(v[0]);
        row[3 * i + 1] = static_cast<uint8_t>(static_cast<int8_t>(v[1]));
        row[3 * i + 2] = static_cast<uint8_t>(static_cast<int8_t>(v[2]));
        break;
    case px32RGB:
        row[4 * i] = static_cast<uint8_t>(v[2]);
        row[4 * i + 1] = static_cast<uint8_t>(v[1]);
        row[4 * i + 2] = static_cast<uint8_t>(v[0]);
        row[4 * i + 3] = static_cast<uint8_t>(v[3]);
        break;
    default: break;
    }
}

std::vector<double> ReadPixel(TPxBitmap& b, int x, int y)
{
    const uint8_t* row = b.GetScanline(y);
    const size_t i = static_cast<size_t>(x);
    switch (b.GetPixelFormat()) {
    case px1g: return {static_cast<double>((row[i / 8] >> (7 - i % 8)) & 1)};
    case px8p: {
        const TPxRGB c = b.GetPaletteEntry(row[i]);
        return {static_cast<double>(row[i]), static_cast<double>(c.r), static_cast<double>(c.g), static_cast<double>(c.b)};
    }
    case px8g: return {static_cast<double>(row[i])};
    case px16g: {
        uint16_t w;
        std::memcpy(&w, row + 2 * i, 2);
        return {static_cast<double>(w)};
    }
    case px24RGB: return {static_cast<double>(row[3 * i + 2]), static_cast<double>(row[3 * i + 1]), static_cast<double>(row[3 * i])};
    case px32f: {
        float f;
        std::memcpy(&f, row + 4 * i, 4);
        return {static_cast<double>(f)};
    }
    case pxCMYK: return {double(row[4 * i]), double(row[4 * i + 1]), double(row[4 * i + 2]), double(row[4 * i + 3])};
    case pxRGB48: {
        uint16_t w[3];
        std::memcpy(w, row + 6 * i, 6);
        return {double(w[0]), double(w[1]), double(w[2])};
    }
    case pxCIELab:
        return {double(row[3 * i]), double(static_cast<int8_t>(row[3 * i + 1])), double(static_cast<int8_t>(row[3 * i + 2]))};
    case px32RGB: return {double(row[4 * i + 2]), double(row[4 * i + 1]), double(row[4 * i]), double(row[4 * i + 3])};
    default: return {};
    }
}

// The sentinel image of a source format: F everywhere, then A, B, C; px8p
// gets the four-colour palette; an alpha channel with 77 at B.
std::unique_ptr<TPxBitmap> MakeSource(const TConvCase& c)
{
    auto b = std::make_unique<TPxBitmap>(5, 3, c.src);
    if (c.src == px8p) {
        b->SetPaletteEntry(0, TPxRGB{0, 0, 0});
        b->SetPaletteEntry(1, TPxRGB{50, 100, 200});
        b->SetPaletteEntry(2, TPxRGB{255, 255, 255});
        b->SetPaletteEntry(3, TPxRGB{30, 20, 10});
    }
    for (int y = 0; y < 3; ++y) {
        std::memset(b->GetScanline(y), 0, static_cast<size_t>(b->GetRowLen()));
        for (int x = 0; x < 5; ++x)
            PutPixel(*b, x, y, c.expected[1]);
    }
    // The identity row of the table holds the source values themselves.
    for (int k : {0, 2, 3}) {
        std::vector<double> v = c.expected[k];
        if (c.src == px8p)
            v = {v[0]};
        PutPixel(*b, kPos[k][0], kPos[k][1], v);
    }
    b->SetAlpha(2, 1, 77);
    return b;
}

const TConvCase& Identity(TPxPixelFormat f)
{
    for (const TConvCase& c : kTable)
        if (c.src == f && c.dst == f)
            return c;
    throw std::logic_error("no identity row");
}

std::string Name(TPxPixelFormat f)
{
    static const char* const names[] = {"pxNoPixels", "px1g",   "px8p",     "px8g",     "px16g",  "px24RGB",
                                        "px32f",      "pxCMYK", "pxRGB48", "pxCIELab", "px32RGB"};
    return names[f];
}

class PxConvert : public ::testing::Test {
protected:
    void SetUp() override
    {
        PxDefsInit();
        PxInstallPixelFormatConversion();
        savedThreshold_ = PxMemoryThreshold;
        savedServices_ = PxBitmapServices;
        // The table's CMYK values are those without a colour profile.
        PxBitmapServices.CMYKToRGB = nullptr;
        PxBitmapServices.RGBToCMYK = nullptr;
    }
    void TearDown() override
    {
        PxMemoryThreshold = savedThreshold_;
        PxBitmapServices = savedServices_;
    }

    // Converts every table source into every format by SetPixelFormat and
    // checks the sentinels, the alpha channel and the storage location.
    void RunTable(TPxLocation expectedLocation)
    {
        for (const TConvCase& c : kTable) {
            SCOPED_TRACE(Name(c.src) + " -> " + Name(c.dst));
            std::unique_ptr<TPxBitmap> b = MakeSource(Identity(c.src));
            ASSERT_EQ(b->GetLocation(), expectedLocation);
            b->BiLevelMethod = 0;
            b->SetPixelFormat(c.dst);
            ASSERT_EQ(b->GetPixelFormat(), c.dst);
            ASSERT_EQ(b->GetWidth(), 5);
            ASSERT_EQ(b->GetHeight(), 3);
            EXPECT_EQ(b->GetLocation(), expectedLocation);
            for (int k = 0; k < 4; ++k) {
                const std::vector<double> got = ReadPixel(*b, kPos[k][0], kPos[k][1]);
                ASSERT_EQ(got.size(), c.expected[k].size()) << "sentinel " << k;
                for (size_t i = 0; i < got.size(); ++i) {
                    if (c.dst == px32f)
                        EXPECT_FLOAT_EQ(static_cast<float>(got[i]), static_cast<float>(c.expected[k][i])) << "sentinel " << k;
                    else
                        EXPECT_EQ(got[i], c.expected[k][i]) << "sentinel " << k << " channel " << i;
                }
            }
            if (c.dst == px1g) {  // alignment bits of the last byte stay clear
                EXPECT_EQ(b->GetScanline(2)[0] & 0x07, 0);
            }
            ASSERT_TRUE(b->HasAlphaChannel());
            EXPECT_EQ(b->GetAlpha(2, 1), 77);
            EXPECT_EQ(b->GetAlpha(0, 0), 255);
        }
    }

    // Raw rows, palette, format and alpha of an image.
    static std::vector<uint8_t> Snapshot(TPxBitmap& b)
    {
        std::vector<uint8_t> s{static_cast<uint8_t>(b.GetPixelFormat()), static_cast<uint8_t>(b.GetWidth()),
                               static_cast<uint8_t>(b.GetLocation())};
        for (int y = 0; y < b.GetHeight(); ++y) {
            const uint8_t* row = b.GetScanline(y);
            s.insert(s.end(), row, row + b.GetRowLen());
        }
        for (int i = 0; i < b.GetPaletteLen(); ++i) {
            const TPxRGB c = b.GetPaletteEntry(i);
            s.insert(s.end(), {c.r, c.g, c.b});
        }
        if (b.HasAlphaChannel())
            for (int y = 0; y < b.GetHeight(); ++y)
                s.insert(s.end(), b.GetAlphaChannel()->GetScanline(y), b.GetAlphaChannel()->GetScanline(y) + b.GetWidth());
        return s;
    }

    int64_t savedThreshold_ = -1;
    TPxBitmapServices savedServices_;
};

TEST_F(PxConvert, EveryPairInMemory)
{
    PxMemoryThreshold = -1;
    RunTable(pxMemory);
}

TEST_F(PxConvert, EveryPairInFile)
{
    PxMemoryThreshold = 1;
    RunTable(pxFile);
}

TEST_F(PxConvert, NoPixelsOnEitherSide)
{
    TPxBitmap empty;
    empty.SetPixelFormat(px24RGB);
    EXPECT_EQ(empty.GetPixelFormat(), px24RGB);
    EXPECT_TRUE(empty.IsEmpty());
    empty.SetPixelFormat(px24RGB);  // unchanged: nothing, even when empty
    EXPECT_TRUE(empty.IsEmpty());

    TPxBitmap b(5, 3, px8g);
    b.SetPixelFormat(pxNoPixels);
    EXPECT_EQ(b.GetPixelFormat(), pxNoPixels);
    EXPECT_TRUE(b.IsEmpty());
}

TEST_F(PxConvert, ConvertPixelsFromLeavesSourceAlone)
{
    for (bool file : {false, true}) {
        PxMemoryThreshold = file ? 1 : -1;
        const struct {
            TPxPixelFormat src, dst;
            uint8_t method;
        } cases[] = {{pxCMYK, px8g, 0}, {px32RGB, px1g, 1}, {pxRGB48, px8p, 0}, {pxCIELab, px16g, 0},
                     {pxRGB48, px1g, 1}, {px24RGB, px8p, 0}, {px16g, pxCMYK, 0}};
        for (const auto& c : cases) {
            SCOPED_TRACE(Name(c.src) + " -> " + Name(c.dst) + (file ? " file" : " memory"));
            std::unique_ptr<TPxBitmap> source = MakeSource(Identity(c.src));
            const std::vector<uint8_t> before = Snapshot(*source);
            TPxBitmap target(5, 3, c.dst);
            target.BiLevelMethod = c.method;
            PxConvertPixelsFrom(target, *source);
            EXPECT_EQ(Snapshot(*source), before);
            EXPECT_EQ(target.GetPixelFormat(), c.dst);
            EXPECT_EQ(target.GetAlpha(2, 1), 77);
        }
        // Another size: nothing happens to either image.
        std::unique_ptr<TPxBitmap> source = MakeSource(Identity(px24RGB));
        TPxBitmap target(4, 3, px8g);
        target.Fill(9);
        PxConvertPixelsFrom(target, *source);
        EXPECT_EQ(target.GetPixelGray8(0, 0), 9);
        EXPECT_FALSE(target.HasAlphaChannel());
    }
}

TEST_F(PxConvert, ThresholdMethodUsesTheMeanGrey)
{
    // Row means 50, 100, 60 (integer division per row), image mean 70:
    // pixels of grey 70 and above become white.
    const uint8_t greys[3][5] = {{0, 0, 0, 0, 250}, {100, 100, 100, 100, 100}, {60, 60, 60, 60, 60}};
    for (TPxPixelFormat f : {px8g, px24RGB, pxRGB48}) {
        SCOPED_TRACE(Name(f));
        TPxBitmap b(5, 3, f);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                const double g = greys[y][x];
                if (f == px8g)
                    PutPixel(b, x, y, {g});
                else if (f == px24RGB)
                    PutPixel(b, x, y, {g, g, g});
                else
                    PutPixel(b, x, y, {g * 257, g * 257, g * 257});
            }
        b.BiLevelMethod = 1;
        b.SetPixelFormat(px1g);
        ASSERT_EQ(b.GetPixelFormat(), px1g);
        EXPECT_EQ(b.GetScanline(0)[0], 0x08);  // only the 250 pixel
        EXPECT_EQ(b.GetScanline(1)[0], 0xF8);
        EXPECT_EQ(b.GetScanline(2)[0], 0x00);
    }
}

TEST_F(PxConvert, BilevelRoundTripThroughPaletteKeepsWhiteButOneCell)
{
    TPxBitmap b(8, 8, px1g);
    b.Fill(1);
    b.SetPixelFormat(px8p);
    EXPECT_EQ(b.GetPaletteEntry(0), (TPxRGB{0, 0, 0}));
    EXPECT_EQ(b.GetPaletteEntry(1), (TPxRGB{255, 255, 255}));
    b.BiLevelMethod = 0;
    b.SetPixelFormat(px1g);
    // Level 63 is white wherever the matrix holds less: all but [7][0].
    for (int y = 0; y < 8; ++y)
        EXPECT_EQ(b.GetScanline(y)[0], y == 0 ? 0xFE : 0xFF) << y;
}

TEST_F(PxConvert, Grey16DisplayRange)
{
    const struct {
        uint16_t in;
        uint8_t out;
    } cases[] = {{500, 0}, {1000, 0}, {1500, 127}, {2000, 255}, {40000, 255}};
    TPxBitmap b(5, 1, px16g);
    for (int x = 0; x < 5; ++x)
        PutPixel(b, x, 0, {double(cases[x].in)});
    b.DisplayMin = 1000;
    b.DisplayMax = 2000;
    b.SetPixelFormat(px24RGB);
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(ReadPixel(b, x, 0), (std::vector<double>(3, cases[x].out))) << cases[x].in;
}

TEST_F(PxConvert, FloatGreyTruncatesAndClamps)
{
    const struct {
        float in;
        double out8, out16;
    } cases[] = {{0.999f, 254, 65469}, {1.0f, 255, 65535}, {7.5f, 255, 65535}, {-3.0f, 0, 0}};
    for (TPxPixelFormat f : {px8g, px16g}) {
        TPxBitmap b(4, 1, px32f);
        for (int x = 0; x < 4; ++x)
            PutPixel(b, x, 0, {cases[x].in});
        b.SetPixelFormat(f);
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(ReadPixel(b, x, 0)[0], f == px8g ? cases[x].out8 : cases[x].out16) << cases[x].in;
    }
}

TEST_F(PxConvert, CIELabKeepsWhiteWhite)
{
    EXPECT_EQ(PxRGB2CIELab(0xFFFFFF), (TPxCIELab{255, 0, 0}));
    EXPECT_EQ(PxCIELab2RGB(255), (TPxRGB{255, 255, 255}));
    EXPECT_EQ(PxRGB2CIELab(0), (TPxCIELab{0, 0, 0}));
    // Repeated round trips of an image do not darken it.
    TPxBitmap b(2, 1, px24RGB);
    PutPixel(b, 0, 0, {255, 255, 255});
    PutPixel(b, 1, 0, {200, 100, 50});
    for (int i = 0; i < 5; ++i) {
        b.SetPixelFormat(pxCIELab);
        b.SetPixelFormat(px24RGB);
    }
    EXPECT_EQ(ReadPixel(b, 0, 0), (std::vector<double>{255, 255, 255}));
}

TEST_F(PxConvert, CMYKGoesThroughTheInstalledHook)
{
    PxBitmapServices.CMYKToRGB = [](const TPxCMYK& p) { return TPxRGB{p.k, p.y, p.c}; };
    PxBitmapServices.RGBToCMYK = [](const TPxRGB& c) { return TPxCMYK{1, 2, 3, c.r}; };
    TPxBitmap b(1, 1, pxCMYK);
    PutPixel(b, 0, 0, {10, 20, 30, 40});
    b.SetPixelFormat(px24RGB);
    EXPECT_EQ(ReadPixel(b, 0, 0), (std::vector<double>{10, 30, 40}));
    b.SetPixelFormat(pxCMYK);
    EXPECT_EQ(ReadPixel(b, 0, 0), (std::vector<double>{1, 2, 3, 10}));
}

TEST_F(PxConvert, FailedConversionGivesTheImageBack)
{
    PxBitmapServices.CMYKToRGB = [](const TPxCMYK&) -> TPxRGB { throw classlib::EInvalidOperation(L"test"); };
    for (bool file : {false, true}) {
        PxMemoryThreshold = file ? 1 : -1;
        std::unique_ptr<TPxBitmap> b = MakeSource(Identity(pxCMYK));
        const std::vector<uint8_t> before = Snapshot(*b);
        EXPECT_THROW(b->SetPixelFormat(px24RGB), classlib::EInvalidOperation);
        EXPECT_EQ(Snapshot(*b), before);
    }
}

TEST_F(PxConvert, SystemBitmapKeepsItsStorage)
{
    // 24-bit to px1g, ordered: the reduction of the processing unit, whose
    // near-white pixels are always white (64 of 64 here).
    TPxBitmap b(8, 8, px24RGB);
    b.Fill(0xFFFFFF);
    b.SetLocation(pxTBitmap);
    ASSERT_EQ(b.GetLocation(), pxTBitmap);
    classlib::TBitmap* vcl = b.GetVclBitmap();
    b.SetAlpha(1, 1, 5);
    b.BiLevelMethod = 0;
    b.SetPixelFormat(px1g);
    EXPECT_EQ(b.GetLocation(), pxTBitmap);
    EXPECT_EQ(b.GetVclBitmap(), vcl);
    EXPECT_EQ(vcl->GetPixelFormat(), classlib::pf1bit);
    ASSERT_EQ(b.GetPixelFormat(), px1g);
    for (int y = 0; y < 8; ++y)
        EXPECT_EQ(b.GetScanline(y)[0], 0xFF) << y;
    EXPECT_EQ(b.GetAlpha(1, 1), 5);

    // 1 bit back to 24 bits: set bits white, clear bits black.
    b.GetScanline(2)[0] = 0x7F;
    b.SetPixelFormat(px24RGB);
    ASSERT_EQ(b.GetPixelFormat(), px24RGB);
    EXPECT_EQ(b.GetVclBitmap(), vcl);
    EXPECT_EQ(b.GetPixelRGB(0, 2), (TPxRGB{0, 0, 0}));
    EXPECT_EQ(b.GetPixelRGB(1, 2), (TPxRGB{255, 255, 255}));

    // 24 bits to grey: an 8-bit system bitmap with the grey ramp.
    b.SetPixelRGB(3, 3, TPxRGB{50, 100, 200});
    b.SetPixelFormat(px8g);
    ASSERT_EQ(b.GetPixelFormat(), px8g);
    EXPECT_EQ(b.GetPixelGray8(3, 3), 117);
    EXPECT_EQ(b.GetPixelGray8(0, 2), 0);
    EXPECT_EQ(b.GetLocation(), pxTBitmap);

    // Any other pair leaves the pixels as they are.
    TPxBitmap c(2, 2, px24RGB);
    c.SetLocation(pxTBitmap);
    c.SetPixelFormat(px16g);
    EXPECT_EQ(c.GetPixelFormat(), px24RGB);
}

TEST_F(PxConvert, BitmapToMask)
{
    TPxBitmap alpha(3, 2, px8g);
    alpha.Fill(255);
    alpha.GetScanline(1)[2] = 0;
    alpha.FullAlpha = true;
    TPxMask mask;
    PxBitmapToMask(&alpha, &mask);
    ASSERT_EQ(mask.BitsPerPixel, 8);
    EXPECT_EQ(mask.GetScanline(1)[2], 0);
    EXPECT_EQ(mask.GetScanline(0)[0], 255);
    EXPECT_TRUE(mask.Full);  // taken from the bitmap's flag

    TPxBitmap rgb(2, 1, px24RGB);
    rgb.SetPixelRGB(0, 0, TPxRGB{255, 255, 255});
    rgb.SetPixelRGB(1, 0, TPxRGB{50, 100, 200});
    PxBitmapToMask(&rgb, &mask);
    EXPECT_EQ(mask.GetScanline(0)[0], 255);  // the grey itself, not grey shr 2
    EXPECT_EQ(mask.GetScanline(0)[1], 117);
    EXPECT_TRUE(mask.Full);  // left as it was

    TPxBitmap bits(9, 1, px1g);
    std::memset(bits.GetScanline(0), 0, 4);
    bits.GetScanline(0)[1] = 0x80;
    PxBitmapToMask(&bits, &mask);
    ASSERT_EQ(mask.BitsPerPixel, 1);
    EXPECT_EQ(mask.GetScanline(0)[1], 0x80);
    EXPECT_FALSE(mask.IsEmpty());

    TPxBitmap other(2, 2, px16g);
    PxBitmapToMask(&other, &mask);
    EXPECT_EQ(mask.BitsPerPixel, 1);
}

}  // namespace
