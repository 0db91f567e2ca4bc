// The metadata of a JPEG save: moving the XMP packet between an APP1 marker
// and the file parameters, and bringing the marker list of the parameters
// up to date before the JPEG writer writes it (resolution record and IPTC
// record of the Photoshop APP13 marker, EXIF APP1, XMP APP1).
//
// This unit also installs the marker list, the IPTC list and the deletion of
// the EXIF marker into IOParamsObjectServices() from its static
// initialisation, so that every TIOParamsVals created afterwards holds a
// marker list and an IPTC list.
//
// A block that does not fit one marker (more than PxMaxMarkerPayload bytes)
// is never written; the marker it would have replaced is removed (so the
// file carries no metadata that contradicts the parameters) and the result
// of PxUpdateJPEGMetadata says which kinds were left out. That never makes
// a save fail: the image itself can always be written.
//
// Threads: one thread at a time per parameter set. PxEXIFBlockBuilder is
// set at start-up and read afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/io/core/IOParams.h"
#include "imaging/model/PxIptc.h"
#include "imaging/model/PxJpegMarkers.h"
#include "imaging/model/PxXmp.h"

namespace imaging {

// ---- XMP packets

// When PxFindXMPPacket finds a packet in the APP1 payload, copies the bytes
// from there to the payload's end into Params.XMPInfo and returns true;
// otherwise Params stays as it was.
bool PxLoadXMPFromAPP1(const uint8_t* Buffer, size_t Length, TIOParamsVals& Params);
// An APP1 payload of 29 + n bytes: the namespace identifier and its zero,
// then the n bytes of Params.XMPInfo.
std::vector<uint8_t> PxBuildXMPAPP1(const TIOParamsVals& Params);

// ---- the steps before a JPEG save

// Builds the EXIF block of Params with its "Exif" header into Block; false
// when it built nothing. Installed by the EXIF unit; until it is, a save
// treats the image as having no EXIF data of its own and leaves any EXIF
// marker of the list as it is.
using TPxEXIFBlockBuilder = bool (*)(TIOParamsVals& Params, std::vector<uint8_t>& Block);
extern TPxEXIFBlockBuilder PxEXIFBlockBuilder;

// The first APP13 marker holding Photoshop resources, -1 when none.
int PxIndexOfPhotoshopMarker(const TPxMarkerList& Markers);

// Rewrites the first resolution record (resource 0x03ED with at least 16
// data bytes) of the first Photoshop APP13 marker: horizontal and vertical
// resolution as 16.16 fixed point (DpiX, DpiY), the four unit fields 1.
// True when a record was rewritten; nothing changes when there is no such
// marker or record.
bool UpdateAPP13Resolution(TPxMarkerList& Markers, int32_t DpiX, int32_t DpiY);

// Puts the datasets of an IPTC block (Length bytes, no header; Length 0
// removes the record) into the first Photoshop APP13 marker as its IPTC
// resource, keeping every other resource and byte of the marker in place.
// Without such a marker, a new APP13 marker is appended (none for Length 0).
// A marker left without resources is deleted. Returns false when the result
// would not fit one marker: then the old IPTC resource is removed instead.
bool PxStoreIPTCInAPP13(TPxMarkerList& Markers, const uint8_t* Datasets, size_t Length);

// Kinds of metadata PxUpdateJPEGMetadata left out because they do not fit
// one marker.
constexpr uint32_t pxMetaIPTCDropped = 1;
constexpr uint32_t pxMetaEXIFDropped = 2;
constexpr uint32_t pxMetaXMPDropped = 4;

// Brings Params.JPEGMarkers up to date before a JPEG save, in this order:
// 1. UpdateAPP13Resolution with DpiX and DpiY;
// 2. when the IPTC list is marked changed, or holds items while the marker
//    list is empty: its datasets replace the IPTC resource of the APP13
//    marker (PxStoreIPTCInAPP13);
// 3. when HasEXIF is set and an EXIF builder is installed: the first EXIF
//    APP1 marker is deleted and the new block appended;
// 4. the first APP1 marker holding an XMP packet is deleted; when XMPInfo
//    is not empty its APP1 marker is appended.
// The list then holds the markers as they will be written, so a second save
// replaces the EXIF and XMP markers again (they move to the end). Returns
// the pxMeta...Dropped flags of the blocks left out (0 normally). Nothing
// when the parameters hold no marker list.
uint32_t PxUpdateJPEGMetadata(TIOParamsVals& Params);

// Installs the marker list, IPTC list and EXIF-marker deletion into
// IOParamsObjectServices(); PxInstallBuiltInFormats calls it, repeated calls
// do nothing more.
void PxInstallJPEGMetadataObjects();

}  // namespace imaging
