// The TIFF writer: the structure of written files (parsed by the test's own
// directory reader), the stored samples of every writable combination
// decoded independently of the toolkit's reader, libtiff's decode of a set
// of written files (committed fixtures), page insertion, failures, and
// round trips through the toolkit's TIFF reader.
//
// Fixtures: with VELMO_TIFF_WRITE_FIXTURES set, WrittenFilesMatchLibtiff
// writes its files into tests/fixtures/io/tiff-write instead of comparing;
// make_write_fixtures.sh then adds libtiff's decodes beside them.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "classlib/ZLibStreams.h"
#include "imaging/io/formats/tiff/Ccitt.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/metadata/PxAnnotations.h"
#include "imaging/io/formats/tiff/TiffLzw.h"
#include "imaging/io/formats/tiff/TiffReader.h"
#include "imaging/io/formats/tiff/TiffWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIfdEditor.h"
#include "imaging/model/PxIptc.h"
#include "imaging/model/PxMask.h"
#include "tests/imaging/io/IoFixtureBytes.h"
#include "tests/imaging/io/TiffTestFile.h"
#include "tests/support/TestSupport.h"

using namespace imaging;

namespace {

// ---- test images

enum TSource { srcRGB, srcFewColours, srcGrey8, srcPalette, srcGrey16, srcCMYK, srcRGB48, srcBilevel, srcRGBAlpha, srcSmooth, srcNoise };

std::unique_ptr<TPxBitmap> MakeImage(TSource s, int w, int h)
{
    TPxPixelFormat f = s == srcGrey8 || s == srcNoise ? px8g : s == srcPalette ? px8p : s == srcGrey16 ? px16g
                       : s == srcCMYK ? pxCMYK : s == srcRGB48 ? pxRGB48 : s == srcBilevel ? px1g : px24RGB;
    auto b = std::make_unique<TPxBitmap>(w, h, f);
    if (f == px8p) {
        b->SetPaletteLen(16);
        for (int i = 0; i < 16; ++i)
            b->SetPaletteEntry(i, TPxRGB{uint8_t(i * 16), uint8_t(255 - i * 9), uint8_t(i * 5 + 40)});
    }
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b->GetScanline(y);
        for (int x = 0; x < w; ++x) {
            switch (s) {
            case srcSmooth:  // gentle gradients, for lossy coding
                row[3 * x] = uint8_t((x + y) * 3);
                row[3 * x + 1] = uint8_t(y * 10);
                row[3 * x + 2] = uint8_t(x * 6);
                break;
            case srcRGB:
            case srcRGBAlpha:
                row[3 * x] = uint8_t(x * 7 + y * 3);
                row[3 * x + 1] = uint8_t(x * y);
                row[3 * x + 2] = uint8_t(255 - x * 2);
                break;
            case srcFewColours: {
                static const uint8_t c[5][3] = {{0, 0, 255}, {0, 200, 0}, {90, 10, 10}, {255, 255, 255}, {7, 7, 200}};
                const int k = (x / 3 + y / 2) % 4;
                std::memcpy(row + 3 * x, c[k], 3);
                break;
            }
            case srcGrey8:
                row[x] = uint8_t(x * 13 + y * 7);
                break;
            case srcNoise: {
                uint32_t v = uint32_t(y * w + x) * 2654435761u;
                v ^= v >> 15;
                row[x] = uint8_t(v * 2246822519u >> 24);
                break;
            }
            case srcPalette:
                row[x] = uint8_t((x + 2 * y) % 16);
                break;
            case srcGrey16:
                reinterpret_cast<uint16_t*>(row)[x] = uint16_t(x * 1000 + y * 77);
                break;
            case srcCMYK:
                for (int k = 0; k < 4; ++k)
                    row[4 * x + k] = uint8_t(x * (k + 1) + y * 11);
                break;
            case srcRGB48:
                for (int k = 0; k < 3; ++k)
                    reinterpret_cast<uint16_t*>(row)[3 * x + k] = uint16_t(x * 501 + y * 97 * (k + 1));
                break;
            case srcBilevel:
                if (((x / 3 + y / 2) % 2) != 0)
                    row[x / 8] |= uint8_t(0x80 >> (x % 8));
                else
                    row[x / 8] &= uint8_t(~(0x80 >> (x % 8)));
                break;
            }
        }
    }
    if (s == srcRGBAlpha) {
        TPxBitmap* a = b->GetAlphaChannel();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                a->GetScanline(y)[x] = uint8_t(x * 9 + y);
        a->FullAlpha = false;
    }
    return b;
}

// The colour of pixel (x, y) as red, green, blue bytes.
void PixelRGB(TPxBitmap& b, int x, int y, uint8_t rgb[3])
{
    const uint8_t* row = b.GetScanline(y);
    switch (b.GetPixelFormat()) {
    case px24RGB:
        rgb[0] = row[3 * x + 2], rgb[1] = row[3 * x + 1], rgb[2] = row[3 * x];
        break;
    case px8p: {
        const TPxRGB c = b.GetPaletteEntry(row[x]);
        rgb[0] = c.r, rgb[1] = c.g, rgb[2] = c.b;
        break;
    }
    case px8g:
        rgb[0] = rgb[1] = rgb[2] = row[x];
        break;
    case px1g:
        rgb[0] = rgb[1] = rgb[2] = (row[x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
        break;
    default:
        rgb[0] = rgb[1] = rgb[2] = 0;
        break;
    }
}

// ---- writing

struct TWritten {
    std::vector<uint8_t> Bytes;
    bool Aborted = false;
    int32_t Result = 0;
};

struct TOptions {
    int Samples = 3;
    int Bits = 8;
    int Photometric = 2;
    int Compression = 0;
    int FillOrder = 1;
};

// Writes b as a file of its own with the parameters p.
TWritten WriteWith(TPxBitmap* b, TIOParamsVals& p)
{
    classlib::TMemoryStream s;
    bool aborting = false;
    TPxIOProgressInfo info;
    info.Aborting = &aborting;
    TWritten w;
    w.Result = PxWriteTIFF(&s, false, b, info, p);
    w.Aborted = aborting;
    w.Bytes = iobytes::StreamBytes(s);
    return w;
}

TWritten Write(TPxBitmap* b, const TOptions& o, TIOParamsVals* paramsOut = nullptr, int jpegColorSpace = 2)
{
    PxInstallTIFFLZWCodec();
    TIOParamsVals p(nullptr);
    p.SamplesPerPixel = o.Samples;
    p.BitsPerSample = o.Bits;
    p.TIFFPhotometric = uint8_t(o.Photometric);
    p.TIFFCompression = uint8_t(o.Compression);
    p.TIFFFillOrder = o.FillOrder;
    p.DpiX = 300;
    p.DpiY = 150;
    p.TIFFJPEGColorSpace = uint8_t(jpegColorSpace);
    p.TIFFJPEGQuality = 90;
    const TWritten w = WriteWith(b, p);
    if (paramsOut) {
        paramsOut->SamplesPerPixel = p.SamplesPerPixel;
        paramsOut->BitsPerSample = p.BitsPerSample;
        paramsOut->TIFFPhotometric = p.TIFFPhotometric;
    }
    return w;
}

// Page tags: a short description and page name (stored inline), a longer
// document name, page number and count, a horizontal position, XMP.
void SetPageTags(TIOParamsVals& p)
{
    p.TIFFImageDescription = "abc";
    p.TIFFDocumentName = "A longer name";
    p.TIFFPageName = "abcd";
    p.TIFFPageNumber = 2;
    p.TIFFPageCount = 5;
    p.TIFFXPos = 3;
    p.XMPInfo = "<x:xmpmeta/>";
}

// EXIF with a few page tags, EXIF tags marked and not, and a GPS position.
void SetSomeEXIF(TIOParamsVals& p)
{
    p.HasEXIF = true;
    p.TIFFOrientation = 6;
    p.EXIFMake = "Maker";
    p.EXIFModel = "M1";
    p.EXIFXResolution = 72;
    p.EXIFYResolution = 72;
    p.EXIFRating = 3;
    p.EXIFXPTitle = L"Title";
    p.SetEXIFExposureTime(0.004);
    p.SetEXIFFlash(0);  // marked: written although 0
    p.EXIFFNumber = 2.8;  // not marked: left out
    p.EXIFExifVersion = "0230";
    p.EXIFUserComment = L"Hi";
    p.EXIFUserCommentCode = std::string("UNICODE\0", 8);
    p.EXIFGPSVersionID = "2.2.0.0";
    p.EXIFGPSLatitudeRef = "N";
    p.EXIFGPSLatitude = {48, 51, 30.5};
    p.EXIFGPSAltitudeRef = "1";
}

// ---- decoding the stored samples without the toolkit's reader

std::vector<uint8_t> UnpackBits(const std::vector<uint8_t>& in)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < in.size();) {
        const int8_t n = int8_t(in[i++]);
        if (n >= 0) {
            for (int k = 0; k <= n && i < in.size(); ++k)
                out.push_back(in[i++]);
        } else if (n != -128 && i < in.size()) {
            out.insert(out.end(), size_t(1 - n), in[i++]);
        }
    }
    return out;
}

