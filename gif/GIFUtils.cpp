#include "gif/GIFUtils.h"

#include <algorithm>
#include <limits>

#include "imaging/io/core/ReadGuard.h"

namespace gif {

void RaiseGifError(const std::wstring& Text)
{
    throw GIFException(Text);
}

int64_t RowBytes(int64_t Count, int BitsPerPixel, int Alignment)
{
    if (Count < 0 || BitsPerPixel < 0 || Alignment <= 0)
        RaiseGifError(L"Invalid image dimensions");
    constexpr int64_t Max = std::numeric_limits<int64_t>::max();
    if (BitsPerPixel != 0 && Count > (Max - Alignment) / BitsPerPixel)
        RaiseGifError(L"Integer overflow");
    const int64_t Bits = Count * BitsPerPixel + Alignment - 1;
    return (Bits - Bits % Alignment) / 8;
}

int BitsForColorCount(int Count)
{
    if (Count <= 0)
        return 0;
    int Bits = 1;
    while ((int64_t{1} << Bits) < Count)
        ++Bits;
    return Bits;
}

void WriteStreamByte(classlib::TStream* Stream, uint8_t Value)
{
    Stream->WriteBuffer(&Value, 1);
}

int ReadStreamByte(classlib::TStream* Stream)
{
    uint8_t Value = 0;
    if (Stream->Read(&Value, 1) != 1)
        return -1;
    return Value;
}

void ReadExact(classlib::TStream* Stream, void* Buffer, int64_t Size)
{
    if (Size <= 0)
        return;
    if (Stream->Read(Buffer, Size) != Size)
        RaiseGifError(L"Premature end of data");
}

int64_t CheckedPixelCount(int64_t Width, int64_t Height)
{
    if (Width < 0 || Height < 0)
        RaiseGifError(L"Invalid image dimensions");
    const int64_t Count = Width * Height;  // both at most 65535: no overflow in 64 bits
    if (Count > MaxPixelDataSize)
        RaiseGifError(L"Image too large");
    return Count;
}

void CheckGifRaster(int64_t Width, int64_t Height, int64_t StorageBits, int64_t DataBytes)
{
    if (Width == 0 || Height == 0)
        return;
    imaging::TPxRasterCheck Check;
    Check.Width = Width;
    Check.Height = Height;
    Check.CodedBits = 8;
    Check.StorageBits = StorageBits;
    Check.Coding = imaging::TPxCoding::Lzw;
    Check.DataBytes = DataBytes;
    const imaging::TPxReadFailure Why = imaging::PxCheckRaster(Check);
    if (Why == imaging::TPxReadFailure::TooLarge)
        RaiseGifError(L"Image too large");
    if (Why != imaging::TPxReadFailure::None)
        RaiseGifError(imaging::PxReadFailureText(Why));
}

void CheckGifPixelTotal(int64_t TotalPixels, int64_t DataBytes)
{
    // Checked as one raster of rows of up to 4096 pixels.
    constexpr int64_t Row = 4096;
    CheckGifRaster(std::min(TotalPixels, Row), (TotalPixels + Row - 1) / Row, 8, DataBytes);
}

}  // namespace gif
