#include "imaging/io/formats/png/PngReader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/formats/png/PngGlue.h"
#include "imaging/io/formats/png/PngWriter.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"

namespace imaging {

namespace {

// The library's reads: sequential from the signature on. The source
// follows the chunk chain and refuses (as a short read, before the library
// allocates for it) a chunk whose length passes the end of the stream.
struct TPngSource {
    classlib::TStream* Stream = nullptr;
    int64_t Offset = 0;       // bytes handed to the library so far
    int64_t Left = 0;         // bytes of the stream not yet handed
    int64_t NextHeader = 8;   // offset of the next chunk header
    TPxReadFailure Failure = TPxReadFailure::None;

    explicit TPngSource(classlib::TStream* S) : Stream(S), Left(S->GetSize() - S->GetPosition()) {}
};

std::size_t ReadFromStream(void* User, uint8_t* Data, std::size_t Size) noexcept
{
    auto* source = static_cast<TPngSource*>(User);
    try {
        const int64_t want = static_cast<int64_t>(Size);
        if (want > source->Left) {
            source->Failure = TPxReadFailure::Truncated;
            return 0;
        }
        const int64_t got = source->Stream->Read(Data, want);
        if (got != want) {
            source->Failure = TPxReadFailure::Truncated;
            return 0;
        }
        if (source->Offset == source->NextHeader && want >= 4) {
            // The chunk's data must fit after its 8-byte header.
            const int64_t length = PxBe32(Data);
            if (length > source->Left - 8) {
                source->Failure = TPxReadFailure::Truncated;
                return 0;
            }
            source->NextHeader += 12 + length;
        }
        source->Offset += got;
        source->Left -= got;
        return Size;
    } catch (...) {
        return 0;
    }
}

std::wstring TextToWide(const std::string& Text, bool Utf8)
{
    return Utf8 ? classlib::Utf8ToWide(Text) : classlib::AnsiToWide(Text);
}

// A sample of the background chunk on the 0..255 scale. 16-bit samples are
// scaled (a colour written here as c * 257 reads back as c); samples of
// grey files below 8 bits are stretched like their pixels.
uint8_t ScaleSample(uint16_t Value, int Depth)
{
    if (Depth == 16)
        return static_cast<uint8_t>((static_cast<uint32_t>(Value) * 255 + 32767) / 65535);
    if (Depth >= 8)
        return static_cast<uint8_t>(std::min<uint16_t>(Value, 255));
    const uint32_t top = (1u << Depth) - 1;
    return static_cast<uint8_t>(std::min<uint32_t>(Value, top) * 255 / top);
}

TPxRGB BackgroundColour(const TPngBackground& B, const TPngHeader& H)
{
    if (H.ColorType == pngPalette)  // the library gives the palette entry's colour
        return TPxRGB{static_cast<uint8_t>(std::min<uint16_t>(B.Blue, 255)),
                      static_cast<uint8_t>(std::min<uint16_t>(B.Green, 255)),
                      static_cast<uint8_t>(std::min<uint16_t>(B.Red, 255))};
    if (H.ColorType == pngGray || H.ColorType == pngGrayAlpha) {
        const uint8_t g = ScaleSample(B.Gray, H.BitDepth);
        return TPxRGB{g, g, g};
    }
    return TPxRGB{ScaleSample(B.Blue, H.BitDepth), ScaleSample(B.Green, H.BitDepth), ScaleSample(B.Red, H.BitDepth)};
}

// The alpha of one row whose samples the transparency chunk keys: Row holds
// Width samples of Depth bits (1 packed most significant bit first, 8, or 16
// as little-endian words); palette indexes take the chunk's alpha (entries
// past it are opaque), a grey sample equal to Gray is transparent.
void KeyedAlphaRow(const uint8_t* Row, int Depth, bool Palette, int Width, const std::vector<uint8_t>& PaletteAlpha,
                   uint16_t Gray, uint8_t* Alpha)
{
    for (int x = 0; x < Width; ++x) {
        uint32_t v;
        if (Depth == 1)
            v = (Row[x >> 3] >> (7 - (x & 7))) & 1;
        else if (Depth == 16)
            v = static_cast<uint32_t>(Row[2 * x] | (Row[2 * x + 1] << 8));
        else
            v = Row[x];
        if (Palette)
            Alpha[x] = v < PaletteAlpha.size() ? PaletteAlpha[v] : 255;
        else
            Alpha[x] = v == Gray ? 0 : 255;
    }
}

int32_t DpiFromMetres(uint32_t PixelsPerMetre)
{
    return static_cast<int32_t>(classlib::Round(static_cast<double>(PixelsPerMetre) * 2.54 / 100));
}

// A zero-filled buffer of Count * Size bytes, or an empty one when the size
// cannot be had.
bool AllocBuffer(std::vector<uint8_t>& Buffer, uint64_t Count, uint64_t Size)
{
    if (Size != 0 && Count > std::numeric_limits<std::size_t>::max() / Size)
        return false;
    try {
        Buffer.assign(static_cast<std::size_t>(Count * Size), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// The state one load shares between its steps.
struct TPngLoad {
    TPngSource Source;
    TPngReadGlue Png;
    TPngHeader Header;
    TIOParamsVals& Params;
    TPxIOProgressInfo& Progress;
    int Depth = 0;
    int Type = 0;
    int Width = 0;
    int Height = 0;
    bool Native = false;   // 8/16-bit grey or palette read as they are
    uint32_t Transforms = 0;
    // The transparency chunk of a layout that keeps its own pixels.
    std::vector<uint8_t> KeyAlpha;
    uint16_t KeyGray = 0;
    bool Keyed = false;
    int Passes = 1;
    TPxPixelFormat Format = px24RGB;
    std::size_t RowBytes = 0;   // the library's row size, as this layout expects
    bool Four = false;          // rows come as BGRA
    bool BitPalette = false;    // 1-bit palette rows expanded here
    std::vector<uint8_t> Work;  // work rows of BGRA or 1-bit palette layouts
    std::size_t WorkRow = 0;
    TPxBitmap* Alpha = nullptr;

    TPngLoad(classlib::TStream* Stream, TIOParamsVals& P, TPxIOProgressInfo& Pr)
        : Source(Stream), Params(P), Progress(Pr)
    {
    }

    // A failure of the library names the source's reason when it has one.
    void Fail(TPxReadFailure Otherwise)
    {
        Progress.Fail(Source.Failure != TPxReadFailure::None ? Source.Failure : Otherwise);
    }
};

void StoreTextsAndBackground(TPngLoad& L)
{
    L.Params.PNGTextKeys->Clear();
    L.Params.PNGTextValues->Clear();
    for (const TPngText& t : L.Png.GetTexts()) {
        L.Params.PNGTextKeys->Add(classlib::AnsiToWide(t.Key));
        L.Params.PNGTextValues->Add(TextToWide(t.Text, t.Utf8));
    }

    TPngBackground background;
    if (L.Png.GetBackground(background))
        L.Params.PNGBackground = BackgroundColour(background, L.Header);
}

// Native layouts keep their samples (16-bit ones byte-swapped); every other
// layout becomes BGR, with alpha when the file has it or keys it.
uint32_t ChooseTransforms(const TPngLoad& L)
{
    const int depth = L.Depth;
    const int type = L.Type;
    uint32_t transforms = 0;
    if (L.Native) {
        if (depth == 16)
            transforms |= pngtSwap;
    } else {
        if (type == pngPalette && depth >= 2 && depth <= 8)
            transforms |= pngtExpand;
        if (type == pngGray && depth >= 2 && depth <= 7)
            transforms |= pngtExpandGray;
        if (depth == 16)
            transforms |= pngtStrip16;
        if (depth >= 2 && depth <= 7)
            transforms |= pngtPacking;
        if ((type == pngGray || type == pngGrayAlpha) && depth > 1)
            transforms |= pngtGrayToRGB;
        if (depth > 1)
            transforms |= pngtBGR | pngtTRNSToAlpha;
    }
    return transforms;
}

// Picks the transforms and reads the transparency chunk that the library
// does not turn into alpha; false when the library refuses the set-up.
bool SetUpTransforms(TPngLoad& L)
{
    L.Transforms = ChooseTransforms(L);
    // Layouts read without the library's expansion (1-bit grey and palette,
    // native grey and palette) keep their pixels and get the transparency
    // chunk as an alpha channel of their own.
    L.Keyed = !(L.Transforms & pngtTRNSToAlpha) && (L.Type == pngGray || L.Type == pngPalette) &&
              L.Png.GetTransparency(L.KeyAlpha, L.KeyGray);
    return L.Png.SetTransforms(L.Transforms) && L.Png.SetInterlaceHandling(L.Passes) && L.Png.UpdateInfo();
}

void StoreImageParams(TPngLoad& L)
{
    TIOParamsVals& params = L.Params;
    params.SetImageCount(1);
    params.Width = params.OriginalWidth = L.Width;
    params.Height = params.OriginalHeight = L.Height;
    params.BitsPerSample = L.Depth;
    switch (L.Type) {
    case pngRGB: params.SamplesPerPixel = 3; break;
    case pngGrayAlpha: params.SamplesPerPixel = 2; break;
    case pngRGBA: params.SamplesPerPixel = 4; break;
    default: params.SamplesPerPixel = 1; break;
    }
    uint32_t ppmX = 0, ppmY = 0;
    bool metre = false;
    int32_t dpiX = 0, dpiY = 0;
    if (L.Png.GetPhysical(ppmX, ppmY, metre) && metre) {
        dpiX = DpiFromMetres(ppmX);
        dpiY = DpiFromMetres(ppmY);
    }
    params.SetDpiX(dpiX != 0 ? dpiX : PxDefaultDpiX);
    params.SetDpiY(dpiY != 0 ? dpiY : PxDefaultDpiY);
    params.FreeColorMap();
    if (L.Type == pngPalette) {
        const std::vector<TPngPaletteEntry> palette = L.Png.GetPalette();
        params.AllocColorMap(static_cast<int32_t>(palette.size()));
        for (std::size_t i = 0; i < palette.size(); ++i)
            params.ColorMap[i] = TPxRGB{palette[i].Blue, palette[i].Green, palette[i].Red};
    }
    params.PNGInterlaced = L.Header.Interlaced;
}

// The bitmap's pixel format and the row layout the library delivers; false
// when the library's row size is not the one this layout expects (rows are
// only ever read into buffers sized for them).
bool ChooseRowLayout(TPngLoad& L)
{
    if (L.Depth == 1 && L.Type != pngPalette)
        L.Format = px1g;
    else if (L.Native && L.Type == pngPalette)
        L.Format = px8p;
    else if (L.Native && L.Depth == 8)
        L.Format = px8g;
    else if (L.Native)
        L.Format = px16g;

    const int channels = L.Png.GetChannels();
    const std::size_t rowBytes = L.Png.GetRowBytes();
    L.Four = channels == 4;
    L.BitPalette = L.Depth == 1 && L.Type == pngPalette;

    const std::size_t width = static_cast<std::size_t>(L.Width);
    std::size_t expected = 0;
    if (L.Four)
        expected = 4 * width;
    else if (L.Format == px1g || L.BitPalette)
        expected = (width + 7) / 8;
    else if (L.Format == px24RGB)
        expected = 3 * width;
    else
        expected = width * (L.Format == px16g ? 2 : 1);
    L.RowBytes = expected;
    return rowBytes == expected && (channels == 4 || channels == 3 || channels == 1);
}

// The bitmap, its alpha channel and (interlaced) the work rows, against
// what the deflated data left in the stream can hold; a palette bitmap
// gets the file's palette.
bool AllocateBitmap(TPngLoad& L, TPxBitmap* Bitmap)
{
    TPxRasterCheck check;
    check.Width = L.Width;
    check.Height = L.Height;
    check.CodedBits = int64_t(L.Depth) * L.Params.SamplesPerPixel;
    check.StorageBits = L.Four ? (L.Header.Interlaced ? 64 : 32) : PxPixelFormatBits[L.Format];
    check.Coding = TPxCoding::Deflate;
    check.DataBytes = L.Source.Left;
    if (!PxCheckRaster(check, L.Progress))
        return false;
    Bitmap->RemoveAlphaChannel(false, 0);
    if (!Bitmap->Allocate(L.Width, L.Height, L.Format)) {
        L.Progress.Fail(TPxReadFailure::OutOfMemory);
        return false;
    }
    if (L.Format == px8p) {
        Bitmap->SetPaletteLen(1 << L.Depth);
        for (int i = 0; i < (1 << L.Depth); ++i)
            Bitmap->SetPaletteEntry(i, i < L.Params.ColorMapCount ? L.Params.ColorMap[i] : TPxRGB{0, 0, 0});
    }
    return true;
}

// Work rows: one row, or every row when an interlaced file fills them over
// several passes; and the alpha channel that BGRA or keyed rows fill.
bool PrepareWorkRows(TPngLoad& L, TPxBitmap* Bitmap)
{
    if (L.Four || L.BitPalette) {
        L.WorkRow = L.Four ? L.RowBytes : static_cast<std::size_t>(L.Width) / 8 + 1;
        if (!AllocBuffer(L.Work, L.Header.Interlaced ? static_cast<uint64_t>(L.Height) : 1, L.WorkRow)) {
            L.Progress.Abort();
            return false;
        }
    }
    if (L.Four || L.Keyed) {
        L.Alpha = Bitmap->GetAlphaChannel();
        if (!L.Alpha || L.Alpha->GetWidth() != L.Width || L.Alpha->GetHeight() != L.Height) {
            L.Progress.Abort();
            return false;
        }
        L.Alpha->FullAlpha = false;
    }
    return true;
}

// One row through a work row: BGRA splits into pixels and alpha, 1-bit
// palette indexes become the palette's first two colours.
bool ReadWorkRow(TPngLoad& L, TPxBitmap* Bitmap, int Y, const TPxRGB (&Map)[2])
{
    uint8_t* src = L.Work.data() + (L.Header.Interlaced ? static_cast<std::size_t>(Y) * L.WorkRow : 0);
    if (!L.Png.ReadRow(src)) {
        L.Fail(TPxReadFailure::Corrupt);
        return false;
    }
    uint8_t* dst = Bitmap->GetScanline(Y);
    if (L.Four) {
        uint8_t* a = L.Alpha->GetScanline(Y);
        for (int x = 0; x < L.Width; ++x) {
            std::memcpy(dst + 3 * x, src + 4 * x, 3);
            a[x] = src[4 * x + 3];
        }
    } else {
        auto* rgb = reinterpret_cast<TPxRGB*>(dst);
        for (int x = 0; x < L.Width; ++x)
            rgb[x] = Map[(src[x >> 3] & (0x80 >> (x & 7))) ? 1 : 0];
        if (L.Keyed)
            KeyedAlphaRow(src, 1, true, L.Width, L.KeyAlpha, L.KeyGray, L.Alpha->GetScanline(Y));
    }
    return true;
}

// Every pass's rows with progress; false after a failed row (already
// reported).
bool ReadRows(TPngLoad& L, TPxBitmap* Bitmap)
{
    TPxIOProgressInfo& progress = L.Progress;
    const double step = 100.0 / (static_cast<double>(L.Height) * L.Passes);
    progress.Per1 = step;

    TPxRGB map[2] = {{0, 0, 0}, {0, 0, 0}};
    for (int i = 0; i < 2 && i < L.Params.ColorMapCount; ++i)
        map[i] = L.Params.ColorMap[i];

    int64_t done = 0;
    int lastPer = -1;
    for (int pass = 0; pass < L.Passes && !progress.Aborted(); ++pass) {
        for (int y = 0; y < L.Height; ++y) {
            if (progress.Aborted())
                break;
            if (L.Four || L.BitPalette) {
                if (!ReadWorkRow(L, Bitmap, y, map))
                    return false;
            } else if (!L.Png.ReadRow(Bitmap->GetScanline(y))) {
                L.Fail(TPxReadFailure::Corrupt);
                return false;
            } else if (L.Keyed) {
                KeyedAlphaRow(Bitmap->GetScanline(y), L.Depth, L.Type == pngPalette, L.Width, L.KeyAlpha,
                              L.KeyGray, L.Alpha->GetScanline(y));
            }
            ++done;
            const int per = static_cast<int>(classlib::Trunc(static_cast<double>(done) * step));
            if (per != lastPer) {
                lastPer = per;
                progress.Progress(per);
            }
        }
    }
    return true;
}

void ReadPNG(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly,
             TPxIOProgressInfo& Progress)
{
    TPngLoad load(Stream, Params, Progress);
    if (!load.Png.Create(ReadFromStream, &load.Source) || !load.Png.ReadInfo() || !load.Png.GetHeader(load.Header)) {
        load.Fail(TPxReadFailure::BadHeader);
        return;
    }
    StoreTextsAndBackground(load);

    load.Depth = load.Header.BitDepth;
    load.Type = load.Header.ColorType;
    load.Native = Params.NativePixelFormat && (load.Depth == 8 || load.Depth == 16) &&
                  (load.Type == pngGray || load.Type == pngPalette);
    if (!SetUpTransforms(load)) {
        Progress.Abort();
        return;
    }

    load.Width = static_cast<int>(load.Header.Width);
    load.Height = static_cast<int>(load.Header.Height);
    StoreImageParams(load);
    if (ParamsOnly)
        return;

    if (!ChooseRowLayout(load)) {
        Progress.Abort();
        return;
    }
    if (!AllocateBitmap(load, Bitmap) || !PrepareWorkRows(load, Bitmap) || !ReadRows(load, Bitmap))
        return;
    if (!Progress.Aborted() && !load.Png.ReadEnd())
        Progress.Abort();
}

}  // namespace

void PxReadPNG(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly,
               TPxIOProgressInfo& Progress)
{
    try {
        if (!Stream || (!ParamsOnly && !Bitmap)) {
            Progress.Abort();
            return;
        }
        ReadPNG(Stream, Bitmap, Params, ParamsOnly, Progress);
    } catch (...) {
        Progress.Abort();
    }
}

void PxInstallPNGFormat()
{
    PxSetBuiltInFormatReader(ffPNG, PxReadPNG);
    PxSetBuiltInFormatWriter(ffPNG, [](classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                                       TPxIOProgressInfo& Progress) {
        PxWritePNG(Stream, Bitmap, Params, Progress.Mask.Get(), Progress);
    });
}

}  // namespace imaging
