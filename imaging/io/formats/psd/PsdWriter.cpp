// PSD writer: see PsdWriter.h for the contract.
#include "imaging/io/formats/psd/PsdWriter.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "classlib/Streams.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/formats/jpeg/JpegWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxICC.h"
#include "imaging/model/PxIptc.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/proc/PxConvertRows.h"

namespace imaging {

namespace {

// Row byte counts are 16-bit.
constexpr int64_t kMaxPackedRow = 65535;

// Big-endian writers and the patchers of length fields written earlier.
struct TOut {
    classlib::TStream* S;
    void Bytes(const void* p, int64_t n)
    {
        if (n > 0)
            S->WriteBuffer(p, n);
    }
    void U8(uint8_t v) { Bytes(&v, 1); }
    void U16(uint32_t v)
    {
        const uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
        Bytes(b, 2);
    }
    void U32(uint32_t v)
    {
        const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        Bytes(b, 4);
    }
    int64_t Pos() { return S->GetPosition(); }
    void Patch32(int64_t At, uint32_t v)
    {
        const int64_t here = Pos();
        S->SetPosition(At);
        U32(v);
        S->SetPosition(here);
    }
    // The length of the section whose 32-bit length field is at At.
    void PatchLength(int64_t At) { Patch32(At, static_cast<uint32_t>(Pos() - At - 4)); }
};

int ModeOf(TPxPixelFormat Format)
{
    switch (Format) {
    case px1g: return 0;
    case px8p: return 2;
    case px8g:
    case px16g: return 1;
    case px24RGB:
    case pxRGB48:
    case px32RGB: return 3;
    case pxCMYK: return 4;
    case pxCIELab: return 9;
    default: return -1;
    }
}

TPxPixelFormat DocumentFormat(int Mode, int Depth)
{
    switch (Mode) {
    case 0: return px1g;
    case 1: return Depth == 16 ? px16g : px8g;
    case 2: return px8p;
    case 3: return Depth == 16 ? pxRGB48 : px24RGB;
    case 4: return pxCMYK;
    case 9: return pxCIELab;
    default: return pxNoPixels;
    }
}

// A layer as it is written: the caller's bitmap, or a converted or resampled
// copy of it.
struct TPrepared {
    const TPxPSDLayer* Layer = nullptr;
    TPxBitmap* Bitmap = nullptr;
    std::unique_ptr<TPxBitmap> Copy;
};

TPxBitmap* CopyOf(TPrepared& P)
{
    if (!P.Copy) {
        P.Copy = std::make_unique<TPxBitmap>();
        P.Copy->Assign(P.Bitmap);
        P.Bitmap = P.Copy.get();
    }
    return P.Copy.get();
}

// An indexed document has one palette: a layer is written as indices into
// the merged image's palette (nearest colour), unless it already uses it.
void ToDocumentPalette(TPrepared& P, TPxBitmap* Merged)
{
    TPxBitmap* src = P.Bitmap;
    bool same = src->GetPixelFormat() == px8p;
    for (int i = 0; same && i < 256; ++i)
        same = src->GetPaletteEntry(i) == Merged->GetPaletteEntry(i);
    if (same)
        return;
    const int w = src->GetWidth(), h = src->GetHeight();
    auto out = std::make_unique<TPxBitmap>(w, h, px8p);
    TPxRGB palette[256];
    for (int i = 0; i < 256; ++i) {
        palette[i] = Merged->GetPaletteEntry(i);
        out->SetPaletteEntry(i, palette[i]);
    }
    for (int y = 0; y < h; ++y) {
        std::vector<TPxRGB> colours(static_cast<size_t>(w));
        for (int x = 0; x < w; ++x)
            colours[size_t(x)] = src->GetPixelAsRGB(x, y);
        uint8_t* d = out->GetScanline(y);
        for (int x = 0; x < w; ++x)
            d[x] = uint8_t(PxNearestPaletteIndex(palette, 256, colours[size_t(x)]));
    }
    if (src->HasAlphaChannel()) {
        TPxBitmap* a = src->GetAlphaChannel();
        TPxBitmap* b = out->GetAlphaChannel();
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = a->GetScanline(y);
            std::memcpy(b->GetScanline(y), row, size_t(w));
        }
    }
    P.Copy = std::move(out);
    P.Bitmap = P.Copy.get();
}

// Layer bitmaps in the document's format (masks as grey bytes) and at their
// displayed size, the caller's layers untouched.
std::vector<TPrepared> PrepareLayers(const TPxPSDLayerList& Layers, TPxPixelFormat DocFormat, TPxBitmap* Merged)
{
    std::vector<TPrepared> out;
    for (const auto& layer : Layers) {
        TPrepared p;
        p.Layer = layer.get();
        p.Bitmap = layer->GetBitmap();
        if (!p.Bitmap || p.Bitmap->IsEmpty()) {
            out.push_back(std::move(p));
            continue;
        }
        const TPxPixelFormat want = layer->IsMask ? px8g : DocFormat;
        if (p.Bitmap->GetPixelFormat() != want && want != px8p)
            CopyOf(p)->SetPixelFormat(want);
        const int w = layer->GetWidth(), h = layer->GetHeight();
        if (w > 0 && h > 0 && (w != p.Bitmap->GetWidth() || h != p.Bitmap->GetHeight())) {
            std::unique_ptr<TImgProc> proc = TImgProc::CreateForBitmap(CopyOf(p));
            proc->AutoUndo = false;
            proc->Resample(w, h, layer->UseResampleFilter ? layer->ResampleFilter : rfNone);
            if (p.Bitmap->GetPixelFormat() != want && want != px8p)
                p.Bitmap->SetPixelFormat(want);
        }
        if (want == px8p)
            ToDocumentPalette(p, Merged);
        out.push_back(std::move(p));
    }
    return out;
}

// The bytes of one channel row.
enum TChannelKind { ckColour, ckAlpha, ckMask };

class TChannelWriter {
public:
    TChannelWriter(TOut& Out, int Depth) : out_(Out), depth_(Depth) {}

