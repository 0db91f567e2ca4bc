#include "imaging/io/formats/jpeg/JpegReader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "classlib/SysUtils.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/formats/jpeg/JpegGlue.h"
#include "imaging/io/metadata/JpegMetadata.h"
#include "imaging/io/formats/jpeg/JpegWriter.h"
#include "imaging/io/core/PxCmyk.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxICC.h"
#include "imaging/model/PxIptc.h"
#include "imaging/model/PxJpegMarkers.h"
#include "imaging/proc/PxRotate.h"

namespace imaging {

TPxLoadEXIFFromBufferProc PxLoadEXIFFromBufferHook = nullptr;

namespace {

void RegistryReader(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                    TPxIOProgressInfo& Progress)
{
    PxReadJPEG(Stream, Bitmap,
               {.NativePixelFormat = Params.NativePixelFormat, .ReadColorProfile = true, .ApplyColorProfile = true,
                .ReadMetadata = true, .ParamsOnly = Preview},
               Progress, Params);
}

// A JPEG file save first brings the markers in step with the parameters
// (resolution record, IPTC, EXIF, XMP); JPEG data inside other formats is
// written without that step.
void RegistryWriter(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                    TPxIOProgressInfo& Progress)
{
    PxUpdateJPEGMetadata(Params);
    PxWriteJPEG(Stream, Bitmap, Params, Progress);
}

// The JPEG row of the registry: file loads read the whole image with the
// native pixel format of the parameters; previews read the parameters only.

// Byte-wise reading of a stream through an 8 KiB buffer; -1 at the end.
class TByteReader {
public:
    explicit TByteReader(classlib::TStream* Stream) : stream_(Stream), start_(Stream->GetPosition()) {}

