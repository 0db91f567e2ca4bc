#include "imaging/io/formats/raw/CameraRawReader.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "imaging/io/formats/raw/CameraRawGlue.h"
#include "imaging/io/metadata/ExifBlock.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxExif.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxMakerNote.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxEffects.h"

namespace imaging {

namespace {

constexpr int kHistogramBins = 0x2000;

// ---- output

// The gamma and white-point table of step "output": entry i scales a channel
// of a pixel whose brightness is i.
std::vector<double> OutputTable(const std::vector<int64_t>& Histogram, int64_t PixelCount, bool Fuji,
                                double Bright, double Gamma, bool SixteenBit)
{
    const auto perc = static_cast<int64_t>(static_cast<double>(PixelCount) * (Fuji ? 0.005 : 0.01));
    int64_t total = 0;
    int bin = kHistogramBins - 1;
    for (; bin >= 1; --bin) {
        total += Histogram[bin];
        if (total > perc)
            break;
    }
    const double white = bin > 0 ? bin * 16.0 : 1.0;
    const double scale = Bright * 442 / white;
    std::vector<double> table(65536);
    table[0] = 0;
    for (int i = 1; i < 65536; ++i) {
        table[i] = std::pow(i * 2 / white, Gamma - 1) * scale;
        if (SixteenBit)
            table[i] = table[i] / 255 * 65535;
    }
    return table;
}

// Brightness (length of the RGB vector, at most 65535) into the fourth value
// of every pixel, and the histogram of brightness / 8.
std::vector<int64_t> Brightness(uint16_t (*Image)[4], int64_t Count)
{
    std::vector<int64_t> histogram(kHistogramBins);
    for (int64_t i = 0; i < Count; ++i) {
        const double r = Image[i][0], g = Image[i][1], b = Image[i][2];
        const double length = std::sqrt(r * r + g * g + b * b);
        const auto v = static_cast<uint16_t>(std::min(length, 65535.0));
        Image[i][3] = v;
        ++histogram[v >> 3];
    }
    return histogram;
}

[[noreturn]] void OutOfMemory(const wchar_t* Where)
{
    throw classlib::Exception(std::wstring(L": Out of memory in ") + Where);
}

// ---- Fuji SuperCCD

template <class T>
void FujiRotate(TPxBitmap* Bitmap, TPxPixelFormat Format)
{
    using TPixel = std::array<T, 3>;
    if (!Bitmap || Bitmap->GetPixelFormat() != Format)
        return;
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    if (w <= 0 || h <= 0)
        return;
    TPxAccessScope access(*Bitmap, pxAccessRead);
    std::vector<TPixel> source(static_cast<size_t>(w));
    auto readRow = [&](int r) { std::memcpy(source.data(), Bitmap->GetScanline(r), sizeof(TPixel) * w); };
    readRow(0);
    int first = -1, last = -1;
    for (int k = 0; k < w; ++k) {
        if (source[k][0] || source[k][1] || source[k][2]) {
            if (first < 0)
                first = k;
            last = k;
        }
    }
    const int64_t n = last;
    const int64_t d = 2 * int64_t(w) - 2 * int64_t(first) - 4;
    if (first < 0 || n <= 0 || d <= 1 || 2 * n > INT_MAX)
        return;
    std::vector<TPixel> grid;
    try {
        grid.assign(static_cast<size_t>(n * d), TPixel{});
    } catch (const std::bad_alloc&) {
        OutOfMemory(L"fuji_rotate()");
    }
    for (int r = 0; r < h; ++r) {
        readRow(r);
        for (int k = 0; k < w; ++k) {
            const int64_t e = int64_t(r) + k - (n + 1) + 6;
            const int64_t g = (int64_t(k) + n - r - 1) / 2;
            if (e >= 0 && e < d && g >= 0 && g < n)
                grid[static_cast<size_t>(e * n + g)] = source[k];
        }
    }
    auto at = [&](int64_t row, int64_t col) -> const TPixel& { return grid[static_cast<size_t>(row * n + col)]; };

    TPxBitmap out;
    if (!out.Allocate(static_cast<int>(2 * n), static_cast<int>(d), Format))
        OutOfMemory(L"fuji_rotate()");
    out.Fill(0);
    std::vector<TPixel> row(static_cast<size_t>(2 * n), TPixel{});
    for (int64_t l = 0; l + 1 < d; ++l) {
        const int64_t k = l + 1;
        for (int64_t m = 1; m < 2 * n; ++m) {
            const int64_t c = m / 2;
            if ((k + m) % 2 == 0) {
                row[m] = at(k, c);
            } else if (k - 1 < d - 2 && m - 1 < 2 * n - 2) {
                const int64_t c1 = (k & 1) ? c - 1 : c;
                const int64_t c2 = (k & 1) ? c : c + 1;
                for (int ch = 0; ch < 3; ++ch) {
                    const uint32_t sum = uint32_t(at(k - 1, c)[ch]) + at(k + 1, c)[ch] + at(k, c1)[ch] + at(k, c2)[ch];
                    row[m][ch] = static_cast<T>(sum >> 2);
                }
            }
        }
        std::memcpy(out.GetScanline(static_cast<int>(l)), row.data(), sizeof(TPixel) * row.size());
    }
    out.MoveStorageTo(Bitmap);
}

// ---- CIFF

class TCiffReader {
public:
    TCiffReader(classlib::TStream* Stream, TIOParamsVals& Params, bool Little)
        : s_(Stream), p_(Params), little_(Little), size_(Stream->GetSize())
    {
    }

