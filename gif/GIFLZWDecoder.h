// The variable-width LZW decoder of GIF image data.
//
// The image toolkit's reader has a decoder of its own (imaging/io/formats/gif/GifLzw.h)
// because the two report damage differently: this one raises with a message,
// warns and fills the pixels the data do not reach, the toolkit's fails
// silently and leaves the stream at the code-size byte for its reader's
// failure reasons. One shared decoder would change what one side reports.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "classlib/Stream.h"

namespace gif {

// Receives the decoder's warnings (the caller forwards them to its image).
using TDecoderWarning = std::function<void(const std::wstring& Message)>;

// Decodes the rest of one image block from Stream (the LZW minimum code size
// byte, the data sub-blocks and the block terminator) into Pixels, Width x
// Height colour indices, rows top to bottom in display order; interlaced data
// is stored in its display rows. Pixels need not be initialised: pixels the
// data does not reach get Fill, also when the decoder raises.
//
// Data that ends early is not an error. Raises GIFException "Circular decoder
// table entry" when a string would exceed the 4096-entry output stack, and
// "Invalid GIF data" for a code above the next free table slot. The stream is
// left after the block terminator in the normal case.
void DecodeLZWPixels(classlib::TStream* Stream, uint8_t* Pixels, int Width, int Height,
                     bool Interlaced, const TDecoderWarning& Warning, uint8_t Fill = 0);

}  // namespace gif