    // Bytes of one row of channel T of Bitmap (colour channels) or of its
    // alpha channel or mask (written as grey samples).
    int RowBytes(TPxBitmap* Bitmap, TChannelKind Kind) const
    {
        const int w = Bitmap->GetWidth();
        if (Kind == ckAlpha && depth_ == 1)
            return 0;
        if (Kind == ckColour && depth_ == 1)
            return (w + 7) / 8;
        return depth_ == 16 ? 2 * w : w;
    }

    void MakeRow(TPxBitmap* Bitmap, TChannelKind Kind, int T, int Y, std::vector<uint8_t>& Row)
    {
        const int w = Bitmap->GetWidth();
        Row.resize(size_t(RowBytes(Bitmap, Kind)));
        if (Row.empty())
            return;
        if (Kind != ckColour) {
            TPxBitmap* src = Kind == ckAlpha ? Bitmap->GetAlphaChannel() : Bitmap;
            const uint8_t* s = src->GetScanline(Y);
            for (int x = 0; x < w; ++x) {
                if (depth_ == 16) {
                    Row[2 * size_t(x)] = s[x];
                    Row[2 * size_t(x) + 1] = s[x];  // b x 257, big-endian
                } else {
                    Row[size_t(x)] = s[x];
                }
            }
            return;
        }
        const uint8_t* s = Bitmap->GetScanline(Y);
        const TPxPixelFormat f = Bitmap->GetPixelFormat();
        if (depth_ == 1) {
            for (size_t i = 0; i < Row.size(); ++i)
                Row[i] = static_cast<uint8_t>(~s[i]);
            return;
        }
        const int channels = Bitmap->GetChannelCount();
        if (depth_ == 16) {
            for (int x = 0; x < w; ++x) {
                uint16_t v;
                std::memcpy(&v, s + 2 * (size_t(x) * channels + T), 2);
                Row[2 * size_t(x)] = uint8_t(v >> 8);
                Row[2 * size_t(x) + 1] = uint8_t(v);
            }
            return;
        }
        // Red first: the 24- and 32-bit layouts keep blue, green, red.
        const int at = (f == px24RGB || f == px32RGB) && T < 3 ? 2 - T : T;
        const uint8_t add = f == pxCIELab && T > 0 ? 128 : 0;  // a and b unsigned in the file
        for (int x = 0; x < w; ++x)
            Row[size_t(x)] = static_cast<uint8_t>(s[size_t(x) * channels + at] + add);
    }

    // Codes the rows of one channel after a count table reserved at
    // TablePos, fills the table.
    void WriteRows(TPxBitmap* Bitmap, TChannelKind Kind, int T, int64_t TablePos)
    {
        const int h = Bitmap->GetHeight();
        std::vector<uint8_t> counts(size_t(h) * 2);
        for (int y = 0; y < h; ++y) {
            MakeRow(Bitmap, Kind, T, y, row_);
            PSDPackBitsRow(row_.data(), int(row_.size()), packed_);
            out_.Bytes(packed_.data(), int64_t(packed_.size()));
            counts[2 * size_t(y)] = uint8_t(packed_.size() >> 8);
            counts[2 * size_t(y) + 1] = uint8_t(packed_.size());
        }
        const int64_t here = out_.Pos();
        out_.S->SetPosition(TablePos);
        out_.Bytes(counts.data(), int64_t(counts.size()));
        out_.S->SetPosition(here);
    }