    void ReadHeap(int64_t Start, int64_t End, int Depth)
    {
        // A heap is read once: sub-heap records pointing back at a heap
        // being read would otherwise multiply without end.
        if (Depth > 8 || End - Start < 6 || End > size_ || !visited_.insert({Start, End}).second)
            return;
        uint8_t b[10];
        if (!ReadAt(End - 4, b, 4))
            return;
        const int64_t table = Start + U32(b);
        if (table < Start || table + 2 > End || !ReadAt(table, b, 2))
            return;
        const int count = std::min<int>(U16(b), 256);
        for (int i = 0; i < count; ++i) {
            const int64_t rec = table + 2 + 10 * int64_t(i);
            if (rec + 10 > size_ || ++records_ > kMaxRecords || !ReadAt(rec, b, 10))
                return;
            const uint16_t type = U16(b);
            int64_t dataPos, dataSize;
            if ((type >> 14) == 1) {
                dataPos = rec + 2;
                dataSize = 8;
            } else {
                dataSize = U32(b + 2);
                dataPos = Start + U32(b + 6);
            }
            if (dataPos >= size_)
                return;
            dataSize = std::min(dataSize, size_ - dataPos);
            Record(type & 0x3FFF, dataPos, dataSize, Depth);
        }
    }

    void Finish()
    {
        if (!p_.EXIFBitmap)
            p_.EXIFBitmap = std::make_unique<TPxBitmap>();
        p_.EXIFBitmap->FreeImage(true);
        if (jpegSize_ > 0) {
            std::vector<uint8_t> data = Bytes(jpegPos_, jpegSize_);
            TIOParamsVals params(nullptr);
            if (!ReadJPEG(data, p_.EXIFBitmap.get(), params, false))
                p_.EXIFBitmap->FreeImage(true);
        }
        StoreMakerNote();
    }

private:
    void Record(int Type, int64_t Pos, int64_t Size, int Depth)
    {
        switch (Type) {
        case 0x0805: p_.EXIFImageDescription = String(Pos, Size); break;
        case 0x080A: {
            p_.EXIFMake = String(Pos, Size);
            const auto skip = static_cast<int64_t>(p_.EXIFMake.size()) + 1;
            p_.EXIFModel = Size > skip ? String(Pos + skip, Size - skip) : std::string();
            break;
        }
        case 0x080B: p_.EXIFSoftware = String(Pos, Size); break;
        case 0x102A: notes_.push_back({4, Words(Pos, Size)}); break;
        case 0x102D: notes_.push_back({1, Words(Pos, Size)}); break;
        case 0x1810:
            if (Size >= 8) {
                std::vector<uint8_t> b = Bytes(Pos, 8);
                p_.SetEXIFPixelXDimension(static_cast<int32_t>(U32(b.data())));
                p_.SetEXIFPixelYDimension(static_cast<int32_t>(U32(b.data() + 4)));
            }
            break;
        case 0x2007:
        case 0x2008: {
            std::vector<uint8_t> data = Bytes(Pos, Size);
            TIOParamsVals params(nullptr);
            TPxBitmap none;
            if (ReadJPEG(data, &none, params, true) && params.Width < jpegWidth_ && params.Height < jpegHeight_) {
                jpegWidth_ = params.Width;
                jpegHeight_ = params.Height;
                jpegPos_ = Pos;
                jpegSize_ = Size;
            }
            break;
        }
        case 0x2800:
        case 0x2807:
        case 0x3000:
        case 0x3002:
        case 0x3003:
        case 0x3004:
        case 0x300A:
        case 0x300B: ReadHeap(Pos, Pos + Size, Depth + 1); break;
        default: break;
        }
    }

