#include "imaging/io/metadata/JpegMetadata.h"
#include "imaging/io/core/ReadGuard.h"

#include <cstring>
#include <utility>

namespace imaging {

TPxEXIFBlockBuilder PxEXIFBlockBuilder = nullptr;

namespace {

void PutBE16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void PutBE32(uint8_t* p, uint32_t v)
{
    PutBE16(p, v >> 16);
    PutBE16(p + 2, v);
}

void AppendBytes(std::vector<uint8_t>& out, const uint8_t* p, size_t n)
{
    if (n > 0) out.insert(out.end(), p, p + n);
}

// Appends one resource: "8BIM", Id, the name bytes (already padded), the
// size, the data and the padding byte of odd data.
void AppendResource(std::vector<uint8_t>& out, uint16_t Id, const uint8_t* Name, size_t NameSize,
                    const uint8_t* Data, size_t Size)
{
    static const uint8_t kEmptyName[2] = {0, 0};
    uint8_t head[6] = {'8', 'B', 'I', 'M', 0, 0};
    PutBE16(head + 4, Id);
    AppendBytes(out, head, sizeof head);
    if (Name == nullptr) {
        Name = kEmptyName;
        NameSize = sizeof kEmptyName;
    }
    AppendBytes(out, Name, NameSize);
    uint8_t size[4];
    PutBE32(size, static_cast<uint32_t>(Size));
    AppendBytes(out, size, sizeof size);
    AppendBytes(out, Data, Size);
    if (Size % 2 != 0) out.push_back(0);
}

// The payload of a Photoshop APP13 marker with its IPTC resource replaced
// by Datasets (or removed when Datasets is nullptr). The first IPTC resource
// keeps its place and name, later ones go; without one, the new resource
// follows the last resource that could be parsed. Every other resource and
// any bytes after the parsed resources are kept as they were.
std::vector<uint8_t> ReplaceIPTCResource(const uint8_t* Block, size_t Length, const uint8_t* Datasets,
                                         size_t DatasetsLength)
{
    std::vector<uint8_t> out;
    const size_t head = Length < PxPhotoshopSignatureLength ? Length : PxPhotoshopSignatureLength;
    AppendBytes(out, Block, head);
    out.resize(PxPhotoshopSignatureLength, 0);

    const auto resources = PxParsePhotoshopResources(Block, Length);
    bool placed = Datasets == nullptr;
    for (const auto& r : resources) {
        if (r.Id == PxResourceIPTC) {
            if (!placed)
                AppendResource(out, PxResourceIPTC, Block + r.NameOffset, r.NameSize, Datasets, DatasetsLength);
            placed = true;
            continue;
        }
        AppendBytes(out, Block + r.Start, r.End - r.Start);
        // A last resource whose padding byte was missing gets it, so that
        // whatever follows starts at an even offset.
        if (r.End < r.DataOffset + r.DataSize + (r.DataSize & 1)) out.push_back(0);
    }
    if (!placed) AppendResource(out, PxResourceIPTC, nullptr, 0, Datasets, DatasetsLength);
    const size_t tail = resources.empty() ? head : resources.back().End;
    if (tail < Length) AppendBytes(out, Block + tail, Length - tail);
    return out;
}

// Stores Payload as marker Index, or deletes the marker when it holds only
// the signature. A payload without the IPTC resource is never longer than
// the old one; should it not fit all the same, the marker stays as it was.
void StoreOrDelete(TPxMarkerList& Markers, int Index, const std::vector<uint8_t>& Payload)
{
    if (Payload.size() <= PxPhotoshopSignatureLength)
        Markers.DeleteMarker(Index);
    else
        Markers.SetMarker(Index, PxMarkerAPP13, static_cast<int32_t>(Payload.size()), Payload.data());
}

bool HasIPTCResource(const uint8_t* Block, size_t Length)
{
    for (const auto& r : PxParsePhotoshopResources(Block, Length))
        if (r.Id == PxResourceIPTC) return true;
    return false;
}

int IndexOfXMPMarker(const TPxMarkerList& Markers)
{
    for (int i = 0; i < Markers.GetCount(); ++i)
        if (Markers.GetMarkerType(i) == PxMarkerAPP1 &&
            PxFindXMPPacket(Markers.GetMarkerData(i), static_cast<size_t>(Markers.GetMarkerLength(i))) != nullptr)
            return i;
    return -1;
}

bool AddFitting(TPxMarkerList& Markers, uint8_t Type, const std::vector<uint8_t>& Payload)
{
    if (Payload.size() > static_cast<size_t>(PxMaxMarkerPayload)) return false;
    return Markers.AddMarker(Type, Payload.data(), static_cast<int32_t>(Payload.size())) >= 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// XMP

bool PxLoadXMPFromAPP1(const uint8_t* Buffer, size_t Length, TIOParamsVals& Params)
{
    const uint8_t* packet = PxFindXMPPacket(Buffer, Length);
    if (packet == nullptr) return false;
    Params.XMPInfo.assign(reinterpret_cast<const char*>(packet), Buffer + Length - packet);
    return true;
}

std::vector<uint8_t> PxBuildXMPAPP1(const TIOParamsVals& Params)
{
    const size_t n = Params.XMPInfo.size();
    std::vector<uint8_t> out(PxXMPHeaderLength + n);
    std::memcpy(out.data(), PxXMPNamespace, PxXMPHeaderLength);  // with the zero
    if (n > 0) std::memcpy(out.data() + PxXMPHeaderLength, Params.XMPInfo.data(), n);
    return out;
}

// ---------------------------------------------------------------------------
// APP13

int PxIndexOfPhotoshopMarker(const TPxMarkerList& Markers)
{
    for (int i = 0; i < Markers.GetCount(); ++i)
        if (Markers.GetMarkerType(i) == PxMarkerAPP13 &&
            PxIsPhotoshopBlock(Markers.GetMarkerData(i), static_cast<size_t>(Markers.GetMarkerLength(i))))
            return i;
    return -1;
}

bool UpdateAPP13Resolution(TPxMarkerList& Markers, int32_t DpiX, int32_t DpiY)
{
    const int index = PxIndexOfPhotoshopMarker(Markers);
    if (index < 0) return false;
    const uint8_t* data = Markers.GetMarkerData(index);
    const auto length = static_cast<size_t>(Markers.GetMarkerLength(index));
    for (const auto& r : PxParsePhotoshopResources(data, length)) {
        if (r.Id != PxResourceResolution) continue;
        if (r.DataSize < 16) return false;
        std::vector<uint8_t> payload(data, data + length);
        uint8_t* p = payload.data() + r.DataOffset;
        // 16.16 fixed point in 32 bits: the integer part wraps beyond 65535.
        PutBE32(p, static_cast<uint32_t>(DpiX) << 16);
        PutBE16(p + 4, 1);  // horizontal resolution unit: pixels per inch
        PutBE16(p + 6, 1);  // width unit: inches
        PutBE32(p + 8, static_cast<uint32_t>(DpiY) << 16);
        PutBE16(p + 12, 1);
        PutBE16(p + 14, 1);
        return Markers.SetMarker(index, PxMarkerAPP13, static_cast<int32_t>(payload.size()), payload.data());
    }
    return false;
}

bool PxStoreIPTCInAPP13(TPxMarkerList& Markers, const uint8_t* Datasets, size_t Length)
{
    if (Length == 0) Datasets = nullptr;
    const int index = PxIndexOfPhotoshopMarker(Markers);
    if (index < 0) {
        if (Datasets == nullptr) return true;
        std::vector<uint8_t> payload;
        static const uint8_t kSignature[PxPhotoshopSignatureLength] = {'P', 'h', 'o', 't', 'o', 's', 'h',
                                                                      'o', 'p', ' ', '3', '.', '0', 0};
        AppendBytes(payload, kSignature, sizeof kSignature);
        AppendResource(payload, PxResourceIPTC, nullptr, 0, Datasets, Length);
        return AddFitting(Markers, PxMarkerAPP13, payload);
    }
    const uint8_t* data = Markers.GetMarkerData(index);
    const auto length = static_cast<size_t>(Markers.GetMarkerLength(index));
    if (Datasets == nullptr && !HasIPTCResource(data, length)) return true;
    std::vector<uint8_t> payload = ReplaceIPTCResource(data, length, Datasets, Length);
    if (payload.size() <= static_cast<size_t>(PxMaxMarkerPayload)) {
        StoreOrDelete(Markers, index, payload);
        return true;
    }
    StoreOrDelete(Markers, index, ReplaceIPTCResource(data, length, nullptr, 0));
    return false;
}

// ---------------------------------------------------------------------------
// The steps before a save

uint32_t PxUpdateJPEGMetadata(TIOParamsVals& Params)
{
    TPxMarkerList* markers = Params.JPEGMarkers.get();
    if (markers == nullptr) return 0;
    uint32_t dropped = 0;

    UpdateAPP13Resolution(*markers, Params.DpiX, Params.DpiY);

    if (TPxIPTCInfoList* iptc = Params.IPTCInfo.get();
        iptc != nullptr && (iptc->UserChanged || (iptc->GetCount() > 0 && markers->GetCount() == 0))) {
        // The block with the Photoshop header: the datasets start at byte 26
        // and bytes 22 to 25 give their length.
        const std::vector<uint8_t> block = iptc->SaveToBuffer(true);
        const uint8_t* datasets = nullptr;
        size_t length = 0;
        if (block.size() >= 26) {
            length = PxBe32(block.data() + 22);
            datasets = block.data() + 26;
        }
        if (!PxStoreIPTCInAPP13(*markers, datasets, length)) dropped |= pxMetaIPTCDropped;
    }

    if (Params.HasEXIF && PxEXIFBlockBuilder != nullptr) {
        std::vector<uint8_t> block;
        if (PxEXIFBlockBuilder(Params, block) && !block.empty()) {
            PxDeleteEXIFMarker(markers);
            if (!AddFitting(*markers, PxMarkerAPP1, block)) dropped |= pxMetaEXIFDropped;
        }
    }

    if (const int i = IndexOfXMPMarker(*markers); i >= 0) markers->DeleteMarker(i);
    if (!Params.XMPInfo.empty() && !AddFitting(*markers, PxMarkerAPP1, PxBuildXMPAPP1(Params)))
        dropped |= pxMetaXMPDropped;

    return dropped;
}

// ---------------------------------------------------------------------------
// Installation into the parameters

void PxInstallJPEGMetadataObjects()
{
    TIOParamsObjectServices& services = IOParamsObjectServices();
    if (!services.MarkerList.Installed()) services.MarkerList = PxPlainObjectKind<TPxMarkerList>();
    if (services.DeleteEXIFMarker == nullptr) services.DeleteEXIFMarker = &PxDeleteEXIFMarker;
    if (!services.IPTCInfo.Installed()) {
        services.IPTCInfo = PxPlainObjectKind<TPxIPTCInfoList>();
        // Emptied by a reset or before a load: that forgets the previous
        // file's record and is no change of the user's, so a later save does
        // not rewrite the IPTC record of the next file.
        services.IPTCInfo.Clear = [](TPxIPTCInfoList* List) {
            List->Clear();
            List->UserChanged = false;
        };
    }
}

}  // namespace imaging
