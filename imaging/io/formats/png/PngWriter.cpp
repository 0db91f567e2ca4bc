#include "imaging/io/formats/png/PngWriter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/formats/png/PngGlue.h"
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

uint32_t MetresFromDpi(int32_t Dpi)
{
    if (Dpi <= 0)
        return 0;
    return static_cast<uint32_t>(classlib::Round(static_cast<double>(Dpi) * 100 / 2.54));
}

// The state one save shares between its steps.
struct TPngSave {
    TPngWriteGlue Png;
    int Width = 0;
    int Height = 0;
    int Bits = 8;             // bits per sample of a one-sample output
    bool OneSample = false;
    TPxMask* Mask = nullptr;  // null unless it covers the image and is not full
    // The work image: the bitmap itself when its format suits the output,
    // else a converted copy.
    std::unique_ptr<TPxBitmap> Copy;
    TPxBitmap* Work = nullptr;
    TPxPixelFormat Format = px24RGB;
    TPxRGB WorkPalette[256] = {};
    TPngHeader Header;
    bool Masked = false;  // palette whose entry 0 is the transparent background
    std::unique_ptr<TPxQuantizer> Quantizer;
    TPngBackground Background;
    std::vector<TPngPaletteEntry> Plte;
};

void PrepareWorkImage(TPngSave& S, TPxBitmap* Bitmap)
{
    S.Work = Bitmap;
    const TPxPixelFormat source = Bitmap->GetPixelFormat();
    if (S.OneSample && S.Bits == 1) {
        if (source != px1g) {
            TPxRGB c0{}, c1{};
            S.Copy = PxBilevelFromTwoColors(Bitmap, c0, c1);
            if (!S.Copy) {
                S.Copy = std::make_unique<TPxBitmap>();
                S.Copy->BiLevelMethod = Bitmap->BiLevelMethod;
                if (!S.Copy->Allocate(S.Width, S.Height, px1g))
                    RaiseCreateError();
                PxConvertPixelsFrom(*S.Copy, *Bitmap);
            }
            S.Work = S.Copy.get();
        }
    } else {
        const bool keep = S.OneSample ? (source == px8p || source == px8g || source == px16g || source == px24RGB)
                                      : source == px24RGB;
        if (!keep) {
            S.Copy = std::make_unique<TPxBitmap>();
            if (!S.Copy->Allocate(S.Width, S.Height, px24RGB))
                RaiseCreateError();
            PxConvertPixelsFrom(*S.Copy, *Bitmap);
            S.Copy->RemoveAlphaChannel(false, 0);
            S.Work = S.Copy.get();
        }
    }
    S.Format = S.Work->GetPixelFormat();
    if (S.Format == px8p)
        for (int i = 0; i < 256; ++i)
            S.WorkPalette[i] = S.Work->GetPaletteEntry(i);
}

// The colour type and depth, the palette (quantized for one-sample images
// that are not plain grey) and the background chunk in that layout.
void ChooseLayout(TPngSave& S, const TPxRGB& Bg)
{
    TPngHeader& header = S.Header;
    if (S.OneSample && S.Format == px1g) {
        header.ColorType = pngGray;
        header.BitDepth = 1;
        S.Background.Gray = PxRGB2Gray(Bg) >= 128 ? 1 : 0;
    } else if (S.OneSample) {
        if (S.Mask) {
            S.Masked = true;
            const int m = std::min(1 << std::min(S.Bits, 8), 255);
            std::vector<TPxRGB> colours(static_cast<std::size_t>(m), TPxRGB{0, 0, 0});
            S.Quantizer = std::make_unique<TPxQuantizer>(*S.Work, std::span<TPxRGB>(colours), 255, m);
            header.ColorType = pngPalette;
            header.BitDepth = 8;
            S.Plte.push_back({Bg.r, Bg.g, Bg.b});
            for (const TPxRGB& c : colours)
                S.Plte.push_back({c.r, c.g, c.b});
            S.Background.Index = 0;
        } else {
            std::vector<TPxRGB> colours(256, TPxRGB{0, 0, 0});
            S.Quantizer = std::make_unique<TPxQuantizer>(*S.Work, std::span<TPxRGB>(colours), 255, 256);
            if (S.Quantizer->GetGrey()) {
                header.ColorType = pngGray;
                header.BitDepth = S.Bits == 16 ? 16 : 8;
                S.Background.Gray = header.BitDepth == 16 ? static_cast<uint16_t>(Bg.r * 257) : Bg.r;
            } else {
                header.ColorType = pngPalette;
                header.BitDepth = 8;
                for (const TPxRGB& c : colours)
                    S.Plte.push_back({c.r, c.g, c.b});
                S.Background.Index = static_cast<uint8_t>(S.Quantizer->ColorIndex(Bg));
            }
        }
    } else {
        header.ColorType = S.Mask ? pngRGBA : pngRGB;
        header.BitDepth = 8;
        S.Background.Red = Bg.r;
        S.Background.Green = Bg.g;
        S.Background.Blue = Bg.b;
    }
}