    int Next()
    {
        if (index_ == count_) {
            consumed_ += count_;
            index_ = 0;
            count_ = 0;
            const int64_t got = stream_->Read(buffer_, sizeof(buffer_));
            if (got <= 0)
                return -1;
            count_ = static_cast<int>(got);
        }
        return buffer_[index_++];
    }
    // A 16-bit big-endian value, -1 at the end.
    int Next16()
    {
        const int high = Next();
        if (high < 0)
            return -1;
        const int low = Next();
        return low < 0 ? -1 : (high << 8) | low;
    }
    // Skips up to Count bytes (fewer at the end).
    void Skip(int64_t Count)
    {
        while (Count > 0) {
            const int64_t inBuffer = count_ - index_;
            if (Count <= inBuffer) {
                index_ += static_cast<int>(Count);
                return;
            }
            Count -= inBuffer;
            index_ = count_;
            if (Next() < 0)
                return;
            --Count;
        }
    }
    // Reads up to Count bytes into Target; returns how many.
    int64_t ReadInto(uint8_t* Target, int64_t Count)
    {
        int64_t done = 0;
        while (done < Count) {
            const int b = Next();
            if (b < 0)
                break;
            Target[done++] = static_cast<uint8_t>(b);
        }
        return done;
    }
    // Bytes consumed since the start.
    int64_t Consumed() const { return consumed_ + index_; }
    void Restore() { stream_->SetPosition(start_); }

private:
    classlib::TStream* stream_;
    int64_t start_;
    int64_t consumed_ = 0;
    int index_ = 0;
    int count_ = 0;
    uint8_t buffer_[8192];
};

// Restores a stream's position on every way out.
class TPositionRestore {
public:
    explicit TPositionRestore(TByteReader& Reader) : reader_(Reader) {}
    ~TPositionRestore()
    {
        try {
            reader_.Restore();
        } catch (...) {
        }
    }
    TPositionRestore(const TPositionRestore&) = delete;
    TPositionRestore& operator=(const TPositionRestore&) = delete;

private:
    TByteReader& reader_;
};

// The marker code after an FF byte, passing over fill bytes (FF FF ...);
// -1 at the end.
int MarkerCode(TByteReader& Reader)
{
    int m = Reader.Next();
    while (m == 0xFF)
        m = Reader.Next();
    return m;
}

// The code of the next marker, skipping the bytes before its 0xFF; -1 at
// the end of the data.
int NextMarker(TByteReader& Reader)
{
    for (;;) {
        const int b = Reader.Next();
        if (b < 0)
            return -1;
        if (b == 0xFF)
            return MarkerCode(Reader);
    }
}

void ReportRow(TPxIOProgressInfo& Progress, int Rows, int Height, int& LastPercent)
{
    if (!Progress.Handler || Height <= 0)
        return;
    const int percent = static_cast<int>(classlib::Round(Rows * 100.0 / Height));
    if (percent != LastPercent) {
        LastPercent = percent;
        Progress.Progress(percent);
    }
}

void ConvertRow(const void* Source, int32_t SourceFormat, void* Target, TIOParamsVals* Params, int32_t Count,
                int32_t TargetFormat)
{
    // Filters go through the hook so that an application can replace it; a
    // toolkit that has not been started has none yet.
    TPxConvertColorRowProc hook = PxConvertColorRowHook ? PxConvertColorRowHook : PxConvertColorRow;
    hook(Source, SourceFormat, Target, Params, Count, TargetFormat);
}

// Resolution from the EXIF block just read: centimetres are always
// converted to inches; otherwise the EXIF values are taken when the file
// gave no resolution of its own (1 x 1).
void ApplyEXIFResolution(TIOParamsVals& Params)
{
    if (Params.EXIFResolutionUnit == 3) {
        const auto dpiX = static_cast<int32_t>(classlib::Round(Params.EXIFXResolution * 2.54));
        const auto dpiY = static_cast<int32_t>(classlib::Round(Params.EXIFYResolution * 2.54));
        Params.SetDpiX(dpiX);
        Params.SetDpiY(dpiY);
        // The EXIF resolution now holds the inch values.
        Params.EXIFResolutionUnit = 2;
    } else if (Params.DpiX == 1 && Params.DpiY == 1) {
        Params.SetDpiX(static_cast<int32_t>(classlib::Round(Params.EXIFXResolution)));
        Params.SetDpiY(static_cast<int32_t>(classlib::Round(Params.EXIFYResolution)));
    } else {
        Params.SetDpiX(Params.DpiX);
        Params.SetDpiY(Params.DpiY);
    }
}

void ReadMetadataMarkers(const std::vector<TPxJpegMarker>& Markers, TPxBitmap* Bitmap, TIOParamsVals& Params)
{
    for (const TPxJpegMarker& m : Markers)
        if (m.Type == PxMarkerAPP13 && Params.IPTCInfo && Params.IPTCInfo->LoadFromBuffer(m.Data, m.Length))
            break;
    if (PxLoadEXIFFromBufferHook) {
        for (const TPxJpegMarker& m : Markers) {
            if (m.Type != PxMarkerAPP1 ||
                !PxLoadEXIFFromBufferHook(m.Data, static_cast<int32_t>(m.Length), Params))
                continue;
            ApplyEXIFResolution(Params);
            if (Params.JPEGApplyOrientation && Bitmap && !Bitmap->IsEmpty()) {
                PxApplyEXIFOrientation(Bitmap, Params.EXIFOrientation);
                Params.SetEXIFOrientation(1);
            }
            break;
        }
    }
    for (const TPxJpegMarker& m : Markers)
        if (m.Type == PxMarkerAPP1 && PxLoadXMPFromAPP1(m.Data, m.Length, Params))
            break;
}

// Step 1 of a read with the embedded-thumbnail switch: true when the EXIF
// thumbnail was delivered instead of the image.
bool ReadEmbeddedThumbnail(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                           TPxIOProgressInfo& Progress)
{
    const int64_t start = Stream->GetPosition();
    if (Params.EXIFBitmap)
        Params.EXIFBitmap->FreeImage(true);
    Params.JPEGUseEmbeddedThumbnail = false;
    const int32_t width = Params.Width;
    const int32_t height = Params.Height;
    PxReadJPEG(Stream, Bitmap, {.ReadMetadata = true, .ParamsOnly = true}, Progress, Params);
    // Back to where this read started, not to the stream's beginning: the
    // JPEG data may sit inside a larger stream.
    Stream->SetPosition(start);
    Params.JPEGUseEmbeddedThumbnail = true;
    if (Params.EXIFBitmap && !Params.EXIFBitmap->IsEmpty()) {
        Bitmap->Assign(Params.EXIFBitmap.get());
        return true;
    }
    Params.Width = width;
    Params.Height = height;
    Params.OriginalWidth = width;
    Params.OriginalHeight = height;
    return false;
}

int ScaleDenominator(const TIOParamsVals& Params, const TPxJpegHeaderInfo& Header)
{
    switch (Params.JPEGScale) {
    case 1: return 1;
    case 2: return 2;
    case 3: return 4;
    case 4: return 8;
    case 0:
        if (Params.Width > 0 && Params.Height > 0) {
            for (int d : {8, 4, 2})
                if (Header.Width / d >= Params.Width && Header.Height / d >= Params.Height)
                    return d;
        }
        return 1;
    default: return 1;
    }
}

// Reads the abbreviated tables, if any, and the image's header; false with
// the aborting flag set when the library could not.
bool ReadHeader(TPxJpegDecoder& Decoder, classlib::TStream* Stream, classlib::TStream* Tables, bool* Aborting)
{
    try {
        if (Tables && Tables != Stream)
            Decoder.ReadTables(Tables);
        Decoder.SetSource(Stream);
        Decoder.SaveMarkers();
        Decoder.ReadHeader(true);
        return true;
    } catch (const EPxJpegException&) {
        *Aborting = true;
        return false;
    }
}

// The header just read into the parameters (image count, samples, colour
// space, resolution, progressive, original size, scale), and the decoding
// choices that follow from it and from the parameters into the decoder.
void HeaderToParams(TPxJpegDecoder& Decoder, bool RawYCbCr, TIOParamsVals& Params)
{
    const TPxJpegHeaderInfo& header = Decoder.Header();
    Params.SetImageCount(1);
    Params.BitsPerSample = 8;
    // The colour space's code and samples, and what the decoder delivers.
    auto take = [&](uint8_t Code, int32_t Samples, TPxJpegColorSpace Output) {
        Params.JPEGColorSpace = Code;
        Params.SamplesPerPixel = Samples;
        Decoder.SetOutput(Output);
    };
    switch (header.ColorSpace) {
    case TPxJpegColorSpace::Gray: take(1, 1, TPxJpegColorSpace::Gray); break;
    // Also for raw reads: rows in the bitmap's blue, green, red order.
    case TPxJpegColorSpace::RGB: take(0, 3, TPxJpegColorSpace::RGB); break;
    case TPxJpegColorSpace::YCbCr:
        take(2, 3, RawYCbCr ? TPxJpegColorSpace::YCbCr : TPxJpegColorSpace::RGB);
        break;
    case TPxJpegColorSpace::CMYK: take(3, 4, TPxJpegColorSpace::CMYK); break;
    case TPxJpegColorSpace::YCCK: take(4, 4, TPxJpegColorSpace::CMYK); break;
    default: break;
    }
    Decoder.SetDCTMethod(Params.JPEGDCTMethod);

    if (header.DensityUnit == 0 || header.DensityUnit == 1) {
        Params.SetDpiX(header.XDensity);
        Params.SetDpiY(header.YDensity);
    } else if (header.DensityUnit == 2) {
        Params.SetDpiX(static_cast<int32_t>(classlib::Round(header.XDensity * 2.54)));
        Params.SetDpiY(static_cast<int32_t>(classlib::Round(header.YDensity * 2.54)));
    }
    Params.FreeColorMap();
    Params.JPEGProgressive = header.Progressive;
    Params.OriginalWidth = header.Width;
    Params.OriginalHeight = header.Height;

    const int denominator = ScaleDenominator(Params, header);
    Decoder.SetScale(denominator);
    Params.JPEGScaleDenominator = denominator;
}

// Where decoded rows go: the rows of the bitmap (allocated to the output
// size in Format), straight from the decoder when its output already has
// the bitmap's form, else through a scratch row: grey spread to RGB, CMYK
// (inverted first when InvertedCMYK) converted to RGB, and RGB through the
// colour conversion when ManageColour.
class TJpegRowSink {
public:
    TJpegRowSink(TPxBitmap& Bitmap, TPxPixelFormat Format, int Components, bool ManageColour, bool InvertedCMYK,
                 TIOParamsVals& Params)
        : bitmap_(Bitmap), format_(Format), width_(Bitmap.GetWidth()), components_(Components),
          manageColour_(ManageColour), invertedCMYK_(InvertedCMYK), params_(Params),
          scratch_(static_cast<size_t>(width_) * 4)
    {
    }

