// The DICOM data elements found by the DICOM reader, kept with an image's
// file parameters so that callers can inspect them.
//
// Each record holds group, element, the two-character value representation
// (both zero when none was given) and a data block of DataLength bytes
// followed by one terminating zero byte, so that text values read as
// zero-terminated text. A record without data has Data nullptr and
// DataLength 0.
//
// Ownership: the list owns every record and its data block; AddTag takes the
// caller's block over. Threads: one thread at a time, no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Persistent.h"

namespace imaging {

struct TPxDICOMTag {
    uint16_t Group = 0;
    uint16_t Element = 0;
    char VR[2] = {0, 0};
    // DataLength + 1 bytes, the last one 0; nullptr without data.
    std::unique_ptr<uint8_t[]> Data;
    int32_t DataLength = 0;
};

class TPxDICOMTags : public classlib::TObject {
public:
    TPxDICOMTags() = default;
    ~TPxDICOMTags() override = default;
    TPxDICOMTags(const TPxDICOMTags&) = delete;
    TPxDICOMTags& operator=(const TPxDICOMTags&) = delete;
    std::wstring ClassName() const override { return L"TPxDICOMTags"; }

    // Appends a record and returns its index. Data (allocated with
    // new uint8_t[Length + 1], the last byte 0) is taken over, not copied.
    // The value representation is stored only when it has exactly two
    // characters. A negative Length, or no Data, stores no data (the block,
    // if any, is freed).
    int AddTag(uint16_t Group, uint16_t Element, int32_t Length, std::unique_ptr<uint8_t[]> Data,
               const std::string& VR);
    // Frees every record and its data block.
    void Clear() { tags_.clear(); }
    // Clear, then copies every record of Source; data blocks of positive
    // length are copied with their terminating zero. Nothing for nil or the
    // list itself.
    void Assign(const TPxDICOMTags* Source);

    int GetCount() const { return static_cast<int>(tags_.size()); }
    // The record at Index (0 .. GetCount() - 1), nullptr for another index.
    const TPxDICOMTag* GetTag(int Index) const;

private:
    std::vector<std::unique_ptr<TPxDICOMTag>> tags_;
};

}  // namespace imaging