    // The registry's JPEG reader on a copy of the record's bytes; false when
    // there is none or it failed.
    static bool ReadJPEG(const std::vector<uint8_t>& Data, TPxBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly)
    {
        TPxFileFormatInfo* row = PxFormatInfoById(ffJPEG);
        if (!row || !row->Reader || Data.empty())
            return false;
        TPxMemStream stream(Data.data(), static_cast<int64_t>(Data.size()));
        bool aborting = false;
        TPxIOProgressInfo info;
        info.Aborting = &aborting;
        try {
            row->Reader(&stream, Bitmap, Params, ParamsOnly, info);
        } catch (...) {
            return false;
        }
        return !aborting && Params.Width > 0 && Params.Height > 0;
    }

    void StoreMakerNote()
    {
        TPxTagsHandler* note = p_.EXIFMakerNote.get();
        if (!note)
            return;
        note->Clear();
        if (notes_.empty())
            return;
        std::vector<uint8_t> stream;
        auto put16 = [&](size_t At, uint16_t v) { std::memcpy(stream.data() + At, &v, 2); };
        auto put32 = [&](size_t At, uint32_t v) { std::memcpy(stream.data() + At, &v, 4); };
        const size_t head = 2 + 12 * notes_.size();
        stream.resize(head);
        put16(0, static_cast<uint16_t>(notes_.size()));
        for (size_t i = 0; i < notes_.size(); ++i) {
            const std::vector<uint16_t>& w = notes_[i].Words;
            const size_t e = 2 + 12 * i;
            put16(e, notes_[i].Tag);
            put16(e + 2, 3);
            put32(e + 4, static_cast<uint32_t>(w.size()));
            if (w.size() <= 2) {
                // Values of at most four bytes sit in the entry itself.
                uint32_t value = 0;
                std::memcpy(&value, w.data(), 2 * w.size());
                put32(e + 8, value);
            } else {
                put32(e + 8, static_cast<uint32_t>(stream.size()));
                const size_t at = stream.size();
                stream.resize(at + 2 * w.size());
                std::memcpy(stream.data() + at, w.data(), 2 * w.size());
            }
        }
        note->TagStream.WriteBuffer(stream.data(), static_cast<int64_t>(stream.size()));
        note->LoadEntries();
    }

    bool ReadAt(int64_t Pos, uint8_t* Buffer, int64_t Count)
    {
        if (Pos < 0 || Pos + Count > size_)
            return false;
        s_->SetPosition(Pos);
        return s_->Read(Buffer, Count) == Count;
    }

