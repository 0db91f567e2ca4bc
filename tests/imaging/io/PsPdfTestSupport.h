// Shared pieces of the PostScript and PDF writer tests: decoders of the
// ASCII85, run-length and fax data the writers embed, test images and the
// row bytes a page should carry.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/formats/tiff/Ccitt.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/formats/jpeg/JpegReader.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/proc/PxConvert.h"

namespace pspdftest {

using namespace imaging;

inline std::string StreamText(classlib::TMemoryStream& m)
{
    return std::string(static_cast<const char*>(m.GetMemory()), static_cast<size_t>(m.GetSize()));
}

// ASCII85 text from Pos up to and including "~>"; Pos is left after "~>".
// Whitespace is skipped; a bad character fails the test.
inline std::vector<uint8_t> Ascii85Decode(const std::string& Text, size_t& Pos)
{
    std::vector<uint8_t> out;
    uint32_t group[5];
    int n = 0;
    auto flush = [&](int count) {
        for (int i = count; i < 5; ++i)
            group[i] = 84;
        uint64_t v = 0;
        for (int i = 0; i < 5; ++i)
            v = v * 85 + group[i];
        for (int i = 0; i < count - 1; ++i)
            out.push_back(static_cast<uint8_t>(v >> (24 - 8 * i)));
    };
    while (Pos < Text.size()) {
        const char c = Text[Pos++];
        if (c == ' ' || c == '\r' || c == '\n' || c == '\t')
            continue;
        if (c == '~') {
            EXPECT_LT(Pos, Text.size());
            EXPECT_EQ(Text[Pos], '>');
            ++Pos;
            if (n > 0)
                flush(n);
            return out;
        }
        if (c == 'z' && n == 0) {
            out.insert(out.end(), 4, 0);
            continue;
        }
        EXPECT_TRUE(c >= '!' && c <= 'u') << "character " << int(c);
        group[n++] = static_cast<uint32_t>(c - '!');
        if (n == 5) {
            flush(5);
            n = 0;
        }
    }
    ADD_FAILURE() << "no ~> at the end of the ASCII85 text";
    return out;
}

// Run-length (PackBits) data up to the end byte 128; Pos is left after it.
inline std::vector<uint8_t> PackBitsDecode(const std::vector<uint8_t>& Data, size_t& Pos)
{
    std::vector<uint8_t> out;
    while (Pos < Data.size()) {
        const uint8_t c = Data[Pos++];
        if (c == 128)
            return out;
        if (c < 128) {
            const size_t n = c + 1u;
            if (Pos + n > Data.size())
                break;
            out.insert(out.end(), Data.begin() + Pos, Data.begin() + Pos + n);
            Pos += n;
        } else {
            if (Pos >= Data.size())
                break;
            out.insert(out.end(), 257u - c, Data[Pos++]);
        }
    }
    ADD_FAILURE() << "run-length data without the end byte";
    return out;
}

inline std::vector<uint8_t> PackBitsDecode(const std::vector<uint8_t>& Data)
{
    size_t pos = 0;
    std::vector<uint8_t> out = PackBitsDecode(Data, pos);
    EXPECT_EQ(pos, Data.size()) << "bytes after the end of the run-length data";
    return out;
}

// A px24RGB image whose pixels all differ from their neighbours a little,
// with runs of equal pixels in the left third (so run-length coding has
// both runs and literals to do).
inline void ColourImage(TPxBitmap& b, int Width, int Height)
{
    ASSERT_TRUE(b.Allocate(Width, Height, px24RGB));
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const int k = x < Width / 3 ? 0 : x;
            b.SetPixelRGB(x, y, TPxRGB{static_cast<uint8_t>(k * 5 + y), static_cast<uint8_t>(200 - y * 3),
                                       static_cast<uint8_t>(k * 11)});
        }
}

