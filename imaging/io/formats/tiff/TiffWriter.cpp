#include "imaging/io/formats/tiff/TiffWriter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <set>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "classlib/ZLibStreams.h"
#include "imaging/io/formats/tiff/Ccitt.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/metadata/ExifBlock.h"
#include "imaging/io/formats/jpeg/JpegWriter.h"
#include "imaging/io/metadata/PxAnnotations.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxICC.h"
#include "imaging/model/PxIfdEditor.h"
#include "imaging/model/PxIptc.h"
#include "imaging/model/PxMakerNote.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxConvertRows.h"
#include "imaging/proc/PxQuantizer.h"

namespace imaging {

namespace {

constexpr uint16_t kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7;

// Strips are cut at about this many bytes of image rows.
constexpr int64_t kStripBudget = 524288;

void Put(classlib::TStream* Stream, bool& Aborting, const void* Data, int64_t Count)
{
    if (Aborting || Count <= 0)
        return;
    PxSafeStreamWrite(Stream, Aborting, Data, Count);
}

void PutU16(classlib::TStream* Stream, bool& Aborting, uint32_t Value)
{
    const uint8_t b[2] = {uint8_t(Value), uint8_t(Value >> 8)};
    Put(Stream, Aborting, b, 2);
}

void PutU32(classlib::TStream* Stream, bool& Aborting, uint32_t Value)
{
    const uint8_t b[4] = {uint8_t(Value), uint8_t(Value >> 8), uint8_t(Value >> 16), uint8_t(Value >> 24)};
    Put(Stream, Aborting, b, 4);
}

bool& AbortFlag(TPxTIFFEntryList& List)
{
    static thread_local bool scratch;
    if (!List.Aborting) {
        scratch = false;
        return scratch;
    }
    return *List.Aborting;
}

// The current position as a 32-bit file offset; positions a classic TIFF
// cannot address set the aborting flag.
uint32_t Offset32(classlib::TStream* Stream, bool& Aborting)
{
    const int64_t pos = Stream->GetPosition();
    if (pos < 0 || pos > 0xFFFFFFFFll) {
        Aborting = true;
        return 0;
    }
    return static_cast<uint32_t>(pos);
}

void AddEntry(TPxTIFFEntryList& List, uint16_t Tag, uint16_t Type, uint32_t Count, uint32_t Value)
{
    List.Entries.push_back(TTIFFIFDEntry{Tag, Type, Count, Value});
}

// Writes Bytes out (at an even position) and adds the entry pointing to
// them, or stores them inline when they fit in 4 bytes.
void AddData(TPxTIFFEntryList& List, uint16_t Tag, uint16_t Type, uint32_t Count, const uint8_t* Bytes,
             size_t Size)
{
    bool& aborting = AbortFlag(List);
    if (Size <= 4) {
        uint32_t value = 0;
        for (size_t i = 0; i < Size; ++i)
            value |= uint32_t(Bytes[i]) << (8 * i);
        AddEntry(List, Tag, Type, Count, value);
        return;
    }
    PxTIFFAlignEven(List.Stream, aborting);
    const uint32_t at = Offset32(List.Stream, aborting);
    Put(List.Stream, aborting, Bytes, static_cast<int64_t>(Size));
    AddEntry(List, Tag, Type, Count, at);
}

bool Allowed(uint16_t Tag, const TIOParamsVals* Marked)
{
    return !Marked || Marked->IsEXIFTagMarked(Tag);
}

void RationalBytes(double Value, std::vector<uint8_t>& Out)
{
    int32_t num = 0, den = 1;
    PxFloatToRational(Value < 0 ? 0 : Value, 5e-9, num, den);
    if (num < 0)
        num = 0;
    if (den <= 0)
        den = 1;
    for (uint32_t v : {uint32_t(num), uint32_t(den)})
        for (int k = 0; k < 4; ++k)
            Out.push_back(uint8_t(v >> (8 * k)));
}

std::string WideToAnsi(const std::wstring& Text)
{
    if (Text.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, Text.data(), int(Text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? size_t(n) : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, Text.data(), int(Text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// entry builders

void PxTIFFAlignEven(classlib::TStream* Stream, bool& Aborting)
{
    if (Aborting)
        return;
    if (Stream->GetPosition() & 1) {
        const uint8_t zero = 0;
        Put(Stream, Aborting, &zero, 1);
    }
}

void PxTIFFAddLong(TPxTIFFEntryList& List, uint16_t Tag, uint32_t Value)
{
    AddEntry(List, Tag, kLong, 1, Value);
}

void PxTIFFAddLongs(TPxTIFFEntryList& List, uint16_t Tag, const std::vector<uint32_t>& Values)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(Values.size() * 4);
    for (uint32_t v : Values)
        for (int k = 0; k < 4; ++k)
            bytes.push_back(uint8_t(v >> (8 * k)));
    AddData(List, Tag, kLong, uint32_t(Values.size()), bytes.data(), bytes.size());
}

void PxTIFFAddShort(TPxTIFFEntryList& List, uint16_t Tag, uint16_t Value, const TIOParamsVals* Marked)
{
    if (Allowed(Tag, Marked))
        AddEntry(List, Tag, kShort, 1, Value);
}

void PxTIFFAddShorts(TPxTIFFEntryList& List, uint16_t Tag, const std::vector<uint16_t>& Values)
{
    std::vector<uint8_t> bytes;
    for (uint16_t v : Values) {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(v >> 8));
    }
    AddData(List, Tag, kShort, uint32_t(Values.size()), bytes.data(), bytes.size());
}

void PxTIFFAddByte(TPxTIFFEntryList& List, uint16_t Tag, uint8_t Value)
{
    AddEntry(List, Tag, kByte, 1, Value);
}

void PxTIFFAddUndefinedByte(TPxTIFFEntryList& List, uint16_t Tag, uint8_t Value, const TIOParamsVals* Marked)
{
    if (Allowed(Tag, Marked))
        AddEntry(List, Tag, kUndefined, 1, Value);
}

void PxTIFFAddRational(TPxTIFFEntryList& List, uint16_t Tag, double Value, const TIOParamsVals* Marked)
{
    if (!Allowed(Tag, Marked))
        return;
    std::vector<uint8_t> bytes;
    RationalBytes(Value, bytes);
    AddData(List, Tag, kRational, 1, bytes.data(), bytes.size());
}

void PxTIFFAddRationals(TPxTIFFEntryList& List, uint16_t Tag, const std::vector<double>& Values)
{
    std::vector<uint8_t> bytes;
    for (double v : Values)
        RationalBytes(v, bytes);
    AddData(List, Tag, kRational, uint32_t(Values.size()), bytes.data(), bytes.size());
}

void PxTIFFAddString(TPxTIFFEntryList& List, uint16_t Tag, const std::string& Text)
{
    if (Text.empty())
        return;
    if (Text.size() <= 4) {
        PxTIFFAddInlineASCII(List, Tag, Text);
        return;
    }
    std::vector<uint8_t> bytes(Text.begin(), Text.end());
    bytes.push_back(0);
    AddData(List, Tag, kAscii, uint32_t(bytes.size()), bytes.data(), bytes.size());
}

void PxTIFFAddInlineASCII(TPxTIFFEntryList& List, uint16_t Tag, const std::string& Text)
{
    uint32_t value = 0;
    for (size_t i = 0; i < Text.size() && i < 4; ++i)
        value |= uint32_t(uint8_t(Text[i])) << (8 * i);
    AddEntry(List, Tag, kAscii, uint32_t(Text.size()), value);
}

void PxTIFFAddInlineBytes(TPxTIFFEntryList& List, uint16_t Tag, const std::string& Bytes)
{
    uint32_t value = 0;
    for (size_t i = 0; i < Bytes.size() && i < 4; ++i)
        value |= uint32_t(uint8_t(Bytes[i])) << (8 * i);
    AddEntry(List, Tag, kByte, uint32_t(Bytes.size()), value);
}

void PxTIFFAddWideString(TPxTIFFEntryList& List, uint16_t Tag, const std::wstring& Text)
{
    if (Text.empty())
        return;
    std::vector<uint8_t> bytes;
    for (wchar_t c : Text) {
        bytes.push_back(uint8_t(c));
        bytes.push_back(uint8_t(uint16_t(c) >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    AddData(List, Tag, kByte, uint32_t(bytes.size()), bytes.data(), bytes.size());
}

void PxTIFFAddBlock(TPxTIFFEntryList& List, uint16_t Tag, uint16_t Type, const std::vector<uint8_t>& Bytes)
{
    if (Bytes.empty())
        return;
    std::vector<uint8_t> data(Bytes);
    uint32_t count = uint32_t(data.size());
    if (Type == kLong) {
        count = uint32_t((data.size() + 3) / 4);
        data.resize(size_t(count) * 4, 0);
    }
    AddData(List, Tag, Type, count, data.data(), data.size());
}

void PxTIFFSortEntries(std::vector<TTIFFIFDEntry>& Entries)
{
    std::stable_sort(Entries.begin(), Entries.end(),
                     [](const TTIFFIFDEntry& a, const TTIFFIFDEntry& b) { return a.Tag < b.Tag; });
}

std::vector<uint8_t> PxTIFFPackBitsRow(const uint8_t* Row, int32_t Length)
{
    std::vector<uint8_t> out;
    std::vector<uint8_t> literal;
    auto flushLiteral = [&] {
        if (literal.empty())
            return;
        out.push_back(uint8_t(literal.size() - 1));
        out.insert(out.end(), literal.begin(), literal.end());
        literal.clear();
    };
    int32_t i = 0;
    while (i < Length) {
        int32_t run = 1;
        while (i + run < Length && run < 128 && Row[i + run] == Row[i])
            ++run;
        if (run >= 4) {
            flushLiteral();
            out.push_back(uint8_t(1 - run));
            out.push_back(Row[i]);
            i += run;
            continue;
        }
        literal.push_back(Row[i++]);
        if (literal.size() == 128)
            flushLiteral();
    }
    flushLiteral();
    return out;
}

// ---------------------------------------------------------------------------
// the page

namespace {

// The TIFF compression numbers written.
constexpr int kCompNone = 1, kCompMH = 2, kCompG3 = 3, kCompG4 = 4, kCompLZW = 5, kCompOldJPEG = 6, kCompJPEG = 7,
              kCompPackBits = 32773, kCompDeflate = 32946;

// Everything the strip writer needs about the stored form.
struct TStoredForm {
    TPxTIFFLZWCompressProc Lzw = nullptr;
    int32_t Compression = kCompNone;
    bool TwoD = false;
    int32_t FillOrder = 1;
    uint8_t Photometric = 2;  // 0, 1, 2, 3, 5, 6, 7 (CIELab)
    int32_t Predictor = 1;
    TPxQuantizer* Quantizer = nullptr;
    int32_t Bits = 8;
    int32_t JPEGQuality = 80;
    uint8_t JPEGColorSpace = 2;
    TIOParamsVals* Params = nullptr;
    bool AlphaSample = false;
    int32_t Samples = 3;
};

// The coding of one strip: opened on its first row, closed by End.
class TStripCoder {
public:
    TStripCoder(classlib::TStream* Stream, bool& Aborting, const TStoredForm& Form, int32_t Width)
        : stream_(Stream), aborting_(Aborting), form_(Form), width_(Width)
    {
    }
    ~TStripCoder() { Discard(); }

    void Row(const uint8_t* Data, int32_t Length)
    {
        if (aborting_)
            return;
        try {
            switch (form_.Compression) {
            case kCompMH:
                PxEncodeMHRow(Data, width_, stream_, form_.FillOrder, aborting_);
                break;
            case kCompG3:
            case kCompG4:
                EncodeFaxRow(Data);
                break;
            case kCompLZW:
                form_.Lzw(Data, Length, stream_, lzwState_);
                break;
            case kCompPackBits: {
                const std::vector<uint8_t> packed = PxTIFFPackBitsRow(Data, Length);
                Put(stream_, aborting_, packed.data(), int64_t(packed.size()));
                break;
            }
            case kCompDeflate:
                if (!deflate_) {
                    const int level = form_.Params->TIFFZIPCompression == 0   ? 1
                                      : form_.Params->TIFFZIPCompression == 2 ? 9
                                                                               : classlib::zcDefault;
                    deflate_ = std::make_unique<classlib::TCompressionStream>(level, stream_);
                }
                deflate_->WriteBuffer(Data, Length);
                break;
            default:
                Put(stream_, aborting_, Data, Length);
                break;
            }
        } catch (const classlib::Exception&) {
            aborting_ = true;
        }
    }

    // Closes the strip's coding (the codec writes what it holds).
    void End()
    {
        try {
            switch (form_.Compression) {
            case kCompG3:
            case kCompG4:
                EncodeFaxRow(nullptr);
                break;
            case kCompLZW:
                if (lzwState_)
                    form_.Lzw(nullptr, 0, stream_, lzwState_);
                break;
            case kCompDeflate:
                if (deflate_) {
                    if (!aborting_)
                        deflate_->Finish();
                    deflate_.reset();
                }
                break;
            default:
                break;
            }
        } catch (const classlib::Exception&) {
            aborting_ = true;
        }
        Discard();
    }

private:
    // One row of a G3 or G4 strip; a null row flushes the coder's pending
    // bits at the end of the strip.
    void EncodeFaxRow(const uint8_t* Data)
    {
        if (form_.Compression == kCompG4)
            PxEncodeG4Row(Data, width_, stream_, form_.FillOrder, aborting_, refRow_, pendingBits_, pendingByte_);
        else if (form_.TwoD)
            PxEncodeG3Row2D(Data, width_, stream_, form_.FillOrder, aborting_, refRow_, pendingBits_, pendingByte_);
        else
            PxEncodeG3Row1D(Data, width_, stream_, form_.FillOrder, aborting_, pendingBits_, pendingByte_);
    }

    // Frees whatever coding state is left without writing (after a failure).
    void Discard()
    {
        if (lzwState_) {
            try {
                form_.Lzw(nullptr, 0, stream_, lzwState_);
            } catch (...) {
                aborting_ = true;
            }
            lzwState_ = nullptr;
        }
        if (deflate_) {
            // A compression stream that never finished would write its rest
            // from the destructor; the strip is abandoned anyway.
            try {
                deflate_->Finish();
            } catch (...) {
            }
            deflate_.reset();
        }
        refRow_.clear();
        pendingBits_ = 0;
        pendingByte_ = 0;
    }

    classlib::TStream* stream_;
    bool& aborting_;
    const TStoredForm& form_;
    int32_t width_;
    void* lzwState_ = nullptr;
    std::unique_ptr<classlib::TCompressionStream> deflate_;
    std::vector<uint8_t> refRow_;
    int32_t pendingBits_ = 0;
    uint8_t pendingByte_ = 0;
};

// Packs the low Bits bits of Count values most significant bit first.
void PackIndexes(const std::vector<int32_t>& Values, int32_t Bits, std::vector<uint8_t>& Out)
{
    std::fill(Out.begin(), Out.end(), 0);
    int64_t bit = 0;
    for (int32_t v : Values) {
        for (int32_t k = Bits - 1; k >= 0; --k, ++bit)
            if ((v >> k) & 1)
                Out[size_t(bit >> 3)] |= uint8_t(0x80 >> (bit & 7));
    }
}

// Builds the stored bytes of one row of the image.
class TRowBuilder {
public:
    TRowBuilder(TPxBitmap& Image, const TStoredForm& Form) : image_(Image), form_(Form)
    {
        width_ = Image.GetWidth();
        format_ = Image.GetPixelFormat();
        alpha_ = form_.AlphaSample && Image.HasAlphaChannel() ? Image.GetAlphaChannel() : nullptr;
        out_.assign(size_t(RowBytes()), 0);
    }

    int64_t RowBytes() const
    {
        const int64_t w = width_;
        switch (format_) {
        case px1g:
            return (w + 7) / 8;
        case px16g:
            return w * 2;
        case pxCMYK:
            return w * 4;
        case pxRGB48:
            return w * 6;
        default:
            if (form_.Photometric == 1 || form_.Photometric == 3)
                return (w * form_.Bits + 7) / 8;
            return w * form_.Samples;
        }
    }

    // Row y in the stored form; the bytes stay valid until the next call.
    const uint8_t* Build(int32_t y)
    {
        const uint8_t* src = image_.GetScanline(y);
        switch (format_) {
        case px1g:
        case px16g:
            std::memcpy(out_.data(), src, out_.size());
            break;
        case pxCMYK:
            for (size_t i = 0; i < out_.size(); ++i)
                out_[i] = uint8_t(~src[i]);
            break;
        case pxRGB48: {
            std::memcpy(out_.data(), src, out_.size());
            break;
        }
        default:
            BuildColour(src, y);
            break;
        }
        return out_.data();
    }

private:
    // A row of px24RGB (blue, green, red), or of px8p/px8g seen as colours.
    void BuildColour(const uint8_t* Src, int32_t Y)
    {
        colours_.resize(size_t(width_));
        if (format_ == px24RGB) {
            std::memcpy(colours_.data(), Src, size_t(width_) * 3);
        } else if (format_ == px8p) {
            for (int32_t x = 0; x < width_; ++x)
                colours_[size_t(x)] = image_.GetPaletteEntry(Src[x]);
        } else {  // px8g
            for (int32_t x = 0; x < width_; ++x)
                colours_[size_t(x)] = TPxRGB{Src[x], Src[x], Src[x]};
        }
        const int32_t w = width_;
        uint8_t* out = out_.data();
        switch (form_.Photometric) {
        case 1:
        case 3: {
            if (form_.Bits == 8) {
                for (int32_t x = 0; x < w; ++x)
                    out[x] = uint8_t(form_.Quantizer->ColorIndex(colours_[size_t(x)]));
            } else if (form_.Bits == 16) {
                for (int32_t x = 0; x < w; ++x) {
                    const uint32_t v = uint32_t(form_.Quantizer->ColorIndex(colours_[size_t(x)])) * 257u;
                    out[2 * x] = uint8_t(v);
                    out[2 * x + 1] = uint8_t(v >> 8);
                }
            } else {
                indexes_.resize(size_t(w));
                for (int32_t x = 0; x < w; ++x)
                    indexes_[size_t(x)] = form_.Quantizer->ColorIndex(colours_[size_t(x)]);
                PackIndexes(indexes_, form_.Bits, out_);
            }
            break;
        }
        case 5:
            PxConvertColorRowHook(colours_.data(), 1, out, form_.Params, w, 2);
            for (size_t i = 0; i < out_.size(); ++i)
                out[i] = uint8_t(~out[i]);
            break;
        case 7:
            PxConvertColorRowHook(colours_.data(), 1, out, form_.Params, w, 4);
            break;
        default: {
            const uint8_t* a = alpha_ ? alpha_->GetScanline(Y) : nullptr;
            const int s = form_.Samples;
            for (int32_t x = 0; x < w; ++x) {
                const TPxRGB& c = colours_[size_t(x)];
                out[s * x] = c.r;
                out[s * x + 1] = c.g;
                out[s * x + 2] = c.b;
                if (s == 4)
                    out[s * x + 3] = a ? a[x] : 255;
            }
            if (form_.Predictor == 2)
                for (int32_t x = w - 1; x > 0; --x)
                    for (int k = 0; k < 3; ++k)
                        out[s * x + k] = uint8_t(out[s * x + k] - out[s * (x - 1) + k]);
            break;
        }
        }
    }

    TPxBitmap& image_;
    const TStoredForm& form_;
    int32_t width_ = 0;
    TPxPixelFormat format_ = pxNoPixels;
    TPxBitmap* alpha_ = nullptr;
    std::vector<uint8_t> out_;
    std::vector<TPxRGB> colours_;
    std::vector<int32_t> indexes_;
};

// Image as one interchange-format JPEG at the stream's position, with the
// form's quality, colour space and the page's resolution; a failure sets
// Aborting.
void WriteJPEGImage(classlib::TStream* Stream, TPxBitmap& Image, const TStoredForm& Form, bool& Aborting,
                    TPxIOProgressInfo& Progress)
{
    TIOParamsVals scratch(nullptr);
    scratch.JPEGQuality = Form.JPEGQuality;
    scratch.JPEGColorSpace = Form.JPEGColorSpace;
    scratch.DpiX = Form.Params->DpiX;
    scratch.DpiY = Form.Params->DpiY;
    try {
        PxWriteJPEG(Stream, &Image, scratch, Progress);
    } catch (const classlib::Exception&) {
        Aborting = true;
    }
}

// Writes the strips of Image and their tags (278, 273, 279).
void WriteStrips(classlib::TStream* Stream, TPxTIFFEntryList& List, TPxBitmap& Image, TStoredForm& Form,
                 TPxIOProgressInfo& Progress)
{
    bool& aborting = *List.Aborting;
    const int32_t width = Image.GetWidth(), height = Image.GetHeight();
    TRowBuilder rows(Image, Form);
    const int64_t rowBytes = rows.RowBytes();
    int64_t rowsPerStrip = height;
    if (Form.Compression != kCompJPEG && Form.Compression != kCompDeflate) {
        // The product of two 32-bit sizes fits in 64 bits.
        const int64_t strips = std::max<int64_t>(int64_t(height) * Image.GetRowLen() / kStripBudget, 1);
        rowsPerStrip = std::max<int64_t>(height / strips, 1);  // at least one row per strip
    }
    std::vector<uint32_t> offsets, counts;
    const double step = height > 0 ? 100.0 / height : 0;

    if (Form.Compression == kCompJPEG) {
        const uint32_t at = Offset32(Stream, aborting);
        WriteJPEGImage(Stream, Image, Form, aborting, Progress);
        const uint32_t end = Offset32(Stream, aborting);
        offsets.push_back(at);
        counts.push_back(end - at);
    } else {
        TStripCoder coder(Stream, aborting, Form, width);
        uint32_t stripStart = Offset32(Stream, aborting);
        for (int32_t y = 0; y < height && !aborting; ++y) {
            coder.Row(rows.Build(y), int32_t(rowBytes));
            Progress.Progress(int(step * y));
            if (aborting)
                break;
            if ((y + 1) % rowsPerStrip == 0 || y + 1 == height) {
                coder.End();
                const uint32_t now = Offset32(Stream, aborting);
                offsets.push_back(stripStart);
                counts.push_back(now - stripStart);
                stripStart = now;
            }
        }
    }
    if (aborting)
        return;
    PxTIFFAddLong(List, 278, uint32_t(rowsPerStrip));
    if (offsets.size() == 1) {
        PxTIFFAddLong(List, 273, offsets[0]);
        PxTIFFAddLong(List, 279, counts[0]);
    } else {
        PxTIFFAddLongs(List, 273, offsets);
        PxTIFFAddLongs(List, 279, counts);
    }
}

// Compression 6: the image as one interchange-format JPEG.
void WriteOldJPEG(classlib::TStream* Stream, TPxTIFFEntryList& List, TPxBitmap& Image, TStoredForm& Form,
                  TPxIOProgressInfo& Progress)
{
    bool& aborting = *List.Aborting;
    classlib::TMemoryStream jpeg;
    WriteJPEGImage(&jpeg, Image, Form, aborting, Progress);
    if (aborting)
        return;
    const uint8_t* data = static_cast<const uint8_t*>(jpeg.GetMemory());
    const int64_t size = jpeg.GetSize();
    int64_t sos = 0;
    for (int64_t i = 0; i + 1 < size; ++i)
        if (data[i] == 0xFF && data[i + 1] == 0xDA) {
            sos = i;
            break;
        }
    const uint32_t at = Offset32(Stream, aborting);
    Put(Stream, aborting, data, size);
    if (aborting)
        return;
    PxTIFFAddLong(List, 514, uint32_t(size));
    PxTIFFAddLong(List, 513, at);
    PxTIFFAddLong(List, 278, uint32_t(Image.GetHeight()));
    PxTIFFAddLong(List, 273, at + uint32_t(sos));
    PxTIFFAddLong(List, 279, uint32_t(size - sos));
    PxTIFFAddShort(List, 512, 1);
    PxTIFFAddShorts(List, 530, {2, 2});
}

// Writes a directory: entry count, sorted entries, next offset.
void WriteDirectory(classlib::TStream* Stream, bool& Aborting, std::vector<TTIFFIFDEntry>& Entries, uint32_t Next)
{
    PxTIFFSortEntries(Entries);
    PutU16(Stream, Aborting, uint32_t(Entries.size()));
    for (const TTIFFIFDEntry& e : Entries) {
        PutU16(Stream, Aborting, e.Tag);
        PutU16(Stream, Aborting, e.Type);
        PutU32(Stream, Aborting, e.Count);
        PutU32(Stream, Aborting, e.Value);
    }
    PutU32(Stream, Aborting, Next);
}

// The page tags that EXIF data gives.
void AddEXIFPageTags(TPxTIFFEntryList& Page, const TIOParamsVals& P)
{
    PxTIFFAddString(Page, 270, P.EXIFImageDescription);
    if (P.EXIFXResolution != 0)
        PxTIFFAddRational(Page, 282, P.EXIFXResolution);
    if (P.EXIFYResolution != 0)
        PxTIFFAddRational(Page, 283, P.EXIFYResolution);
    PxTIFFAddShort(Page, 274, uint16_t(P.TIFFOrientation));
    PxTIFFAddShort(Page, 296, 2);
    PxTIFFAddString(Page, 305, P.EXIFSoftware);
    PxTIFFAddString(Page, 315, P.EXIFArtist);
    PxTIFFAddString(Page, 271, P.EXIFMake);
    PxTIFFAddString(Page, 272, P.EXIFModel);
    PxTIFFAddString(Page, 306, P.EXIFDateTime);
    PxTIFFAddString(Page, 33432, P.EXIFCopyright);
    if (P.EXIFRating >= 0)
        PxTIFFAddShort(Page, 18246, uint16_t(P.EXIFRating));
    PxTIFFAddWideString(Page, 40091, P.EXIFXPTitle);
    PxTIFFAddWideString(Page, 40092, P.EXIFXPComment);
    PxTIFFAddWideString(Page, 40093, P.EXIFXPAuthor);
    PxTIFFAddWideString(Page, 40094, P.EXIFXPKeywords);
    PxTIFFAddWideString(Page, 40095, P.EXIFXPSubject);
    auto anySet = [](auto const& a) { return std::any_of(a.begin(), a.end(), [](double v) { return v != -1; }); };
    if (anySet(P.EXIFWhitePoint))
        PxTIFFAddRationals(Page, 318, std::vector<double>(P.EXIFWhitePoint.begin(), P.EXIFWhitePoint.end()));
    if (anySet(P.EXIFPrimaryChromaticities))
        PxTIFFAddRationals(Page, 319, std::vector<double>(P.EXIFPrimaryChromaticities.begin(),
                                                          P.EXIFPrimaryChromaticities.end()));
    if (anySet(P.EXIFYCbCrCoefficients))
        PxTIFFAddRationals(Page, 529,
                           std::vector<double>(P.EXIFYCbCrCoefficients.begin(), P.EXIFYCbCrCoefficients.end()));
    if (anySet(P.EXIFReferenceBlackWhite))
        PxTIFFAddRationals(Page, 532, std::vector<double>(P.EXIFReferenceBlackWhite.begin(),
                                                          P.EXIFReferenceBlackWhite.end()));
    if (P.EXIFYCbCrPositioning != 0)
        PxTIFFAddShort(Page, 531, uint16_t(P.EXIFYCbCrPositioning));
}

// A version tag of up to four characters, stored in the entry itself.
void AddVersionEntry(TPxTIFFEntryList& List, uint16_t Tag, const std::string& Version)
{
    TTIFFIFDEntry e{Tag, kUndefined, uint32_t(std::min<size_t>(Version.size(), 4)), 0};
    for (size_t i = 0; i < Version.size() && i < 4; ++i)
        e.Value |= uint32_t(uint8_t(Version[i])) << (8 * i);
    List.Entries.push_back(e);
}

// The camera tags of the EXIF sub-directory; those of the first run are
// written when they are marked in P, whatever their value.
void AddEXIFCameraTags(TPxTIFFEntryList& Exif, const TIOParamsVals& P)
{
    const TIOParamsVals* m = &P;
    PxTIFFAddRational(Exif, 33434, P.EXIFExposureTime, m);
    PxTIFFAddRational(Exif, 33437, P.EXIFFNumber, m);
    PxTIFFAddShort(Exif, 34850, uint16_t(P.EXIFExposureProgram), m);
    PxTIFFAddRational(Exif, 37122, P.EXIFCompressedBitsPerPixel, m);
    PxTIFFAddRational(Exif, 37377, P.EXIFShutterSpeedValue, m);
    PxTIFFAddRational(Exif, 37378, P.EXIFApertureValue, m);
    PxTIFFAddRational(Exif, 37379, P.EXIFBrightnessValue, m);
    PxTIFFAddRational(Exif, 37380, P.EXIFExposureBiasValue, m);
    PxTIFFAddRational(Exif, 37381, P.EXIFMaxApertureValue, m);
    PxTIFFAddRational(Exif, 37382, P.EXIFSubjectDistance, m);
    PxTIFFAddShort(Exif, 37383, uint16_t(P.EXIFMeteringMode), m);
    PxTIFFAddShort(Exif, 37384, uint16_t(P.EXIFLightSource), m);
    PxTIFFAddShort(Exif, 37385, uint16_t(P.EXIFFlash), m);
    PxTIFFAddRational(Exif, 37386, P.EXIFFocalLength, m);
    PxTIFFAddShort(Exif, 40961, uint16_t(P.EXIFColorSpace), m);
    PxTIFFAddShort(Exif, 40962, uint16_t(P.EXIFPixelXDimension), m);
    PxTIFFAddShort(Exif, 40963, uint16_t(P.EXIFPixelYDimension), m);
    PxTIFFAddRational(Exif, 41486, P.EXIFFocalPlaneXResolution, m);
    PxTIFFAddRational(Exif, 41487, P.EXIFFocalPlaneYResolution, m);
    PxTIFFAddShort(Exif, 41488, uint16_t(P.EXIFFocalPlaneResolutionUnit), m);
    PxTIFFAddRational(Exif, 41493, P.EXIFExposureIndex, m);
    PxTIFFAddShort(Exif, 41495, uint16_t(P.EXIFSensingMethod), m);
    PxTIFFAddUndefinedByte(Exif, 41728, uint8_t(P.EXIFFileSource), m);
    PxTIFFAddUndefinedByte(Exif, 41729, uint8_t(P.EXIFSceneType), m);
    if (P.EXIFISOSpeedRatings[1] != 0)
        PxTIFFAddShorts(Exif, 34855, {uint16_t(P.EXIFISOSpeedRatings[0]), uint16_t(P.EXIFISOSpeedRatings[1])});
    else if (P.EXIFISOSpeedRatings[0] != 0)
        PxTIFFAddShort(Exif, 34855, uint16_t(P.EXIFISOSpeedRatings[0]));
    AddVersionEntry(Exif, 36864, P.EXIFExifVersion);
    PxTIFFAddString(Exif, 36867, P.EXIFDateTimeOriginal);
    PxTIFFAddString(Exif, 36868, P.EXIFDateTimeDigitized);
    PxTIFFAddString(Exif, 37520, P.EXIFSubsecTime);
    PxTIFFAddString(Exif, 37521, P.EXIFSubsecTimeOriginal);
    PxTIFFAddString(Exif, 37522, P.EXIFSubsecTimeDigitized);
    PxTIFFAddString(Exif, 40964, P.EXIFRelatedSoundFile);
    PxTIFFAddString(Exif, 42016, P.EXIFImageUniqueID);
    if (!P.EXIFFlashPixVersion.empty())
        AddVersionEntry(Exif, 40960, P.EXIFFlashPixVersion);
    const std::pair<uint16_t, int32_t> shorts[] = {
        {41986, P.EXIFExposureMode}, {41987, P.EXIFWhiteBalance}, {41989, P.EXIFFocalLengthIn35mmFilm},
        {41990, P.EXIFSceneCaptureType}, {41991, P.EXIFGainControl}, {41992, P.EXIFContrast},
        {41993, P.EXIFSaturation}, {41994, P.EXIFSharpness}, {41996, P.EXIFSubjectDistanceRange}};
    for (auto [tag, value] : shorts)
        if (value != -1)
            PxTIFFAddShort(Exif, tag, uint16_t(value));
    if (P.EXIFDigitalZoomRatio != -1)
        PxTIFFAddRational(Exif, 41988, P.EXIFDigitalZoomRatio);
}

// The user comment: its 8-byte character code, then the text (UTF-16 or
// the code page's bytes) with its terminator; left out for an empty text or
// a code that is not 8 bytes.
void AddUserComment(TPxTIFFEntryList& Exif, const TIOParamsVals& P)
{
    if (P.EXIFUserComment.empty())
        return;
    const std::string code = P.EXIFUserCommentCode.empty() ? std::string("UNICODE\0", 8) : P.EXIFUserCommentCode;
    if (code.size() != 8)
        return;
    std::vector<uint8_t> bytes(code.begin(), code.end());
    if (code == std::string("UNICODE\0", 8)) {
        for (wchar_t c : P.EXIFUserComment) {
            bytes.push_back(uint8_t(c));
            bytes.push_back(uint8_t(uint16_t(c) >> 8));
        }
        bytes.push_back(0);
        bytes.push_back(0);
    } else {
        const std::string text = WideToAnsi(P.EXIFUserComment);
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
    }
    PxTIFFAddBlock(Exif, 37510, kUndefined, bytes);
}

// Writes a sub-directory at the next even offset and points the page's
// tag PointerTag at it.
void WriteSubDirectory(TPxTIFFEntryList& Page, TPxTIFFEntryList& Sub, uint16_t PointerTag)
{
    bool& aborting = *Page.Aborting;
    PxTIFFAlignEven(Page.Stream, aborting);
    const uint32_t at = Offset32(Page.Stream, aborting);
    WriteDirectory(Page.Stream, aborting, Sub.Entries, 0);
    PutU32(Page.Stream, aborting, at);
    PxTIFFAddLong(Page, PointerTag, at);
}

// "2.2.0.0" -> 2, 2, 0, 0 (missing or bad parts 0), first part lowest.
uint32_t GPSVersionBytes(const std::string& Version)
{
    uint32_t value = 0;
    size_t at = 0;
    for (int k = 0; k < 4 && at <= Version.size(); ++k) {
        const size_t dot = Version.find('.', at);
        const std::string part = Version.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
        int v = 0;
        for (char ch : part)
            v = ch >= '0' && ch <= '9' ? std::min(v * 10 + (ch - '0'), 255) : v;
        value |= uint32_t(v) << (8 * k);
        if (dot == std::string::npos)
            break;
        at = dot + 1;
    }
    return value;
}

// The altitude reference as a byte: its decimal digits (at most 255), 0
// when it is empty or not a number.
uint8_t GPSAltitudeRefByte(const std::string& Ref)
{
    int v = 0;
    bool number = !Ref.empty();
    for (char ch : Ref) {
        if (ch < '0' || ch > '9') {
            number = false;
            break;
        }
        v = std::min(v * 10 + (ch - '0'), 255);
    }
    return uint8_t(number ? v : 0);
}

// The GPS sub-directory's tags: every tag, whatever its value.
void AddGPSTags(TPxTIFFEntryList& Gps, const TIOParamsVals& P)
{
    AddEntry(Gps, 0, kByte, 4, GPSVersionBytes(P.EXIFGPSVersionID));
    const std::pair<uint16_t, const std::string*> refs[] = {
        {1, &P.EXIFGPSLatitudeRef},      {3, &P.EXIFGPSLongitudeRef},     {9, &P.EXIFGPSStatus},
        {10, &P.EXIFGPSMeasureMode},     {12, &P.EXIFGPSSpeedRef},        {14, &P.EXIFGPSTrackRef},
        {16, &P.EXIFGPSImgDirectionRef}, {19, &P.EXIFGPSDestLatitudeRef}, {21, &P.EXIFGPSDestLongitudeRef},
        {23, &P.EXIFGPSDestBearingRef},  {25, &P.EXIFGPSDestDistanceRef}};
    for (auto [tag, text] : refs)
        PxTIFFAddInlineASCII(Gps, tag, *text);
    const std::pair<uint16_t, const std::array<double, 3>*> triples[] = {
        {2, &P.EXIFGPSLatitude}, {4, &P.EXIFGPSLongitude}, {7, &P.EXIFGPSTimeStamp},
        {20, &P.EXIFGPSDestLatitude}, {22, &P.EXIFGPSDestLongitude}};
    for (auto [tag, values] : triples)
        PxTIFFAddRationals(Gps, tag, std::vector<double>(values->begin(), values->end()));
    PxTIFFAddByte(Gps, 5, GPSAltitudeRefByte(P.EXIFGPSAltitudeRef));
    const std::pair<uint16_t, double> singles[] = {
        {6, P.EXIFGPSAltitude}, {11, P.EXIFGPSDOP},          {13, P.EXIFGPSSpeed},       {15, P.EXIFGPSTrack},
        {17, P.EXIFGPSImgDirection}, {24, P.EXIFGPSDestBearing}, {26, P.EXIFGPSDestDistance}};
    for (auto [tag, value] : singles)
        PxTIFFAddRational(Gps, tag, value);
    PxTIFFAddString(Gps, 8, P.EXIFGPSSatellites);
    PxTIFFAddString(Gps, 18, P.EXIFGPSMapDatum);
    PxTIFFAddString(Gps, 29, P.EXIFGPSDateStamp);
}

// The EXIF-derived tags of the page, and the EXIF and GPS sub-directories.
void WriteEXIFTags(TPxTIFFEntryList& Page, TIOParamsVals& P)
{
    bool& aborting = *Page.Aborting;
    AddEXIFPageTags(Page, P);

    TPxTIFFEntryList exif;
    exif.Stream = Page.Stream;
    exif.Aborting = Page.Aborting;
    AddEXIFCameraTags(exif, P);
    AddUserComment(exif, P);
    if (P.EXIFMakerNote && P.EXIFMakerNote->GetDataSize() >= 13 && !aborting) {
        // The note's own offsets count from stream position 0, the header
        // of a file written from the start of its stream.
        PxTIFFAlignEven(Page.Stream, aborting);
        const uint32_t at = Offset32(Page.Stream, aborting);
        const int32_t n = P.EXIFMakerNote->WriteToStream(Page.Stream, true);
        if (n > 0)
            AddEntry(exif, 37500, kUndefined, uint32_t(n), at);
    }
    WriteSubDirectory(Page, exif, 34665);

    if (P.EXIFGPSVersionID.empty())
        return;
    TPxTIFFEntryList gps;
    gps.Stream = Page.Stream;
    gps.Aborting = Page.Aborting;
    AddGPSTags(gps, P);
    WriteSubDirectory(Page, gps, 34853);
}

// Walks the chain of the TIFF at position 0 for an insertion; false when
// the stream is not a little-endian TIFF or the chain is unsound.
bool FindInsertLink(classlib::TStream* Stream, int32_t Index, int64_t& LinkPos, uint32_t& LinkValue,
                    int32_t& Pages)
{
    const int64_t size = Stream->GetSize();
    uint8_t head[8];
    Stream->SetPosition(0);
    if (Stream->Read(head, 8) != 8 || head[0] != 'I' || head[1] != 'I' || head[2] != 42 || head[3] != 0)
        return false;
    auto readU32 = [&](int64_t at, uint32_t& v) {
        uint8_t b[4];
        Stream->SetPosition(at);
        if (!PxReadExact(Stream, b, 4))
            return false;
        v = PxLe32(b);
        return true;
    };
    std::set<uint32_t> seen;
    int64_t link = 4;
    Pages = 0;
    LinkPos = -1;
    for (;;) {
        uint32_t value = 0;
        if (!readU32(link, value))
            return false;
        if ((Pages == Index || (value == 0 && Pages < Index)) && LinkPos < 0) {
            LinkPos = link;
            LinkValue = value;
        }
        if (value == 0)
            break;
        if (value < 8 || int64_t(value) + 2 > size || !seen.insert(value).second)
            return false;
        uint8_t b[2];
        Stream->SetPosition(value);
        if (!PxReadExact(Stream, b, 2))
            return false;
        const int64_t count = PxLe16(b);
        link = int64_t(value) + 2 + 12 * count;
        if (link + 4 > size)
            return false;
        ++Pages;
    }
    return true;
}

// ---------------------------------------------------------------------------
// planning the page

// The page as it will be stored, decided before a byte is written: the
// image the rows are built from (the caller's bitmap or a converted copy
// owned here), the stored form, and for grey or palette output the
// quantizer and the palette it fills. Neither copied nor moved: the form
// points to the quantizer, the quantizer into the palette.
struct TPagePlan {
    TPagePlan() = default;
    TPagePlan(const TPagePlan&) = delete;
    TPagePlan& operator=(const TPagePlan&) = delete;

    // Replaces the image by a copy converted to Format; false when the copy
    // could not be allocated.
    bool ConvertTo(TPxPixelFormat Format)
    {
        auto c = std::make_unique<TPxBitmap>();
        if (!c->Allocate(Image->GetWidth(), Image->GetHeight(), Format))
            return false;
        PxConvertPixelsFrom(*c, *Image);
        Adopt(std::move(c));
        return true;
    }
    void Adopt(std::unique_ptr<TPxBitmap> Replacement)
    {
        Copy = std::move(Replacement);
        Image = Copy.get();
    }
    // Makes sure the image is a copy owned here, so that it may be changed.
    void OwnImage()
    {
        if (Copy)
            return;
        auto c = std::make_unique<TPxBitmap>();
        c->Assign(Image);
        Adopt(std::move(c));
    }

    TPxBitmap* Image = nullptr;
    std::unique_ptr<TPxBitmap> Copy;
    std::vector<TPxRGB> Palette = std::vector<TPxRGB>(256, TPxRGB{0, 0, 0});
    std::unique_ptr<TPxQuantizer> Quantizer;
    TStoredForm Form;
};

// Brings the image to a pixel format the rows are built from: bilevel
// exactly when the parameters ask for 1 sample of 1 bit, 16-bit grey only
// when they ask for 16 bits. False when a copy could not be allocated.
bool PlanImageFormat(TPagePlan& Plan, const TIOParamsVals& P)
{
    const bool wantsBilevel = P.SamplesPerPixel == 1 && P.BitsPerSample == 1;
    const TPxPixelFormat fmt = Plan.Image->GetPixelFormat();
    if (!wantsBilevel && fmt == px1g) {
        if (!Plan.ConvertTo(px24RGB))
            return false;
    } else if (wantsBilevel && fmt != px1g) {
        TPxRGB c0{}, c1{};
        std::unique_ptr<TPxBitmap> two = PxBilevelFromTwoColors(Plan.Image, c0, c1);
        if (two)
            Plan.Adopt(std::move(two));
        else if (!Plan.ConvertTo(px1g))
            return false;
    } else if (fmt == px32f || fmt == pxCIELab || fmt == px32RGB || (fmt == px16g && P.SamplesPerPixel != 1)) {
        // Formats the rows are not built from directly.
        if (!Plan.ConvertTo(px24RGB))
            return false;
    }
    if (Plan.Image->GetPixelFormat() == px16g && P.BitsPerSample != 16)
        return Plan.ConvertTo(px8g);
    return true;
}

// Grey or palette output (1 sample of 2 to 8 or 16 bits) goes through a
// quantizer of the image, which decides between grey and palette; 16-bit
// grey stays only as such. False when a copy could not be allocated.
bool PlanIndexedOutput(TPagePlan& Plan, TIOParamsVals& P)
{
    const TPxPixelFormat fmt = Plan.Image->GetPixelFormat();
    if (P.SamplesPerPixel == 1 && ((P.BitsPerSample >= 2 && P.BitsPerSample <= 8) || P.BitsPerSample == 16) &&
        fmt != pxCMYK && fmt != pxRGB48) {
        const int colours = std::min(1 << std::min(P.BitsPerSample, 8), 256);
        Plan.Quantizer = std::make_unique<TPxQuantizer>(*Plan.Image, std::span<TPxRGB>(Plan.Palette), 255, colours);
        // Deflate (10) is the same compression as ZIP (9) and stays too.
        if (P.TIFFCompression != 5 && P.TIFFCompression != 8 && P.TIFFCompression != 9 && P.TIFFCompression != 10)
            P.TIFFCompression = 0;
        if (Plan.Quantizer->GetGrey()) {
            P.TIFFPhotometric = 1;
        } else {
            P.TIFFPhotometric = 3;
            if (P.BitsPerSample == 16)
                P.BitsPerSample = 8;
        }
    }
    if (fmt == px16g && !(P.TIFFPhotometric == 1 && P.BitsPerSample == 16)) {
        if (!Plan.ConvertTo(px8g))
            return false;
        if (P.BitsPerSample == 16)
            P.BitsPerSample = 8;
    }
    return true;
}

// Makes photometric, samples and bits of the parameters a combination the
// writer stores for an image of format Fmt.
void RepairParams(TIOParamsVals& P, TPxPixelFormat Fmt, bool HasQuantizer)
{
    auto set = [&P](int32_t Samples, int32_t Bits, uint8_t Photometric) {
        P.SamplesPerPixel = Samples;
        P.BitsPerSample = Bits;
        P.TIFFPhotometric = Photometric;
    };
    if (P.TIFFPhotometric == 3 && P.SamplesPerPixel > 1)
        P.TIFFPhotometric = 2;
    if (Fmt == pxRGB48)
        set(3, 16, 2);
    if (P.BitsPerSample > 8 && P.SamplesPerPixel > 1)
        set(3, 8, 2);
    if (P.TIFFPhotometric <= 1 && P.SamplesPerPixel == 3 && P.BitsPerSample == 8)
        P.TIFFPhotometric = 2;
    if (P.TIFFPhotometric == 2 && P.SamplesPerPixel == 1 && P.BitsPerSample == 1)
        P.TIFFPhotometric = 1;
    if (P.TIFFPhotometric == 6 && P.TIFFCompression != 7)
        P.TIFFPhotometric = 2;
    if (P.TIFFPhotometric == 2 && P.SamplesPerPixel > 3)
        P.SamplesPerPixel = 3;
    if (Fmt == pxRGB48)  // again: the repairs above may have lowered the bits
        set(3, 16, 2);
    if (Fmt == pxCMYK)
        set(4, 8, 5);
    // Grey or palette output of a colour source needs the quantizer;
    // without one (the parameters asked for 1 sample of another depth) the
    // page is stored as RGB.
    if ((P.TIFFPhotometric <= 1 || P.TIFFPhotometric == 3) && Fmt != px1g && Fmt != px16g && !HasQuantizer)
        P.TIFFPhotometric = 2;
}

// The stored photometric and bits per sample.
void PlanPhotometric(TStoredForm& Form, const TIOParamsVals& P, TPxPixelFormat Fmt)
{
    switch (P.TIFFPhotometric) {
    case 0:
    case 1:
        Form.Photometric = 1;
        break;
    case 3:
    case 5:
    case 7:
        Form.Photometric = P.TIFFPhotometric;
        break;
    default:
        Form.Photometric = 2;
        break;
    }
    if ((Form.Photometric == 5 || Form.Photometric == 7) && Fmt != pxCMYK && !PxConvertColorRowHook)
        Form.Photometric = 2;  // no colour conversion available
    if (Fmt == px1g)
        Form.Photometric = 1;
    Form.Bits = Fmt == px1g ? 1 : Fmt == px16g || Fmt == pxRGB48 ? 16 : P.BitsPerSample;
    if (Form.Photometric == 2 || Form.Photometric == 5 || Form.Photometric == 7)
        Form.Bits = Fmt == pxRGB48 ? 16 : 8;
}

// The stored compression and fill order (JPEG also decides photometric and
// bits). Returns true when the image's bits are to be inverted (CCITT codes
// 1 for black).
bool PlanCompression(TStoredForm& Form, const TIOParamsVals& P, TPxPixelFormat Fmt)
{
    switch (P.TIFFCompression) {
    case 1:
        Form.Compression = kCompMH;
        break;
    case 2:
        Form.Compression = kCompG3;
        break;
    case 3:
        Form.Compression = kCompG3;
        Form.TwoD = true;
        break;
    case 4:
        Form.Compression = kCompG4;
        break;
    case 5:
        Form.Lzw = P.TIFFLZWCompress ? P.TIFFLZWCompress : PxGlobalTIFFLZWCompress;
        Form.Compression = Form.Lzw ? kCompLZW : kCompNone;
        break;
    case 6:
    case 7:
        Form.Compression = P.TIFFCompression == 6 ? kCompOldJPEG : kCompJPEG;
        Form.JPEGQuality = P.TIFFJPEGQuality;
        Form.JPEGColorSpace = P.TIFFJPEGColorSpace;
        switch (Form.JPEGColorSpace) {
        case 1:
            Form.Photometric = 1;
            break;
        case 2:
            Form.Photometric = 6;
            break;
        case 3:
            Form.Photometric = 5;
            break;
        case 4:
            Form.Photometric = 2;
            Form.JPEGColorSpace = 0;
            break;
        default:
            Form.Photometric = 2;
            break;
        }
        Form.Bits = 8;
        break;
    case 8:
        Form.Compression = kCompPackBits;
        break;
    case 9:
    case 10:
        Form.Compression = kCompDeflate;
        break;
    default:
        Form.Compression = kCompNone;
        break;
    }
    bool invert = false;
    if (Form.Compression >= kCompMH && Form.Compression <= kCompG4) {
        if (Fmt != px1g)
            Form.Compression = kCompNone;  // CCITT needs a bilevel image
        else
            invert = true;
    }
    const bool jpeg = Form.Compression == kCompJPEG || Form.Compression == kCompOldJPEG;
    if (jpeg && (Fmt == px1g || Fmt == px16g || Fmt == pxRGB48)) {
        // The JPEG writer takes 8-bit colour; such pages are stored plain.
        Form.Compression = kCompNone;
        Form.Photometric = Fmt == px1g || Fmt == px16g ? 1 : 2;
        Form.Bits = Fmt == px1g ? 1 : Fmt == px16g || Fmt == pxRGB48 ? 16 : 8;
    }
    if (jpeg && Form.JPEGColorSpace == 4) {
        Form.JPEGColorSpace = 0;
        Form.Photometric = 2;
    }
    Form.FillOrder = P.TIFFFillOrder == 2 ? 2 : 1;
    return invert;
}

// Samples per pixel, the alpha sample and the predictor.
void PlanSamples(TStoredForm& Form, TPxBitmap& Image, TPxPixelFormat Fmt)
{
    switch (Form.Photometric) {
    case 1:
    case 3:
        Form.Samples = 1;
        break;
    case 5:
        Form.Samples = 4;
        break;
    default:
        Form.Samples = 3;
        break;
    }
    if (Fmt == px1g || Fmt == px16g)
        Form.Samples = 1;
    // (GetAlphaChannel would create a channel: ask first.)
    if (Image.HasAlphaChannel() && !Image.GetAlphaChannel()->FullAlpha && Form.Samples == 3 && Form.Bits == 8 &&
        Fmt != pxRGB48 &&
        (Form.Compression == kCompNone || Form.Compression == kCompLZW || Form.Compression == kCompPackBits)) {
        Form.AlphaSample = true;
        Form.Samples = 4;
    }
    if (Form.Compression == kCompLZW && Form.Bits == 8 && (Form.Samples == 1 || Form.Samples == 3) &&
        Form.Photometric != 3 && Form.Photometric != 1 && !Image.HasAlphaChannel())
        Form.Predictor = 2;
}

// Decides how Bitmap (nullptr: the parameter tags only) is stored and
// adjusts the parameters to it (photometric, samples, bits, compression).
// False when a converted copy could not be allocated.
bool PlanPage(TPxBitmap* Bitmap, TIOParamsVals& P, TPagePlan& Plan)
{
    Plan.Form.Params = &P;
    Plan.Image = Bitmap;
    if (!Bitmap)
        return true;
    if (!PlanImageFormat(Plan, P) || !PlanIndexedOutput(Plan, P))
        return false;
    TStoredForm& form = Plan.Form;
    const TPxPixelFormat fmt = Plan.Image->GetPixelFormat();
    RepairParams(P, fmt, Plan.Quantizer != nullptr);
    PlanPhotometric(form, P, fmt);
    const bool invert = PlanCompression(form, P, fmt);
    PlanSamples(form, *Plan.Image, fmt);
    if (invert) {
        Plan.OwnImage();
        PxInvertBitmapBits(Plan.Image);
    }
    form.Quantizer = Plan.Quantizer.get();
    // The adjusted parameters tell what was stored.
    P.SamplesPerPixel = form.Samples;
    P.BitsPerSample = form.Bits;
    return true;
}

// ---------------------------------------------------------------------------
// writing the page

// Where the page's directory is linked from: a new file's header at Start,
// or the link field at LinkPos of an existing chain, whose old value becomes
// the new directory's next link. Pages: what the write returns.
struct TPageLink {
    bool Insert = false;
    int64_t Start = 0;
    int64_t LinkPos = -1;
    uint32_t LinkValue = 0;
    int32_t Pages = 1;
};

// Starts the page: a placeholder header for a new file at the stream's
// position, or, for an insertion before page Index, the link to change and
// the stream at its end (made even). False with the aborting flag set.
bool OpenPage(classlib::TStream* Stream, bool InsertPage, int32_t Index, bool& Aborting, TPageLink& Link)
{
    Link.Insert = InsertPage;
    if (!InsertPage) {
        Link.Start = Stream->GetPosition();
        const uint8_t placeholder[8] = {};
        Put(Stream, Aborting, placeholder, 8);
        return !Aborting;
    }
    int32_t pages = 0;
    bool ok = false;
    try {
        ok = FindInsertLink(Stream, Index, Link.LinkPos, Link.LinkValue, pages);
    } catch (const classlib::Exception&) {
        ok = false;
    }
    if (!ok || Link.LinkPos < 0) {
        Aborting = true;
        return false;
    }
    Link.Pages = pages + 1;
    Stream->Seek(0, classlib::soEnd);
    PxTIFFAlignEven(Stream, Aborting);
    return !Aborting;
}

// Resolution and description, from the EXIF group when the parameters carry
// EXIF (with its sub-directories).
void AddDescriptionTags(TPxTIFFEntryList& List, TIOParamsVals& P)
{
    if (P.HasEXIF) {
        WriteEXIFTags(List, P);
        return;
    }
    PxTIFFAddString(List, 270, P.TIFFImageDescription);
    PxTIFFAddRational(List, 282, P.DpiX);
    PxTIFFAddRational(List, 283, P.DpiY);
    PxTIFFAddShort(List, 296, 2);
}

// Size, sample layout, compression, photometric, document name and the
// CCITT page tags.
void AddImageTags(TPxTIFFEntryList& List, const TPagePlan& Plan, const TIOParamsVals& P)
{
    const TStoredForm& form = Plan.Form;
    PxTIFFAddLong(List, 256, uint32_t(Plan.Image->GetWidth()));
    PxTIFFAddLong(List, 257, uint32_t(Plan.Image->GetHeight()));
    const std::vector<uint16_t> bits(size_t(form.Samples), uint16_t(form.Bits));
    if (bits.size() == 1)
        PxTIFFAddShort(List, 258, bits[0]);
    else
        PxTIFFAddShorts(List, 258, bits);
    PxTIFFAddShort(List, 259, uint16_t(form.Compression));
    const bool ccitt = form.Compression >= kCompMH && form.Compression <= kCompG4;
    uint16_t photometric = form.Photometric == 7 ? 8 : form.Photometric;
    if (Plan.Image->GetPixelFormat() == px1g)
        photometric = ccitt ? 0 : 1;
    PxTIFFAddShort(List, 262, photometric);
    PxTIFFAddString(List, 269, P.TIFFDocumentName);
    if (ccitt) {
        PxTIFFAddShort(List, 266, uint16_t(form.FillOrder));
        PxTIFFAddShort(List, 284, 1);
        PxTIFFAddShort(List, 327, 0);
    }
}

// The pixel data and the tags locating them.
void WritePixels(classlib::TStream* Stream, TPxTIFFEntryList& List, TPagePlan& Plan, TPxIOProgressInfo& Progress)
{
    TPxAccessScope access(*Plan.Image, pxAccessRead);
    if (Plan.Form.Compression == kCompOldJPEG)
        WriteOldJPEG(Stream, List, *Plan.Image, Plan.Form, Progress);
    else
        WriteStrips(Stream, List, *Plan.Image, Plan.Form, Progress);
}

// Samples per pixel, extra alpha sample, predictor and the CCITT options.
void AddStorageTags(TPxTIFFEntryList& List, const TStoredForm& Form)
{
    PxTIFFAddShort(List, 277, uint16_t(Form.Samples));
    // The alpha sample is written beside unscaled colours, so it is marked
    // unassociated (2): a reader that un-premultiplies associated alpha would
    // otherwise brighten every semi-transparent pixel.
    if (Form.AlphaSample)
        PxTIFFAddShort(List, 338, 2);
    if (Form.Predictor == 2)
        PxTIFFAddShort(List, 317, 2);
    if (Form.Compression == kCompG3)
        PxTIFFAddLong(List, 292, Form.TwoD ? 1 : 0);
    if (Form.Compression == kCompG4)
        PxTIFFAddLong(List, 292, 0);
    if (Form.Compression == kCompG3 || Form.Compression == kCompG4)
        PxTIFFAddLong(List, 293, 0);
}

// Page name, position and number, and the metadata blocks of the
// parameters (IPTC, annotations, XMP, an input profile not yet applied).
void AddPageTags(TPxTIFFEntryList& List, TIOParamsVals& P)
{
    PxTIFFAddString(List, 285, P.TIFFPageName);
    if (P.TIFFXPos != 0)
        PxTIFFAddRational(List, 286, P.TIFFXPos);
    if (P.TIFFYPos != 0)
        PxTIFFAddRational(List, 287, P.TIFFYPos);
    PxTIFFAddLong(List, 254, 0);
    if (P.TIFFPageNumber >= 0 || P.TIFFPageCount >= 0)
        PxTIFFAddShorts(List, 297,
                        {uint16_t(std::max(P.TIFFPageNumber, 0)), uint16_t(std::max(P.TIFFPageCount, 0))});
    if (P.IPTCInfo && P.IPTCInfo->GetCount() > 0)
        PxTIFFAddBlock(List, 33723, kLong, P.IPTCInfo->SaveToBuffer(false));
    if (P.ImagingAnnot) {
        const std::vector<uint8_t> annot = P.ImagingAnnot->SaveToBuffer();
        PxTIFFAddBlock(List, uint16_t(P.ImagingAnnotTag != 0 ? P.ImagingAnnotTag : 32932), kByte, annot);
    }
    if (!P.XMPInfo.empty())
        PxTIFFAddBlock(List, 700, kByte, std::vector<uint8_t>(P.XMPInfo.begin(), P.XMPInfo.end()));
    if (P.InputICCProfile && P.InputICCProfile->IsValid() && !P.InputICCProfile->GetApplied() &&
        P.InputICCProfile->GetRawLength() > 0) {
        const uint8_t* raw = P.InputICCProfile->GetRaw();
        PxTIFFAddBlock(List, 34675, kUndefined, std::vector<uint8_t>(raw, raw + P.InputICCProfile->GetRawLength()));
    }
}

// The colour map of a palette page: red, green, blue, 16 bits each.
void AddColorMap(TPxTIFFEntryList& List, const TPagePlan& Plan)
{
    if (Plan.Form.Photometric != 3 || !Plan.Quantizer)
        return;
    const int n = 1 << Plan.Form.Bits;
    std::vector<uint16_t> map(size_t(3 * n), 0);
    for (int i = 0; i < n && i < 256; ++i) {
        const TPxRGB& c = Plan.Palette[size_t(i)];
        map[size_t(i)] = uint16_t(c.r * 257);
        map[size_t(n + i)] = uint16_t(c.g * 257);
        map[size_t(2 * n + i)] = uint16_t(c.b * 257);
    }
    PxTIFFAddShorts(List, 320, map);
}

// Points the new file's header, or the changed link, to the directory at
// DirectoryAt.
void LinkDirectory(classlib::TStream* Stream, bool& Aborting, const TPageLink& Link, uint32_t DirectoryAt)
{
    if (!Link.Insert) {
        Stream->SetPosition(Link.Start);
        const uint8_t head[4] = {'I', 'I', 42, 0};
        Put(Stream, Aborting, head, 4);
    } else {
        Stream->SetPosition(Link.LinkPos);
    }
    PutU32(Stream, Aborting, DirectoryAt);
}

// Emits the planned page: the pixel data, the values the entries do not
// hold, the directory, and last the link to it. Returns the page count
// (PxWriteTIFF's result) or 0 with the aborting flag set.
int32_t WritePage(classlib::TStream* Stream, bool InsertPage, TPagePlan& Plan, TIOParamsVals& P,
                  TPxIOProgressInfo& Progress, bool& Aborting)
{
    TPageLink link;
    if (!OpenPage(Stream, InsertPage, P.TIFFImageIndex, Aborting, link))
        return 0;
    TPxTIFFEntryList list;
    list.Stream = Stream;
    list.Aborting = &Aborting;
    try {
        AddDescriptionTags(list, P);
        if (Plan.Image) {
            AddImageTags(list, Plan, P);
            WritePixels(Stream, list, Plan, Progress);
        }
        if (Aborting)
            return 0;
        if (Plan.Image)
            AddStorageTags(list, Plan.Form);
        AddPageTags(list, P);
        if (Plan.Image)
            AddColorMap(list, Plan);
        if (Aborting)
            return 0;

        PxTIFFAlignEven(Stream, Aborting);
        const uint32_t directoryAt = Offset32(Stream, Aborting);
        if (Aborting)
            return 0;
        LinkDirectory(Stream, Aborting, link, directoryAt);
        Stream->SetPosition(directoryAt);
        WriteDirectory(Stream, Aborting, list.Entries, link.Insert ? link.LinkValue : 0);
    } catch (const classlib::Exception&) {
        Aborting = true;
    }
    Progress.Progress(100);
    return Aborting ? 0 : link.Pages;
}

}  // namespace

int32_t PxWriteTIFF(classlib::TStream* Stream, bool InsertPage, TPxBitmap* Bitmap, TPxIOProgressInfo& Progress,
                    TIOParamsVals& Params)
{
    TPxAbortFlagScope abortScope(Progress);
    bool& aborting = *Progress.Aborting;
    if (aborting || !Stream)
        return 0;
    if (Bitmap && (Bitmap->IsEmpty() || Bitmap->GetWidth() < 1 || Bitmap->GetHeight() < 1)) {
        aborting = true;
        return 0;
    }
    TPagePlan plan;
    if (!PlanPage(Bitmap, Params, plan)) {
        aborting = true;
        return 0;
    }
    return WritePage(Stream, InsertPage, plan, Params, Progress, aborting);
}

bool PxCopyEXIFToTIFF(classlib::TStream* InputStream, classlib::TStream* OutputStream,
                      const std::wstring& InputFileName, TIOParamsVals& Params, int32_t Page,
                      const std::wstring& OutputFileName)
{
    std::vector<uint8_t> block;
    PxSaveEXIFToBuffer(Params, block, false);
    TPxMemStream blockStream(block.data(), int64_t(block.size()));
    std::unique_ptr<TPxTIFFHandler> exif = TPxTIFFHandler::CreateFromStream(&blockStream);
    const int64_t inputStart = InputStream ? InputStream->GetPosition() : 0;
    std::unique_ptr<TPxTIFFHandler> target =
        InputStream ? TPxTIFFHandler::CreateFromStream(InputStream) : TPxTIFFHandler::CreateFromFile(InputFileName);
    static const uint16_t kTags[] = {271,   272,   306,   274,   282,   283,   296,   305,
                                     315,   318,   531,   319,   529,   532,   33432, 18246,
                                     40091, 40092, 40093, 40094, 40095, 34665, 34853};
    for (uint16_t tag : kTags) {
        const int index = exif->FindTag(0, tag);
        if (index >= 0)
            target->CopyTag(*exif, 0, index, Page);
    }
    if (OutputStream) {
        if (OutputStream == InputStream)
            OutputStream->SetPosition(inputStart);
        target->WriteStream(OutputStream, -1);
    } else {
        target->WriteFile(OutputFileName, -1);
    }
    return true;
}

void PxWriteTIFFFormat(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                       TPxIOProgressInfo& Progress)
{
    try {
        PxWriteTIFF(Stream, false, Bitmap, Progress, Params);
    } catch (const std::exception&) {
        Progress.Abort();
    }
}

void PxInstallTIFFWriter()
{
    PxSetBuiltInFormatWriter(ffTIFF, PxWriteTIFFFormat);
}

}  // namespace imaging
