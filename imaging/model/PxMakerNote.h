// The maker note of an image's EXIF data: the camera maker's private IFD
// inside the EXIF block (tag 37500). TPxTagsHandler keeps the raw bytes as
// read, the layout of the maker it was recognised as, and the entries
// converted into a self-contained tag stream that can be written back into a
// new EXIF block.
//
// Tag stream layout (host byte order, positions from 0): the entry count
// (16-bit); the entries, 12 bytes each: tag (16-bit), type (16-bit), count
// (32-bit), value or offset (32-bit); then the out-of-line values. An entry
// whose values take more than 4 bytes holds the position of its values in
// this stream. Values of at most 4 bytes sit in the value word as a 32-bit
// number read in the note's byte order (ReadLittleEndian), so that writing
// them in that order gives back the file's bytes; out-of-line values are
// kept as they were in the file, in that same byte order. Other readers may
// build the stream directly in this layout (host order: leave
// ReadLittleEndian true).
//
// Failure: reading bad data never throws for the data's sake: a note that is
// too short, has more than 256 entries or entries outside its bytes leaves
// the handler cleared or the entry zeroed. Exceptions of the stream pass.
//
// Threads: none; one thread at a time per handler.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Persistent.h"
#include "classlib/Streams.h"

namespace imaging {

// One known maker-note layout.
struct TPxEXIFMakerNoteDeviceInfo {
    std::string Signature;      // compared with the note's first bytes (zero bytes included)
    uint8_t OffsetMode = 0;     // 0: offsets from the EXIF TIFF header; 1: from the embedded header
    uint8_t HasHeader = 0;      // 1: an 8-byte TIFF header follows the signature
    uint8_t Header[8] = {};     // the embedded header, filled from the data when read
    uint8_t ByteOrderMode = 0;  // 0 the EXIF block's, 1 the embedded header's, 2 little, 3 big
};

// Number of rows of the device table, and row Index (0-based, search order).
constexpr int PxMakerNoteDeviceCount = 7;
const TPxEXIFMakerNoteDeviceInfo& PxMakerNoteDevice(int Index);

// Bytes per value of a TIFF type; 1 for type 0 and types above 12.
uint32_t PxMakerNoteTypeSize(uint16_t Type);

// Maker notes longer than this are not written.
constexpr int32_t PxMaxMakerNoteSize = 65000;

struct TPxMakerNoteEntry {
    uint16_t Tag = 0;
    uint16_t Type = 0;
    uint32_t Count = 0;
    uint32_t Value = 0;  // inline value, or position of the values in the tag stream
};

class TPxTagsHandler : public classlib::TObject {
public:
    TPxTagsHandler() = default;
    TPxTagsHandler(const TPxTagsHandler&) = delete;
    TPxTagsHandler& operator=(const TPxTagsHandler&) = delete;
    std::wstring ClassName() const override { return L"TPxTagsHandler"; }

    // Frees the raw data and the entries, resets the device, empties the
    // tag stream.
    void Clear();
    // Clear, then copies the tag stream, the entries, the raw bytes, the
    // device and the byte order of Source (nothing more for nullptr).
    void Assign(const TPxTagsHandler* Source);
    // Reads a maker note of Size bytes at Stream's position; the stream is
    // the EXIF block, position 0 its TIFF header. LittleEndian is the EXIF
    // block's byte order. The stream is left after the note's bytes.
    void ReadFromStream(classlib::TStream* Stream, int32_t Size, bool LittleEndian);
    // Writes the note at Stream's position and leaves the stream at the end
    // of its values. Offsets of offset mode 0 are positions in Stream, so
    // Stream's position 0 must be the TIFF header of the block written.
    // BlockLittleEndian is that block's byte order, used by devices that
    // follow the block's order; devices with an order of their own are
    // written in it. Returns the bytes written, or 0 when the note would
    // exceed PxMaxMakerNoteSize bytes (nothing written, position restored)
    // or there is nothing to write.
    int32_t WriteToStream(classlib::TStream* Stream, bool BlockLittleEndian = true);
    // Replaces the raw bytes by Count bytes at Buffer (nullptr or Count <= 0:
    // none).
    void SetData(const uint8_t* Buffer, int32_t Count);
    // When the tag stream is not empty, reads its entry count and entries
    // into Entries (entries beyond the stream's end are left out).
    void LoadEntries();
    // Picks the device record matching the raw bytes (the default record
    // when none matches).
    void DetectDevice();

    const std::vector<uint8_t>& GetData() const { return FData; }
    int32_t GetDataSize() const { return static_cast<int32_t>(FData.size()); }
    uint16_t GetEntryCount() const { return static_cast<uint16_t>(Entries.size()); }

    TPxEXIFMakerNoteDeviceInfo Device;
    classlib::TMemoryStream TagStream;
    std::vector<TPxMakerNoteEntry> Entries;
    // The byte order the entries were read in (see the header comment).
    bool ReadLittleEndian = true;

private:
    bool ReadEntries(int64_t P0, bool LittleEndian);
    std::vector<uint8_t> FData;
};

}  // namespace imaging
