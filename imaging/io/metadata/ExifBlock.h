// The EXIF block of the file parameters: reading the TIFF-structured block
// of an "Exif" APP1 marker into the EXIF group of TIOParamsVals (IFD0, the
// EXIF and GPS sub-directories, the maker note, the IFD1 thumbnail), and
// building such a block from the parameters for a JPEG save.
//
// The block is parsed and written through TPxTIFFHandler
// (imaging/model/PxIfdEditor.h), the maker note through TPxTagsHandler.
// Only tags that carry a value are written: an EXIF tag of the marked group
// (EXIFTags) when it is marked, i.e. when the block it came from had it or
// the application set it; texts when not empty; numbers when they differ
// from their "none" value.
//
// PxInstallEXIF (called by PxInstallBuiltInFormats) installs the EXIF reader of the JPEG reader (PxLoadEXIFFromBufferHook),
// the EXIF block of a JPEG save (PxEXIFBlockBuilder) and the maker-note kind
// of the parameters. The format table (FormatTable.h) refers to it, so every
// program that uses the I/O unit links it.
//
// Failure: a block that is not EXIF, or whose structure is damaged (bad
// header, tables cut short, offsets outside the block, directories that loop
// back), is not read: PxLoadEXIFFromBuffer returns false and the parameters
// keep what they held. An undecodable thumbnail only leaves the thumbnail
// empty.
//
// Threads: one thread at a time per parameter set; the hooks are set once.
#pragma once

#include <cstdint>
#include <vector>

#include "classlib/Stream.h"
#include "imaging/io/core/IOParams.h"

namespace imaging {

// Reads an APP1 payload that begins with the six-byte "Exif" header into
// the EXIF group of Params: the fields are copied (PxCopyEXIF), HasEXIF
// becomes true, the thumbnail of IFD1 (JPEG, at most 400 x 400) goes to
// EXIFBitmap (created when missing, empty when the block has none) turned
// by the orientation. False, with Params unchanged, when the buffer is not
// EXIF or the block is damaged.
bool PxLoadEXIFFromBuffer(const uint8_t* Buffer, int32_t Length, TIOParamsVals& Params);

// Copies the EXIF fields of Source into Target: EXIFTags, the texts and
// numbers, the GPS fields and the maker note. Tags of the marked group go
// through Target's setters only when Source has them marked; the
// resolution only when Source has one (Target's DpiX and DpiY then follow
// it). Not copied: HasEXIF and EXIFBitmap.
void PxCopyEXIF(const TIOParamsVals& Source, TIOParamsVals& Target);

// Builds the EXIF block of Params (little-endian): IFD0 with the EXIF and
// GPS sub-directories, and IFD1 with the thumbnail as a JPEG stream when
// EXIFBitmap holds an image. With WithHeader the six "Exif" header bytes
// come first. Exceptions of the JPEG writer while writing the thumbnail
// leave the thumbnail out.
void PxSaveEXIFToBuffer(TIOParamsVals& Params, std::vector<uint8_t>& Buffer, bool WithHeader);

// Reads the TIFF structure at Stream's position (offsets counted from it)
// with the TIFF reader, parameters only, directly into Params (every group
// the TIFF reader fills); EXIFBitmap is created when missing and emptied.
// The position is restored. False when the reader reported the structure
// as damaged (the fields read before the damage stay).
bool PxLoadEXIFFromStream(classlib::TStream* Stream, TIOParamsVals& Params);

// Reads the EXIF fields of the TIFF structure at Stream's position (camera
// raw files) into Params (PxCopyEXIF; HasEXIF true) and picks a thumbnail:
// the images of IFD0 (A) and IFD1 (B) are read in the TIFF reader's
// thumbnail mode; A when it is not empty, narrower than B (or B is empty)
// and not all zero; otherwise B when it is not empty, narrower than A (or A
// is empty) and not all zero; otherwise none. The position is restored.
// False when the parameters could not be read.
bool PxLoadEXIFFromTIFFStream(classlib::TStream* Stream, TIOParamsVals& Params);

// Installs the hooks described above; repeated calls do nothing more.
void PxInstallEXIF();

}  // namespace imaging