    // One layer channel: its compression word, table and rows; returns its
    // length.
    uint32_t WriteLayerChannel(TPxBitmap* Bitmap, TChannelKind Kind, int T)
    {
        const int64_t start = out_.Pos();
        out_.U16(1);
        const int64_t table = out_.Pos();
        Reserve(int64_t(Bitmap->GetHeight()) * 2);
        WriteRows(Bitmap, Kind, T, table);
        return static_cast<uint32_t>(out_.Pos() - start);
    }

    void Reserve(int64_t n)
    {
        const std::vector<uint8_t> zero(size_t(std::max<int64_t>(n, 0)), 0);
        out_.Bytes(zero.data(), int64_t(zero.size()));
    }

private:
    TOut& out_;
    int depth_;
    std::vector<uint8_t> row_, packed_;
};

// The largest row any channel of Bitmap gives, in bytes.
int64_t WidestRow(TPxBitmap* Bitmap, int Depth)
{
    if (!Bitmap || Bitmap->IsEmpty())
        return 0;
    const int64_t w = Bitmap->GetWidth();
    return Depth == 1 ? std::max<int64_t>((w + 7) / 8, w) : (Depth == 16 ? 2 * w : w);
}

void WriteResource(TOut& Out, int64_t DocStart, uint16_t Id, const void* Data, uint32_t Length)
{
    if ((Out.Pos() - DocStart) & 1)
        Out.U8(0);
    Out.Bytes("8BIM", 4);
    Out.U16(Id);
    Out.U16(0);  // empty name
    Out.U32(Length);
    Out.Bytes(Data, Length);
}

std::vector<uint8_t> ThumbnailResource(TPxBitmap* Thumb)
{
    std::unique_ptr<TPxBitmap> copy;
    TPxBitmap* src = Thumb;
    if (Thumb->GetPixelFormat() != px24RGB) {
        copy = std::make_unique<TPxBitmap>();
        copy->Assign(Thumb);
        copy->SetPixelFormat(px24RGB);
        src = copy.get();
    }
    classlib::TMemoryStream m;
    const uint8_t reserved[28] = {};
    m.WriteBuffer(reserved, 28);
    TIOParamsVals temp(nullptr);
    bool aborting = false;
    TPxIOProgressInfo info;
    info.Aborting = &aborting;
    PxWriteJPEG(&m, src, temp, info);
    if (aborting)
        return {};
    const uint32_t w = uint32_t(src->GetWidth()), h = uint32_t(src->GetHeight());
    TOut out{&m};
    m.SetPosition(0);
    out.U32(1);
    out.U32(w);
    out.U32(h);
    out.U32(w * 3);
    out.U32(w * h * 3);
    out.U32(static_cast<uint32_t>(m.GetSize() - 28));
    out.U16(24);
    out.U16(1);
    const auto* p = static_cast<const uint8_t*>(m.GetMemory());
    return std::vector<uint8_t>(p, p + m.GetSize());
}

void WriteResources(TOut& Out, int64_t DocStart, TIOParamsVals& Params, TPxBitmap* Merged)
{
    const int64_t at = Out.Pos();
    Out.U32(0);
    {
        const uint32_t x = uint32_t(Params.DpiX) << 16, y = uint32_t(Params.DpiY) << 16;
        // Resolutions in 16.16 fixed point, pixels per inch, shown in inches.
        const uint8_t r[16] = {uint8_t(x >> 24), uint8_t(x >> 16), uint8_t(x >> 8), uint8_t(x), 0, 1, 0, 1,
                               uint8_t(y >> 24), uint8_t(y >> 16), uint8_t(y >> 8), uint8_t(y), 0, 1, 0, 1};
        WriteResource(Out, DocStart, 1005, r, 16);
    }
    if (Merged->GetPixelFormat() == px8p) {
        const uint8_t index[2] = {0, 255};
        WriteResource(Out, DocStart, 1047, index, 2);
    }
    if (Params.IPTCInfo && Params.IPTCInfo->GetCount() > 0) {
        const std::vector<uint8_t> block = Params.IPTCInfo->SaveToBuffer(false);
        if (!block.empty())
            WriteResource(Out, DocStart, 1028, block.data(), uint32_t(block.size()));
    }
    if (TPxICC* icc = Params.GetInputICCProfile())
        if (icc->GetRawLength() > 0)
            WriteResource(Out, DocStart, 1039, icc->GetRaw(), uint32_t(icc->GetRawLength()));
    if (Params.EXIFBitmap && !Params.EXIFBitmap->IsEmpty()) {
        const std::vector<uint8_t> thumb = ThumbnailResource(Params.EXIFBitmap.get());
        if (!thumb.empty())
            WriteResource(Out, DocStart, 1036, thumb.data(), uint32_t(thumb.size()));
    }
    if (!Params.XMPInfo.empty())
        WriteResource(Out, DocStart, 1060, Params.XMPInfo.data(), uint32_t(Params.XMPInfo.size()));
    if ((Out.Pos() - DocStart) & 1)
        Out.U8(0);
    Out.PatchLength(at);
}

void WriteRect(TOut& Out, int32_t X, int32_t Y, TPxBitmap* Bitmap)
{
    Out.U32(uint32_t(Y));
    Out.U32(uint32_t(X));
    Out.U32(uint32_t(Y + Bitmap->GetHeight()));
    Out.U32(uint32_t(X + Bitmap->GetWidth()));
}

void WriteLayers(TOut& Out, TChannelWriter& Channels, std::vector<TPrepared>& Layers, TPxIOProgressInfo& Progress)
{
    const int64_t infoAt = Out.Pos();
    Out.U32(0);
    int count = 0;
    for (const TPrepared& p : Layers)
        if (!p.Layer->IsMask)
            ++count;
    Out.U16(uint32_t(count));

    const size_t n = Layers.size();
    auto maskOf = [&](size_t i) -> TPxBitmap* {
        return i + 1 < n && Layers[i + 1].Layer->IsMask ? Layers[i + 1].Bitmap : nullptr;
    };
    // Positions of the channel length fields, per layer.
    std::vector<std::vector<int64_t>> lengthAt(n);
    for (size_t i = 0; i < n; ++i) {
        const TPrepared& p = Layers[i];
        if (p.Layer->IsMask)
            continue;
        TPxBitmap* bmp = p.Bitmap;
        TPxBitmap* mask = maskOf(i);
        WriteRect(Out, p.Layer->PosX, p.Layer->PosY, bmp);
        const int colours = bmp->IsEmpty() ? 0 : bmp->GetChannelCount();
        const bool alpha = bmp->HasAlphaChannel();
        Out.U16(uint32_t(colours + (alpha ? 1 : 0) + (mask ? 1 : 0)));
        auto entry = [&](int Id) {
            Out.U16(uint16_t(int16_t(Id)));
            lengthAt[i].push_back(Out.Pos());
            Out.U32(0);
        };
        if (alpha)
            entry(-1);
        for (int t = 0; t < colours; ++t)
            entry(t);
        if (mask)
            entry(-2);
        Out.Bytes("8BIMnorm", 8);
        Out.U8(p.Layer->Transparency);
        Out.U8(0);
        Out.U8(p.Layer->Visible ? 0 : 2);
        Out.U8(0);
        const int64_t extraAt = Out.Pos();
        Out.U32(0);
        if (mask) {
            Out.U32(20);
            WriteRect(Out, Layers[i + 1].Layer->PosX, Layers[i + 1].Layer->PosY, mask);
            Out.U8(0);
            Out.U8(0);
            Out.U16(0);
        } else {
            Out.U32(0);
        }
        Out.U32(0);  // blending ranges
        const std::string& name = p.Layer->Name;
        const size_t k = std::min<size_t>(name.size(), 255);
        Out.U8(uint8_t(k));
        Out.Bytes(name.data(), int64_t(k));
        while ((Out.Pos() - extraAt - 4) % 4 != 0)
            Out.U8(1);
        Out.PatchLength(extraAt);
    }
    for (size_t i = 0; i < n; ++i) {
        const TPrepared& p = Layers[i];
        if (p.Layer->IsMask)
            continue;
        TPxBitmap* bmp = p.Bitmap;
        TPxBitmap* mask = maskOf(i);
        TPxAccessScope read(*bmp, pxAccessRead);
        size_t e = 0;
        if (bmp->HasAlphaChannel()) {
            TPxAccessScope readAlpha(*bmp->GetAlphaChannel(), pxAccessRead);
            Out.Patch32(lengthAt[i][e++], Channels.WriteLayerChannel(bmp, ckAlpha, 0));
        }
        const int colours = bmp->IsEmpty() ? 0 : bmp->GetChannelCount();
        for (int t = 0; t < colours; ++t)
            Out.Patch32(lengthAt[i][e++], Channels.WriteLayerChannel(bmp, ckColour, t));
        if (mask) {
            TPxAccessScope readMask(*mask, pxAccessRead);
            Out.Patch32(lengthAt[i][e++], Channels.WriteLayerChannel(mask, ckMask, 0));
        }
        Progress.Progress(static_cast<int>(int64_t(i) * 100 / int64_t(n)));
    }
    // The layer information keeps an even length.
    if ((Out.Pos() - infoAt - 4) & 1)
        Out.U8(0);
    Out.PatchLength(infoAt);
}

}  // namespace