// All rows of the page as stored samples (CCITT rows as 1 = black bits);
// empty when a strip cannot be decoded.
std::vector<uint8_t> StoredRows(const tifftest::TFile& f, const tifftest::TDirectory& d)
{
    const int64_t w = d.Value(256), h = d.Value(257), spp = d.Value(277, 1), bps = d.Value(258, 1);
    const int64_t rowLen = (w * spp * bps + 7) / 8;
    const int64_t rps = std::min(d.Value(278, h), h);
    const int64_t comp = d.Value(259, 1);
    std::vector<uint8_t> out;
    const size_t strips = d.Values(273).size();
    for (size_t s = 0; s < strips; ++s) {
        const std::vector<uint8_t> data = f.Strip(d, s);
        const int64_t rows = std::min(rps, h - int64_t(s) * rps);
        std::vector<uint8_t> part;
        if (comp == 1) {
            part = data;
        } else if (comp == 5) {
            void* st = nullptr;
            for (int64_t r = 0; r < rows; ++r) {
                const uint8_t* row = PxTIFFLZWDecompress(data.data(), int64_t(data.size()), int32_t(rowLen), st, 1);
                if (!row)
                    break;
                part.insert(part.end(), row, row + rowLen);
            }
            PxTIFFLZWDecompress(nullptr, 0, 0, st, 1);
        } else if (comp == 32773) {
            part = UnpackBits(data);
        } else if (comp == 32946 || comp == 8) {
            part = classlib::ZDecompress(data);
        } else if (comp >= 2 && comp <= 4) {
            const int32_t fill = int32_t(d.Value(266, 1));
            std::vector<uint8_t> row(static_cast<size_t>(rowLen), 0);
            std::vector<uint8_t> ref(static_cast<size_t>(rowLen), 0xFF);
            int64_t bit = 0;
            const bool twoD = comp == 4 || (comp == 3 && (d.Value(292, 0) & 1));
            for (int64_t r = 0; r < rows; ++r) {
                if (comp == 2) {
                    bit += 8 * PxCCITTDecodeRowMH(row.data(), data.data() + bit / 8, int64_t(data.size()) - bit / 8,
                                                  fill, int32_t(w));
                } else if (twoD) {
                    bit = PxCCITTDecodeRow2D(row.data(), data.data(), int64_t(data.size()), comp == 3, fill, bit,
                                             ref.data(), int32_t(w));
                } else {
                    bit = PxCCITTDecodeRow1D(row.data(), data.data(), int64_t(data.size()), fill, bit, int32_t(w));
                }
                for (auto& b : row)
                    b = uint8_t(~b);  // decoded 1 = white; stored 1 = black
                part.insert(part.end(), row.begin(), row.end());
            }
        }
        if (int64_t(part.size()) < rows * rowLen)
            return {};
        part.resize(size_t(rows * rowLen));
        if (d.Value(317, 1) == 2 && bps == 8)
            for (int64_t r = 0; r < rows; ++r)
                for (int64_t i = spp; i < w * spp; ++i)
                    part[size_t(r * rowLen + i)] = uint8_t(part[size_t(r * rowLen + i)] + part[size_t(r * rowLen + i - spp)]);
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// The samples the writer should store for the image, as the test
// understands the stored forms.
std::vector<uint8_t> ExpectedRows(TPxBitmap& b, const tifftest::TDirectory& d)
{
    const int w = b.GetWidth(), h = b.GetHeight();
    const int64_t spp = d.Value(277, 1), bps = d.Value(258, 1), photometric = d.Value(262, -1);
    const int64_t rowLen = (int64_t(w) * spp * bps + 7) / 8;
    std::vector<uint8_t> out;
    for (int y = 0; y < h; ++y) {
        std::vector<uint8_t> row(size_t(rowLen), 0);
        const uint8_t* src = b.GetScanline(y);
        switch (b.GetPixelFormat()) {
        case px1g:
            for (int64_t i = 0; i < rowLen; ++i)
                row[size_t(i)] = photometric == 0 ? uint8_t(~src[i]) : src[i];
            break;
        case px16g:
        case pxRGB48:
            std::memcpy(row.data(), src, size_t(rowLen));
            break;
        case pxCMYK:
            for (int64_t i = 0; i < rowLen; ++i)
                row[size_t(i)] = uint8_t(~src[i]);
            break;
        default:
            if (photometric == 3) {
                // Indexes: compared through the colour map below.
                return {};
            }
            for (int x = 0; x < w; ++x) {
                uint8_t rgb[3];
                PixelRGB(b, x, y, rgb);
                if (spp == 1) {
                    row[size_t(x)] = rgb[0];
                } else {
                    std::memcpy(&row[size_t(x * spp)], rgb, 3);
                    if (spp == 4)
                        row[size_t(x * spp + 3)] = b.GetAlphaChannel()->GetScanline(y)[x];
                }
            }
            break;
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// The colours of a palette page.
bool PaletteMatches(TPxBitmap& b, const tifftest::TDirectory& d, const std::vector<uint8_t>& rows)
{
    const int64_t bps = d.Value(258), n = int64_t(1) << bps;
    const std::vector<int64_t> map = d.Values(320);
    if (int64_t(map.size()) != 3 * n)
        return false;
    const int w = b.GetWidth();
    const int64_t rowLen = (w * bps + 7) / 8;
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < w; ++x) {
            const int64_t bit = x * bps;
            const uint8_t byte = rows[size_t(y * rowLen + bit / 8)];
            const int idx = bps == 8 ? byte : (byte >> (8 - bps - bit % 8)) & ((1 << bps) - 1);
            uint8_t rgb[3];
            PixelRGB(b, x, y, rgb);
            if (map[size_t(idx)] != rgb[0] * 257 || map[size_t(n + idx)] != rgb[1] * 257 ||
                map[size_t(2 * n + idx)] != rgb[2] * 257)
                return false;
        }
    return true;
}

std::string Name(const char* s) { return s; }

// Clears the bits after the last sample of every row (rows of bilevel and
// packed pages end with bits that carry nothing).
std::vector<uint8_t> MaskPadding(std::vector<uint8_t> rows, const tifftest::TDirectory& d)
{
    const int64_t bits = d.Value(256) * d.Value(277, 1) * d.Value(258, 1);
    const int64_t rowLen = (bits + 7) / 8;
    if (bits % 8 == 0 || rowLen == 0)
        return rows;
    const uint8_t mask = uint8_t(0xFF << (8 - bits % 8));
    for (size_t at = size_t(rowLen - 1); at < rows.size(); at += size_t(rowLen))
        rows[at] &= mask;
    return rows;
}

// The bytes of row y that hold pixels.
std::vector<uint8_t> PixelBytes(TPxBitmap& b, int y)
{
    const int64_t bits = int64_t(b.GetWidth()) * b.GetBitCount();
    std::vector<uint8_t> row(b.GetScanline(y), b.GetScanline(y) + (bits + 7) / 8);
    if (bits % 8)
        row.back() &= uint8_t(0xFF << (8 - bits % 8));
    return row;
}

}  // namespace

// Every writable combination: the tags describe what is stored, the stored
// samples decode (with the test's own decoders) to the image, and the
// fixed tags are present.
TEST(TiffWriter, CombinationsStoreTheImage)
{
    struct Case {
        const char* Name;
        TSource Source;
        TOptions Options;
        int Compression, Photometric, Samples, Bits, Predictor;
    } cases[] = {
        {"rgb none", srcRGB, {3, 8, 2, 0}, 1, 2, 3, 8, 1},
        {"rgb lzw", srcRGB, {3, 8, 2, 5}, 5, 2, 3, 8, 2},
        {"rgb packbits", srcRGB, {3, 8, 2, 8}, 32773, 2, 3, 8, 1},
        {"rgb deflate", srcRGB, {3, 8, 2, 10}, 32946, 2, 3, 8, 1},
        {"rgb zip", srcRGB, {3, 8, 2, 9}, 32946, 2, 3, 8, 1},
        {"rgb asking for G4", srcRGB, {3, 8, 2, 4}, 1, 2, 3, 8, 1},
        {"rgb + alpha lzw", srcRGBAlpha, {3, 8, 2, 5}, 5, 2, 4, 8, 1},
        {"rgb + alpha none", srcRGBAlpha, {3, 8, 2, 0}, 1, 2, 4, 8, 1},
        {"grey8 lzw", srcGrey8, {1, 8, 1, 5}, 5, 1, 1, 8, 1},
        {"grey8 packbits", srcGrey8, {1, 8, 1, 8}, 32773, 1, 1, 8, 1},
        {"grey8 as rgb", srcGrey8, {3, 8, 2, 0}, 1, 2, 3, 8, 1},
        {"palette 4 bits lzw", srcFewColours, {1, 4, 3, 5}, 5, 3, 1, 4, 1},
        {"palette 8 bits none", srcFewColours, {1, 8, 3, 0}, 1, 3, 1, 8, 1},
        {"palette 2 bits zip", srcFewColours, {1, 2, 3, 9}, 32946, 3, 1, 2, 1},
        {"px8p palette", srcPalette, {1, 8, 3, 0}, 1, 3, 1, 8, 1},
        {"px8p as rgb lzw", srcPalette, {3, 8, 2, 5}, 5, 2, 3, 8, 2},
        {"grey16 lzw", srcGrey16, {1, 16, 1, 5}, 5, 1, 1, 16, 1},
        {"grey16 none", srcGrey16, {1, 16, 1, 0}, 1, 1, 1, 16, 1},
        {"cmyk deflate", srcCMYK, {4, 8, 5, 10}, 32946, 5, 4, 8, 1},
        {"cmyk none", srcCMYK, {3, 8, 2, 0}, 1, 5, 4, 8, 1},
        {"rgb48 lzw", srcRGB48, {3, 16, 2, 5}, 5, 2, 3, 16, 1},
        {"rgb48 packbits", srcRGB48, {3, 8, 2, 8}, 32773, 2, 3, 16, 1},
        {"bilevel none", srcBilevel, {1, 1, 1, 0}, 1, 1, 1, 1, 1},
        {"bilevel lzw", srcBilevel, {1, 1, 1, 5}, 5, 1, 1, 1, 1},
        {"bilevel packbits", srcBilevel, {1, 1, 1, 8}, 32773, 1, 1, 1, 1},
        {"bilevel MH", srcBilevel, {1, 1, 1, 1}, 2, 0, 1, 1, 1},
        {"bilevel G3 1D", srcBilevel, {1, 1, 1, 2}, 3, 0, 1, 1, 1},
        {"bilevel G3 2D", srcBilevel, {1, 1, 1, 3}, 3, 0, 1, 1, 1},
        {"bilevel G4", srcBilevel, {1, 1, 1, 4}, 4, 0, 1, 1, 1},
        {"bilevel G4 fill order 2", srcBilevel, {1, 1, 1, 4, 2}, 4, 0, 1, 1, 1},
        // A px1g image with a photometric that does not fit it still gets
        // the tag (the reader would otherwise take it as WhiteIsZero).
        {"bilevel asking palette", srcBilevel, {1, 1, 3, 0}, 1, 1, 1, 1, 1},
        {"bilevel asking YCbCr", srcBilevel, {1, 1, 6, 5}, 5, 1, 1, 1, 1},
        {"bilevel asking CIELab", srcBilevel, {1, 1, 7, 8}, 32773, 1, 1, 1, 1},
        {"two-colour rgb to G4", srcFewColours, {1, 1, 0, 4}, 4, 0, 1, 1, 1},
        {"bilevel as rgb", srcBilevel, {3, 8, 2, 0}, 1, 2, 3, 8, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::unique_ptr<TPxBitmap> b = MakeImage(c.Source, 37, 23);
        if (Name(c.Name) == "two-colour rgb to G4") {
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x) {
                    uint8_t* p = b->GetScanline(y) + 3 * x;
                    const uint8_t v = ((x + y) % 3) ? 255 : 0;
                    p[0] = p[1] = p[2] = v;
                }
        }
        const TWritten w = Write(b.get(), c.Options);
        ASSERT_FALSE(w.Aborted);
        EXPECT_EQ(w.Result, 1);
        tifftest::TFile f;
        f.Bytes = w.Bytes;
        ASSERT_EQ(f.Parse(), "");
        ASSERT_EQ(f.Directories.size(), 1u);
        const tifftest::TDirectory& d = f.Directories[0];
        EXPECT_FALSE(f.BigEndian);
        EXPECT_EQ(d.Value(256), 37);
        EXPECT_EQ(d.Value(257), 23);
        EXPECT_EQ(d.Value(259), c.Compression);
        EXPECT_EQ(d.Value(262), c.Photometric);
        EXPECT_EQ(d.Value(277), c.Samples);
        EXPECT_EQ(d.Values(258), std::vector<int64_t>(size_t(c.Samples), c.Bits));
        EXPECT_EQ(d.Value(317, 1), c.Predictor);
        EXPECT_EQ(d.Values(282), (std::vector<int64_t>{300, 1}));
        EXPECT_EQ(d.Values(283), (std::vector<int64_t>{150, 1}));
        EXPECT_EQ(d.Value(296), 2);
        EXPECT_EQ(d.Value(254), 0);
        EXPECT_EQ(d.Has(338), c.Samples == 4 && c.Photometric == 2);
        if (c.Compression >= 2 && c.Compression <= 4) {
            EXPECT_EQ(d.Value(266), c.Options.FillOrder);
        }
        // An image the test shaped as two colours stores them as bits.
        std::unique_ptr<TPxBitmap> ref;
        TPxBitmap* expectImage = b.get();
        if (c.Source == srcFewColours && c.Bits == 1) {
            ref = std::make_unique<TPxBitmap>(37, 23, px1g);
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x) {
                    uint8_t rgb[3];
                    PixelRGB(*b, x, y, rgb);
                    uint8_t& byte = ref->GetScanline(y)[x / 8];
                    byte = rgb[0] ? uint8_t(byte | (0x80 >> (x % 8))) : uint8_t(byte & ~(0x80 >> (x % 8)));
                }
            expectImage = ref.get();
        } else if (c.Source == srcBilevel && c.Bits == 8) {
            ref = std::make_unique<TPxBitmap>(37, 23, px24RGB);
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x) {
                    uint8_t rgb[3];
                    PixelRGB(*b, x, y, rgb);
                    std::memcpy(ref->GetScanline(y) + 3 * x, rgb, 3);
                }
            expectImage = ref.get();
        }
        const std::vector<uint8_t> rows = StoredRows(f, d);
        ASSERT_FALSE(rows.empty());
        if (c.Photometric == 3) {
            EXPECT_TRUE(PaletteMatches(*expectImage, d, rows));
        } else {
            EXPECT_EQ(MaskPadding(rows, d), MaskPadding(ExpectedRows(*expectImage, d), d));
        }
    }
}

// The source image is never changed, also when the writer inverts bits
// for CCITT or adds an alpha sample.
TEST(TiffWriter, LeavesTheBitmapAlone)
{
    for (auto [source, options] : {std::pair{srcBilevel, TOptions{1, 1, 1, 4}},
                                   std::pair{srcRGB, TOptions{3, 8, 2, 5}},
                                   std::pair{srcFewColours, TOptions{1, 4, 3, 5}}}) {
        std::unique_ptr<TPxBitmap> b = MakeImage(source, 20, 9);
        std::unique_ptr<TPxBitmap> before = MakeImage(source, 20, 9);
        Write(b.get(), options);
        EXPECT_FALSE(b->HasAlphaChannel());
        for (int y = 0; y < 9; ++y)
            EXPECT_EQ(PixelBytes(*b, y), PixelBytes(*before, y));
    }
}

// Strip sizes: about 512 KiB of image rows per strip, the last strip
// taking the rest, and at least one row per strip when one row is larger
// than that.
TEST(TiffWriter, StripLayout)
{
    struct Case {
        int W, H;
        int64_t RowsPerStrip;
        size_t Strips;
    } cases[] = {
        {1000, 1000, 200, 5},  // 3,000,000 div 524,288 = 5 strips
        {600, 1000, 333, 4},   // 3 strips by size: 333 rows, the last of 1
        {10, 10, 10, 1},
        {200000, 3, 1, 3},     // one row (600,000 bytes) over the budget
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.W);
        TPxBitmap b(c.W, c.H, px24RGB);
        for (int y = 0; y < c.H; ++y)
            std::memset(b.GetScanline(y), y & 0xFF, size_t(b.GetRowLen()));
        const TWritten w = Write(&b, TOptions{3, 8, 2, 0});
        ASSERT_FALSE(w.Aborted);
        tifftest::TFile f;
        f.Bytes = w.Bytes;
        ASSERT_EQ(f.Parse(), "");
        const tifftest::TDirectory& d = f.Directories[0];
        EXPECT_EQ(d.Value(278), c.RowsPerStrip);
        EXPECT_EQ(d.Values(273).size(), c.Strips);
        const std::vector<int64_t> counts = d.Values(279);
        ASSERT_EQ(counts.size(), c.Strips);
        int64_t total = 0;
        for (int64_t n : counts)
            total += n;
        EXPECT_EQ(total, int64_t(c.W) * 3 * c.H);
        EXPECT_EQ(counts.back(), int64_t(c.W) * 3 * (c.H - c.RowsPerStrip * int64_t(c.Strips - 1)));
    }
}

