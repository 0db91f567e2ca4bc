#include "imaging/io/core/ReadGuard.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

namespace {

// The message table, in the order of TPxReadFailure.
const wchar_t* const kFailureTexts[] = {
    L"",
    L"the file could not be read as an image",
    L"no reader for this kind of file",
    L"the file ends before its image does",
    L"the image header is damaged",
    L"this variant of the format is not supported",
    L"the file holds no image",
    L"the image is too large",
    L"the image is larger than the file's data",
    L"the image data are damaged",
    L"not enough memory for the image",
    L"the load was stopped",
};
static_assert(std::size(kFailureTexts) == size_t(TPxReadFailure::Stopped) + 1, "one text per reason");

}  // namespace

std::wstring PxReadFailureText(TPxReadFailure Failure)
{
    const size_t i = size_t(Failure);
    return i < std::size(kFailureTexts) ? kFailureTexts[i] : kFailureTexts[size_t(TPxReadFailure::Unreadable)];
}

// ---- exact reads

bool PxReadExact(classlib::TStream* Stream, void* Buffer, int64_t Count)
{
    return Count <= 0 || Stream->Read(Buffer, Count) == Count;
}

// ---- TPxByteReader

TPxByteReader::TPxByteReader(classlib::TStream& Stream, TPxByteOrder Order)
    : stream_(&Stream), end_(Stream.GetSize()), order_(Order)
{
}

TPxByteReader::TPxByteReader(const uint8_t* Data, size_t Size, TPxByteOrder Order)
    : data_(Data), end_(static_cast<int64_t>(Size)), order_(Order)
{
}

int64_t TPxByteReader::Position() const { return stream_ ? stream_->GetPosition() : pos_; }

int64_t TPxByteReader::Remaining() const
{
    const int64_t left = end_ - Position();
    return left > 0 ? left : 0;
}

bool TPxByteReader::Seek(int64_t Pos)
{
    if (Pos < 0 || Pos > end_) {
        failed_ = true;
        return false;
    }
    if (stream_)
        stream_->SetPosition(Pos);
    else
        pos_ = Pos;
    return true;
}

bool TPxByteReader::Skip(int64_t Count)
{
    if (Count < 0 || Count > Remaining()) {
        failed_ = true;
        return false;
    }
    return Seek(Position() + Count);
}

bool TPxByteReader::Read(void* Buffer, int64_t Count)
{
    if (Count <= 0)
        return Count == 0;
    if (Count > Remaining()) {
        failed_ = true;
        return false;
    }
    if (stream_) {
        const int64_t start = stream_->GetPosition();
        if (stream_->Read(Buffer, Count) != Count) {
            stream_->SetPosition(start);
            failed_ = true;
            return false;
        }
        return true;
    }
    const uint8_t* from = data_ + pos_;
    std::copy(from, from + Count, static_cast<uint8_t*>(Buffer));
    pos_ += Count;
    return true;
}

uint8_t TPxByteReader::U8()
{
    uint8_t b = 0;
    return Read(&b, 1) ? b : 0;
}

uint16_t TPxByteReader::U16()
{
    uint8_t b[2];
    if (!Read(b, 2))
        return 0;
    return order_ == TPxByteOrder::Little ? PxLe16(b) : PxBe16(b);
}

uint32_t TPxByteReader::U32()
{
    uint8_t b[4];
    if (!Read(b, 4))
        return 0;
    return order_ == TPxByteOrder::Little ? PxLe32(b) : PxBe32(b);
}

// ---- the raster check

