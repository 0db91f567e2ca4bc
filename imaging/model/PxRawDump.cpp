#include "imaging/model/PxRawDump.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "classlib/Exceptions.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

constexpr char kMagic[12] = {'T', 'P', 'X', 'B', 'I', 'T', 'M', 'A', 'P', 'R', 'A', 'W'};
constexpr int64_t kFixedFields = 55;  // width .. row alignment
constexpr int kAlphaAlignment = 32;

// The alignment the rows of Bitmap are written with: a system bitmap's rows
// are 32-bit aligned whatever alignment the image asked for.
int DumpAlignment(TPxBitmap& Bitmap)
{
    return Bitmap.GetLocation() == pxTBitmap ? 32 : Bitmap.GetRowAlignment();
}

int DumpPaletteCount(TPxBitmap& Bitmap)
{
    return std::clamp(Bitmap.GetPaletteLen(), 0, 256);
}

// Writes either into a caller's block or to a stream.
class TSink {
public:
    TSink(uint8_t* buffer, classlib::TStream* stream) : buffer_(buffer), stream_(stream) {}

    void Write(const void* data, int64_t count)
    {
        if (count <= 0)
            return;
        if (buffer_) {
            std::memcpy(buffer_ + offset_, data, static_cast<size_t>(count));
            offset_ += count;
        } else {
            stream_->WriteBuffer(data, count);
        }
    }
    template <class T>
    void Put(const T& value)
    {
        Write(&value, sizeof(T));
    }
    void Zeros(int64_t count)
    {
        static const uint8_t zeros[64] = {};
        while (count > 0) {
            const int64_t n = std::min<int64_t>(count, sizeof(zeros));
            Write(zeros, n);
            count -= n;
        }
    }
    // Grows a stream ahead of Count more bytes when memory allows; never
    // fails the save.
    void Reserve(int64_t count)
    {
        if (buffer_)
            return;
        try {
            const int64_t size = stream_->GetSize();
            const int64_t target = stream_->GetPosition() + count;
            if (target > size && target < PxGetPhysicalMemory(true))
                stream_->SetSize(target);
        } catch (...) {
            // Pre-sizing only saves re-allocations.
        }
    }

private:
    uint8_t* buffer_;
    classlib::TStream* stream_;
    int64_t offset_ = 0;
};

// Writes H rows of Bitmap, each RowLen bytes (its own rows cut or padded
// with zeros).
void WriteRows(TSink& sink, TPxBitmap& Bitmap, int64_t RowLen)
{
    const int h = Bitmap.GetHeight();
    const int64_t own = Bitmap.GetRowLen();
    const int64_t n = std::min(own, RowLen);
    TPxAccessScope read(Bitmap, pxAccessRead);
    for (int y = 0; y < h; ++y) {
        sink.Write(Bitmap.GetScanline(y), n);
        sink.Zeros(RowLen - n);
    }
}

// Reads from a stream with the bytes left known beforehand, so that no
// count read from the dump is trusted before it is checked.
class TSource {
public:
    explicit TSource(classlib::TStream* stream) : stream_(stream)
    {
        const int64_t size = stream->GetSize();
        const int64_t position = stream->GetPosition();
        left_ = size > position ? size - position : 0;
    }

    int64_t Left() const { return left_; }

    bool Read(void* data, int64_t count)
    {
        if (count < 0 || count > left_)
            return false;
        if (count == 0)
            return true;
        if (stream_->Read(data, count) != count) {
            left_ = 0;
            return false;
        }
        left_ -= count;
        return true;
    }
    template <class T>
    bool Get(T& value)
    {
        return Read(&value, sizeof(T));
    }
    bool Skip(int64_t count)
    {
        if (count < 0 || count > left_)
            return false;
        stream_->Seek(count, classlib::soCurrent);
        left_ -= count;
        return true;
    }

private:
    classlib::TStream* stream_;
    int64_t left_;
};

// Reads H rows of DumpLen bytes into Bitmap's rows (cut or padded with
// zeros to its own row length).
bool ReadRows(TSource& source, TPxBitmap& Bitmap, int64_t DumpLen)
{
    const int h = Bitmap.GetHeight();
    const int64_t own = Bitmap.GetRowLen();
    const int64_t n = std::min(own, DumpLen);
    TPxAccessScope write(Bitmap, pxAccessWrite);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = Bitmap.GetScanline(y);
        if (!row || !source.Read(row, n) || !source.Skip(DumpLen - n))
            return false;
        if (own > n)
            std::memset(row + n, 0, static_cast<size_t>(own - n));
    }
    return true;
}