// Tag values: short texts inline without terminator, longer ones with it;
// IPTC counted in 4-byte units; page number, positions, names.
TEST(TiffWriter, TagValues)
{
    if (!IOParamsObjectServices().IPTCInfo.Installed())
        IOParamsObjectServices().IPTCInfo = PxPlainObjectKind<TPxIPTCInfoList>();
    std::unique_ptr<TPxBitmap> b = MakeImage(srcRGB, 8, 4);
    for (int dataLen : {7, 8}) {
        SCOPED_TRACE(dataLen);
        TIOParamsVals p(nullptr);
        SetPageTags(p);
        ASSERT_TRUE(p.IPTCInfo);
        const std::string caption(size_t(dataLen), 'q');
        p.IPTCInfo->AddItem(2, 120, dataLen, caption.data());
        const TWritten w = WriteWith(b.get(), p);
        ASSERT_EQ(w.Result, 1);
        tifftest::TFile f;
        f.Bytes = w.Bytes;
        ASSERT_EQ(f.Parse(), "");
        const tifftest::TDirectory& d = f.Directories[0];
        const tifftest::TEntry& desc = d.Entries.at(270);
        EXPECT_EQ(desc.Count, 3u);
        EXPECT_EQ(desc.Text(), "abc");
        EXPECT_EQ(d.Entries.at(285).Count, 4u);
        EXPECT_EQ(d.Entries.at(269).Text(), std::string("A longer name\0", 14));
        EXPECT_EQ(d.Values(297), (std::vector<int64_t>{2, 5}));
        EXPECT_EQ(d.Values(286), (std::vector<int64_t>{3, 1}));
        EXPECT_FALSE(d.Has(287));
        EXPECT_EQ(d.Entries.at(700).Text(), "<x:xmpmeta/>");
        // The block in 4-byte units, rounded up (one of the two lengths is
        // not a multiple of 4), zero-padded.
        const std::vector<uint8_t> block = p.IPTCInfo->SaveToBuffer(false);
        const tifftest::TEntry& iptc = d.Entries.at(33723);
        EXPECT_EQ(iptc.Type, 4);
        EXPECT_EQ(iptc.Count, (block.size() + 3) / 4);
        std::vector<uint8_t> padded(block);
        padded.resize((block.size() + 3) / 4 * 4, 0);
        EXPECT_EQ(iptc.Raw, padded);
    }
}