// A px1g image with black blocks, stripes and white runs.
inline void BilevelImage(TPxBitmap& b, int Width, int Height)
{
    ASSERT_TRUE(b.Allocate(Width, Height, px1g));
    for (int y = 0; y < Height; ++y) {
        uint8_t* row = b.GetScanline(y);
        for (int x = 0; x < Width; ++x) {
            const bool black = (x / 5 + y / 4) % 3 == 0 || (x > Width / 2 && y % 7 == 0);
            if (black)
                row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
            else
                row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
    }
}

// The rows as a page should carry them: 1-bit rows of (W + 7) / 8 bytes with
// the bits past the width cleared, or red-green-blue triples.
inline std::vector<uint8_t> FileRows(TPxBitmap& b)
{
    std::vector<uint8_t> out;
    const int w = b.GetWidth();
    for (int y = 0; y < b.GetHeight(); ++y) {
        const uint8_t* row = b.GetScanline(y);
        if (b.GetPixelFormat() == px1g) {
            for (int i = 0; i < (w + 7) / 8; ++i)
                out.push_back(row[i]);
        } else {
            const auto* px = reinterpret_cast<const TPxRGB*>(row);
            for (int x = 0; x < w; ++x) {
                out.push_back(px[x].r);
                out.push_back(px[x].g);
                out.push_back(px[x].b);
            }
        }
    }
    return out;
}

// Clears the bits past Width in 1-bit rows of (Width + 7) / 8 bytes.
inline std::vector<uint8_t> MaskPadding(std::vector<uint8_t> Rows, int Width)
{
    const size_t rowBytes = (static_cast<size_t>(Width) + 7) / 8;
    if (Width % 8 == 0)
        return Rows;
    const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - Width % 8));
    for (size_t i = rowBytes - 1; i < Rows.size(); i += rowBytes)
        Rows[i] &= mask;
    return Rows;
}

// Decodes Group 4 (Group4) or Group 3 two-dimensional data of Height rows
// and gives the rows back as stored in a px1g image. The writers code the
// stored bits as they are and declare 1 as black, so a decoder (which
// returns 1 for white) gives the inverse of the stored rows.
inline std::vector<uint8_t> FaxDecode(const std::vector<uint8_t>& Data, int Width, int Height, bool Group4)
{
    const size_t rowBytes = (static_cast<size_t>(Width) + 7) / 8;
    std::vector<uint8_t> ref(rowBytes, 0xFF), row(rowBytes), out;
    int64_t bit = 0;
    for (int y = 0; y < Height; ++y) {
        bit = PxCCITTDecodeRow2D(row.data(), Data.data(), static_cast<int64_t>(Data.size()), !Group4, 1, bit,
                                 ref.data(), Width);
        EXPECT_LE(bit, static_cast<int64_t>(Data.size()) * 8) << "row " << y << " runs past the data";
        for (uint8_t v : row)
            out.push_back(static_cast<uint8_t>(~v));
    }
    return MaskPadding(out, Width);
}

// The text between the first occurrence of Begin at or after From and the
// next End (exclusive); npos-safe (empty when not found).
inline std::string Between(const std::string& Text, const std::string& Begin, const std::string& End,
                           size_t From = 0)
{
    const size_t a = Text.find(Begin, From);
    if (a == std::string::npos)
        return {};
    const size_t b = Text.find(End, a + Begin.size());
    if (b == std::string::npos)
        return {};
    return Text.substr(a + Begin.size(), b - a - Begin.size());
}

// Decodes the JPEG data a writer embedded into Back; what the reader found
// (the samples per pixel) lands in Params.
inline void ReadEmbeddedJpeg(const std::vector<uint8_t>& Data, TPxBitmap& Back, TIOParamsVals& Params)
{
    classlib::TMemoryStream js;
    js.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
    js.SetPosition(0);
    TPxIOProgressInfo progress;
    PxReadJPEG(&js, &Back, {}, progress, Params);
}

// The pixel (X, Y) of the decoded JPEG stays within 12 of the original in
// each channel.
inline void ExpectCloseColour(TPxBitmap& Original, TPxBitmap& Back, int X, int Y)
{
    const TPxRGB a = Original.GetPixelRGB(X, Y), b = Back.GetPixelRGB(X, Y);
    EXPECT_NEAR(a.r, b.r, 12);
    EXPECT_NEAR(a.g, b.g, 12);
    EXPECT_NEAR(a.b, b.b, 12);
}

inline void InstallServices()
{
    PxInstallPixelFormatConversion();
    PxCopyInstallServices();
}

}  // namespace pspdftest