void PSDPackBitsRow(const uint8_t* Row, int Length, std::vector<uint8_t>& Out)
{
    Out.clear();
    int pos = 0, literal = 0;
    auto flush = [&](int End) {
        if (End > literal) {
            Out.push_back(uint8_t(End - literal - 1));
            Out.insert(Out.end(), Row + literal, Row + End);
        }
    };
    while (pos < Length) {
        int run = 1;
        while (run < 128 && pos + run < Length && Row[pos + run] == Row[pos])
            ++run;
        if (run >= 4) {
            flush(pos);
            Out.push_back(uint8_t(1 - run));
            Out.push_back(Row[pos]);
            pos += run;
            literal = pos;
        } else if (pos - literal == 128) {
            flush(pos);
            literal = pos;
        } else {
            ++pos;
        }
    }
    flush(pos);
}

void PxWritePSD(classlib::TStream* Stream, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                const TPxPSDLayerList& Layers, TPxBitmap* Merged)
{
    const int mode = Merged && !Merged->IsEmpty() ? ModeOf(Merged->GetPixelFormat()) : -1;
    if (mode < 0) {
        Progress.Abort();
        return;
    }
    const int channels = Merged->GetChannelCount();
    const int depth = Merged->GetBitCount() / channels;

    std::vector<TPrepared> layers = PrepareLayers(Layers, DocumentFormat(mode, depth), Merged);
    // Without layers the merged image is the one layer (shared, not freed).
    std::unique_ptr<TPxPSDLayer> single;
    if (layers.empty()) {
        single = std::make_unique<TPxPSDLayer>(Merged);
        TPrepared p;
        p.Layer = single.get();
        p.Bitmap = Merged;
        layers.push_back(std::move(p));
    }
    // Every coded row must fit the 16-bit row counts: refuse before writing.
    int64_t widest = WidestRow(Merged, depth);
    for (const TPrepared& p : layers)
        widest = std::max(widest, WidestRow(p.Bitmap, depth));
    if (widest + (widest + 127) / 128 > kMaxPackedRow) {
        Progress.Abort();
        return;
    }

    TOut out{Stream};
    const int64_t docStart = out.Pos();
    out.Bytes("8BPS", 4);
    out.U16(1);
    out.Bytes("\0\0\0\0\0\0", 6);
    out.U16(uint32_t(channels));
    out.U32(uint32_t(Merged->GetHeight()));
    out.U32(uint32_t(Merged->GetWidth()));
    out.U16(uint32_t(depth));
    out.U16(uint32_t(mode));

    if (Merged->GetPixelFormat() == px8p) {
        out.U32(768);
        uint8_t pal[768];
        for (int i = 0; i < 256; ++i) {
            const TPxRGB c = Merged->GetPaletteEntry(i);
            pal[i] = c.r;
            pal[256 + i] = c.g;
            pal[512 + i] = c.b;
        }
        out.Bytes(pal, 768);
    } else {
        out.U32(0);
    }
    WriteResources(out, docStart, Params, Merged);

    TChannelWriter writer(out, depth);
    const int64_t sectionAt = out.Pos();
    out.U32(0);
    WriteLayers(out, writer, layers, Progress);
    out.U32(0);  // global layer mask information
    out.PatchLength(sectionAt);

    // Merged image: one compression word, one count table for all channels.
    const bool report = !Layers.empty();
    TPxAccessScope read(*Merged, pxAccessRead);
    out.U16(1);
    const int h = Merged->GetHeight();
    const int64_t table = out.Pos();
    writer.Reserve(int64_t(channels) * h * 2);
    for (int t = 0; t < channels; ++t) {
        writer.WriteRows(Merged, ckColour, t, table + int64_t(t) * h * 2);
        if (report)
            Progress.Progress(static_cast<int>(int64_t(t) * 100 / channels));
    }
}

}  // namespace imaging