// PackBits: runs of 4 or more become runs, shorter ones stay literal.
TEST(TiffWriter, PackBitsRows)
{
    const std::vector<uint8_t> same(130, 9);
    EXPECT_EQ(PxTIFFPackBitsRow(same.data(), 130), (std::vector<uint8_t>{uint8_t(-127), 9, 1, 9, 9}));
    const uint8_t mixed[] = {1, 2, 2, 2, 3, 3, 3, 3, 4};
    EXPECT_EQ(PxTIFFPackBitsRow(mixed, 9), (std::vector<uint8_t>{3, 1, 2, 2, 2, uint8_t(-3), 3, 0, 4}));
    std::vector<uint8_t> noise(300);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = uint8_t(i * 7 + (i >> 3));
    EXPECT_EQ(UnpackBits(PxTIFFPackBitsRow(noise.data(), 300)), noise);
}

// Page insertion: index 0 puts the page first, an index past the end
// appends, the chain stays sound; a stream that is not a little-endian TIFF
// is refused without a byte written.
TEST(TiffWriter, InsertsPages)
{
    classlib::TMemoryStream s;
    bool aborting = false;
    TPxIOProgressInfo info;
    info.Aborting = &aborting;
    TIOParamsVals p(nullptr);
    std::unique_ptr<TPxBitmap> a = MakeImage(srcRGB, 10, 4), b = MakeImage(srcGrey8, 11, 5),
                               c = MakeImage(srcRGB, 12, 6), d = MakeImage(srcRGB, 13, 7);
    ASSERT_EQ(PxWriteTIFF(&s, false, a.get(), info, p), 1);
    p.TIFFImageIndex = 0;
    ASSERT_EQ(PxWriteTIFF(&s, true, b.get(), info, p), 2);
    p.TIFFImageIndex = 9;
    ASSERT_EQ(PxWriteTIFF(&s, true, c.get(), info, p), 3);
    p.TIFFImageIndex = 1;
    ASSERT_EQ(PxWriteTIFF(&s, true, d.get(), info, p), 4);
    ASSERT_FALSE(aborting);
    tifftest::TFile f;
    f.Bytes = iobytes::StreamBytes(s);
    ASSERT_EQ(f.Parse(), "");
    ASSERT_EQ(f.Directories.size(), 4u);
    EXPECT_EQ(f.Directories[0].Value(256), 11);
    EXPECT_EQ(f.Directories[1].Value(256), 13);
    EXPECT_EQ(f.Directories[2].Value(256), 10);
    EXPECT_EQ(f.Directories[3].Value(256), 12);
    for (const auto& dir : f.Directories)
        EXPECT_FALSE(StoredRows(f, dir).empty());

    // Not a TIFF; a big-endian TIFF; a chain that loops.
    const std::vector<std::vector<uint8_t>> bad = {
        {'G', 'I', 'F', '8', '9', 'a', 0, 0},
        {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0},
        {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 8, 0, 0, 0},
    };
    for (const auto& bytes : bad) {
        classlib::TMemoryStream t;
        t.WriteBuffer(bytes.data(), int64_t(bytes.size()));
        bool failed = false;
        TPxIOProgressInfo i2;
        i2.Aborting = &failed;
        EXPECT_EQ(PxWriteTIFF(&t, true, a.get(), i2, p), 0);
        EXPECT_TRUE(failed);
        EXPECT_EQ(t.GetSize(), int64_t(bytes.size()));
    }
}