// R x H (+ Extra) bytes, or -1 when that does not fit 64 bits.
int64_t CheckedArea(int64_t RowLen, int64_t Height, int64_t Extra)
{
    int64_t area;
    if (__builtin_mul_overflow(RowLen, Height, &area) || __builtin_add_overflow(area, Extra, &area))
        return -1;
    return area;
}

struct THeader {
    int32_t Width = 0;
    int32_t Height = 0;
    uint8_t Format = 0;
    uint8_t FullAlpha = 0;
    int32_t PaletteCapacity = 0;
    double DisplayMin = 0;
    double DisplayMax = 0;
    int32_t Offsets[4] = {0, 0, 0, 0};
    uint8_t Adjust = 0;
    int32_t Contrast = 0;
    int32_t RowAlignment = 0;
};

bool ReadHeader(TSource& source, THeader& h)
{
    return source.Get(h.Width) && source.Get(h.Height) && source.Get(h.Format) && source.Get(h.FullAlpha) &&
           source.Get(h.PaletteCapacity) && source.Get(h.DisplayMin) && source.Get(h.DisplayMax) &&
           source.Get(h.Offsets[0]) && source.Get(h.Offsets[1]) && source.Get(h.Offsets[2]) &&
           source.Get(h.Offsets[3]) && source.Get(h.Adjust) && source.Get(h.Contrast) && source.Get(h.RowAlignment);
}

// The body of the load after magic and version; on false the caller
// empties the image.
bool LoadBody(TPxBitmap& Bitmap, TSource& source)
{
    int32_t count = 0;
    if (!source.Get(count) || count < 0 || count > 256)
        return false;
    std::vector<TPxRGB> palette(static_cast<size_t>(count));
    if (!source.Read(palette.data(), 3 * static_cast<int64_t>(count)))
        return false;
    THeader h;
    if (!ReadHeader(source, h))
        return false;
    if (h.Width <= 0 || h.Height <= 0 || h.Format == pxNoPixels || h.Format >= PxPixelFormatCount ||
        h.RowAlignment <= 0 || h.RowAlignment % 8 != 0)
        return false;
    const TPxPixelFormat format = static_cast<TPxPixelFormat>(h.Format);
    const int64_t rowLen = PxBitmapRowLen(h.Width, PxPixelFormatBits[format], h.RowAlignment);
    // The rows and the has-alpha byte must be there before anything is
    // allocated.
    const int64_t needed = CheckedArea(rowLen, h.Height, 1);
    if (rowLen <= 0 || needed < 0 || needed > source.Left())
        return false;

    Bitmap.FreeImage(true);
    // A system bitmap holds only some formats exactly; the others go to
    // memory storage (the size rule may choose a file).
    if (Bitmap.GetLocation() == pxTBitmap && format != px1g && format != px8p && format != px8g &&
        format != px24RGB && format != px32RGB)
        Bitmap.SetLocation(pxMemory);
    detail::PxSetEmptyRowAlignment(Bitmap, h.RowAlignment);
    if (!Bitmap.Allocate(h.Width, h.Height, format))
        return false;
    if (count > 0 || Bitmap.GetPaletteLen() > 0)
        Bitmap.SetPaletteLen(count);
    for (int i = 0; i < count; ++i)
        Bitmap.SetPaletteEntry(i, palette[static_cast<size_t>(i)]);
    Bitmap.PaletteCapacity = h.PaletteCapacity;
    Bitmap.DisplayMin = h.DisplayMin;
    Bitmap.DisplayMax = h.DisplayMax;
    Bitmap.RedOffset = h.Offsets[0];
    Bitmap.GreenOffset = h.Offsets[1];
    Bitmap.BlueOffset = h.Offsets[2];
    Bitmap.FourthOffset = h.Offsets[3];
    Bitmap.Adjust = h.Adjust;
    Bitmap.Contrast = h.Contrast;

    if (!ReadRows(source, Bitmap, rowLen))
        return false;
    // Filling rows clears nothing the flag describes; set it after them.
    Bitmap.FullAlpha = h.FullAlpha != 0;

    uint8_t hasAlpha = 0;
    if (!source.Get(hasAlpha))
        return false;
    if (hasAlpha == 0) {
        Bitmap.RemoveAlphaChannel(false, 0);
        return true;
    }
    const int64_t alphaLen = PxBitmapRowLen(h.Width, 8, kAlphaAlignment);
    const int64_t alphaNeeded = CheckedArea(alphaLen, h.Height, 1);
    if (alphaNeeded < 0 || alphaNeeded > source.Left())
        return false;
    TPxBitmap* alpha = Bitmap.GetAlphaChannel();
    if (!alpha || alpha->GetWidth() != h.Width || alpha->GetHeight() != h.Height)
        return false;
    if (!ReadRows(source, *alpha, alphaLen))
        return false;
    uint8_t alphaFull = 0;
    if (!source.Get(alphaFull))
        return false;
    alpha->FullAlpha = alphaFull != 0;
    return true;
}

}  // namespace

