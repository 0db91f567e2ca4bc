// TPxTIFFHandler: every IFD of a TIFF file or stream held in memory
// (entries, their out-of-line values, the EXIF, GPS and interoperability
// sub-IFDs, and the image data chunks the offset tags point to), with tags
// to find, add, remove and copy between two handlers, and a writer that
// writes a complete TIFF again with every offset recomputed. Also the small
// byte-order helpers of the TIFF-structured metadata units.
//
// Entries keep their tag, type and count as numbers and their value word and
// out-of-line values as the file's bytes (in the handler's byte order), so a
// write gives back the values exactly; the data of sub-IFDs and offset tags
// is held by the entry itself (no addresses in 32-bit fields).
//
// Failure: loading checks every count, size and offset against the stream:
// an entry whose values lie outside the stream is dropped, a data chunk
// outside it is kept empty, IFD chains and sub-IFDs that loop are cut where
// they loop back. An unknown byte-order mark makes LoadFromStream return
// false. Exceptions of the streams pass to the caller.
//
// Threads: none; one thread at a time per handler.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Persistent.h"
#include "classlib/Stream.h"
#include "imaging/model/PxByteOrder.h"

namespace imaging {

// Bytes per value of TIFF types 1 .. 12; 0 for other types.
uint32_t PxTIFFTypeSize(uint16_t Type);
// Reverses the byte order of Count values of Type held at Data (Size bytes;
// values beyond Size are left alone): 16-bit, 32-bit and 64-bit units as the
// type has them, the two halves of a rational separately; bytes unchanged.
void PxSwapTIFFValues(uint16_t Type, uint8_t* Data, uint64_t Count, uint64_t Size);

// ---- the handler

// Tags whose value is the offset of a sub-IFD, and the data-offset tags with
// their byte-count partners.
constexpr uint16_t PxTagExifIFD = 34665;
constexpr uint16_t PxTagGPSIFD = 34853;
constexpr uint16_t PxTagInteropIFD = 40965;
bool PxIsSubIFDTag(uint16_t Tag);
// The byte-count partner of a data-offset tag (HD Photo tags only with
// version 444); 0 for other tags.
uint16_t PxTIFFOffsetPartner(uint16_t Tag, uint16_t Version);

struct TPxTIFFPage;

struct TPxTIFFEntry {
    uint16_t Tag = 0;
    uint16_t Type = 0;
    uint32_t Count = 0;
    uint8_t Value[4] = {};                     // the value word, in the handler's byte order
    std::vector<uint8_t> Data;                 // out-of-line values (more than 4 bytes)
    std::unique_ptr<TPxTIFFPage> SubIFD;       // sub-IFD tags
    std::vector<std::vector<uint8_t>> Chunks;  // data-offset tags: one chunk per value
    bool IsOffsetTag = false;                  // Chunks are in use
    uint32_t SourceOffset = 0;                 // where out-of-line values were read from

    TPxTIFFEntry() = default;
    TPxTIFFEntry(TPxTIFFEntry&&) noexcept = default;
    TPxTIFFEntry& operator=(TPxTIFFEntry&&) noexcept = default;
    // A deep copy (values, sub-IFD, chunks).
    TPxTIFFEntry Clone() const;
};

struct TPxTIFFPage {
    std::vector<TPxTIFFEntry> Entries;
};

class TPxTIFFHandler : public classlib::TObject {
public:
    TPxTIFFHandler() = default;
    TPxTIFFHandler(const TPxTIFFHandler&) = delete;
    TPxTIFFHandler& operator=(const TPxTIFFHandler&) = delete;
    std::wstring ClassName() const override { return L"TPxTIFFHandler"; }

    // A handler holding every IFD of the file (opened for reading, others
    // may not write) or of Stream from its position; a file that does not
    // exist, or data that are not TIFF, give an empty handler.
    static std::unique_ptr<TPxTIFFHandler> CreateFromFile(const std::wstring& Name);
    static std::unique_ptr<TPxTIFFHandler> CreateFromStream(classlib::TStream* Stream);

    // Clears, reads the header at Stream's position and the IFD chain.
    // False for an unknown byte-order mark; true otherwise. Offsets are
    // taken as absolute stream positions.
    bool LoadFromStream(classlib::TStream* Stream);
    void Clear();

    int GetPageCount() const { return static_cast<int>(Pages.size()); }
    // nullptr when there is no such page.
    TPxTIFFPage* GetPage(int Page) const;
    // Appends an empty page and returns it.
    TPxTIFFPage* AddPage();

    // Index of Tag in the page, -1 when absent or there is no such page.
    int FindTag(int Page, uint16_t Tag) const;
    static int FindTagIn(const TPxTIFFPage& Entries, uint16_t Tag);
    // The I-th value of Tag, 0 when absent: BYTE, ASCII, UNDEFINED as
    // unsigned bytes, SBYTE signed, SHORT and SSHORT as unsigned 16-bit,
    // LONG and SLONG as 32-bit, other types 0. For a loaded data-offset tag
    // the address of data chunk I (nullptr-valued when empty).
    int64_t GetTagValue(const TPxTIFFPage& Entries, uint16_t Tag, uint32_t I) const;
    // The bytes of an entry's values (inline or out of line); the number of
    // bytes is Count x type size.
    const uint8_t* GetEntryBytes(const TPxTIFFEntry& Entry) const;

    // Replaces Tag by one value of Type: integer types from Value (truncated),
    // RATIONAL and SRATIONAL as Value x 10000 (truncated) over 10000, FLOAT
    // and DOUBLE from Value. Types 1 and 3 .. 12 (not ASCII).
    void AddTag(TPxTIFFPage& Entries, uint16_t Tag, double Value, uint16_t Type);
    // Replaces Tag by the ASCII text with its terminating zero.
    void AddTag(TPxTIFFPage& Entries, uint16_t Tag, const std::string& Text);
    // Replaces Tag by Count values of Type given as Size bytes already in
    // this handler's byte order.
    void AddTagData(TPxTIFFPage& Entries, uint16_t Tag, uint16_t Type, uint32_t Count, const uint8_t* Data,
                    size_t Size);
    // Removes entry Index with what it owns; FreeChunks is kept for callers
    // that share chunks (chunks are always owned by their entry here).
    void DeleteTag(TPxTIFFPage& Entries, int Index, bool FreeChunks = true);
    void DeletePage(int Page);

    // Replaces the same tag in DestPage by a deep copy of entry TagIndex of
    // Source's SourcePage; values are converted when the two handlers' byte
    // orders differ. Nothing when a page does not exist or the index is out
    // of range.
    void CopyTag(const TPxTIFFHandler& Source, int SourcePage, int TagIndex, int DestPage);

    // Writes page Page, or every page when Page is outside 0 .. pages - 1,
    // as a complete TIFF at Stream's position (offsets are absolute
    // positions in Stream).
    void WriteStream(classlib::TStream* Stream, int Page);
    // Creates the file and writes it as WriteStream does.
    void WriteFile(const std::wstring& Name, int Page);

    bool BigEndian = false;  // "MM"
    // Set by LoadFromStream when anything had to be left out: an entry table
    // cut by the stream's end, an entry or data chunk outside the stream, a
    // sub-IFD outside the stream or looping back, a chain looping back.
    bool Damaged = false;
    // Set by LoadFromStream when the chain ended at a link outside the
    // stream (the pages before it are loaded).
    bool ChainCut = false;
    uint16_t Version = 42;   // 444: HD Photo container
    std::vector<std::unique_ptr<TPxTIFFPage>> Pages;

private:
    bool Little() const { return !BigEndian; }
};

}  // namespace imaging
