// The IPTC datasets of an image (TPxIPTCInfoList), read from and written to
// the IPTC block that JPEG files carry in an APP13 "Photoshop 3.0" resource,
// TIFF files in a tag and PSD files in an image resource; and the parser of
// the Photoshop resource blocks that carry them.
//
// An IPTC block is a run of datasets: the tag byte 0x1C, the record number,
// the dataset number, a 2-byte big-endian length (below 32768) or the
// extended form (bit 15 set, the low bits giving how many length bytes
// follow), then the data.
//
// Ownership: the list owns a copy of every item's data. Threads: one thread
// at a time, no lock. Item indexes run from 0 to GetCount() - 1; another
// index raises classlib::EListError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Persistent.h"

namespace imaging {

class TPxIPTCInfoList : public classlib::TObject {
public:
    TPxIPTCInfoList() = default;
    ~TPxIPTCInfoList() override = default;
    TPxIPTCInfoList(const TPxIPTCInfoList&) = delete;
    TPxIPTCInfoList& operator=(const TPxIPTCInfoList&) = delete;
    std::wstring ClassName() const override { return L"TPxIPTCInfoList"; }

    int GetCount() const { return static_cast<int>(items_.size()); }
    int32_t GetRecordNumber(int i) const;
    int32_t GetDataSet(int i) const;
    // The data of item i (nullptr for an empty item) and its length.
    const uint8_t* GetItemData(int i) const;
    int32_t GetItemLength(int i) const;

    // Appends an item with a copy of Length bytes of Data (a negative Length
    // or nullptr Data counts as 0) and returns its index. Sets UserChanged.
    int AddItem(int32_t Record, int32_t DataSet, int32_t Length, const void* Data);
    // Frees every item. Sets UserChanged.
    void Clear();
    // Nothing for nullptr or the list itself; else Clear and AddItem of every
    // item of Source. Sets UserChanged.
    void Assign(const TPxIPTCInfoList* Source);

    // Builds the IPTC block; empty when the list is. With PhotoshopHeader the
    // block is a complete APP13 payload: "Photoshop 3.0", a zero, and one
    // "8BIM" resource 0x0404 with an empty name and the datasets as its data
    // (26 header bytes). Without it the block starts with the record-version
    // dataset (2:0, version 2). Items of record 2 dataset 0 and empty items
    // are not written; an odd block gets one zero byte of padding.
    std::vector<uint8_t> SaveToBuffer(bool PhotoshopHeader) const;
    // Replaces the items by the datasets of a block: a bare run of datasets
    // (anything before the first tag byte skipped), or an APP13 payload
    // starting "Photoshop 3.0" whose first resource 0x0404 holds them.
    // Reading stops at the first dataset that is malformed or runs past the
    // end of the data; the datasets before it stay. True when at least one
    // dataset was read. Clears UserChanged in every case.
    bool LoadFromBuffer(const void* Buffer, size_t Length);

    // Set by every change through the operations above, cleared by
    // LoadFromBuffer. The JPEG save rewrites the IPTC record only when set.
    bool UserChanged = false;

private:
    struct TItem {
        int32_t Record = 0;
        int32_t DataSet = 0;
        std::vector<uint8_t> Data;
    };
    const TItem& At(int i) const;
    std::vector<TItem> items_;
};

// ---- Photoshop resource blocks ("Photoshop 3.0" APP13 payloads)

// Length of the "Photoshop 3.0" signature with its zero byte.
constexpr size_t PxPhotoshopSignatureLength = 14;
// Resource identifiers the toolkit touches.
constexpr uint16_t PxResourceResolution = 0x03ED;  // ResolutionInfo, 16 bytes
constexpr uint16_t PxResourceIPTC = 0x0404;        // IPTC-NAA record

// One resource of a block, as offsets into the block. The resource runs from
// Start to End: "8BIM", the identifier, the name (a length byte and the
// text, padded to an even count), the 4-byte big-endian data size, the data
// and one padding byte when the size is odd. Every offset lies inside the
// block; a last resource whose padding byte is missing has End at the
// block's end.
struct TPxPhotoshopResource {
    uint16_t Id = 0;
    size_t Start = 0;
    size_t NameOffset = 0;  // the name's length byte
    size_t NameSize = 0;    // the name with its length byte and padding
    size_t DataOffset = 0;
    size_t DataSize = 0;
    size_t End = 0;
};

// True when Block begins with the signature "Photoshop 3.0".
bool PxIsPhotoshopBlock(const uint8_t* Block, size_t Length);
// The resources of a block that begins with the signature, in block order.
// Parsing stops at the first resource that does not start with "8BIM" or
// whose name or data would run past the block's end; *Complete (when given)
// tells whether the whole block was parsed. Empty for a block without the
// signature.
std::vector<TPxPhotoshopResource> PxParsePhotoshopResources(const uint8_t* Block, size_t Length,
                                                            bool* Complete = nullptr);

}  // namespace imaging
