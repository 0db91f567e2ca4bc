#include "imaging/model/PxJpegMarkers.h"

#include <cstring>
#include <utility>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

bool FitsOneMarker(const void* Data, int32_t Length)
{
    if (Length < 0 || Length > PxMaxMarkerPayload) return false;
    return Length == 0 || Data != nullptr;
}

// "ICC_PROFILE", its zero, then the chunk number and the chunk count.
bool IsICCChunk(const std::vector<uint8_t>& Data)
{
    static const char kSignature[] = "ICC_PROFILE";  // 12 bytes with the zero
    return Data.size() > 13 && std::memcmp(Data.data(), kSignature, sizeof kSignature) == 0;
}

}  // namespace

const TPxMarkerList::TMarker& TPxMarkerList::At(int i) const
{
    if (i < 0 || i >= GetCount())
        throw classlib::EListError(classlib::Format(L"Marker index out of bounds (%d)", i));
    return markers_[static_cast<size_t>(i)];
}

const uint8_t* TPxMarkerList::GetMarkerData(int i) const
{
    const TMarker& m = At(i);
    return m.Data.empty() ? nullptr : m.Data.data();
}

uint8_t TPxMarkerList::GetMarkerType(int i) const { return At(i).Type; }

int32_t TPxMarkerList::GetMarkerLength(int i) const { return static_cast<int32_t>(At(i).Data.size()); }

int TPxMarkerList::IndexOf(uint8_t Type) const
{
    for (int i = 0; i < GetCount(); ++i)
        if (markers_[static_cast<size_t>(i)].Type == Type) return i;
    return -1;
}

int TPxMarkerList::AddMarker(uint8_t Type, const void* Data, int32_t Length)
{
    if (!FitsOneMarker(Data, Length)) return -1;
    TMarker m;
    m.Type = Type;
    const auto* bytes = static_cast<const uint8_t*>(Data);
    if (Length > 0) m.Data.assign(bytes, bytes + Length);
    markers_.push_back(std::move(m));
    return GetCount() - 1;
}

bool TPxMarkerList::SetMarker(int i, uint8_t Type, int32_t Length, const void* Data)
{
    At(i);
    if (!FitsOneMarker(Data, Length)) return false;
    const auto* bytes = static_cast<const uint8_t*>(Data);
    // Copied before the old payload goes: Data may point into it.
    std::vector<uint8_t> copy;
    if (Length > 0) copy.assign(bytes, bytes + Length);
    TMarker& m = markers_[static_cast<size_t>(i)];
    m.Type = Type;
    m.Data = std::move(copy);
    return true;
}

void TPxMarkerList::DeleteMarker(int i)
{
    At(i);
    markers_.erase(markers_.begin() + i);
}

void TPxMarkerList::Assign(const TPxMarkerList* Source)
{
    if (Source == nullptr || Source == this) return;
    Clear();
    markers_ = Source->markers_;
}

void TPxMarkerList::Sort()
{
    auto compare = [this](int a, int b) -> int {
        const TMarker& ma = markers_[static_cast<size_t>(a)];
        const TMarker& mb = markers_[static_cast<size_t>(b)];
        if (ma.Type != mb.Type) return ma.Type < mb.Type ? -1 : 1;
        if (ma.Type == PxMarkerAPP2 && IsICCChunk(ma.Data) && IsICCChunk(mb.Data))
            return static_cast<int>(ma.Data[12]) - static_cast<int>(mb.Data[12]);
        return 0;
    };
    auto swap = [this](int a, int b) {
        std::swap(markers_[static_cast<size_t>(a)], markers_[static_cast<size_t>(b)]);
    };
    PxQuickSort(GetCount(), compare, swap);

    // After the sort the APP1 markers are contiguous.
    const int first = IndexOf(PxMarkerAPP1);
    if (first < 0) return;
    for (int j = first + 1; j < GetCount() && markers_[static_cast<size_t>(j)].Type == PxMarkerAPP1; ++j) {
        const TMarker& m = markers_[static_cast<size_t>(j)];
        if (PxIsEXIFPayload(m.Data.data(), static_cast<int32_t>(m.Data.size()))) swap(first, j);
    }
}

bool PxIsEXIFPayload(const uint8_t* Data, int32_t Length)
{
    static const char kExif[] = "Exif";  // 5 bytes with the zero
    return Data != nullptr && Length >= 5 && std::memcmp(Data, kExif, sizeof kExif) == 0;
}

int PxIndexOfEXIFMarker(const TPxMarkerList& Markers)
{
    for (int i = 0; i < Markers.GetCount(); ++i)
        if (Markers.GetMarkerType(i) == PxMarkerAPP1 &&
            PxIsEXIFPayload(Markers.GetMarkerData(i), Markers.GetMarkerLength(i)))
            return i;
    return -1;
}

void PxDeleteEXIFMarker(TPxMarkerList* Markers)
{
    if (Markers == nullptr) return;
    const int i = PxIndexOfEXIFMarker(*Markers);
    if (i >= 0) Markers->DeleteMarker(i);
}

}  // namespace imaging
