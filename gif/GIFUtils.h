// Shared helpers of the GIF library: its exception class, the warning
// event, byte and sub-block helpers on streams and size arithmetic.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/Events.h"
#include "classlib/Exceptions.h"
#include "classlib/Persistent.h"
#include "classlib/Stream.h"

namespace gif {

// Every error of the GIF classes. Messages are fixed English texts.
CLASSLIB_EXCEPTION(GIFException, classlib::EInvalidGraphic);

// A condition a reader survives: (sender, severity, message). The GIF classes
// use severity 1 throughout. Handlers must not raise.
using TGIFWarning = classlib::TEvent<void(classlib::TObject* Sender, uint8_t Severity,
                                          const std::wstring& Message)>;

// Raises GIFException with Text.
[[noreturn]] void RaiseGifError(const std::wstring& Text);

// (Count * BitsPerPixel + Alignment - 1) rounded down to a multiple of
// Alignment, divided by 8. Raises GIFException on overflow or bad arguments.
int64_t RowBytes(int64_t Count, int BitsPerPixel, int Alignment);

// 0 for 0; otherwise the smallest i >= 1 with 2^i >= Count.
int BitsForColorCount(int Count);

// Writes one byte (raises the stream's write error when it cannot).
void WriteStreamByte(classlib::TStream* Stream, uint8_t Value);
// Reads one byte; -1 at the end of the stream.
int ReadStreamByte(classlib::TStream* Stream);
// Reads exactly Size bytes or raises GIFException "Premature end of data".
void ReadExact(classlib::TStream* Stream, void* Buffer, int64_t Size);

// The largest pixel block (width x height bytes) a frame may hold; larger
// images are refused instead of overflowing 32-bit sizes.
constexpr int64_t MaxPixelDataSize = 0x7FFFFFFF;
// width x height computed in 64 bits; raises GIFException
// "Image too large" above MaxPixelDataSize.
int64_t CheckedPixelCount(int64_t Width, int64_t Height);

// The toolkit's raster check for what a GIF stream claims, before anything
// is allocated: Width x Height colour indices that DataBytes bytes of LZW
// data (-1: unknown) must be able to code, held in StorageBits bits a pixel.
// Raises GIFException "Image too large" past the toolkit's largest image,
// and with the check's reason when the data could not code the image; a
// side of 0 passes (nothing is allocated for it).
void CheckGifRaster(int64_t Width, int64_t Height, int64_t StorageBits, int64_t DataBytes);
// The same check for the pixels of all frames of one picture together
// (TotalPixels bytes of indices coded in DataBytes bytes), so that many
// frames over little data cannot add up to more than one frame could.
void CheckGifPixelTotal(int64_t TotalPixels, int64_t DataBytes);

}  // namespace gif
