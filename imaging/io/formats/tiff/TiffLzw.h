// The LZW codec of TIFF (compression 5): 9- to 12-bit codes packed most
// significant bit first, Clear = 256, End of Information = 257, the code
// width growing one code early (10 bits once the next free code is 511).
//
// Callers reach the codec through the hooks of the parameters
// (TIOParamsVals::TIFFLZWDecompress/TIFFLZWCompress) or the I/O unit's
// globals (PxGlobalTIFFLZWDecompress/PxGlobalTIFFLZWCompress, IOStartup.h);
// this unit puts its two routines into PxIODefaults() from its static
// initialisation, so the I/O start-up installs them.
//
// Threads: a state belongs to one strip and one thread at a time; the
// routines share nothing else.
#pragma once

#include <cstdint>

#include "classlib/Stream.h"

namespace imaging {

// Decodes one row per call (signature of TPxTIFFLZWDecompressProc).
// State nullptr: creates the decoder over the strip's DataSize bytes at Data
// (not copied: they must stay valid until the state is freed) for rows of
// RowLength bytes, FillOrder 2 meaning bit-reversed bytes, and decodes the
// first row. Later calls with Data set (its value is not looked at again)
// decode the next row. Data nullptr: frees the state, sets it to nullptr
// and returns nullptr.
// Returns the decoded row (RowLength bytes, valid until the next call), or
// nullptr when the data are damaged (a code at the strip's start or after
// Clear that is not yet defined, a table that would pass 4,096 entries;
// a strip may start without Clear); the state then stays
// allocated until the freeing call. A row that ends early (EOI, a code past
// the next free one, the end of the strip's bytes) is returned anyway: its
// missing tail holds what the buffer held before. RowLength below 1 returns
// nullptr without creating a state.
uint8_t* PxTIFFLZWDecompress(const uint8_t* Data, int64_t DataSize, int32_t RowLength, void*& State,
                             int32_t FillOrder);

// Encodes one row per call (signature of TPxTIFFLZWCompressProc); every
// strip is its own LZW stream that begins with Clear and ends with EOI and
// zero bits to a whole byte. State nullptr: creates the encoder, which
// writes to Stream from then on (the Stream of later calls is not looked
// at), and encodes the row's Length bytes. Later calls with Row set encode
// more bytes. Row nullptr: writes the rest of the strip, frees the state
// and sets it to nullptr.
// Output goes to the stream in packets of up to 254 bytes. A packet the
// stream does not take completely raises classlib::EWriteError ("Stream
// write error"); the state is then marked failed: later calls with a row
// do nothing, and the ending call only frees it without raising, so a
// caller can always end the strip from its clean-up. An ending call on a
// sound state that fails while writing the rest frees the state, then
// raises.
void PxTIFFLZWCompress(const uint8_t* Row, int32_t Length, classlib::TStream* Stream, void*& State);

// Puts the two routines into PxIODefaults() and into the I/O unit's global
// hooks that are still empty; PxInstallBuiltInFormats calls it.
void PxInstallTIFFLZWCodec();

}  // namespace imaging
