#include "imaging/io/core/RawPixels.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

enum TValueKind { vkByte, vkWord, vkFloat, vkBit };

constexpr int kMaxDigits = 34;

bool IsDecimalDigit(int c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(int c) { return IsDecimalDigit(c) || (c >= 'A' && c <= 'F'); }

// The reading state of one call: the buffered source, the data format and
// the progress bookkeeping.
class TRawPixelsReader {
public:
    TRawPixelsReader(classlib::TStream* Source, uint8_t DataFormat, TPxIOProgressInfo& Progress)
        : stream_(Source, true, 8192), format_(DataFormat), progress_(Progress)
    {
    }

    void Skip(int64_t Count)
    {
        if (Count > 0)
            stream_.Seek(Count, classlib::soCurrent);
    }

    void Report(int Per)
    {
        if (Per == lastPer_)
            return;
        lastPer_ = Per;
        progress_.Progress(Per);
    }

    // Count values of the kind into Dest; binary data take Bytes bytes
    // instead.
    void ReadValues(uint8_t* Dest, int Count, int64_t Bytes, TValueKind Kind)
    {
        if (format_ != 1 && format_ != 2) {
            if (Bytes > 0)
                stream_.Read(Dest, Bytes);
            return;
        }
        const bool hex = format_ == 2;
        if (hex && Kind == vkFloat)
            throw classlib::Exception(L"Format unsupported");
        for (int i = 0; i < Count; ++i) {
            const std::string digits = NextNumber(hex);
            switch (Kind) {
            case vkBit: PxSetBit(Dest, i, ToInteger(digits, hex) != 0); break;
            case vkByte: Dest[i] = static_cast<uint8_t>(ToInteger(digits, hex)); break;
            case vkWord: {
                const auto v = static_cast<uint16_t>(ToInteger(digits, hex));
                std::memcpy(Dest + 2 * i, &v, 2);
                break;
            }
            case vkFloat: {
                const auto f = static_cast<float>(PxStrToFloatDef(std::wstring(digits.begin(), digits.end()), 0));
                std::memcpy(Dest + 4 * i, &f, 4);
                break;
            }
            }
        }
    }

private:
    int ReadChar()
    {
        uint8_t c;
        return stream_.Read(&c, 1) == 1 ? c : -1;
    }

    // Skips up to the next digit and reads the number that starts there
    // (at most kMaxDigits digits; the character that ends it is consumed).
    // Empty at the end of the data.
    std::string NextNumber(bool Hex)
    {
        auto isDigit = Hex ? IsHexDigit : IsDecimalDigit;
        int c = ReadChar();
        while (c >= 0 && !isDigit(c))
            c = ReadChar();
        std::string digits;
        while (c >= 0 && isDigit(c)) {
            digits.push_back(static_cast<char>(c));
            if (static_cast<int>(digits.size()) == kMaxDigits)
                break;
            c = ReadChar();
        }
        return digits;
    }

    static uint32_t ToInteger(const std::string& Digits, bool Hex)
    {
        if (!Hex)
            return static_cast<uint32_t>(PxStrToIntDefA(Digits, 0));
        uint32_t v = 0;
        for (char c : Digits)
            v = v * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'A' + 10);
        return v;
    }

    TPxBufferedReadStream stream_;
    uint8_t format_;
    TPxIOProgressInfo& progress_;
    int lastPer_ = -1;
};

TValueKind KindOf(TPxPixelFormat Format)
{
    switch (Format) {
    case px1g: return vkBit;
    case px16g:
    case pxRGB48: return vkWord;
    case px32f: return vkFloat;
    default: return vkByte;
    }
}

void ReadRows(TRawPixelsReader& Reader, TPxBitmap* Bitmap, const TIOParamsVals& Params, double Step,
              const TPxIOProgressInfo& Progress)
{
    const TPxPixelFormat format = Bitmap->GetPixelFormat();
    const int width = Bitmap->GetWidth();
    const int height = Bitmap->GetHeight();
    const int64_t bitmapRow = Bitmap->GetRowLen();
    const int64_t fileRow = PxBitmapRowLen(width, Bitmap->GetBitCount(), Params.RawPixelsRowAlign);
    const int64_t bytes = std::min(bitmapRow, fileRow);
    const int values = width * PxPixelFormatChannels[format];
    for (int r = 0; r < height && !Progress.Aborted(); ++r) {
        Reader.ReadValues(Bitmap->GetScanline(r), values, bytes, KindOf(format));
        if (fileRow > bitmapRow)
            Reader.Skip(fileRow - bitmapRow);
        Reader.Report(static_cast<int>(Step * r));
    }
}

