// The safety kit every image reader uses on untrusted data:
//  - TPxReadFailure and its one message table: why a load failed, kept
//    beside the aborting flag of the progress record (TPxIOProgressInfo::
//    Fail) and shown by the I/O object (TImgIO::GetLastFailure);
//  - TPxByteReader (byte-order decoding of memory is imaging/model/PxByteOrder.h),
//    exact reads over a stream or a buffer that know how many bytes remain;
//  - PxCheckRaster, called before every image allocation: checked
//    arithmetic, a hard cap on the storage, and a bound by what the bytes
//    left could code with the format's compression at its best ratio.
//
// Threads: free routines are thread-safe; a TPxByteReader is used by one
// thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/model/PxByteOrder.h"

namespace classlib {
class TStream;
}

namespace imaging {

struct TPxIOProgressInfo;

// Why a load failed (PxReadFailureText gives the user's text).
enum class TPxReadFailure : uint8_t {
    None,          // no failure
    Unreadable,    // the reader refused the data, no finer reason known
    NoReader,      // no reader for this kind of file
    Truncated,     // the data end before the image does
    BadHeader,     // header fields out of range or contradicting each other
    Unsupported,   // a variant of the format the reader does not decode
    NoImage,       // the file holds no image (zero width, height or count)
    TooLarge,      // the image exceeds the toolkit's largest image
    MoreThanData,  // the image is larger than its data could code
    Corrupt,       // the coded image data are damaged
    OutOfMemory,   // the image storage could not be had
    Stopped,       // the caller stopped the load
};

// The message of a reason ("" for None).
std::wstring PxReadFailureText(TPxReadFailure Failure);

// ---- exact reads

// Reads exactly Count bytes from Stream's position (true also for Count 0);
// false when fewer were there (the bytes read stay read).
bool PxReadExact(classlib::TStream* Stream, void* Buffer, int64_t Count);
inline bool PxReadExact(classlib::TStream& Stream, void* Buffer, int64_t Count)
{
    return PxReadExact(&Stream, Buffer, Count);
}

enum class TPxByteOrder : uint8_t { Little, Big };

// Reads values of one byte order from a stream (from its position to its
// end, the size taken at creation) or from a caller's buffer (not copied; it
// must outlive the reader). A read that would pass the end reads nothing,
// returns false (or 0) and sets the failed mark, which stays set; so a
// reader may read a whole header and test Failed() once. Stream exceptions
// pass to the caller.
class TPxByteReader {
public:
    explicit TPxByteReader(classlib::TStream& Stream, TPxByteOrder Order = TPxByteOrder::Little);
    TPxByteReader(const uint8_t* Data, size_t Size, TPxByteOrder Order = TPxByteOrder::Little);

    TPxByteOrder GetOrder() const { return order_; }
    void SetOrder(TPxByteOrder Order) { order_ = Order; }

    // Bytes between the position and the end (never negative).
    int64_t Remaining() const;
    // The position: the stream's own, or the offset into the buffer.
    int64_t Position() const;
    // Moves to Position (stream position or buffer offset); false, nothing
    // moved and the failed mark set when it lies outside the data.
    bool Seek(int64_t Position);
    bool Skip(int64_t Count);
    // Reads exactly Count bytes, or nothing.
    bool Read(void* Buffer, int64_t Count);

    uint8_t U8();
    uint16_t U16();
    uint32_t U32();
    int16_t S16() { return static_cast<int16_t>(U16()); }
    int32_t S32() { return static_cast<int32_t>(U32()); }

    // A read came short since creation.
    bool Failed() const { return failed_; }

private:
    classlib::TStream* stream_ = nullptr;
    const uint8_t* data_ = nullptr;
    int64_t pos_ = 0;  // buffer offset (buffer mode only)
    int64_t end_ = 0;  // stream size or buffer size
    TPxByteOrder order_;
    bool failed_ = false;
};

// ---- the raster check

// How a format codes its pixels; selects the best ratio of decoded to coded
// bytes the coding can reach (generous: a file near that ratio still loads).
enum class TPxCoding : uint8_t {
    Raw,         // one coded byte per stored byte
    RawShort,    // raw samples the format lets end early (the rest stays blank): 16:1
    PackBits,    // runs of up to 128 in 2 bytes
    Rle,         // run-length codes of up to 255 pixels in 2 bytes (BMP, TGA, PCX, DICOM, PSD)
    Lzw,         // 12-bit codes of strings up to 4096 bytes
    Deflate,     // zlib/deflate (about 1032:1)
    Fax,         // CCITT fax: at least one coded bit per row
    Jpeg,        // Huffman-coded DCT: at least one bit per 8 x 8 block (arithmetic coding: Unbounded)
    Unbounded,   // codings with no useful ratio: only the hard cap applies
};

// The largest image storage a reader may allocate (bytes), and the largest
// width or height.
constexpr int64_t PxMaxImageBytes = int64_t{1} << 30;
constexpr int64_t PxMaxImageSide = int64_t{1} << 20;
constexpr int64_t PxSmallImageBytes = int64_t{1} << 16;

struct TPxRasterCheck {
    int64_t Width = 0;
    int64_t Height = 0;
    // Bits per pixel of the coded samples (all channels), and of the storage
    // the reader allocates (0: the same).
    int64_t CodedBits = 0;
    int64_t StorageBits = 0;
    TPxCoding Coding = TPxCoding::Raw;
    // The bytes left for the image data (-1: unknown, no data bound).
    int64_t DataBytes = -1;
    // Frames or pages coded in those bytes (they share the data bound).
    int64_t Frames = 1;
};

// TPxReadFailure::None when the image may be allocated; otherwise NoImage
// (a side is 0 or negative), TooLarge (a side, the storage or the arithmetic
// passes the caps), Truncated (no data at all, or raw samples that do not
// fill the first row) or MoreThanData (the data cannot code that many
// pixels). Beyond that, images whose coded samples take at most
// PxSmallImageBytes always pass the data bound (they are no danger, and tiny
// files may pad or truncate).
TPxReadFailure PxCheckRaster(const TPxRasterCheck& Check);
// The same, failing the load on Progress (reason and aborting flag) when
// the check fails; returns whether the image may be allocated.
bool PxCheckRaster(const TPxRasterCheck& Check, const TPxIOProgressInfo& Progress);
// The shorthand for the common case.
bool PxCheckRaster(int64_t Width, int64_t Height, int64_t CodedBits, TPxCoding Coding, int64_t DataBytes,
                   const TPxIOProgressInfo& Progress);

}  // namespace imaging
