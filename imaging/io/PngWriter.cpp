#include "imaging/io/PngWriter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "imaging/io/IOParams.h"
#include "imaging/io/PngGlue.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxConvertRows.h"
#include "imaging/proc/PxQuantizer.h"

namespace imaging {

namespace {

struct TWriteContext {
    classlib::TStream* Stream = nullptr;
    const TPxIOProgressInfo* Progress = nullptr;
};

void WriteToStream(void* User, const uint8_t* Data, std::size_t Size) noexcept
{
    auto* ctx = static_cast<TWriteContext*>(User);
    int64_t written = 0;
    try {
        written = ctx->Stream->Write(Data, static_cast<int64_t>(Size));
    } catch (...) {
        written = -1;
    }
    if (written != static_cast<int64_t>(Size))
        ctx->Progress->Abort();
}

[[noreturn]] void RaiseCreateError() { throw classlib::EInvalidGraphic(L"Error on creating PNG"); }

void Check(bool Ok)
{
    if (!Ok)
        RaiseCreateError();
}

// A keyword the format accepts: 1 to 79 bytes with at least one printable
// character other than the space (the library rejects the others).
bool ValidKeyword(const std::string& Key)
{
    if (Key.empty() || Key.size() > 79)
        return false;
    for (unsigned char c : Key)
        if ((c > 32 && c <= 126) || c >= 161)
            return true;
    return false;
}

// The pixel x of a row of one of the work formats (px8p, px8g, px16g,
// px24RGB) as a colour.
TPxRGB PixelColour(TPxPixelFormat Format, const uint8_t* Row, int x, const TPxRGB* Palette)
{
    switch (Format) {
    case px8p: return Palette[Row[x]];
    case px8g: return TPxRGB{Row[x], Row[x], Row[x]};
    case px16g: {
        const uint8_t v = Row[2 * x + 1];
        return TPxRGB{v, v, v};
    }
    default: return reinterpret_cast<const TPxRGB*>(Row)[x];
    }
}

// The 16-bit grey level of pixel x of a grey image of a work format: px16g
// values as they are, 8-bit levels stretched by 257.
uint16_t GreyLevel16(TPxPixelFormat Format, const uint8_t* Row, int x, const TPxRGB* Palette)
{
    if (Format == px16g)
        return static_cast<uint16_t>(Row[2 * x] | (Row[2 * x + 1] << 8));
    return static_cast<uint16_t>(PixelColour(Format, Row, x, Palette).r * 257);
}

uint8_t MaskValue(TPxMask* Mask, const uint8_t* Row, int x)
{
    if (Mask->BitsPerPixel == 8)
        return Row[x];
    return (Row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
}

}  // namespace

void PxWritePNG(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxMask* Mask,
                TPxIOProgressInfo& Progress)
{
    if (!Stream || !Bitmap)
        RaiseCreateError();
    TWriteContext context{Stream, &Progress};
    TPngWriteGlue png;
    if (!png.Create(WriteToStream, &context))
        RaiseCreateError();

    const int width = Bitmap->GetWidth();
    const int height = Bitmap->GetHeight();
    if (width <= 0 || height <= 0)
        RaiseCreateError();

    const int samples = Params.SamplesPerPixel;
    int bits = Params.BitsPerSample;
    if (samples == 1 && bits != 1 && bits != 8 && bits != 16)
        bits = 8;
    const bool oneSample = samples == 1;

    // A mask counts only when it covers the image and is not full.
    if (Mask && (Mask->Full || Mask->Width != width || Mask->Height != height ||
                 (Mask->BitsPerPixel != 8 && Mask->BitsPerPixel != 1) || !Mask->GetBits()))
        Mask = nullptr;

    // The work image: the bitmap itself when its format suits the output,
    // else a converted copy.
    std::unique_ptr<TPxBitmap> copy;
    TPxBitmap* work = Bitmap;
    const TPxPixelFormat source = Bitmap->GetPixelFormat();
    if (oneSample && bits == 1) {
        if (source != px1g) {
            TPxRGB c0{}, c1{};
            copy = PxBilevelFromTwoColors(Bitmap, c0, c1);
            if (!copy) {
                copy = std::make_unique<TPxBitmap>();
                copy->BiLevelMethod = Bitmap->BiLevelMethod;
                if (!copy->Allocate(width, height, px1g))
                    RaiseCreateError();
                PxConvertPixelsFrom(*copy, *Bitmap);
            }
            work = copy.get();
        }
    } else {
        const bool keep = oneSample ? (source == px8p || source == px8g || source == px16g || source == px24RGB)
                                    : source == px24RGB;
        if (!keep) {
            copy = std::make_unique<TPxBitmap>();
            if (!copy->Allocate(width, height, px24RGB))
                RaiseCreateError();
            PxConvertPixelsFrom(*copy, *Bitmap);
            copy->RemoveAlphaChannel(false, 0);
            work = copy.get();
        }
    }
    const TPxPixelFormat format = work->GetPixelFormat();
    TPxRGB workPalette[256] = {};
    if (format == px8p)
        for (int i = 0; i < 256; ++i)
            workPalette[i] = work->GetPaletteEntry(i);

    TPngHeader header;
    header.Width = static_cast<uint32_t>(width);
    header.Height = static_cast<uint32_t>(height);
    header.Interlaced = Params.PNGInterlaced;
    bool masked = false;  // palette whose entry 0 is the transparent background
    std::unique_ptr<TPxQuantizer> quantizer;
    TPngBackground background;
    const TPxRGB bg = Params.PNGBackground;
    std::vector<TPngPaletteEntry> plte;
    if (oneSample && format == px1g) {
        header.ColorType = pngGray;
        header.BitDepth = 1;
        background.Gray = PxRGB2Gray(bg) >= 128 ? 1 : 0;
    } else if (oneSample) {
        if (Mask) {
            masked = true;
            const int m = std::min(1 << std::min(bits, 8), 255);
            std::vector<TPxRGB> colours(static_cast<std::size_t>(m), TPxRGB{0, 0, 0});
            quantizer = std::make_unique<TPxQuantizer>(*work, std::span<TPxRGB>(colours), 255, m);
            header.ColorType = pngPalette;
            header.BitDepth = 8;
            plte.push_back({bg.r, bg.g, bg.b});
            for (const TPxRGB& c : colours)
                plte.push_back({c.r, c.g, c.b});
            background.Index = 0;
        } else {
            std::vector<TPxRGB> colours(256, TPxRGB{0, 0, 0});
            quantizer = std::make_unique<TPxQuantizer>(*work, std::span<TPxRGB>(colours), 255, 256);
            if (quantizer->GetGrey()) {
                header.ColorType = pngGray;
                header.BitDepth = bits == 16 ? 16 : 8;
                background.Gray = header.BitDepth == 16 ? static_cast<uint16_t>(bg.r * 257) : bg.r;
            } else {
                header.ColorType = pngPalette;
                header.BitDepth = 8;
                for (const TPxRGB& c : colours)
                    plte.push_back({c.r, c.g, c.b});
                background.Index = static_cast<uint8_t>(quantizer->ColorIndex(bg));
            }
        }
    } else {
        header.ColorType = Mask ? pngRGBA : pngRGB;
        header.BitDepth = 8;
        background.Red = bg.r;
        background.Green = bg.g;
        background.Blue = bg.b;
    }
    Check(png.SetHeader(header));
    if (!plte.empty())
        Check(png.SetPalette(plte.data(), static_cast<int>(plte.size())));
    if (masked) {
        const uint8_t transparent = 0;
        Check(png.SetPaletteTransparency(&transparent, 1));
    }

    const auto toMetres = [](int32_t Dpi) -> uint32_t {
        if (Dpi <= 0)
            return 0;
        return static_cast<uint32_t>(classlib::Round(static_cast<double>(Dpi) * 100 / 2.54));
    };
    Check(png.SetPhysical(toMetres(Params.DpiX), toMetres(Params.DpiY)));
    switch (Params.PNGFilter) {
    case 0: Check(png.SetFilter(pngFilterNone)); break;
    case 1: Check(png.SetFilter(pngFilterSub)); break;
    case 2: Check(png.SetFilter(pngFilterPaeth)); break;
    default: break;
    }
    Check(png.SetBackground(background));
    Check(png.SetCompressionLevel(std::clamp<int32_t>(Params.PNGCompression, 0, 9)));
    Check(png.SetBGR());

    std::vector<TPngText> texts;
    const int n = std::min(Params.PNGTextKeys->GetCount(), Params.PNGTextValues->GetCount());
    for (int i = 0; i < n; ++i) {
        TPngText t;
        t.Key = classlib::WideToAnsi(Params.PNGTextKeys->GetStrings(i));
        t.Text = classlib::WideToAnsi(Params.PNGTextValues->GetStrings(i));
        if (ValidKeyword(t.Key))
            texts.push_back(std::move(t));
    }
    Check(png.SetTexts(texts));
    Check(png.WriteInfo());

    int passes = 1;
    Check(png.SetInterlaceHandling(passes));
    const double step = 100.0 / (static_cast<double>(height) * passes);
    Progress.Per1 = step;

    std::vector<uint8_t> row;
    if (header.ColorType == pngRGBA)
        row.assign(4 * static_cast<std::size_t>(width), 0);
    else if (header.ColorType != pngRGB)
        row.assign(static_cast<std::size_t>(width) * std::max(1, header.BitDepth / 8), 0);

    TPxAccessScope access(*work, pxAccessRead);
    int64_t done = 0;
    for (int pass = 0; pass < passes && !Progress.Aborted(); ++pass) {
        for (int y = 0; y < height && !Progress.Aborted(); ++y) {
            const uint8_t* src = work->GetScanline(y);
            const uint8_t* maskRow = Mask ? Mask->GetScanline(y) : nullptr;
            const uint8_t* out = row.data();
            if (header.ColorType == pngPalette && masked) {
                // Entry 0 is the transparent background, colour i of the
                // quantizer is entry i + 1.
                for (int x = 0; x < width; ++x)
                    row[x] = MaskValue(Mask, maskRow, x) == 255
                                 ? static_cast<uint8_t>(
                                       quantizer->ColorIndex(PixelColour(format, src, x, workPalette)) + 1)
                                 : 0;
            } else if (header.ColorType == pngPalette) {
                if (format == px8p)
                    std::memcpy(row.data(), src, static_cast<std::size_t>(width));
                else
                    for (int x = 0; x < width; ++x)
                        row[x] = static_cast<uint8_t>(quantizer->ColorIndex(PixelColour(format, src, x, workPalette)));
            } else if (header.ColorType == pngRGBA) {
                for (int x = 0; x < width; ++x) {
                    std::memcpy(&row[4 * x], src + 3 * x, 3);
                    row[4 * x + 3] = MaskValue(Mask, maskRow, x);
                }
            } else if (header.ColorType == pngRGB) {
                out = src;
            } else if (header.BitDepth == 16) {
                for (int x = 0; x < width; ++x) {
                    const uint16_t v = GreyLevel16(format, src, x, workPalette);
                    row[2 * x] = static_cast<uint8_t>(v >> 8);
                    row[2 * x + 1] = static_cast<uint8_t>(v & 0xFF);
                }
            } else if (header.BitDepth == 8) {
                if (format == px8g)
                    std::memcpy(row.data(), src, static_cast<std::size_t>(width));
                else
                    for (int x = 0; x < width; ++x)
                        row[x] = PixelColour(format, src, x, workPalette).r;
            } else {
                // One bit per pixel: the bits behind the last pixel are
                // cleared, so that the file depends on the pixels only.
                const std::size_t bytes = (static_cast<std::size_t>(width) + 7) / 8;
                std::memcpy(row.data(), src, bytes);
                if (width % 8 != 0)
                    row[bytes - 1] &= static_cast<uint8_t>(0xFF00 >> (width % 8));
            }
            Check(png.WriteRow(out));
            ++done;
            Progress.Progress(static_cast<int>(classlib::Trunc(static_cast<double>(done) * step)));
        }
    }
    if (!Progress.Aborted())
        Check(png.WriteEnd());
}

}  // namespace imaging
