// PSD reader: header, colour-mode data, image resources, layer records and
// channel data, merged image. See PsdReader.h for the contract.
#include "imaging/io/formats/psd/PsdReader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "classlib/Streams.h"
#include "classlib/ZLibStreams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/ImgIOStreams.h"
#include "imaging/io/formats/jpeg/JpegReader.h"
#include "imaging/io/formats/psd/PsdWriter.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxICC.h"
#include "imaging/model/PxIptc.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

// ---- TPxPSDLayer

TPxPSDLayer::TPxPSDLayer() : own_(std::make_unique<TPxBitmap>()), bitmap_(own_.get()) {}

TPxPSDLayer::TPxPSDLayer(TPxBitmap* Shared) : bitmap_(Shared) {}

TPxPSDLayer::~TPxPSDLayer() = default;

int32_t TPxPSDLayer::GetWidth() const
{
    return Width != 0 || !bitmap_ ? Width : bitmap_->GetWidth();
}

int32_t TPxPSDLayer::GetHeight() const
{
    return Height != 0 || !bitmap_ ? Height : bitmap_->GetHeight();
}

namespace {

constexpr int kModeBitmap = 0;
constexpr int kModeGray = 1;
constexpr int kModeIndexed = 2;
constexpr int kModeRGB = 3;
constexpr int kModeCMYK = 4;
constexpr int kModeMultichannel = 7;
constexpr int kModeDuotone = 8;
constexpr int kModeLab = 9;

// The largest output of PackBits data: two bytes give at most 128.
constexpr int64_t kPackBitsMaxRatio = 64;
// The largest output of deflated data (zlib's own bound).
constexpr int64_t kZipMaxRatio = 1032;
// Channel codings: raw rows, PackBits rows, zlib data of all the rows, and
// zlib data of rows stored as differences from the sample to their left.
constexpr uint16_t kCodeRaw = 0, kCodeRLE = 1, kCodeZip = 2, kCodeZipPredicted = 3;

// Big-endian field readers over the caller's stream (short data raise).
struct TIn {
    classlib::TStream* S;
    uint8_t U8()
    {
        uint8_t b;
        S->ReadBuffer(&b, 1);
        return b;
    }
    uint16_t U16()
    {
        uint8_t b[2];
        S->ReadBuffer(b, 2);
        return PxBe16(b);
    }
    uint32_t U32()
    {
        uint8_t b[4];
        S->ReadBuffer(b, 4);
        return PxBe32(b);
    }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    int64_t Pos() { return S->GetPosition(); }
    int64_t Remaining() { return std::max<int64_t>(0, S->GetSize() - S->GetPosition()); }
    void Skip(int64_t n) { S->Seek(n, classlib::soCurrent); }
};

// How the channels of one colour mode land in a bitmap.
struct TLayout {
    TPxPixelFormat Format = pxNoPixels;
    int Colours = 0;       // colour channels 0 .. Colours-1
    bool HasAlpha = false; // channel Colours (and -1) is alpha
    int SampleBits = 8;    // bits of one stored sample
};

TLayout LayoutFor(int Depth, int Mode)
{
    TLayout l;
    l.SampleBits = Depth;
    if (Depth == 1 && Mode == kModeBitmap) {
        l.Format = px1g;
        l.Colours = 1;
    } else if (Depth == 8) {
        switch (Mode) {
        case kModeGray:
        case kModeMultichannel:
        case kModeDuotone: l = {px8g, 1, true, 8}; break;
        case kModeIndexed: l = {px8p, 1, false, 8}; break;
        case kModeRGB: l = {px24RGB, 3, true, 8}; break;
        case kModeCMYK: l = {pxCMYK, 4, true, 8}; break;
        case kModeLab: l = {pxCIELab, 3, true, 8}; break;
        default: break;
        }
    } else if (Depth == 16) {
        switch (Mode) {
        case kModeGray:
        case kModeDuotone: l = {px16g, 1, true, 16}; break;
        case kModeRGB: l = {pxRGB48, 3, true, 16}; break;
        case kModeCMYK: l = {pxCMYK, 4, true, 16}; break;
        case kModeLab: l = {pxCIELab, 3, true, 16}; break;
        default: break;
        }
    }
    return l;
}

// A user mask: grey bytes, samples of the document's depth when it is 16.
TLayout MaskLayout(int Depth)
{
    return TLayout{px8g, 1, false, Depth == 16 ? 16 : 8};
}

// The per-call state of the reader.
struct TContext {
    TContext(classlib::TStream* Stream, TIOParamsVals& P, TPxIOProgressInfo& Info)
        : In{Stream}, Params(P), Progress(Info)
    {
    }
    TIn In;
    TIOParamsVals& Params;
    TPxIOProgressInfo& Progress;
    int64_t Start = 0;  // position of the header: resource padding counts from it
    uint16_t Channels = 0;
    uint32_t Rows = 0;
    uint32_t Columns = 0;
    uint16_t Depth = 0;
    uint16_t Mode = 0;
    std::vector<uint8_t> Palette;  // 768 bytes or empty
    int32_t TransparentIndex = -1;
    TPxPSDLayerList* Layers = nullptr;
    bool LoadLayers = false;
    TPxBitmap* Work = nullptr;
    bool ThumbnailLoaded = false;
    bool ProfileRead = false;
    bool Failed = false;  // the data cannot be decoded (aborting flag)
};

// Where the rows of one channel come from.
struct TRowSource {
    uint16_t Compression = 0;
    const std::vector<uint16_t>* Counts = nullptr;  // RLE row byte counts
    const std::vector<uint8_t>* Inflated = nullptr;  // zlib codes: the rows, inflated
    int SampleBits = 8;                              // of the predicted rows
    size_t FirstCount = 0;                           // index of this channel's first row
};

// Undoes the horizontal prediction of one row in place: each sample is the
// sum of the stored differences up to it, 8-bit samples by bytes, 16-bit
// samples by big-endian words (wrapping). 1-bit rows are not predicted.
void UndoPrediction(uint8_t* Row, size_t RowLen, int SampleBits)
{
    if (SampleBits == 8) {
        for (size_t i = 1; i < RowLen; ++i)
            Row[i] = uint8_t(Row[i] + Row[i - 1]);
    } else if (SampleBits == 16) {
        for (size_t i = 2; i + 1 < RowLen; i += 2) {
            const uint16_t v = uint16_t(PxBe16(Row + i) + PxBe16(Row + i - 2));
            Row[i] = uint8_t(v >> 8);
            Row[i + 1] = uint8_t(v);
        }
    }
}

// Inflates the zlib codes of Rows rows of RowLen bytes from the stream's
// position (Available bytes); false with the reason set when they are
// damaged or give fewer rows.
bool InflateRows(TContext& C, int64_t Available, int64_t RowLen, int64_t Rows, std::vector<uint8_t>& Out)
{
    if (Available > C.In.Remaining()) {
        C.Progress.Fail(TPxReadFailure::Truncated);
        return false;
    }
    std::vector<uint8_t> coded(static_cast<size_t>(std::max<int64_t>(Available, 0)));
    if (!coded.empty())
        C.In.S->ReadBuffer(coded.data(), int64_t(coded.size()));
    const int64_t need = RowLen * Rows;
    try {
        Out = PxIOInflate(coded.data(), int64_t(coded.size()), need);
    } catch (const classlib::EZDecompressionError&) {
        Out.clear();
    }
    if (int64_t(Out.size()) < need) {
        C.Progress.Fail(TPxReadFailure::Corrupt);
        return false;
    }
    return true;
}

// Reads one row into Row (RowLen bytes).
void ReadRow(TIn& In, const TRowSource& Src, size_t RowIndex, uint8_t* Row, size_t RowLen,
             std::vector<uint8_t>& Packed)
{
    if (Src.Compression == kCodeRaw) {
        In.S->ReadBuffer(Row, static_cast<int64_t>(RowLen));
        return;
    }
    if (Src.Compression == kCodeZip || Src.Compression == kCodeZipPredicted) {
        std::memcpy(Row, Src.Inflated->data() + (Src.FirstCount + RowIndex) * RowLen, RowLen);
        if (Src.Compression == kCodeZipPredicted)
            UndoPrediction(Row, RowLen, Src.SampleBits);
        return;
    }
    const size_t size = (*Src.Counts)[Src.FirstCount + RowIndex];
    Packed.resize(size);
    if (size)
        In.S->ReadBuffer(Packed.data(), static_cast<int64_t>(size));
    size_t in = 0, out = 0;
    while (in < size) {
        const int8_t n = static_cast<int8_t>(Packed[in++]);
        if (n >= 0) {
            const size_t count = std::min<size_t>(size_t(n) + 1, size - in);
            const size_t keep = out < RowLen ? std::min(count, RowLen - out) : 0;
            if (keep)
                std::memcpy(Row + out, Packed.data() + in, keep);
            out += count;
            in += count;
        } else if (n != -128) {
            if (in >= size)
                break;
            const uint8_t v = Packed[in++];
            const size_t count = size_t(1 - n);
            const size_t keep = out < RowLen ? std::min(count, RowLen - out) : 0;
            if (keep)
                std::memset(Row + out, v, keep);
            out += count;
        }
    }
}

// Whether Layout places channel Index (colour or alpha).
bool Places(const TLayout& Layout, int Index)
{
    if (Layout.Format == pxNoPixels)
        return false;
    if (Index >= 0 && Index < Layout.Colours)
        return true;
    return Layout.HasAlpha && (Index == -1 || Index == Layout.Colours);
}

// Whether channel data of Available bytes can hold a channel of that size:
// the raw rows, or coded rows that could expand to it. Counts of RLE data
// must already be read.
bool ChannelFits(const TRowSource& Src, int64_t RowLen, int64_t Height, int64_t Available)
{
    if (Height <= 0 || RowLen <= 0)
        return true;
    // RowLen * Height <= Limit, without forming the product.
    auto within = [&](int64_t Limit) { return RowLen <= Limit / Height; };
    if (Src.Compression == kCodeRaw)
        return within(Available);
    if (Src.Compression == kCodeRLE) {
        int64_t sum = 0;
        for (int64_t r = 0; r < Height; ++r)
            sum += (*Src.Counts)[Src.FirstCount + size_t(r)];
        return sum <= Available && within(sum * kPackBitsMaxRatio);
    }
    return within(Available * kZipMaxRatio);
}

// Decodes channel Index of a Width x Height image into Bitmap by Layout (see
// the table in the header). The bitmap is allocated and zeroed (its old
// alpha channel dropped) when First is set or its size or format differ;
// otherwise the other channels stay. False when the bitmap cannot be
// allocated. Nothing happens for a channel the layout does not place.
bool DecodeChannel(TContext& C, TPxBitmap* Bitmap, const TLayout& Layout, int64_t Width, int64_t Height, int Index,
                   const TRowSource& Src, const uint8_t* Palette, int32_t TransparentIndex, bool First)
{
    if (!Places(Layout, Index) || Width <= 0 || Height <= 0)
        return true;
    const int w = static_cast<int>(Width), h = static_cast<int>(Height);
    if (First || Bitmap->GetWidth() != w || Bitmap->GetHeight() != h || Bitmap->GetPixelFormat() != Layout.Format) {
        // The data bound is the caller's (ChannelFits); here the caps.
        TPxRasterCheck check;
        check.Width = Width;
        check.Height = Height;
        check.CodedBits = Layout.SampleBits;
        check.StorageBits = PxPixelFormatBits[Layout.Format] + (Layout.HasAlpha ? 8 : 0);
        check.Coding = TPxCoding::Unbounded;
        if (!PxCheckRaster(check, C.Progress))
            return false;
        if (!Bitmap->Allocate(w, h, Layout.Format)) {
            C.Progress.Fail(TPxReadFailure::OutOfMemory);
            return false;
        }
        Bitmap->RemoveAlphaChannel(false, 0);
        for (int y = 0; y < h; ++y)
            std::memset(Bitmap->GetScanline(y), 0, static_cast<size_t>(Bitmap->GetRowLen()));
    }
    const size_t rowLen = static_cast<size_t>(PxBitmapRowLen(Width, Layout.SampleBits, 8));
    std::vector<uint8_t> row(rowLen, 0), packed;
    const bool alpha = Index == -1 || (Layout.HasAlpha && Index == Layout.Colours);
    const bool wide = Layout.SampleBits == 16;
    TPxBitmap* alphaBitmap = alpha || (Layout.Format == px8p && TransparentIndex >= 0) ? Bitmap->GetAlphaChannel()
                                                                                      : nullptr;
    if (Layout.Format == px8p && !alpha) {
        for (int i = 0; i < 256; ++i) {
            // Without colour-mode data the indices are shown as grey levels.
            const TPxRGB c = Palette ? TPxRGB{Palette[512 + i], Palette[256 + i], Palette[i]}
                                     : TPxRGB{uint8_t(i), uint8_t(i), uint8_t(i)};
            Bitmap->SetPaletteEntry(i, c);
        }
    }
    for (int y = 0; y < h; ++y) {
        ReadRow(C.In, Src, size_t(y), row.data(), rowLen, packed);
        const uint8_t* s = row.data();
        if (alpha) {
            uint8_t* d = alphaBitmap->GetScanline(y);
            for (int x = 0; x < w; ++x)
                d[x] = wide ? s[2 * x] : s[x];
            continue;
        }
        uint8_t* d = Bitmap->GetScanline(y);
        switch (Layout.Format) {
        case px1g: {
            const int bytes = (w + 7) / 8;
            for (int i = 0; i < bytes; ++i)
                d[i] = static_cast<uint8_t>(~s[i]);
            break;
        }
        case px8g:
            for (int x = 0; x < w; ++x)
                d[x] = wide ? s[2 * x] : s[x];
            break;
        case px8p:
            std::memcpy(d, s, size_t(w));
            if (TransparentIndex >= 0) {
                uint8_t* a = alphaBitmap->GetScanline(y);
                for (int x = 0; x < w; ++x)
                    a[x] = s[x] == TransparentIndex ? 0 : 255;
            }
            break;
        case px24RGB:
            for (int x = 0; x < w; ++x)
                d[3 * x + 2 - Index] = s[x];
            break;
        case pxCMYK:
            for (int x = 0; x < w; ++x)
                d[4 * x + Index] = wide ? s[2 * x] : s[x];
            break;
        case pxCIELab:
            for (int x = 0; x < w; ++x) {
                const uint8_t v = wide ? s[2 * x] : s[x];
                d[3 * x + Index] = Index == 0 ? v : static_cast<uint8_t>(v - 128);
            }
            break;
        case px16g:
            for (int x = 0; x < w; ++x) {
                const uint16_t v = PxBe16(s + 2 * x);
                std::memcpy(d + 2 * x, &v, 2);
            }
            break;
        case pxRGB48:
            for (int x = 0; x < w; ++x) {
                const uint16_t v = PxBe16(s + 2 * x);
                std::memcpy(d + 6 * x + 2 * Index, &v, 2);
            }
            break;
        default: break;
        }
    }
    if (alphaBitmap)
        alphaBitmap->CheckFullAlpha();
    return true;
}

// ---- resources

void ReadThumbnail(TContext& C, const uint8_t* Data, int32_t Length)
{
    if (Length <= 28)
        return;
    TIOParamsVals& p = C.Params;
    if (!p.EXIFBitmap)
        p.EXIFBitmap = std::make_unique<TPxBitmap>();
    bool failed = false;
    try {
        TPxMemStream m(Data + 28, Length - 28);
        TIOParamsVals temp(nullptr);
        TPxIOProgressInfo info;
        info.Aborting = &failed;
        PxReadJPEG(&m, p.EXIFBitmap.get(), {}, info, temp);
    } catch (...) {
        // A broken thumbnail costs the thumbnail, not the document.
        failed = true;
    }
    if (failed || p.EXIFBitmap->IsEmpty())
        return;
    if (p.UseEmbeddedThumbnail && C.Work) {
        C.LoadLayers = false;
        C.Work->Assign(p.EXIFBitmap.get());
        C.ThumbnailLoaded = true;
    }
}

void ReadResource(TContext& C, uint16_t Id, const uint8_t* Data, int32_t Length)
{
    TIOParamsVals& p = C.Params;
    switch (Id) {
    case 1005:
        if (Length >= 12) {
            p.SetDpiX(static_cast<int32_t>(PxBe32(Data)) / 65536);
            p.SetDpiY(static_cast<int32_t>(PxBe32(Data + 8)) / 65536);
        }
        break;
    case 1028:
        if (p.IPTCInfo)
            p.IPTCInfo->LoadFromBuffer(Data, size_t(Length));
        break;
    case 1036: ReadThumbnail(C, Data, Length); break;
    case 1039:
        if (TPxICC* icc = p.GetInputICCProfile()) {
            icc->LoadFromBuffer(Data, Length);
            C.ProfileRead = true;
        }
        break;
    case 1047:
        if (Length >= 2)
            C.TransparentIndex = PxBe16(Data);
        break;
    case 1060: p.XMPInfo.assign(reinterpret_cast<const char*>(Data), size_t(Length)); break;
    default: break;
    }
}

void ReadResources(TContext& C)
{
    TIn& in = C.In;
    int64_t total = in.U32();
    const int64_t sectionEnd = in.Pos() + total;
    while (total > 0) {
        if ((in.Pos() - C.Start) & 1) {
            in.Skip(1);
            if (--total == 0)
                break;
        }
        uint8_t sig[4];
        in.S->ReadBuffer(sig, 4);
        total -= 4;
        if (std::memcmp(sig, "8BIM", 4) != 0)
            break;
        const uint16_t id = in.U16();
        const int nameLen = in.U8();
        const int nameBytes = (nameLen + 1 + 1) & ~1;  // length byte and text, even
        in.Skip(nameBytes - 1);
        const int32_t length = in.I32();
        total -= 2 + nameBytes + 4;
        if (length <= 0 || length > in.Remaining())
            break;
        std::vector<uint8_t> data(static_cast<size_t>(length));
        in.S->ReadBuffer(data.data(), length);
        ReadResource(C, id, data.data(), length);
        total -= length;
    }
    in.S->SetPosition(sectionEnd);
}

// ---- layers

struct TChannelInfo {
    int16_t Id = 0;
    uint32_t Length = 0;
};

struct TLayerRecord {
    int32_t Top = 0, Left = 0, Bottom = 0, Right = 0;
    std::vector<TChannelInfo> Channels;
    uint8_t Opacity = 255, Clipping = 0, Flags = 0;
    int32_t MaskTop = 0, MaskLeft = 0, MaskBottom = 0, MaskRight = 0;
    std::string Name;
};

// Reads the channel data of one layer channel that starts at the stream's
// position and is Length bytes long; the stream is left at its end.
void ReadLayerChannel(TContext& C, TPxBitmap* Bitmap, const TLayout& Layout, int64_t Width, int64_t Height,
                      int Index, uint32_t Length, const uint8_t* Palette, int32_t TransparentIndex)
{
    TIn& in = C.In;
    const int64_t start = in.Pos();
    const int64_t end = start + Length;
    constexpr int64_t maxSide = std::numeric_limits<int32_t>::max();
    if (Length >= 2 && Places(Layout, Index) && Width > 0 && Height > 0 && Width <= maxSide && Height <= maxSide) {
        TRowSource src;
        src.Compression = in.U16();
        std::vector<uint16_t> counts;
        std::vector<uint8_t> inflated;
        int64_t available = Length - 2;
        // Channels in unknown codes are passed over (not allocated).
        bool ok = src.Compression <= kCodeZipPredicted;
        if (src.Compression == kCodeRLE) {
            ok = Height * 2 <= available;
            if (ok) {
                counts.resize(size_t(Height));
                for (auto& n : counts)
                    n = in.U16();
                available -= Height * 2;
                src.Counts = &counts;
            }
        }
        const int64_t rowLen = PxBitmapRowLen(Width, Layout.SampleBits, 8);
        ok = ok && ChannelFits(src, rowLen, Height, available);
        if (ok && src.Compression >= kCodeZip) {
            // Damaged deflated data fail the read (the reason is set).
            if (!InflateRows(C, available, rowLen, Height, inflated)) {
                C.Failed = true;
                ok = false;
            }
            src.Inflated = &inflated;
            src.SampleBits = Layout.SampleBits;
        }
        if (ok && !DecodeChannel(C, Bitmap, Layout, Width, Height, Index, src, Palette, TransparentIndex, false))
            C.Failed = true;
    }
    in.S->SetPosition(end);
}

// Reads the layer and mask section into C.Layers. Returns the number of
// layers added.
size_t ReadLayers(TContext& C)
{
    TIn& in = C.In;
    const int64_t L = in.U32();
    const int64_t P = in.Pos();
    TPxPSDLayerList* list = C.Layers;
    const size_t base = list ? list->size() : 0;
    if (L > 0) {
        in.U32();  // layer-info length: the section length decides where it ends
        const int n = std::abs(static_cast<int>(static_cast<int16_t>(in.U16())));
        if ((n > 1 && !C.LoadLayers) || !list) {
            in.S->SetPosition(P + L);
            return 0;
        }
        std::vector<TLayerRecord> records(static_cast<size_t>(n));
        for (auto& r : records) {
            r.Top = in.I32();
            r.Left = in.I32();
            r.Bottom = in.I32();
            r.Right = in.I32();
            const int c = in.U16();
            if (int64_t(c) * 6 > in.Remaining()) {
                C.Failed = true;
                return 0;
            }
            r.Channels.resize(size_t(c));
            for (auto& ch : r.Channels) {
                ch.Id = static_cast<int16_t>(in.U16());
                ch.Length = in.U32();
            }
            in.Skip(8);  // blend-mode signature and key
            r.Opacity = in.U8();
            r.Clipping = in.U8();
            r.Flags = in.U8();
            in.Skip(1);
            const int64_t extra = in.U32();
            const int64_t extraStart = in.Pos();
            const int64_t maskLen = in.U32();
            if (maskLen >= 18) {
                r.MaskTop = in.I32();
                r.MaskLeft = in.I32();
                r.MaskBottom = in.I32();
                r.MaskRight = in.I32();
                in.Skip(maskLen - 16);  // default colour, flags and the rest
            } else {
                in.Skip(maskLen);
            }
            in.Skip(in.U32());  // blending ranges
            const int k = in.U8();
            r.Name.resize(size_t(k));
            if (k)
                in.S->ReadBuffer(r.Name.data(), k);
            // Additional-information blocks are not used: go to the record's end.
            in.S->SetPosition(extraStart + extra);

            auto layer = std::make_unique<TPxPSDLayer>();
            layer->PosX = r.Left;
            layer->PosY = r.Top;
            layer->Transparency = r.Opacity;
            layer->Name = r.Name;
            layer->Visible = (r.Flags & 2) == 0;
            layer->Cropped = r.Clipping == 0;
            list->push_back(std::move(layer));
        }

        const TLayout layout = LayoutFor(C.Depth, C.Mode);
        const TLayout maskLayout = MaskLayout(C.Depth);
        const uint8_t* palette = C.Palette.empty() ? nullptr : C.Palette.data();
        size_t w = base;
        for (int i = 0; i < n && !C.Failed; ++i) {
            const TLayerRecord& r = records[size_t(i)];
            // The cursor passes the mask of the layer before.
            while (w < list->size() && (*list)[w]->IsMask)
                ++w;
            if (w >= list->size())
                break;
            const int64_t width = int64_t(r.Right) - r.Left, height = int64_t(r.Bottom) - r.Top;
            bool maskRead = false;
            for (const TChannelInfo& ch : r.Channels) {
                if (ch.Id == -2 && maskRead) {
                    // A layer has one user mask; a repeated one is passed over.
                    in.Skip(ch.Length);
                } else if (ch.Id == -2) {
                    maskRead = true;
                    auto mask = std::make_unique<TPxPSDLayer>();
                    mask->PosX = r.MaskLeft;
                    mask->PosY = r.MaskTop;
                    mask->IsMask = true;
                    mask->Visible = false;
                    TPxBitmap* bmp = mask->GetBitmap();
                    list->insert(list->begin() + std::ptrdiff_t(w + 1), std::move(mask));
                    ReadLayerChannel(C, bmp, maskLayout, int64_t(r.MaskRight) - r.MaskLeft,
                                     int64_t(r.MaskBottom) - r.MaskTop, 0, ch.Length, nullptr, 0);
                } else {
                    ReadLayerChannel(C, (*list)[w]->GetBitmap(), layout, width, height, ch.Id, ch.Length, palette,
                                     C.TransparentIndex);
                }
                if (C.Failed)
                    break;
            }
            ++w;
            C.Progress.Progress(static_cast<int>(int64_t(i) * 100 / n));
        }
        // The global layer mask information is not used.
        in.S->SetPosition(P + L);
    }
    if (list) {
        // Layers left without pixels go, with the mask that belongs to them.
        for (size_t i = base; i < list->size();) {
            if (!(*list)[i]->GetBitmap()->IsEmpty()) {
                ++i;
                continue;
            }
            const bool maskFollows = !(*list)[i]->IsMask && i + 1 < list->size() && (*list)[i + 1]->IsMask;
            list->erase(list->begin() + std::ptrdiff_t(i), list->begin() + std::ptrdiff_t(i + (maskFollows ? 2 : 1)));
        }
    }
    return list ? list->size() - base : 0;
}

// ---- merged image

void ReadMerged(TContext& C)
{
    TIn& in = C.In;
    TRowSource src;
    src.Compression = in.U16();
    if (src.Compression > kCodeZipPredicted) {
        C.Progress.Fail(TPxReadFailure::Corrupt);
        C.Failed = true;
        return;
    }
    const TLayout layout = LayoutFor(C.Depth, C.Mode);
    const int64_t rows = C.Rows;
    const int64_t rowLen = PxBitmapRowLen(C.Columns, layout.SampleBits, 8);
    std::vector<uint16_t> counts;
    std::vector<uint8_t> inflated;
    if (src.Compression >= kCodeZip) {
        // One zlib stream holds the rows of every channel, channel after
        // channel.
        TRowSource whole = src;
        const int64_t available = in.Remaining();
        if (!ChannelFits(whole, rowLen, rows * C.Channels, available)) {
            C.Progress.Fail(TPxReadFailure::MoreThanData);
            C.Failed = true;
            return;
        }
        if (!InflateRows(C, available, rowLen, rows * C.Channels, inflated)) {
            C.Failed = true;
            return;
        }
        src.Inflated = &inflated;
        src.SampleBits = layout.SampleBits;
    }
    if (src.Compression == kCodeRLE) {
        if (int64_t(C.Channels) * rows * 2 > in.Remaining()) {
            C.Failed = true;
            return;
        }
        counts.resize(size_t(C.Channels) * size_t(rows));
        std::vector<uint8_t> raw(counts.size() * 2);
        if (!raw.empty())
            in.S->ReadBuffer(raw.data(), int64_t(raw.size()));
        for (size_t i = 0; i < counts.size(); ++i)
            counts[i] = PxBe16(&raw[2 * i]);
        src.Counts = &counts;
    }
    const uint8_t* palette = C.Palette.empty() ? nullptr : C.Palette.data();
    for (int t = 0; t < C.Channels; ++t) {
        if (!Places(layout, t))
            continue;
        src.FirstCount = size_t(t) * size_t(rows);
        const bool fits = src.Inflated || ChannelFits(src, rowLen, rows, in.Remaining());
        if (!fits)
            C.Progress.Fail(TPxReadFailure::MoreThanData);
        if (!fits ||
            !DecodeChannel(C, C.Work, layout, C.Columns, rows, t, src, palette, C.TransparentIndex, t == 0)) {
            C.Failed = true;
            return;
        }
    }
}

// Everything but bi-level images becomes px24RGB (see the header).
void ConvertToRGB(TContext& C, TPxBitmap* Bitmap)
{
    if (Bitmap->IsEmpty() || Bitmap->GetPixelFormat() == px1g || Bitmap->GetPixelFormat() == px24RGB)
        return;
    TIOParamsVals& p = C.Params;
    TPxICC* in = C.ProfileRead ? p.GetInputICCProfile() : nullptr;
    TPxICC* def = in ? p.GetDefaultICCProfile() : nullptr;
    if (in && def && PxColorManagementEnabled && in->IsValid() && !in->GetApplied() && def->IsValid() &&
        in->TransformBitmap(Bitmap, px24RGB, def))
        return;
    Bitmap->SetPixelFormat(px24RGB);
}

}  // namespace

