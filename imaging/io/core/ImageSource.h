// The current image of a TImgIO written into a text file: the bytes of an
// encoded image file as text for embedding in program source (a byte-array
// constant declaration, a list of hexadecimal bytes, or base64), or a
// picture made of characters by grey level.
//
// Failure: errors of creating or writing the text file raise the class
// library's EInOutError. When the encoding fails (the writer sets the I/O
// object's AbortFlag) or gives no bytes, no text file is written and
// AbortFlag is set; likewise kind ptkCharacters with an image that is not
// px24RGB (the text needs 24-bit pixels). An unknown kind writes nothing.
//
// Threads: called on the I/O object's thread. In asynchronous mode the
// encoding runs on a worker and the call waits for it (WaitThreads).
#pragma once

#include <cstdint>
#include <string>

#include "classlib/Streams.h"

namespace imaging {

class TImgIO;

enum TPxTextKind : int32_t {
    ptkByteArray = 0,  // a byte-array constant declaration
    ptkHexList = 1,    // hexadecimal bytes separated by commas
    ptkBase64 = 2,     // base64 in lines of 76 characters
    ptkCharacters = 3  // one character per pixel, dark to light
};

// The shared first step of the byte kinds: ArrayName is TextFileName as
// given with its first "." replaced by "_", SizeName ArrayName + "_Size";
// Encoded receives the image saved by IO.SaveToStream in FileFormat (from
// position 0). Returns the encoded size N.
int64_t PxEncodeForSourceText(TImgIO& IO, const std::wstring& TextFileName, int32_t FileFormat,
                              classlib::TMemoryStream& Encoded, std::wstring& ArrayName, std::wstring& SizeName);

// Writes the text file (created or overwritten) in the system code page,
// lines ended by CR LF, and then sets FileParams->FileName to TextFileName.
// FileFormat is ignored for ptkCharacters.
void PxSaveToText(TImgIO& IO, const std::wstring& TextFileName, int32_t FileFormat, int32_t Kind);

}  // namespace imaging
