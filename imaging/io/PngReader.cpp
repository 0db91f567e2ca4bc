#include "imaging/io/PngReader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "imaging/io/FileFormats.h"
#include "imaging/io/IOParams.h"
#include "imaging/io/PngGlue.h"
#include "imaging/io/PngWriter.h"
#include "imaging/io/ReadGuard.h"
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

void ReadPNG(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly,
             TPxIOProgressInfo& Progress)
{
    TPngSource source(Stream);
    TPngReadGlue png;
    TPngHeader h;
    // A failure of the library names the source's reason when it has one.
    const auto fail = [&source, &Progress](TPxReadFailure Otherwise) {
        Progress.Fail(source.Failure != TPxReadFailure::None ? source.Failure : Otherwise);
    };
    if (!png.Create(ReadFromStream, &source) || !png.ReadInfo() || !png.GetHeader(h)) {
        fail(TPxReadFailure::BadHeader);
        return;
    }

    Params.PNGTextKeys->Clear();
    Params.PNGTextValues->Clear();
    for (const TPngText& t : png.GetTexts()) {
        Params.PNGTextKeys->Add(classlib::AnsiToWide(t.Key));
        Params.PNGTextValues->Add(TextToWide(t.Text, t.Utf8));
    }

    TPngBackground background;
    if (png.GetBackground(background))
        Params.PNGBackground = BackgroundColour(background, h);

    const int depth = h.BitDepth;
    const int type = h.ColorType;
    const bool native = Params.NativePixelFormat && (depth == 8 || depth == 16) && (type == pngGray || type == pngPalette);
    uint32_t transforms = 0;
    if (native) {
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
    // Layouts read without the library's expansion (1-bit grey and palette,
    // native grey and palette) keep their pixels and get the transparency
    // chunk as an alpha channel of their own.
    std::vector<uint8_t> keyAlpha;
    uint16_t keyGray = 0;
    const bool keyed = !(transforms & pngtTRNSToAlpha) && (type == pngGray || type == pngPalette) &&
                       png.GetTransparency(keyAlpha, keyGray);
    int passes = 1;
    if (!png.SetTransforms(transforms) || !png.SetInterlaceHandling(passes) || !png.UpdateInfo()) {
        Progress.Abort();
        return;
    }

    const int width = static_cast<int>(h.Width);
    const int height = static_cast<int>(h.Height);
    Params.SetImageCount(1);
    Params.Width = Params.OriginalWidth = width;
    Params.Height = Params.OriginalHeight = height;
    Params.BitsPerSample = depth;
    switch (type) {
    case pngRGB: Params.SamplesPerPixel = 3; break;
    case pngGrayAlpha: Params.SamplesPerPixel = 2; break;
    case pngRGBA: Params.SamplesPerPixel = 4; break;
    default: Params.SamplesPerPixel = 1; break;
    }
    uint32_t ppmX = 0, ppmY = 0;
    bool metre = false;
    int32_t dpiX = 0, dpiY = 0;
    if (png.GetPhysical(ppmX, ppmY, metre) && metre) {
        dpiX = DpiFromMetres(ppmX);
        dpiY = DpiFromMetres(ppmY);
    }
    Params.SetDpiX(dpiX != 0 ? dpiX : PxDefaultDpiX);
    Params.SetDpiY(dpiY != 0 ? dpiY : PxDefaultDpiY);
    Params.FreeColorMap();
    if (type == pngPalette) {
        const std::vector<TPngPaletteEntry> palette = png.GetPalette();
        Params.AllocColorMap(static_cast<int32_t>(palette.size()));
        for (std::size_t i = 0; i < palette.size(); ++i)
            Params.ColorMap[i] = TPxRGB{palette[i].Blue, palette[i].Green, palette[i].Red};
    }
    Params.PNGInterlaced = h.Interlaced;

    if (ParamsOnly)
        return;

    TPxPixelFormat format = px24RGB;
    if (depth == 1 && type != pngPalette)
        format = px1g;
    else if (native && type == pngPalette)
        format = px8p;
    else if (native && depth == 8)
        format = px8g;
    else if (native)
        format = px16g;

    const int channels = png.GetChannels();
    const std::size_t rowBytes = png.GetRowBytes();
    const bool four = channels == 4;
    const bool bitPalette = depth == 1 && type == pngPalette;

    // Rows are only ever read into buffers sized for them: the library's row
    // size must be what this layout expects.
    std::size_t expected = 0;
    if (four)
        expected = 4 * static_cast<std::size_t>(width);
    else if (format == px1g || bitPalette)
        expected = (static_cast<std::size_t>(width) + 7) / 8;
    else if (format == px24RGB)
        expected = 3 * static_cast<std::size_t>(width);
    else
        expected = static_cast<std::size_t>(width) * (format == px16g ? 2 : 1);
    if (rowBytes != expected || (channels != 4 && channels != 3 && channels != 1)) {
        Progress.Abort();
        return;
    }

    // The bitmap, its alpha channel and (interlaced) the work rows, against
    // what the deflated data left in the stream can hold.
    TPxRasterCheck check;
    check.Width = width;
    check.Height = height;
    check.CodedBits = int64_t(depth) * Params.SamplesPerPixel;
    check.StorageBits = four ? (h.Interlaced ? 64 : 32) : PxPixelFormatBits[format];
    check.Coding = TPxCoding::Deflate;
    check.DataBytes = source.Left;
    if (!PxCheckRaster(check, Progress))
        return;
    Bitmap->RemoveAlphaChannel(false, 0);
    if (!Bitmap->Allocate(width, height, format)) {
        Progress.Fail(TPxReadFailure::OutOfMemory);
        return;
    }
    if (format == px8p) {
        Bitmap->SetPaletteLen(1 << depth);
        for (int i = 0; i < (1 << depth); ++i)
            Bitmap->SetPaletteEntry(i, i < Params.ColorMapCount ? Params.ColorMap[i] : TPxRGB{0, 0, 0});
    }

    const double step = 100.0 / (static_cast<double>(height) * passes);
    Progress.Per1 = step;

    // Work rows: one row, or every row when an interlaced file fills them
    // over several passes.
    std::vector<uint8_t> work;
    std::size_t workRow = 0;
    TPxBitmap* alpha = nullptr;
    if (four || bitPalette) {
        workRow = four ? expected : static_cast<std::size_t>(width) / 8 + 1;
        if (!AllocBuffer(work, h.Interlaced ? static_cast<uint64_t>(height) : 1, workRow)) {
            Progress.Abort();
            return;
        }
    }
    if (four || keyed) {
        alpha = Bitmap->GetAlphaChannel();
        if (!alpha || alpha->GetWidth() != width || alpha->GetHeight() != height) {
            Progress.Abort();
            return;
        }
        alpha->FullAlpha = false;
    }
    TPxRGB map[2] = {{0, 0, 0}, {0, 0, 0}};
    for (int i = 0; i < 2 && i < Params.ColorMapCount; ++i)
        map[i] = Params.ColorMap[i];

    int64_t done = 0;
    int lastPer = -1;
    for (int pass = 0; pass < passes && !Progress.Aborted(); ++pass) {
        for (int y = 0; y < height; ++y) {
            if (Progress.Aborted())
                break;
            if (four || bitPalette) {
                uint8_t* src = work.data() + (h.Interlaced ? static_cast<std::size_t>(y) * workRow : 0);
                if (!png.ReadRow(src)) {
                    fail(TPxReadFailure::Corrupt);
                    return;
                }
                uint8_t* dst = Bitmap->GetScanline(y);
                if (four) {
                    uint8_t* a = alpha->GetScanline(y);
                    for (int x = 0; x < width; ++x) {
                        std::memcpy(dst + 3 * x, src + 4 * x, 3);
                        a[x] = src[4 * x + 3];
                    }
                } else {
                    auto* rgb = reinterpret_cast<TPxRGB*>(dst);
                    for (int x = 0; x < width; ++x)
                        rgb[x] = map[(src[x >> 3] & (0x80 >> (x & 7))) ? 1 : 0];
                    if (keyed)
                        KeyedAlphaRow(src, 1, true, width, keyAlpha, keyGray, alpha->GetScanline(y));
                }
            } else if (!png.ReadRow(Bitmap->GetScanline(y))) {
                fail(TPxReadFailure::Corrupt);
                return;
            } else if (keyed) {
                KeyedAlphaRow(Bitmap->GetScanline(y), depth, type == pngPalette, width, keyAlpha, keyGray,
                              alpha->GetScanline(y));
            }
            ++done;
            const int per = static_cast<int>(classlib::Trunc(static_cast<double>(done) * step));
            if (per != lastPer) {
                lastPer = per;
                Progress.Progress(per);
            }
        }
    }
    if (!Progress.Aborted() && !png.ReadEnd())
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

namespace {
const TPxBuiltInFormatRegistration pngRegistration(
    ffPNG, PxReadPNG,
    [](classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress) {
        PxWritePNG(Stream, Bitmap, Params, Progress.Mask.Get(), Progress);
    });
}  // namespace

}  // namespace imaging