int64_t PxRawDumpSize(TPxBitmap& Bitmap)
{
    const int64_t rowLen = PxBitmapRowLen(Bitmap.GetWidth(), Bitmap.GetBitCount(), DumpAlignment(Bitmap));
    int64_t size = 75 + 3 * static_cast<int64_t>(DumpPaletteCount(Bitmap)) + rowLen * Bitmap.GetHeight() + 1;
    if (Bitmap.HasAlphaChannel())
        size += PxBitmapRowLen(Bitmap.GetWidth(), 8, kAlphaAlignment) * Bitmap.GetHeight() + 1;
    return size;
}

bool SaveRawToStream(TPxBitmap& Bitmap, void* Buffer, int64_t BufferSize, classlib::TStream* Stream)
{
    if (!Buffer && !Stream)
        return false;
    if (Buffer && BufferSize < PxRawDumpSize(Bitmap))
        return false;
    TSink sink(static_cast<uint8_t*>(Buffer), Buffer ? nullptr : Stream);

    const int w = Bitmap.GetWidth();
    const int h = Bitmap.GetHeight();
    const int alignment = DumpAlignment(Bitmap);
    const int32_t count = DumpPaletteCount(Bitmap);
    sink.Write(kMagic, sizeof(kMagic));
    sink.Put(int32_t{0});
    sink.Put(count);
    for (int i = 0; i < count; ++i)
        sink.Put(Bitmap.GetPaletteEntry(i));
    sink.Put(int32_t{w});
    sink.Put(int32_t{h});
    sink.Put(static_cast<uint8_t>(Bitmap.GetPixelFormat()));
    sink.Put(static_cast<uint8_t>(Bitmap.FullAlpha ? 1 : 0));
    sink.Put(int32_t{Bitmap.PaletteCapacity});
    sink.Put(Bitmap.DisplayMin);
    sink.Put(Bitmap.DisplayMax);
    sink.Put(Bitmap.RedOffset);
    sink.Put(Bitmap.GreenOffset);
    sink.Put(Bitmap.BlueOffset);
    sink.Put(Bitmap.FourthOffset);
    sink.Put(Bitmap.Adjust);
    sink.Put(Bitmap.Contrast);
    sink.Put(int32_t{alignment});

    const int64_t rowLen = PxBitmapRowLen(w, Bitmap.GetBitCount(), alignment);
    sink.Reserve(rowLen * h);
    WriteRows(sink, Bitmap, rowLen);

    const bool hasAlpha = Bitmap.HasAlphaChannel();
    sink.Put(static_cast<uint8_t>(hasAlpha ? 1 : 0));
    if (hasAlpha) {
        TPxBitmap* alpha = Bitmap.GetAlphaChannel();
        const int64_t alphaLen = PxBitmapRowLen(w, 8, kAlphaAlignment);
        sink.Reserve(alphaLen * h);
        if (alpha->GetWidth() == w && alpha->GetHeight() == h) {
            WriteRows(sink, *alpha, alphaLen);
        } else {
            // An alpha channel out of step with its image: the dump still
            // holds exactly H rows of the image's width.
            sink.Zeros(alphaLen * h);
        }
        sink.Put(static_cast<uint8_t>(alpha->FullAlpha ? 1 : 0));
    }
    return true;
}

bool LoadRawFromStream(TPxBitmap& Bitmap, const void* Buffer, int64_t BufferSize, classlib::TStream* Stream)
{
    if (!Buffer && !Stream)
        return false;
    std::unique_ptr<TPxMemStream> memory;
    if (Buffer) {
        if (BufferSize < 0)
            return false;
        memory = std::make_unique<TPxMemStream>(Buffer, BufferSize);
        Stream = memory.get();
    }
    TSource source(Stream);
    char magic[12];
    if (!source.Read(magic, sizeof(magic)) || std::memcmp(magic, kMagic, sizeof(kMagic)) != 0)
        return false;
    int32_t version = 0;
    if (!source.Get(version) || version < 0)
        return false;

    bool ok = false;
    try {
        ok = LoadBody(Bitmap, source);
    } catch (const classlib::EReadError&) {
        ok = false;
    }
    if (!ok)
        Bitmap.FreeImage(true);
    return ok;
}

}  // namespace imaging