void PxReadPSD(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxPSDLayerList* Layers,
               bool LoadLayers, TPxIOProgressInfo& Progress)
{
    Progress.Progress(0);
    const int64_t start = Stream->GetPosition();
    uint8_t h[26];
    if (Stream->Read(h, 26) != 26) {
        Progress.Fail(TPxReadFailure::Truncated);
        return;
    }
    const uint16_t channels = PxBe16(h + 12), depth = PxBe16(h + 22), mode = PxBe16(h + 24);
    const uint32_t rows = PxBe32(h + 14), columns = PxBe32(h + 18);
    const uint32_t maxSide = uint32_t(std::numeric_limits<int32_t>::max());
    // The six reserved bytes after the version are zero in every document;
    // anything else is a damaged header, not a picture to guess at.
    const bool reservedClear = std::all_of(h + 6, h + 12, [](uint8_t b) { return b == 0; });
    if (std::memcmp(h, "8BPS", 4) != 0 || PxBe16(h + 4) != 1 || !reservedClear || channels < 1 || channels > 24 || depth < 1 ||
        depth > 16 || mode > 9 || rows > maxSide || columns > maxSide) {
        Progress.Fail(TPxReadFailure::BadHeader);
        return;
    }
    // A depth the colour mode has no pixel format for (Bitmap mode above 1
    // bit, Indexed at 16 bits, modes 5 and 6), and fewer channels than the
    // mode has colours, would decode nothing: refused, like a bad header.
    const TLayout layout = LayoutFor(depth, mode);
    if (layout.Format == pxNoPixels) {
        Progress.Fail(TPxReadFailure::Unsupported);
        return;
    }
    if (channels < layout.Colours) {
        Progress.Fail(TPxReadFailure::BadHeader);
        return;
    }

    TContext C(Stream, Params, Progress);
    C.Start = start;
    C.Channels = channels;
    C.Rows = rows;
    C.Columns = columns;
    C.Depth = depth;
    C.Mode = mode;
    C.Layers = Layers;
    C.LoadLayers = LoadLayers;
    std::unique_ptr<TPxBitmap> temp;
    C.Work = Bitmap;
    if (Bitmap && Bitmap->GetLocation() == pxTBitmap) {
        temp = std::make_unique<TPxBitmap>();
        C.Work = temp.get();
    }

    Params.SetImageCount(1);
    Params.Width = Params.OriginalWidth = static_cast<int32_t>(columns);
    Params.Height = Params.OriginalHeight = static_cast<int32_t>(rows);
    Params.BitsPerSample = depth;
    Params.SamplesPerPixel = channels;
    Params.SetDpiX(96);
    Params.SetDpiY(96);
    if (Bitmap && (rows == 0 || columns == 0)) {
        Progress.Fail(TPxReadFailure::NoImage);
        return;
    }

    TIn& in = C.In;
    const uint32_t colourData = in.U32();
    if (colourData == 768) {
        C.Palette.resize(768);
        Stream->ReadBuffer(C.Palette.data(), 768);
    } else if (mode == 2 && colourData != 0) {
        // An indexed document's palette of another length is damage: the
        // sections after it would be read from the wrong place.
        Progress.Fail(TPxReadFailure::BadHeader);
        return;
    } else {
        in.Skip(colourData);
    }
    C.TransparentIndex = -1;
    ReadResources(C);
    const size_t loaded = C.Failed ? 0 : ReadLayers(C);
    if (!C.Failed && (!C.LoadLayers || loaded == 0) && C.Work && !(Params.UseEmbeddedThumbnail && C.ThumbnailLoaded))
        ReadMerged(C);
    C.Palette.clear();

    if (!Params.NativePixelFormat) {
        if (Layers)
            for (size_t i = Layers->size() - loaded; i < Layers->size(); ++i)
                if (!(*Layers)[i]->IsMask)
                    ConvertToRGB(C, (*Layers)[i]->GetBitmap());
        if (C.Work)
            ConvertToRGB(C, C.Work);
    }
    // Nothing decoded leaves the destination as it was, as without a copy.
    if (temp && !temp->IsEmpty())
        Bitmap->Assign(temp.get());
    // A merged image that was due and did not come is a failed read, never
    // a success without pixels.
    const bool mergedDue = C.Work && (!C.LoadLayers || loaded == 0);
    if (!C.Failed && mergedDue && C.Work->IsEmpty())
        Progress.Fail(TPxReadFailure::NoImage);
    if (C.Failed)
        Progress.Abort();
}

namespace {

void ReadPSDRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                TPxIOProgressInfo& Progress)
{
    try {
        PxReadPSD(Stream, Preview ? nullptr : Bitmap, Params, nullptr, Params.PSDLoadLayers, Progress);
    } catch (...) {
        Progress.Abort();
    }
}

void WritePSDRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    const TPxPSDLayerList none;
    PxWritePSD(Stream, Params, Progress, none, Bitmap);
}

}  // namespace

void PxInstallPSDFormat()
{
    PxSetBuiltInFormatReader(ffPSD, ReadPSDRow);
    PxSetBuiltInFormatWriter(ffPSD, WritePSDRow);
}

}  // namespace imaging