namespace {
// Takes Limit bytes, then refuses.
class TLimitedStream : public classlib::TMemoryStream {
public:
    explicit TLimitedStream(int64_t limit) : Limit(limit) {}
    int64_t Write(const void* Buffer, int64_t Count) override
    {
        const int64_t n = std::max<int64_t>(0, std::min(Count, Limit - GetPosition()));
        return n > 0 ? classlib::TMemoryStream::Write(Buffer, n) : 0;
    }
    int64_t Limit;
};
}  // namespace

// A stream that fills up sets the aborting flag for every compression; a
// new file then keeps its placeholder header.
TEST(TiffWriter, WriteFailuresAbort)
{
    std::unique_ptr<TPxBitmap> b = MakeImage(srcRGB, 300, 200);
    for (int compression : {0, 5, 8, 10}) {
        SCOPED_TRACE(compression);
        TLimitedStream s(5000);
        bool aborting = false;
        TPxIOProgressInfo info;
        info.Aborting = &aborting;
        TIOParamsVals p(nullptr);
        p.TIFFCompression = uint8_t(compression);
        PxInstallTIFFLZWCodec();
        EXPECT_EQ(PxWriteTIFF(&s, false, b.get(), info, p), 0);
        EXPECT_TRUE(aborting);
        const uint8_t* m = static_cast<const uint8_t*>(s.GetMemory());
        ASSERT_GE(s.GetSize(), 8);
        EXPECT_EQ(std::vector<uint8_t>(m, m + 8), std::vector<uint8_t>(8, 0));
    }
}

// The TIFF row of the registry gets this writer; LZW without any encoder
// stores the page uncompressed.
TEST(TiffWriter, RegistryAndLzwFallback)
{
    PxInstallTIFFWriter();
    std::unique_ptr<TPxBitmap> b = MakeImage(srcRGB, 9, 5);
    TIOParamsVals p(nullptr);
    p.TIFFCompression = 5;
    const TPxTIFFLZWCompressProc saved = PxGlobalTIFFLZWCompress;
    PxGlobalTIFFLZWCompress = nullptr;
    p.TIFFLZWCompress = nullptr;
    const TWritten w = WriteWith(b.get(), p);
    PxGlobalTIFFLZWCompress = saved;
    EXPECT_EQ(w.Result, 1);
    tifftest::TFile f;
    f.Bytes = w.Bytes;
    ASSERT_EQ(f.Parse(), "");
    EXPECT_EQ(f.Directories[0].Value(259), 1);
    EXPECT_FALSE(f.Directories[0].Has(317));
}

// Files this writer made, decoded by libtiff (make_write_fixtures.sh runs
// tiffinfo and `tiffcp -c none` on them and keeps the plain samples):
// writing the same images again gives the same bytes, and libtiff's decode
// equals the samples the image should give. (Group 3 one-dimensional pages
// are left out: their rows carry no end-of-line codes, which libtiff
// requires; the toolkit's reader takes them, see the round trips.)
TEST(TiffWriter, WrittenFilesMatchLibtiff)
{
    struct Case {
        const wchar_t* Name;
        TSource Source;
        TOptions Options;
    } cases[] = {
        {L"w_rgb_lzw_pred", srcRGB, {3, 8, 2, 5}},
        {L"w_rgba_packbits", srcRGBAlpha, {3, 8, 2, 8}},
        {L"w_grey8_deflate", srcGrey8, {1, 8, 1, 10}},
        {L"w_palette4_lzw", srcFewColours, {1, 4, 3, 5}},
        {L"w_grey16_lzw", srcGrey16, {1, 16, 1, 5}},
        {L"w_cmyk_none", srcCMYK, {4, 8, 5, 0}},
        {L"w_rgb48_lzw", srcRGB48, {3, 16, 2, 5}},
        {L"w_bilevel_g4", srcBilevel, {1, 1, 1, 4}},
        {L"w_noise_lzw", srcNoise, {1, 8, 1, 5}},  // the code table fills and is cleared
        {L"w_rgb_jpeg_ycbcr", srcSmooth, {3, 8, 2, 7}},
        {L"w_rgb_jpeg_rgb", srcSmooth, {3, 8, 2, 7}},
        {L"w_bilevel_g3_2d", srcBilevel, {1, 1, 1, 3}},
        {L"w_bilevel_g4_fill2", srcBilevel, {1, 1, 1, 4, 2}},
        {L"w_bilevel_mh", srcBilevel, {1, 1, 1, 1}},
    };
    const bool write = std::getenv("VELMO_TIFF_WRITE_FIXTURES") != nullptr;
    const std::wstring dir = testsupport::FixtureDir(L"io\\tiff-write") + L"\\";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Name, c.Name + wcslen(c.Name)));
        std::unique_ptr<TPxBitmap> b = c.Source == srcNoise ? MakeImage(c.Source, 96, 64) : MakeImage(c.Source, 37, 23);
        const bool jpeg = c.Options.Compression == 7;
        const TWritten w = Write(b.get(), c.Options, nullptr, wcsstr(c.Name, L"_rgb_jpeg_rgb") ? 0 : 2);
        ASSERT_FALSE(w.Aborted);
        if (write) {
            ASSERT_TRUE(tifftest::WriteFileBytes(dir + c.Name + L".tif", w.Bytes));
            continue;
        }
        EXPECT_EQ(w.Bytes, tifftest::ReadFileBytes(dir + c.Name + L".tif"));
        // libtiff's plain copy of the committed file.
        tifftest::TFile plain;
        ASSERT_EQ(tifftest::Load(dir + c.Name + L".plain.tif", plain), "");
        const tifftest::TDirectory& d = plain.Directories.at(0);
        ASSERT_EQ(d.Value(259), 1);
        const std::vector<uint8_t> rows = StoredRows(plain, d);
        if (jpeg) {
            // Lossy: every sample within a small distance of the image's.
            const std::vector<uint8_t> want = ExpectedRows(*b, d);
            ASSERT_EQ(rows.size(), want.size());
            int worst = 0;
            for (size_t i = 0; i < rows.size(); ++i)
                worst = std::max(worst, std::abs(int(rows[i]) - int(want[i])));
            EXPECT_LE(worst, 12);
        } else if (d.Value(262) == 3) {
            EXPECT_TRUE(PaletteMatches(*b, d, rows));
        } else {
            EXPECT_EQ(MaskPadding(rows, d), MaskPadding(ExpectedRows(*b, d), d));
        }
    }
}