    std::vector<uint8_t> Bytes(int64_t Pos, int64_t Count)
    {
        std::vector<uint8_t> b(static_cast<size_t>(std::max<int64_t>(Count, 0)));
        if (!b.empty() && !ReadAt(Pos, b.data(), Count))
            b.clear();
        return b;
    }

    std::string String(int64_t Pos, int64_t Size)
    {
        std::vector<uint8_t> b = Bytes(Pos, Size);
        std::string text;
        for (uint8_t c : b) {
            if (c == 0)
                break;
            text.push_back(static_cast<char>(c));
        }
        return text;
    }

    std::vector<uint16_t> Words(int64_t Pos, int64_t Size)
    {
        std::vector<uint8_t> b = Bytes(Pos, Size & ~int64_t(1));
        std::vector<uint16_t> w(b.size() / 2);
        for (size_t i = 0; i < w.size(); ++i)
            w[i] = U16(b.data() + 2 * i);
        return w;
    }

    uint16_t U16(const uint8_t* b) const { return PxGetU16(b, little_); }
    uint32_t U32(const uint8_t* b) const { return PxGetU32(b, little_); }

    struct TNote {
        uint16_t Tag;
        std::vector<uint16_t> Words;
    };

    classlib::TStream* s_;
    TIOParamsVals& p_;
    bool little_;
    int64_t size_;
    int32_t jpegWidth_ = INT32_MAX;
    int32_t jpegHeight_ = INT32_MAX;
    int64_t jpegPos_ = 0;
    int64_t jpegSize_ = 0;
    std::vector<TNote> notes_;
    std::set<std::pair<int64_t, int64_t>> visited_;
    static constexpr int kMaxRecords = 65536;
    int records_ = 0;
};

bool HasPreview(const TIOParamsVals& Params) { return Params.EXIFBitmap && !Params.EXIFBitmap->IsEmpty(); }

void ReadMetadata(TPxBufferedReadStream& Stream, TIOParamsVals& Params)
{
    try {
        Stream.SetPosition(0);
        const int64_t tiff = PxFindTIFFHeader(&Stream);
        if (tiff >= 0) {
            Stream.SetPosition(tiff);
            PxLoadEXIFFromTIFFStream(&Stream, Params);
        } else {
            RAWReadCIFF(&Stream, Params);
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        // Metadata that cannot be read does not stop the decode.
    }
}

void WriteOutput(TPxRawDecoder& Decoder, TPxBitmap* Bitmap, TIOParamsVals& Params, int Trim,
                 const std::vector<double>& Table, TPxIOProgressInfo& Progress)
{
    const bool sixteen = Params.NativePixelFormat;
    const int64_t w = Decoder.ImageWidth - 2 * int64_t(Trim);
    const int64_t h = Decoder.ImageHeight - 2 * int64_t(Trim);
    const int64_t outW = w * Decoder.XMag;
    const int64_t outH = h * Decoder.YMag;
    const wchar_t* where = sixteen ? L"write_ppm16()" : L"write_ppm()";
    if (w <= 0 || h <= 0 || !PxCheckRaster(outW, outH, sixteen ? 48 : 24, TPxCoding::Unbounded, -1, Progress)) {
        Progress.Fail(TPxReadFailure::NoImage);
        return;
    }
    Params.BitsPerSample = sixteen ? 16 : 8;
    Params.SamplesPerPixel = 3;
    if (!Bitmap->Allocate(static_cast<int>(outW), static_cast<int>(outH), sixteen ? pxRGB48 : px24RGB))
        OutOfMemory(where);
    TPxAccessScope access(*Bitmap, pxAccessWrite);
    std::vector<uint16_t> row16;
    std::vector<uint8_t> row8;
    try {
        if (sixteen)
            row16.resize(static_cast<size_t>(outW) * 3);
        else
            row8.resize(static_cast<size_t>(outW) * 3);
    } catch (const std::bad_alloc&) {
        OutOfMemory(where);
    }
    for (int64_t r = 0; r < h && !Progress.Aborted(); ++r) {
        const uint16_t(*pixel)[4] = Decoder.Image + (r + Trim) * Decoder.ImageWidth + Trim;
        for (int64_t c = 0; c < w; ++c, ++pixel) {
            const double f = Table[(*pixel)[3]];
            for (int ch = 0; ch < 3; ++ch) {
                const auto v = static_cast<int64_t>((*pixel)[ch] * f);
                if (sixteen) {
                    row16[static_cast<size_t>(c * Decoder.XMag) * 3 + ch] = static_cast<uint16_t>(std::min<int64_t>(v, 65535));
                } else {
                    for (int x = 0; x < Decoder.XMag; ++x)
                        row8[static_cast<size_t>(c * Decoder.XMag + x) * 3 + ch] = static_cast<uint8_t>(std::min<int64_t>(v, 255));
                }
            }
            if (sixteen)
                for (int x = 1; x < Decoder.XMag; ++x)
                    std::memcpy(&row16[static_cast<size_t>(c * Decoder.XMag + x) * 3],
                                &row16[static_cast<size_t>(c * Decoder.XMag) * 3], 6);
        }
        for (int y = 0; y < Decoder.YMag; ++y) {
            uint8_t* dest = Bitmap->GetScanline(static_cast<int>(r * Decoder.YMag + y));
            if (sixteen)
                std::memcpy(dest, row16.data(), row16.size() * 2);
            else
                PxCopySwapRB(dest, row8.data(), static_cast<int>(outW));
        }
    }
}

}  // namespace

void RAWFujiRotate24(TPxBitmap* Bitmap) { FujiRotate<uint8_t>(Bitmap, px24RGB); }
void RAWFujiRotate48(TPxBitmap* Bitmap) { FujiRotate<uint16_t>(Bitmap, pxRGB48); }

void RAWReadCIFF(classlib::TStream* Stream, TIOParamsVals& Params)
{
    if (!Stream)
        return;
    uint8_t header[14];
    Stream->SetPosition(0);
    if (Stream->Read(header, 14) != 14)
        return;
    bool little;
    if (header[0] == 'I' && header[1] == 'I')
        little = true;
    else if (header[0] == 'M' && header[1] == 'M')
        little = false;
    else if (std::memcmp(header + 6, "HEAPCCDR", 8) == 0)
        little = true;
    else
        return;
    TCiffReader reader(Stream, Params, little);
    const uint32_t length = PxGetU32(header + 2, little);
    reader.ReadHeap(length, Stream->GetSize(), 0);
    reader.Finish();
}

void PxReadRAW(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly,
               TPxIOProgressInfo& Progress)
{
    if (!Stream || !Bitmap)
        return;
    const int64_t origin = Stream->GetPosition();
    if (Params.RAWUseEmbeddedPreview) {
        if (Params.EXIFBitmap)
            Params.EXIFBitmap->FreeImage(true);
        // The preview read has its own aborting flag: a file whose sensor
        // data the decoder does not know may still carry a preview.
        bool previewAborting = Progress.Aborted();
        TPxIOProgressInfo previewProgress;
        previewProgress.Aborting = &previewAborting;
        Params.RAWUseEmbeddedPreview = false;
        try {
            PxReadRAW(Stream, Bitmap, Params, true, previewProgress);
        } catch (...) {
            Params.RAWUseEmbeddedPreview = true;
            throw;
        }
        Params.RAWUseEmbeddedPreview = true;
        if (HasPreview(Params)) {
            if (!ParamsOnly)
                Bitmap->Assign(Params.EXIFBitmap.get());
            return;
        }
        Stream->SetPosition(origin);
    }

    if (!PxBufferedReadFromPosition)
        Stream->SetPosition(0);
    TPxBufferedReadStream buffered(Stream, true, 8192);
    ReadMetadata(buffered, Params);

    buffered.SetPosition(0);
    TPxRawDecoder decoder;
    TPxRawDecodeOptions options;
    const double gamma = Params.RAWGamma;
    const double bright = Params.RAWMatchPreviewColors && HasPreview(Params) ? 0.5 : Params.RAWBright;
    options.HalfSize = Params.RAWHalfSize;
    options.RedScale = Params.RAWRedScale;
    options.BlueScale = Params.RAWBlueScale;
    options.FourColorRGB = Params.RAWFourColorRGB;
    options.QuickInterpolate = Params.RAWQuickInterpolate;
    options.UseAutoWB = Params.RAWUseAutoWB;
    options.UseCameraWB = Params.RAWUseCameraWB;
    bool identified = false;
    try {
        identified = decoder.Identify(&buffered, options);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        identified = false;
    }
    if (!identified) {
        Progress.Fail(TPxReadFailure::BadHeader);
        return;
    }

    Params.RAWCamera = decoder.Make + " " + decoder.Model + " " + decoder.Model2;
    Params.SetDpiX(PxDefaultDpiX);
    Params.SetDpiY(PxDefaultDpiY);
    Params.FreeColorMap();
    Params.Width = Params.OriginalWidth = decoder.Width - 2;
    Params.Height = Params.OriginalHeight = decoder.Height - 2;

    if (!ParamsOnly) {
        // Before the sensor data are unpacked: the raw samples (16 bits) and
        // the processed image (four 16-bit channels) within the caps.
        TPxRasterCheck check;
        check.Width = decoder.RawWidth;
        check.Height = decoder.RawHeight;
        check.CodedBits = 16;
        check.StorageBits = 16 + 64;
        check.Coding = TPxCoding::Unbounded;
        if (!PxCheckRaster(check, Progress))
            return;
        decoder.SetQuickInterpolate(true);
        try {
            decoder.Decode([&Progress](int Per) { Progress.Progress(Per); },
                           [&Progress] { return Progress.Aborted(); });
        } catch (...) {
            // A decode stopped through the aborting flag is no error.
            if (Progress.Aborted())
                return;
            throw;
        }
        if (Progress.Aborted())
            return;
        const bool shrunk = Params.RAWHalfSize && decoder.Filters != 0;
        const int trim = decoder.Filters != 0 && !shrunk ? 1 : 0;
        const int64_t count = int64_t(decoder.ImageWidth) * decoder.ImageHeight;
        std::vector<int64_t> histogram = Brightness(decoder.Image, count);
        Progress.Progress(85);
        const std::vector<double> table =
            OutputTable(histogram, count, decoder.Make == "FUJIFILM", bright, gamma, Params.NativePixelFormat);
        WriteOutput(decoder, Bitmap, Params, trim, table, Progress);
        if (Progress.Aborted())
            return;
        Progress.Progress(90);
        if (decoder.FujiWidth != 0) {
            if (Params.NativePixelFormat)
                RAWFujiRotate48(Bitmap);
            else
                RAWFujiRotate24(Bitmap);
        }
        // Matching changes the bitmap, so a parameters-only read skips it.
        if (Params.RAWMatchPreviewColors && HasPreview(Params))
            PxMatchHistogram(Params.EXIFBitmap.get(), Bitmap);
    }
    Progress.Progress(100);
}

bool PxIsRAW(classlib::TStream& Stream)
{
    const int64_t position = Stream.GetPosition();
    bool result = false;
    try {
        TPxBufferedReadStream buffered(&Stream, true, 8192);
        TPxRawDecoder decoder;
        result = decoder.Identify(&buffered, TPxRawDecodeOptions());
    } catch (...) {
        result = false;
    }
    Stream.SetPosition(position);
    return result;
}

void PxInstallCameraRawFormat()
{
    PxSetBuiltInFormatReader(ffRAW, PxReadRAW);
    PxSetContentTest(pdsCameraRaw, PxIsRAW);
}

}  // namespace imaging
