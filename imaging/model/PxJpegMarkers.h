// The JPEG application and comment markers of an image (TPxMarkerList), kept
// as raw payloads so that the JPEG writer can write them back.
//
// A payload is the bytes after the marker's 2-byte length field. The length
// field counts itself, so one marker carries at most PxMaxMarkerPayload
// (65533) bytes. The list never holds a longer payload: AddMarker and
// SetMarker refuse one (and change nothing), so whatever the list holds can
// be written as a valid marker.
//
// Ownership: the list owns a copy of every payload. Threads: one thread at a
// time, no lock. Indexes run from 0 to GetCount() - 1; another index raises
// classlib::EListError.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Persistent.h"

namespace imaging {

// Marker codes the toolkit looks at.
constexpr uint8_t PxMarkerAPP0 = 0xE0;
constexpr uint8_t PxMarkerAPP1 = 0xE1;   // EXIF, XMP
constexpr uint8_t PxMarkerAPP2 = 0xE2;   // ICC profile chunks
constexpr uint8_t PxMarkerAPP13 = 0xED;  // Photoshop resources (IPTC, resolution)
constexpr uint8_t PxMarkerAPP14 = 0xEE;  // Adobe colour transform
constexpr uint8_t PxMarkerCOM = 0xFE;

// Largest payload of one marker: 65535 minus the 2 bytes of the length field.
constexpr int32_t PxMaxMarkerPayload = 65533;

class TPxMarkerList : public classlib::TObject {
public:
    TPxMarkerList() = default;
    ~TPxMarkerList() override = default;
    TPxMarkerList(const TPxMarkerList&) = delete;
    TPxMarkerList& operator=(const TPxMarkerList&) = delete;
    std::wstring ClassName() const override { return L"TPxMarkerList"; }

    int GetCount() const { return static_cast<int>(markers_.size()); }
    // The payload of marker i; valid until that marker is changed or
    // removed. nullptr for an empty payload.
    const uint8_t* GetMarkerData(int i) const;
    // The marker code of marker i (0xE0 .. 0xEF for APPn, 0xFE for COM).
    uint8_t GetMarkerType(int i) const;
    // The payload length of marker i (0 .. PxMaxMarkerPayload).
    int32_t GetMarkerLength(int i) const;
    // The index of the first marker with that code, -1 when none.
    int IndexOf(uint8_t Type) const;

    // Appends a marker with a copy of Length bytes of Data and returns its
    // index. A Length outside 0 .. PxMaxMarkerPayload (or Data nullptr with a
    // positive Length) appends nothing and returns -1.
    int AddMarker(uint8_t Type, const void* Data, int32_t Length);
    // Replaces the code and payload of marker i with a copy of Length bytes
    // of Data. Returns false and leaves the marker as it was when the payload
    // does not fit one marker (as for AddMarker).
    bool SetMarker(int i, uint8_t Type, int32_t Length, const void* Data);
    // Removes marker i.
    void DeleteMarker(int i);
    // Removes every marker.
    void Clear() { markers_.clear(); }
    // Nothing for nullptr or the list itself; else Clear and a copy of every
    // marker of Source, in order.
    void Assign(const TPxMarkerList* Source);

    // Orders the markers for writing: by code ascending (not stable), APP2
    // "ICC_PROFILE" chunks by their sequence number, and an EXIF APP1 moved
    // ahead of the other APP1 markers.
    void Sort();

private:
    struct TMarker {
        uint8_t Type = 0;
        std::vector<uint8_t> Data;
    };
    const TMarker& At(int i) const;
    std::vector<TMarker> markers_;
};

// True when a payload counts as EXIF: it begins with "Exif" and a zero byte.
bool PxIsEXIFPayload(const uint8_t* Data, int32_t Length);
// The index of the first APP1 marker whose payload counts as EXIF, -1 when
// none.
int PxIndexOfEXIFMarker(const TPxMarkerList& Markers);
// Deletes the first APP1 marker whose payload counts as EXIF; other APP1
// markers stay. Nothing for nullptr.
void PxDeleteEXIFMarker(TPxMarkerList* Markers);

}  // namespace imaging