// One plane: the file's plane rows (width values each) go to the channel at
// byte Offset of every Stride-byte pixel.
void ReadPlane(TRawPixelsReader& Reader, TPxBitmap* Bitmap, const TIOParamsVals& Params, int Offset, int Stride,
               bool Words, const TPxIOProgressInfo& Progress)
{
    const int width = Bitmap->GetWidth();
    const int height = Bitmap->GetHeight();
    const int valueSize = Words ? 2 : 1;
    const int64_t planeRow = PxBitmapRowLen(width, 8 * valueSize, Params.RawPixelsRowAlign);
    std::vector<uint8_t> buffer(static_cast<size_t>(std::max<int64_t>(planeRow, int64_t(width) * valueSize)));
    for (int r = 0; r < height && !Progress.Aborted(); ++r) {
        Reader.ReadValues(buffer.data(), width, planeRow, Words ? vkWord : vkByte);
        uint8_t* row = Bitmap->GetScanline(r);
        for (int i = 0; i < width; ++i)
            std::memcpy(row + Offset + int64_t(i) * Stride, buffer.data() + int64_t(i) * valueSize, valueSize);
    }
}

void SwapRows(TPxBitmap* Bitmap, bool Words)
{
    const int width = Bitmap->GetWidth();
    for (int r = 0; r < Bitmap->GetHeight(); ++r) {
        if (Words)
            PxSwapRB48(Bitmap->GetScanline(r), width);
        else
            PxSwapRBTriples(Bitmap->GetScanline(r), width);
    }
}

}  // namespace

void PxReadRawPixels(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                     TPxIOProgressInfo& Progress)
{
    if (!Stream || !Bitmap)
        return;
    const TPxPixelFormat format = Bitmap->GetPixelFormat();
    const int height = Bitmap->GetHeight();
    if (height <= 0 || Bitmap->GetWidth() <= 0)
        return;
    const double step = 100.0 / height;
    TRawPixelsReader reader(Stream, Params.RawPixelsDataFormat, Progress);
    reader.Skip(Params.RawPixelsHeaderSize);
    TPxAccessScope access(*Bitmap, pxAccessReadWrite);
    switch (format) {
    case px1g:
    case px8p:
    case px8g:
    case px16g:
    case px32f: ReadRows(reader, Bitmap, Params, step, Progress); break;
    case px24RGB:
        if (!Params.RawPixelsPlanar) {
            ReadRows(reader, Bitmap, Params, step, Progress);
        } else {
            for (int plane = 0; plane < 3; ++plane) {
                reader.Report(plane * 33);
                ReadPlane(reader, Bitmap, Params, plane, 3, false, Progress);
            }
            reader.Report(100);
        }
        if (!Params.RawPixelsBGR)
            SwapRows(Bitmap, false);
        break;
    case pxCMYK:
        if (!Params.RawPixelsPlanar) {
            ReadRows(reader, Bitmap, Params, step, Progress);
        } else {
            for (int plane = 0; plane < 4; ++plane) {
                reader.Report(plane * 25);
                ReadPlane(reader, Bitmap, Params, plane, 4, false, Progress);
            }
            reader.Report(100);
        }
        break;
    case pxRGB48:
        if (!Params.RawPixelsPlanar) {
            ReadRows(reader, Bitmap, Params, step, Progress);
        } else {
            for (int plane = 0; plane < 3; ++plane) {
                reader.Report(plane * 33);
                ReadPlane(reader, Bitmap, Params, 2 * plane, 6, true, Progress);
            }
            reader.Report(100);
        }
        // The bitmap keeps red first: only a blue-first file is turned.
        if (Params.RawPixelsBGR)
            SwapRows(Bitmap, true);
        break;
    default: break;
    }
}

void PxInstallRawPixelsFormat()
{
    PxSetBuiltInFormatReader(ffRawData, [](classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                                           bool Preview, TPxIOProgressInfo& Progress) {
        if (!Preview)
            PxReadRawPixels(Stream, Bitmap, Params, Progress);
    });
}

}  // namespace imaging