namespace {

// Decoded bytes one coded byte can give at best (0: no bound by ratio).
int64_t BestRatio(TPxCoding Coding)
{
    switch (Coding) {
    case TPxCoding::Raw: return 1;
    case TPxCoding::RawShort: return 16;
    case TPxCoding::PackBits: return 64;
    case TPxCoding::Rle: return 128;
    case TPxCoding::Lzw: return 4096;
    case TPxCoding::Deflate: return 1040;
    default: return 0;
    }
}

// a * b when it stays within Limit; false otherwise (both not negative).
bool MulWithin(int64_t a, int64_t b, int64_t Limit, int64_t& Result)
{
    if (a != 0 && b > Limit / a)
        return false;
    Result = a * b;
    return Result <= Limit;
}

// MoreThanData when the data cannot code All bytes of samples at the
// coding's best ratio.
TPxReadFailure DataBound(const TPxRasterCheck& C, int64_t all)
{
    constexpr int64_t kBig = std::numeric_limits<int64_t>::max() / 4;
    // What the data can code at best, in the unit of "all".
    const int64_t data = C.DataBytes;
    switch (C.Coding) {
    case TPxCoding::Fax: {
        // One bit per row at least.
        int64_t rows = 0;
        if (!MulWithin(C.Height, C.Frames, kBig, rows))
            return TPxReadFailure::TooLarge;
        return rows <= data * 8 + 8 ? TPxReadFailure::None : TPxReadFailure::MoreThanData;
    }
    case TPxCoding::Jpeg: {
        // The component of the largest sampling factors has one 8 x 8 block
        // per 64 pixels, and the first DC scan codes every block in one
        // Huffman code of at least one bit.
        const int64_t blocksX = (C.Width + 7) / 8;
        const int64_t blocksY = (C.Height + 7) / 8;
        int64_t blocks = 0;
        if (!MulWithin(blocksX, blocksY, kBig, blocks) || !MulWithin(blocks, C.Frames, kBig, blocks))
            return TPxReadFailure::TooLarge;
        return blocks <= data * 8 + 8 ? TPxReadFailure::None : TPxReadFailure::MoreThanData;
    }
    default: break;
    }
    const int64_t ratio = BestRatio(C.Coding);
    if (ratio == 0)
        return TPxReadFailure::None;
    if (data > kBig / ratio)
        return TPxReadFailure::None;
    return all <= data * ratio + PxSmallImageBytes ? TPxReadFailure::None : TPxReadFailure::MoreThanData;
}

}  // namespace

TPxReadFailure PxCheckRaster(const TPxRasterCheck& C)
{
    if (C.Width <= 0 || C.Height <= 0 || C.Frames <= 0)
        return TPxReadFailure::NoImage;
    if (C.Width > PxMaxImageSide || C.Height > PxMaxImageSide || C.CodedBits <= 0 || C.CodedBits > 1024 ||
        C.StorageBits < 0 || C.StorageBits > 1024)
        return TPxReadFailure::TooLarge;
    const int64_t storageBits = C.StorageBits > 0 ? C.StorageBits : C.CodedBits;
    // Rows are padded to whole bytes (and to words by the storage).
    const int64_t storageRow = (C.Width * storageBits + 31) / 32 * 4;
    int64_t storage = 0;
    if (!MulWithin(storageRow, C.Height, PxMaxImageBytes, storage))
        return TPxReadFailure::TooLarge;
    if (C.DataBytes < 0)
        return TPxReadFailure::None;

    const int64_t codedRow = (C.Width * C.CodedBits + 7) / 8;
    constexpr int64_t kBig = std::numeric_limits<int64_t>::max() / 4;
    int64_t coded = 0;
    int64_t all = 0;
    if (!MulWithin(codedRow, C.Height, kBig, coded) || !MulWithin(coded, C.Frames, kBig, all))
        return TPxReadFailure::TooLarge;
    const TPxReadFailure bound = all <= PxSmallImageBytes ? TPxReadFailure::None : DataBound(C, all);
    if (bound != TPxReadFailure::None)
        return bound;
    // No image comes out of no data, and raw samples that end inside the
    // first row leave nothing but blank: the file is cut short (also when
    // the image is small).
    if (C.DataBytes == 0)
        return TPxReadFailure::Truncated;
    if ((C.Coding == TPxCoding::Raw || C.Coding == TPxCoding::RawShort) && C.DataBytes < codedRow)
        return TPxReadFailure::Truncated;
    return TPxReadFailure::None;
}

bool PxCheckRaster(const TPxRasterCheck& Check, const TPxIOProgressInfo& Progress)
{
    const TPxReadFailure failure = PxCheckRaster(Check);
    if (failure == TPxReadFailure::None)
        return true;
    Progress.Fail(failure);
    return false;
}

bool PxCheckRaster(int64_t Width, int64_t Height, int64_t CodedBits, TPxCoding Coding, int64_t DataBytes,
                   const TPxIOProgressInfo& Progress)
{
    return PxCheckRaster({.Width = Width, .Height = Height, .CodedBits = CodedBits, .Coding = Coding, .DataBytes = DataBytes},
                         Progress);
}

}  // namespace imaging