    // Decodes the decoder's next row into row Y of the bitmap.
    void Take(TPxJpegDecoder& Decoder, int Y)
    {
        uint8_t* row = bitmap_.GetScanline(Y);
        uint8_t* scratch = scratch_.data();
        if (components_ == 1) {
            if (format_ == px8g) {
                Decoder.ReadRow(row);
            } else {
                Decoder.ReadRow(scratch);
                for (int x = 0; x < width_; ++x, row += 3)
                    row[0] = row[1] = row[2] = scratch[x];
            }
        } else if (components_ == 3) {
            // Rows come blue, green, red from the library for YCbCr and RGB
            // files alike (raw YCbCr: Y, Cb, Cr).
            if (manageColour_) {
                Decoder.ReadRow(scratch);
                ConvertRow(scratch, pxRowBGR, row, &params_, width_, pxRowBGR);
            } else {
                Decoder.ReadRow(row);
            }
        } else if (format_ == pxCMYK) {
            Decoder.ReadRow(row);
        } else {
            Decoder.ReadRow(scratch);
            if (invertedCMYK_)
                for (int i = 0, n = width_ * 4; i < n; ++i)
                    scratch[i] = static_cast<uint8_t>(255 - scratch[i]);
            ConvertRow(scratch, pxRowCMYK, row, &params_, width_, pxRowBGR);
        }
    }

private:
    TPxBitmap& bitmap_;
    TPxPixelFormat format_;
    int width_;
    int components_;
    bool manageColour_;
    bool invertedCMYK_;
    TIOParamsVals& params_;
    std::vector<uint8_t> scratch_;
};

// Starts the decompression, allocates Bitmap to the output size and decodes
// up to Options.RowLimit rows into it; returns the rows read. Started tells
// whether the decompression began (only then may it be finished). Library
// errors, a failed allocation and fewer rows than asked set the aborting
// flag; the rows read so far stay.
int ReadPixels(TPxJpegDecoder& Decoder, TPxBitmap& Bitmap, const TPxJPEGReadOptions& Options, bool IccActive,
               TPxIOProgressInfo& Progress, TIOParamsVals& Params, bool* Aborting, bool& Started)
{
    try {
        Decoder.Start();
        Started = true;
    } catch (const EPxJpegException&) {
        *Aborting = true;
        return 0;
    }
    const int width = Decoder.OutputWidth();
    const int height = Decoder.OutputHeight();
    const int components = Decoder.OutputComponents();
    Params.Width = width;
    Params.Height = height;
    TPxPixelFormat format = px24RGB;
    if (Options.NativePixelFormat && components == 1)
        format = px8g;
    else if (Options.NativePixelFormat && components == 4)
        format = pxCMYK;
    if ((components != 1 && components != 3 && components != 4) || !Bitmap.Allocate(width, height, format)) {
        *Aborting = true;
        return 0;
    }
    const int limit = (Options.RowLimit < 0 || Options.RowLimit > height) ? height : Options.RowLimit;
    TPxAccessScope access(Bitmap, pxAccessWrite);
    TJpegRowSink sink(Bitmap, format, components, IccActive && !Options.RawYCbCr, Options.InvertedCMYK, Params);
    int rows = 0;
    int lastPercent = -1;
    try {
        while (Decoder.OutputScanline() < height && rows < limit && !*Aborting) {
            sink.Take(Decoder, rows);
            ++rows;
            ReportRow(Progress, rows, height, lastPercent);
        }
    } catch (const EPxJpegException&) {
        *Aborting = true;
    }
    if (rows < limit)
        *Aborting = true;
    return rows;
}

// The raster check on the frame header, before the library allocates for
// the image: a Huffman-coded image needs at least one bit per 8 x 8 block
// of DataBytes (the bytes from the image's start to the stream's end).
bool CheckImageSize(const TPxJpegHeaderInfo& Header, int64_t DataBytes, TPxIOProgressInfo& Progress)
{
    TPxRasterCheck check;
    check.Width = Header.Width;
    check.Height = Header.Height;
    check.CodedBits = 8 * std::max(Header.Components, 1);
    check.StorageBits = Header.Components == 4 ? 32 : 24;
    check.Coding = Header.Arithmetic ? TPxCoding::Unbounded : TPxCoding::Jpeg;
    check.DataBytes = DataBytes;
    const TPxReadFailure failure = PxCheckRaster(check);
    if (failure == TPxReadFailure::None)
        return true;
    Progress.Fail(failure);
    return false;
}

// The markers in file order into the parameters' marker list, the first
// APP0 (the JFIF header, which the writer makes anew) left out; the APP2
// markers too when DropProfile and the input profile was applied while
// decoding (the profile's transform is freed then).
void KeepMarkers(const std::vector<TPxJpegMarker>& Markers, bool DropProfile, TIOParamsVals& Params)
{
    TPxMarkerList* list = Params.JPEGMarkers.get();
    if (!list)
        return;
    list->Clear();
    bool firstAPP0 = true;
    for (const TPxJpegMarker& m : Markers) {
        if (m.Type == PxMarkerAPP0 && firstAPP0) {
            firstAPP0 = false;
            continue;
        }
        list->AddMarker(m.Type, m.Data, static_cast<int32_t>(m.Length));
    }
    TPxICC* profile = Params.InputICCProfile.get();
    if (DropProfile && profile && profile->IsTransformReady()) {
        profile->FreeTransform();
        for (int i = list->GetCount() - 1; i >= 0; --i)
            if (list->GetMarkerType(i) == PxMarkerAPP2)
                list->DeleteMarker(i);
    }
}

}  // namespace

void PxInstallJPEGFormat()
{
    PxSetBuiltInFormatReader(ffJPEG, RegistryReader);
    PxSetBuiltInFormatWriter(ffJPEG, RegistryWriter);
}

int PxReadJPEG(classlib::TStream* Stream, TPxBitmap* Bitmap, const TPxJPEGReadOptions& Options,
               TPxIOProgressInfo& Progress, TIOParamsVals& Params)
{
    if (!Stream) {
        Progress.Abort();
        return 0;
    }
    if (Params.JPEGUseEmbeddedThumbnail && Bitmap && ReadEmbeddedThumbnail(Stream, Bitmap, Params, Progress))
        return 0;

    Params.JPEGWarningCount = 0;
    Params.JPEGWarningCode = 0;

    const int64_t start = PxFindJPEGStart(*Stream, true);
    if (start < 0) {
        Progress.Abort();
        return 0;
    }
    Stream->SetPosition(start);

    bool iccActive = false;
    if (Options.ReadColorProfile) {
        PxReadJPEGICC(Stream, Params);
        TPxICC* profile = Params.InputICCProfile.get();
        iccActive = profile && profile->GetRawLength() > 0 && PxColorManagementEnabled;
    }

    // A flag of our own when the caller gave none, so that failures are
    // still seen here.
    TPxAbortFlagScope abortScope(Progress);
    bool* aborting = Progress.Aborting;

    int rows = 0;
    bool started = false;
    TPxJpegDecoder decoder(aborting);
    if (ReadHeader(decoder, Stream, Options.Tables, aborting)) {
        HeaderToParams(decoder, Options.RawYCbCr, Params);
        decoder.SetReplicatedUpsampling(Options.ReplicateChroma);
        if (Options.ParamsOnly) {
            Params.Width = decoder.Header().Width;
            Params.Height = decoder.Header().Height;
        } else if (!Bitmap) {
            *aborting = true;
        } else if (!CheckImageSize(decoder.Header(), Stream->GetSize() - start, Progress)) {
            // refused before the library sizes its buffers
        } else {
            rows = ReadPixels(decoder, *Bitmap, Options, iccActive, Progress, Params, aborting, started);
        }
    }

    const std::vector<TPxJpegMarker> markers = decoder.Markers();
    KeepMarkers(markers, Options.ApplyColorProfile && iccActive, Params);
    // The marker payloads live in the decoder's image memory, which finishing
    // releases: everything that reads them runs before that.
    if (Options.ReadMetadata)
        ReadMetadataMarkers(markers, Options.ParamsOnly ? nullptr : Bitmap, Params);
    // Finishing reads to the end of the image; only a completely read image
    // is finished (a row-limited read is simply dropped), and a failure
    // there does not count against the image.
    if (started && !*aborting && rows == decoder.OutputHeight()) {
        try {
            decoder.Finish();
        } catch (const EPxJpegException&) {
        }
        *aborting = false;
    }
    if (decoder.WarningCount() > 0) {
        Params.JPEGWarningCount = decoder.WarningCount();
        Params.JPEGWarningCode = decoder.LastWarningCode();
    }
    // An image the library completed with made-up pixels is kept, with the
    // reason it is incomplete.
    if (started && !*aborting && decoder.DataDamaged())
        Progress.Warn(decoder.DataEnded() ? TPxReadFailure::Truncated : TPxReadFailure::Corrupt);
    return rows;
}

int64_t PxGetJPEGLength(classlib::TStream* Stream)
{
    TByteReader reader(Stream);
    TPositionRestore restore(reader);
    for (;;) {
        const int m = NextMarker(reader);
        if (m < 0 || m == 0xD9)
            break;
        if ((m >= 0xC0 && m <= 0xCF) || (m >= 0xDA && m <= 0xFE)) {
            const int length = reader.Next16();
            if (length < 0)
                break;
            reader.Skip(length - 2);
        }
    }
    return reader.Consumed();
}

void PxReadJPEGICC(classlib::TStream* Stream, TIOParamsVals& Params)
{
    TByteReader reader(Stream);
    TPositionRestore restore(reader);
    TPxICCChunks chunks;
    std::vector<uint8_t> segment;
    for (;;) {
        const int m = NextMarker(reader);
        if (m < 0)
            break;
        if (m <= 0xBF || (m >= 0xD0 && m <= 0xD8))
            continue;
        const bool skipped = m == 0xC4 || m == 0xC8 || m == 0xCC || (m >= 0xDA && m <= 0xE1) || m >= 0xE3;
        if (!skipped && m != 0xE2)
            break;  // a frame header or the end of the image
        const int length = reader.Next16();
        if (length < 2)
            break;
        if (skipped) {
            reader.Skip(length - 2);
            continue;
        }
        segment.resize(static_cast<size_t>(length - 2));
        const int64_t got = reader.ReadInto(segment.data(), length - 2);
        if (got != length - 2)
            break;
        chunks.Add(segment.data(), segment.size());
        if (chunks.GetCount() > 0 && chunks.Complete())
            break;
    }
    const std::vector<uint8_t> profile = chunks.Join();
    if (!profile.empty()) {
        if (TPxICC* icc = Params.GetInputICCProfile())
            icc->LoadFromBuffer(profile.data(), static_cast<int32_t>(profile.size()));
    }
}

}  // namespace imaging
