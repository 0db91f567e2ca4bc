// The variable-length-code LZW coding of GIF image data.
//
// The GIF reader and writer reach these routines only through the hooks of
// TIOParamsVals (GIFLZWDecompress, GIFLZWCompress) and the I/O unit's global
// hooks (IOStartup.h); PxInstallGIFLZWCodec puts them into those places.
//
// Threads: each call keeps its whole state on its own; calls on different
// streams may run at once.
//
// The GIF picture class (gif/GIFLZWDecoder.h, gif/GIFEncoders.h) codes the
// same data with its own routines because it has another failure contract:
// it raises with a message, warns and fills the pixels no code reaches,
// where the toolkit's reader needs a silent decoder that leaves the stream
// at the code-size byte so that it can give its own failure reason; its
// encoders also offer a run-length coding this writer does not use.
#pragma once

#include <cstdint>

#include "classlib/Stream.h"

namespace imaging {

// Decodes one frame: the code-size byte at the stream's position and the
// data sub-blocks after it, into Width x Height palette indexes in Buffer
// (rows top-down, interlaced rows put in their display place).
//
// Success leaves the stream after the terminating length-0 block. Failure
// (an initial code size outside 2..9, a code above the next free code, a
// code other than clear once the table is full, an end code straight after
// a clear code while data remain) puts the stream back at the code-size
// byte; nothing is raised for bad data. Short data are no failure: pixels
// no code reaches keep what Buffer held. Codes past the last pixel are
// dropped. Stream exceptions pass through.
void PxGIFLZWDecompress(classlib::TStream* Stream, int32_t Height, int32_t Width, bool Interlaced, uint8_t* Buffer);

// Encodes Width x Height indexes of Buffer (rows top-down; taken in
// interlaced row order when Interlaced): writes the code-size byte
// (BitsPerPixel, at least 2, at most 8), the data in sub-blocks of up to 254
// bytes and the terminating length 0. Index bits above BitsPerPixel are
// ignored. An empty image gives a clear and an end code. Stream write errors
// raise as the stream raises them.
void PxGIFLZWCompress(classlib::TStream* Stream, int32_t Height, int32_t Width, bool Interlaced, const uint8_t* Buffer,
                      int32_t BitsPerPixel);

// Puts both routines into the I/O unit's default routines and, when the
// unit has started, into its global hooks (then the GIF row follows them).
// PxInstallBuiltInFormats calls it.
void PxInstallGIFLZWCodec();

}  // namespace imaging
