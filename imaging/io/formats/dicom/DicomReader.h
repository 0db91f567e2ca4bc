// DICOM reader of the toolkit (file type 28, read only), its frame counters
// and the decoder of DICOM's run-length coding (lossless JPEG frames go to
// LosslessJpeg.h).
//
// PxReadDICOM walks the data elements from the stream's position (an
// optional 128-byte preamble and "DICM", then elements in explicit or
// implicit VR, little- or big-endian by the transfer syntax), lists every
// element in Params.DICOMTags, takes the image attributes it needs and, at
// the pixel data element, decodes frame Params.ImageIndex (clamped to the
// frames there are) into Bitmap: px8g or px16g for grey images, px24RGB for
// colour. Grey images are rescaled (slope, intercept), windowed when the
// file gives a window, and stretched to the full range of their format;
// MONOCHROME1 images are inverted. Colour samples are never rescaled.
//
// Elements inside sequences of undefined length are listed like top-level
// ones but are not interpreted, so the attributes and pixel data of an icon
// image in a sequence do not take the place of the main image's.
//
// Untrusted data: every length and offset is checked against the stream
// before anything is allocated or read; frame data that reach past the end
// of the stream, a missing item tag where an encapsulated frame must start,
// compressed data that could not fill the image, and a failed lossless JPEG
// decode set the aborting flag of Progress. A truncated element walk simply
// ends without pixels. Exceptions of the JPEG and JPEG 2000 readers (and of
// the caller's stream) pass to the caller.
//
// Threads: one call uses only its arguments and may run on an I/O worker.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/model/PxDefs.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// Reads from the stream's position up to and including the pixel data
// element. With ParamsOnly, or a nullptr Bitmap, only the parameters and
// the tag list are filled. A bitmap stored as a system bitmap receives a
// px24RGB copy of the decoded image.
void PxReadDICOM(classlib::TStream* Stream, TIOParamsVals& Params, TPxBitmap* Bitmap, bool ParamsOnly,
                 TPxIOProgressInfo& Progress);

// The number of frames of the DICOM data at the stream's position (0 when
// the read failed); the position is restored.
int32_t PxCountDICOMFrames(classlib::TStream* Stream);
// The same for a file, opened for reading while others may only read.
int32_t PxCountDICOMFramesInFile(const std::wstring& FileName);

// DICOM run-length segment decoding (PackBits: header n of 0..127 copies
// n + 1 bytes, -127..-1 repeats the next byte 1 - n times, -128 does
// nothing) into Output until ByteCount bytes are produced or the stream
// ends. Never writes beyond Output[ByteCount - 1]; returns the bytes
// produced.
int64_t DICOMUnpackRLE(classlib::TStream* Stream, uint8_t* Output, int64_t ByteCount);

// The value representation of a tag in the reader's data dictionary: two
// letters, "xs" when the file decides (also for tags not listed) and "!!"
// for the item and delimitation tags.
std::string PxDICOMDictionaryVR(uint16_t Group, uint16_t Element);

// Puts the DICOM reader into the registry's DICOM row and the frame counter
// into the I/O unit's counters (idempotent).
void PxInstallDICOMFormat();

}  // namespace imaging