// Everything before the image data: header, palette and its transparency,
// resolution, filter, background, compression and the text chunks whose
// keywords the format accepts.
void WriteInfoChunks(TPngSave& S, TIOParamsVals& Params)
{
    TPngWriteGlue& png = S.Png;
    Check(png.SetHeader(S.Header));
    if (!S.Plte.empty())
        Check(png.SetPalette(S.Plte.data(), static_cast<int>(S.Plte.size())));
    if (S.Masked) {
        const uint8_t transparent = 0;
        Check(png.SetPaletteTransparency(&transparent, 1));
    }

    Check(png.SetPhysical(MetresFromDpi(Params.DpiX), MetresFromDpi(Params.DpiY)));
    switch (Params.PNGFilter) {
    case 0: Check(png.SetFilter(pngFilterNone)); break;
    case 1: Check(png.SetFilter(pngFilterSub)); break;
    case 2: Check(png.SetFilter(pngFilterPaeth)); break;
    default: break;
    }
    Check(png.SetBackground(S.Background));
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
}

// Row y of the work image in the output layout: Row when it had to be
// filled, else the work image's own scanline.
const uint8_t* OutputRow(TPngSave& S, int y, std::vector<uint8_t>& row)
{
    const int width = S.Width;
    const TPxPixelFormat format = S.Format;
    const TPxRGB* workPalette = S.WorkPalette;
    const uint8_t* src = S.Work->GetScanline(y);
    const uint8_t* maskRow = S.Mask ? S.Mask->GetScanline(y) : nullptr;
    const uint8_t* out = row.data();
    if (S.Header.ColorType == pngPalette && S.Masked) {
        // Entry 0 is the transparent background, colour i of the
        // quantizer is entry i + 1.
        for (int x = 0; x < width; ++x)
            row[x] = MaskValue(S.Mask, maskRow, x) == 255
                         ? static_cast<uint8_t>(S.Quantizer->ColorIndex(PixelColour(format, src, x, workPalette)) + 1)
                         : 0;
    } else if (S.Header.ColorType == pngPalette) {
        if (format == px8p)
            std::memcpy(row.data(), src, static_cast<std::size_t>(width));
        else
            for (int x = 0; x < width; ++x)
                row[x] = static_cast<uint8_t>(S.Quantizer->ColorIndex(PixelColour(format, src, x, workPalette)));
    } else if (S.Header.ColorType == pngRGBA) {
        for (int x = 0; x < width; ++x) {
            std::memcpy(&row[4 * x], src + 3 * x, 3);
            row[4 * x + 3] = MaskValue(S.Mask, maskRow, x);
        }
    } else if (S.Header.ColorType == pngRGB) {
        out = src;
    } else if (S.Header.BitDepth == 16) {
        for (int x = 0; x < width; ++x) {
            const uint16_t v = GreyLevel16(format, src, x, workPalette);
            row[2 * x] = static_cast<uint8_t>(v >> 8);
            row[2 * x + 1] = static_cast<uint8_t>(v & 0xFF);
        }
    } else if (S.Header.BitDepth == 8) {
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
    return out;
}

// Every pass's rows with progress, then the end of the file unless the save
// was stopped.
void WriteRows(TPngSave& S, TPxIOProgressInfo& Progress)
{
    int passes = 1;
    Check(S.Png.SetInterlaceHandling(passes));
    const double step = 100.0 / (static_cast<double>(S.Height) * passes);
    Progress.Per1 = step;

    std::vector<uint8_t> row;
    if (S.Header.ColorType == pngRGBA)
        row.assign(4 * static_cast<std::size_t>(S.Width), 0);
    else if (S.Header.ColorType != pngRGB)
        row.assign(static_cast<std::size_t>(S.Width) * std::max(1, S.Header.BitDepth / 8), 0);

    TPxAccessScope access(*S.Work, pxAccessRead);
    int64_t done = 0;
    for (int pass = 0; pass < passes && !Progress.Aborted(); ++pass) {
        for (int y = 0; y < S.Height && !Progress.Aborted(); ++y) {
            Check(S.Png.WriteRow(OutputRow(S, y, row)));
            ++done;
            Progress.Progress(static_cast<int>(classlib::Trunc(static_cast<double>(done) * step)));
        }
    }
    if (!Progress.Aborted())
        Check(S.Png.WriteEnd());
}

}  // namespace

void PxWritePNG(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxMask* Mask,
                TPxIOProgressInfo& Progress)
{
    if (!Stream || !Bitmap)
        RaiseCreateError();
    TWriteContext context{Stream, &Progress};
    TPngSave save;
    if (!save.Png.Create(WriteToStream, &context))
        RaiseCreateError();

    save.Width = Bitmap->GetWidth();
    save.Height = Bitmap->GetHeight();
    if (save.Width <= 0 || save.Height <= 0)
        RaiseCreateError();

    const int samples = Params.SamplesPerPixel;
    save.Bits = Params.BitsPerSample;
    if (samples == 1 && save.Bits != 1 && save.Bits != 8 && save.Bits != 16)
        save.Bits = 8;
    save.OneSample = samples == 1;

    if (Mask && !(Mask->Full || Mask->Width != save.Width || Mask->Height != save.Height ||
                  (Mask->BitsPerPixel != 8 && Mask->BitsPerPixel != 1) || !Mask->GetBits()))
        save.Mask = Mask;

    PrepareWorkImage(save, Bitmap);
    save.Header.Width = static_cast<uint32_t>(save.Width);
    save.Header.Height = static_cast<uint32_t>(save.Height);
    save.Header.Interlaced = Params.PNGInterlaced;
    ChooseLayout(save, Params.PNGBackground);
    WriteInfoChunks(save, Params);
    WriteRows(save, Progress);
}

}  // namespace imaging