// Writer -> toolkit reader: every combination comes back as the image (the
// reader's pixel formats: bilevel, grey, palette, RGB, 16-bit, CMYK).
TEST(TiffWriter, RoundTripsThroughTheReader)
{
    struct Case {
        const char* Name;
        TSource Source;
        TOptions Options;
    } cases[] = {
        {"rgb none", srcRGB, {3, 8, 2, 0}},          {"rgb lzw", srcRGB, {3, 8, 2, 5}},
        {"rgb packbits", srcRGB, {3, 8, 2, 8}},      {"rgb deflate", srcRGB, {3, 8, 2, 10}},
        {"grey8 lzw", srcGrey8, {1, 8, 1, 5}},       {"grey8 packbits", srcGrey8, {1, 8, 1, 8}},
        {"palette 4 lzw", srcFewColours, {1, 4, 3, 5}}, {"palette 8 zip", srcFewColours, {1, 8, 3, 9}},
        {"px8p", srcPalette, {1, 8, 3, 0}},          {"grey16 lzw", srcGrey16, {1, 16, 1, 5}},
        {"cmyk deflate", srcCMYK, {4, 8, 5, 10}},    {"rgb48 lzw", srcRGB48, {3, 16, 2, 5}},
        {"bilevel none", srcBilevel, {1, 1, 1, 0}},  {"bilevel lzw", srcBilevel, {1, 1, 1, 5}},
        {"bilevel MH", srcBilevel, {1, 1, 1, 1}},    {"bilevel G3 1D", srcBilevel, {1, 1, 1, 2}},
        {"bilevel G3 2D", srcBilevel, {1, 1, 1, 3}}, {"bilevel G4", srcBilevel, {1, 1, 1, 4}},
        {"bilevel G4 fill 2", srcBilevel, {1, 1, 1, 4, 2}},
        {"bilevel packbits", srcBilevel, {1, 1, 1, 8}}, {"bilevel deflate", srcBilevel, {1, 1, 1, 10}},
        {"rgb + alpha lzw", srcRGBAlpha, {3, 8, 2, 5}}, {"rgb + alpha packbits", srcRGBAlpha, {3, 8, 2, 8}},
        {"rgb48 packbits", srcRGB48, {3, 8, 2, 8}},  {"grey16 none", srcGrey16, {1, 16, 1, 0}},
        {"px8p as rgb", srcPalette, {3, 8, 2, 5}},   {"grey8 as rgb", srcGrey8, {3, 8, 2, 0}},
        {"cmyk packbits", srcCMYK, {4, 8, 5, 8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::unique_ptr<TPxBitmap> b = MakeImage(c.Source, 37, 23);
        const TWritten w = Write(b.get(), c.Options);
        ASSERT_FALSE(w.Aborted);
        classlib::TMemoryStream s;
        s.WriteBuffer(w.Bytes.data(), int64_t(w.Bytes.size()));
        s.SetPosition(0);
        TIOParamsVals p(nullptr);
        p.NativePixelFormat = true;
        TPxBitmap back;
        bool aborting = false;
        TPxIOProgressInfo info;
        info.Aborting = &aborting;
        TPxMask* mask = nullptr;
        int32_t pages = 0;
        PxReadTIFF(&back, &s, pages, &p, info, false, mask, false, false, false);
        delete mask;
        ASSERT_FALSE(aborting);
        EXPECT_EQ(pages, 1);
        ASSERT_EQ(back.GetWidth(), 37);
        ASSERT_EQ(back.GetHeight(), 23);
        bool same = true;
        for (int y = 0; y < 23 && same; ++y)
            for (int x = 0; x < 37 && same; ++x) {
                if (b->GetPixelFormat() == back.GetPixelFormat() && b->GetPixelFormat() != px8p &&
                    b->GetPixelFormat() != px1g) {
                    const int bytes = b->GetBitCount() / 8;
                    same = std::memcmp(b->GetScanline(y) + x * bytes, back.GetScanline(y) + x * bytes,
                                       size_t(bytes)) == 0;
                    continue;
                }
                uint8_t want[3], got[3];
                PixelRGB(*b, x, y, want);
                PixelRGB(back, x, y, got);
                same = std::memcmp(want, got, 3) == 0;
            }
        EXPECT_TRUE(same) << "read back as format " << int(back.GetPixelFormat());
    }
}

// A page with EXIF: the EXIF-derived page tags, an EXIF sub-directory with
// only the marked tags and those that carry a value, and a GPS
// sub-directory.
TEST(TiffWriter, WritesEXIFDirectories)
{
    std::unique_ptr<TPxBitmap> b = MakeImage(srcRGB, 8, 4);
    TIOParamsVals p(nullptr);
    SetSomeEXIF(p);
    const TWritten w = WriteWith(b.get(), p);
    ASSERT_EQ(w.Result, 1);
    tifftest::TFile f;
    f.Bytes = w.Bytes;
    ASSERT_EQ(f.Parse(), "");
    const tifftest::TDirectory& d = f.Directories.at(0);
    EXPECT_EQ(d.Value(274), 6);
    EXPECT_EQ(d.Entries.at(271).Text(), std::string("Maker\0", 6));
    EXPECT_EQ(d.Entries.at(272).Text(), "M1");
    EXPECT_EQ(d.Values(282), (std::vector<int64_t>{72, 1}));
    EXPECT_EQ(d.Value(18246), 3);
    EXPECT_EQ(d.Entries.at(40091).Count, 12u);
    EXPECT_FALSE(d.Has(270));
    ASSERT_TRUE(d.Has(34665));
    tifftest::TDirectory exif;
    ASSERT_EQ(f.ParseDirectory(uint64_t(d.Value(34665)), exif), "");
    EXPECT_EQ(exif.Values(33434), (std::vector<int64_t>{1, 250}));
    EXPECT_EQ(exif.Value(37385), 0);
    EXPECT_FALSE(exif.Has(33437));
    EXPECT_FALSE(exif.Has(34855));
    EXPECT_EQ(exif.Entries.at(36864).Text(), "0230");
    EXPECT_EQ(exif.Entries.at(37510).Raw,
              (std::vector<uint8_t>{'U', 'N', 'I', 'C', 'O', 'D', 'E', 0, 'H', 0, 'i', 0, 0, 0}));
    ASSERT_TRUE(d.Has(34853));
    tifftest::TDirectory gps;
    ASSERT_EQ(f.ParseDirectory(uint64_t(d.Value(34853)), gps), "");
    EXPECT_EQ(gps.Values(0), (std::vector<int64_t>{2, 2, 0, 0}));
    EXPECT_EQ(gps.Entries.at(1).Text(), "N");
    EXPECT_EQ(gps.Values(2), (std::vector<int64_t>{48, 1, 51, 1, 61, 2}));
    EXPECT_EQ(gps.Value(5), 1);
    EXPECT_TRUE(gps.Has(6));
}

// JPEG pages (new style, YCbCr or RGB, and old style) read back through the
// toolkit's reader close to the image.
TEST(TiffWriter, JpegPagesRoundTrip)
{
    struct Case {
        const char* Name;
        int Compression, ColorSpace, Photometric;
    } cases[] = {{"jpeg ycbcr", 7, 2, 6}, {"jpeg rgb", 7, 0, 2}, {"old jpeg", 6, 2, 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::unique_ptr<TPxBitmap> b = MakeImage(srcSmooth, 40, 24);
        const TWritten w = Write(b.get(), TOptions{3, 8, 2, c.Compression}, nullptr, c.ColorSpace);
        ASSERT_FALSE(w.Aborted);
        tifftest::TFile f;
        f.Bytes = w.Bytes;
        ASSERT_EQ(f.Parse(), "");
        const tifftest::TDirectory& d = f.Directories[0];
        EXPECT_EQ(d.Value(259), c.Compression);
        EXPECT_EQ(d.Value(262), c.Photometric);
        if (c.Compression == 6) {
            EXPECT_EQ(d.Value(512), 1);
            EXPECT_EQ(d.Values(530), (std::vector<int64_t>{2, 2}));
            const std::vector<uint8_t> strip = f.Strip(d, 0);
            ASSERT_GE(strip.size(), 2u);
            EXPECT_EQ(strip[0], 0xFF);
            EXPECT_EQ(strip[1], 0xDA);
            EXPECT_EQ(d.Value(279) + (d.Value(273) - d.Value(513)), d.Value(514));
        }
        classlib::TMemoryStream s;
        s.WriteBuffer(w.Bytes.data(), int64_t(w.Bytes.size()));
        s.SetPosition(0);
        TIOParamsVals p(nullptr);
        TPxBitmap back;
        bool aborting = false;
        TPxIOProgressInfo info;
        info.Aborting = &aborting;
        TPxMask* mask = nullptr;
        int32_t pages = 0;
        PxReadTIFF(&back, &s, pages, &p, info, false, mask, false, false, false);
        delete mask;
        ASSERT_FALSE(aborting);
        ASSERT_EQ(back.GetWidth(), 40);
        ASSERT_EQ(back.GetHeight(), 24);
        int worst = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 40; ++x) {
                uint8_t want[3], got[3];
                PixelRGB(*b, x, y, want);
                PixelRGB(back, x, y, got);
                for (int k = 0; k < 3; ++k)
                    worst = std::max(worst, std::abs(int(want[k]) - int(got[k])));
            }
        EXPECT_LE(worst, 12);
    }
}

// Annotations go under their tag (32932 unless the parameters name
// another) as the list's block.
TEST(TiffWriter, WritesAnnotations)
{
    std::unique_ptr<TPxBitmap> b = MakeImage(srcRGB, 8, 4);
    for (int tag : {0, 40000}) {
        SCOPED_TRACE(tag);
        TIOParamsVals p(nullptr);
        TPxImagingAnnot* annot = p.GetImagingAnnot();
        ASSERT_NE(annot, nullptr);
        auto mark = std::make_unique<TPxImagingObject>();
        mark->SetMarkType(PxAnnotTextFirst);
        mark->Text = "note";
        annot->Objects.push_back(std::move(mark));
        p.ImagingAnnotTag = tag;
        const std::vector<uint8_t> block = annot->SaveToBuffer();
        ASSERT_FALSE(block.empty());
        const TWritten w = WriteWith(b.get(), p);
        ASSERT_EQ(w.Result, 1);
        tifftest::TFile f;
        f.Bytes = w.Bytes;
        ASSERT_EQ(f.Parse(), "");
        const tifftest::TEntry& e = f.Directories[0].Entries.at(uint16_t(tag ? tag : 32932));
        EXPECT_EQ(e.Type, 1);
        EXPECT_EQ(e.Raw, block);
    }
}

// The EXIF tags of the parameters are copied into a page of a written file;
// the other pages and tags stay.
TEST(TiffWriter, CopiesEXIFIntoAFile)
{
    classlib::TMemoryStream in;
    bool aborting = false;
    TPxIOProgressInfo info;
    info.Aborting = &aborting;
    TIOParamsVals p(nullptr);
    std::unique_ptr<TPxBitmap> a = MakeImage(srcRGB, 10, 4), b = MakeImage(srcGrey8, 11, 5);
    ASSERT_EQ(PxWriteTIFF(&in, false, a.get(), info, p), 1);
    p.TIFFImageIndex = 1;
    ASSERT_EQ(PxWriteTIFF(&in, true, b.get(), info, p), 2);
    TIOParamsVals exif(nullptr);
    exif.HasEXIF = true;
    exif.EXIFMake = "Maker";
    exif.EXIFModel = "Model 7";
    exif.SetEXIFOrientation(8);
    exif.SetEXIFExposureTime(0.5);
    classlib::TMemoryStream out;
    in.SetPosition(0);
    ASSERT_TRUE(PxCopyEXIFToTIFF(&in, &out, L"", exif, 1, L""));
    tifftest::TFile f;
    f.Bytes = iobytes::StreamBytes(out);
    ASSERT_EQ(f.Parse(), "");
    ASSERT_EQ(f.Directories.size(), 2u);
    EXPECT_FALSE(f.Directories[0].Has(271));
    const tifftest::TDirectory& d = f.Directories[1];
    EXPECT_EQ(d.Value(256), 11);
    EXPECT_EQ(d.Entries.at(271).Text(), std::string("Maker\0", 6));
    EXPECT_EQ(d.Entries.at(272).Text(), std::string("Model 7\0", 8));
    EXPECT_EQ(d.Value(274), 8);
    ASSERT_TRUE(d.Has(34665));
    tifftest::TDirectory sub;
    ASSERT_EQ(f.ParseDirectory(uint64_t(d.Value(34665)), sub), "");
    EXPECT_EQ(sub.Values(33434), (std::vector<int64_t>{1, 2}));
    EXPECT_FALSE(StoredRows(f, d).empty());
}

// The exact bytes of a representative set of pages and of a file grown page
// by page. A guard for changes to the writer's inner structure: the sizes
// and hashes were recorded from the writer's own output when the guard was
// added (they are not checked against any other program); a deliberate
// change of the written layout re-records them.
TEST(TiffWriter, OutputBytesStayTheSame)
{
    if (!IOParamsObjectServices().IPTCInfo.Installed())
        IOParamsObjectServices().IPTCInfo = PxPlainObjectKind<TPxIPTCInfoList>();
    PxInstallTIFFLZWCodec();
    struct TPage {
        TSource Source;
        int Width, Height;  // 0: no bitmap, the parameter tags only
        TOptions Options;
        void (*More)(TIOParamsVals&) = nullptr;  // further settings
    };
    auto setTags = [](TIOParamsVals& p) {
        SetPageTags(p);
        p.TIFFYPos = 0.25;
        p.IPTCInfo->AddItem(2, 120, 7, "caption");
        auto mark = std::make_unique<TPxImagingObject>();
        mark->SetMarkType(PxAnnotTextFirst);
        mark->Text = "note";
        p.GetImagingAnnot()->Objects.push_back(std::move(mark));
    };
    auto setEXIF = [](TIOParamsVals& p) {
        SetSomeEXIF(p);
        p.EXIFImageDescription = "Described";
        p.EXIFSoftware = "Writer 2";
        p.EXIFDateTime = "2020:01:02 03:04:05";
        p.EXIFWhitePoint = {0.3127, 0.329};
        p.EXIFYCbCrPositioning = 1;
        p.EXIFISOSpeedRatings = {100, 0};
        p.EXIFFlashPixVersion = "0100";
        p.EXIFDateTimeOriginal = "2020:01:02 03:04:05";
        p.EXIFExposureMode = 1;
        p.EXIFDigitalZoomRatio = 2;
        p.EXIFUserCommentCode = std::string("ASCII\0\0\0", 8);
        p.EXIFGPSAltitude = 35.5;
        p.EXIFGPSMapDatum = "WGS-84";
    };
    struct TCase {
        const char* Name;
        std::vector<TPage> Pages;  // the first a new file, the others inserted at TIFFImageIndex
        size_t Size;
        uint64_t Hash;  // FNV-1a, 64 bits
    };
    const TCase cases[] = {
        {"bilevel g4", {{srcBilevel, 61, 29, {1, 1, 2, 4}}}, 546, 0xf77617e637ef8985ull},
        {"bilevel g3 1d, fill order 2", {{srcBilevel, 61, 29, {1, 1, 2, 2, 2}}}, 496, 0x9ae8e48ae09d3e1ull},
        {"bilevel packbits", {{srcBilevel, 40, 20, {1, 1, 2, 8}}}, 306, 0xb15b9da92708f8d5ull},
        {"palette 4 lzw", {{srcFewColours, 37, 23, {1, 4, 3, 5}}}, 428, 0x420d00bba7634855ull},
        {"palette 8 lzw from a palette image", {{srcPalette, 37, 23, {1, 8, 3, 5}}}, 1926, 0x3f8ab84d299c15eaull},
        {"grey 2 uncompressed", {{srcGrey8, 37, 23, {1, 2}}}, 416, 0xae33182c1d978e18ull},
        {"rgb deflate, fast",
         {{srcRGB, 37, 23, {3, 8, 2, 9}, [](TIOParamsVals& p) { p.TIFFZIPCompression = 0; }}},
         2720, 0xd063636539dab55dull},
        {"rgb deflate, best",
         {{srcRGB, 37, 23, {3, 8, 2, 10}, [](TIOParamsVals& p) { p.TIFFZIPCompression = 2; }}},
         2720, 0x3373ee986a5204dcull},
        {"rgb uncompressed in two strips", {{srcRGB, 700, 600, {}}}, 1260208, 0x2d9cb0042e15ded4ull},
        {"rgb with alpha lzw", {{srcRGBAlpha, 37, 23, {3, 8, 2, 5}}}, 4834, 0x1c0656c8dee7ef17ull},
        {"grey 16 uncompressed", {{srcGrey16, 37, 23, {1, 16}}}, 1888, 0x539ced78de6c747bull},
        {"rgb 48 packbits", {{srcRGB48, 37, 23, {3, 8, 2, 8}}}, 5340, 0x1196261b0bac1650ull},
        {"cmyk lzw", {{srcCMYK, 37, 23, {4, 8, 5, 5}}}, 4800, 0x718d3b62add8bee0ull},
        {"jpeg ycbcr",
         {{srcSmooth, 40, 24, {3, 8, 2, 7}, [](TIOParamsVals& p) { p.TIFFJPEGQuality = 90; }}},
         1028, 0x8e671c52a2580c13ull},
        {"jpeg grey",
         {{srcSmooth, 40, 24, {3, 8, 2, 7}, [](TIOParamsVals& p) { p.TIFFJPEGColorSpace = 1; }}},
         606, 0xa06a23dccc51a802ull},
        {"old-style jpeg",
         {{srcSmooth, 40, 24, {3, 8, 2, 6}, [](TIOParamsVals& p) { p.TIFFJPEGQuality = 70; }}},
         994, 0xc4a932ff0b42d8c7ull},
        {"parameter tags only",
         {{srcRGB, 0, 0, {}, [](TIOParamsVals& p) { p.TIFFImageDescription = "no pixels"; }}},
         100, 0x67fa325b70c88457ull},
        {"tags", {{srcRGB, 8, 4, {}, setTags}}, 748, 0x7e04133bddc9b940ull},
        {"exif and gps", {{srcRGB, 8, 4, {}, setEXIF}}, 1178, 0x889cbc6b531826d0ull},
        // A new file, a page put first, one appended past the end and one
        // put second.
        {"pages inserted and appended",
         {{srcRGB, 10, 4, {3, 8, 2, 5}},
          {srcBilevel, 11, 5, {1, 1, 2, 4}, [](TIOParamsVals& p) { p.TIFFImageIndex = 0; }},
          {srcGrey8, 12, 6, {1, 8, 2, 10}, [](TIOParamsVals& p) { p.TIFFImageIndex = 9; }},
          {srcSmooth, 16, 8, {3, 8, 2, 7}, [](TIOParamsVals& p) { p.TIFFPageName = "second", p.TIFFImageIndex = 1; }}},
         1632, 0xca82a32f97e19408ull},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        classlib::TMemoryStream s;
        bool aborting = false;
        TPxIOProgressInfo info;
        info.Aborting = &aborting;
        for (size_t i = 0; i < c.Pages.size(); ++i) {
            const TPage& page = c.Pages[i];
            TIOParamsVals p(nullptr);
            p.SamplesPerPixel = page.Options.Samples;
            p.BitsPerSample = page.Options.Bits;
            p.TIFFPhotometric = uint8_t(page.Options.Photometric);
            p.TIFFCompression = uint8_t(page.Options.Compression);
            p.TIFFFillOrder = page.Options.FillOrder;
            p.DpiX = 300;
            p.DpiY = 150;
            if (page.More)
                page.More(p);
            std::unique_ptr<TPxBitmap> b = page.Width > 0 ? MakeImage(page.Source, page.Width, page.Height) : nullptr;
            EXPECT_EQ(PxWriteTIFF(&s, i > 0, b.get(), info, p), int32_t(i + 1));
        }
        EXPECT_FALSE(aborting);
        const uint8_t* m = static_cast<const uint8_t*>(s.GetMemory());
        uint64_t hash = 14695981039346656037ull;
        for (int64_t i = 0; i < s.GetSize(); ++i)
            hash = (hash ^ m[i]) * 1099511628211ull;
        EXPECT_EQ(size_t(s.GetSize()), c.Size);
        EXPECT_EQ(hash, c.Hash) << "0x" << std::hex << hash;
    }
}
