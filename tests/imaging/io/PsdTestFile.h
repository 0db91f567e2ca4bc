// Hand-made PSD documents for the PSD reader and writer tests: a big-endian
// byte builder, a document builder (header, colour-mode data, resources,
// layer section, merged channels) and a layer-section builder, plus a
// reader helper that counts a stream exception as a failed read.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/formats/psd/PsdReader.h"
#include "support/StreamBytes.h"

namespace psdtest {

using testsupport::SetBytes;
using testsupport::StreamBytes;

struct TBytes {
    std::vector<uint8_t> D;
    TBytes& U8(uint32_t v)
    {
        D.push_back(uint8_t(v));
        return *this;
    }
    TBytes& U16(uint32_t v) { return U8(v >> 8).U8(v); }
    TBytes& U32(uint32_t v) { return U16(v >> 16).U16(v); }
    TBytes& Add(const std::vector<uint8_t>& b)
    {
        D.insert(D.end(), b.begin(), b.end());
        return *this;
    }
    TBytes& Str(const std::string& s)
    {
        D.insert(D.end(), s.begin(), s.end());
        return *this;
    }
    size_t Size() const { return D.size(); }
    void Patch32(size_t At, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            D[At + size_t(i)] = uint8_t(v >> (24 - 8 * i));
    }
};

// One image resource block.
struct TResource {
    uint16_t Id = 0;
    std::vector<uint8_t> Data;
    std::string Name;
};

// One layer record and its channels (each channel's data given complete:
// compression word, then rows).
struct TLayerDef {
    int32_t Top = 0, Left = 0, Bottom = 0, Right = 0;
    std::vector<std::pair<int16_t, std::vector<uint8_t>>> Channels;
    uint8_t Opacity = 255, Clipping = 0, Flags = 0;
    std::string Name;
    bool HasMask = false;
    int32_t MaskTop = 0, MaskLeft = 0, MaskBottom = 0, MaskRight = 0;
};

// Uncompressed channel data: the compression word 0 and the bytes.
inline std::vector<uint8_t> RawChannel(const std::vector<uint8_t>& Bytes)
{
    TBytes b;
    b.U16(0).Add(Bytes);
    return b.D;
}

// The layer and mask section's content (without its own length field).
inline std::vector<uint8_t> LayerSection(const std::vector<TLayerDef>& Layers, int16_t Count)
{
    TBytes b;
    b.U32(0);  // layer-info length, patched
    b.U16(uint16_t(Count));
    for (const TLayerDef& l : Layers) {
        b.U32(uint32_t(l.Top)).U32(uint32_t(l.Left)).U32(uint32_t(l.Bottom)).U32(uint32_t(l.Right));
        b.U16(uint32_t(l.Channels.size()));
        for (const auto& c : l.Channels)
            b.U16(uint16_t(c.first)).U32(uint32_t(c.second.size()));
        b.Str("8BIMnorm").U8(l.Opacity).U8(l.Clipping).U8(l.Flags).U8(0);
        TBytes extra;
        if (l.HasMask) {
            extra.U32(20).U32(uint32_t(l.MaskTop)).U32(uint32_t(l.MaskLeft)).U32(uint32_t(l.MaskBottom));
            extra.U32(uint32_t(l.MaskRight)).U8(0).U8(0).U16(0);
        } else {
            extra.U32(0);
        }
        extra.U32(0).U8(uint32_t(l.Name.size())).Str(l.Name);
        while (extra.Size() % 4)
            extra.U8(0);
        // One additional-information block that the reader passes over.
        extra.Str("8BIMluni").U32(4).U32(0);
        b.U32(uint32_t(extra.Size())).Add(extra.D);
    }
    for (const TLayerDef& l : Layers)
        for (const auto& c : l.Channels)
            b.Add(c.second);
    b.Patch32(0, uint32_t(b.Size() - 4));
    b.U32(0);  // global layer mask information
    return b.D;
}

struct TDoc {
    uint16_t Version = 1;
    uint16_t Channels = 3;
    uint32_t Rows = 2;
    uint32_t Columns = 2;
    uint16_t Depth = 8;
    uint16_t Mode = 3;
    std::vector<uint8_t> ColourData;
    std::vector<TResource> Resources;
    std::vector<uint8_t> Layers;  // section content; empty: length 0
    uint16_t Compression = 0;
    std::vector<uint8_t> Image;   // merged data after the compression word

    std::vector<uint8_t> Build() const
    {
        TBytes b;
        b.Str("8BPS").U16(Version).U32(0).U16(0).U16(Channels).U32(Rows).U32(Columns).U16(Depth).U16(Mode);
        b.U32(uint32_t(ColourData.size())).Add(ColourData);
        TBytes r;
        for (const TResource& res : Resources) {
            r.Str("8BIM").U16(res.Id).U8(uint32_t(res.Name.size())).Str(res.Name);
            if ((res.Name.size() + 1) % 2)
                r.U8(0);
            r.U32(uint32_t(res.Data.size())).Add(res.Data);
            if (res.Data.size() % 2)
                r.U8(0);
        }
        b.U32(uint32_t(r.Size())).Add(r.D);
        b.U32(uint32_t(Layers.size())).Add(Layers);
        b.U16(Compression).Add(Image);
        return b.D;
    }
};

// PxReadPSD over the bytes; true when it failed (aborting flag or a stream
// exception, as the registry's reader counts them).
inline bool ReadFails(const std::vector<uint8_t>& Bytes, imaging::TPxBitmap* Bitmap, imaging::TIOParamsVals& Params,
                      imaging::TPxPSDLayerList* Layers = nullptr, bool LoadLayers = false,
                      std::vector<int>* Percents = nullptr)
{
    classlib::TMemoryStream m;
    SetBytes(m, Bytes);
    bool aborting = false;
    imaging::TPxIOProgressInfo info;
    info.Aborting = &aborting;
    if (Percents)
        info.Handler = imaging::TPxProgressEvent::FromFunction(
            [](void* List, classlib::TObject*, int Per) { static_cast<std::vector<int>*>(List)->push_back(Per); },
            Percents);
    try {
        imaging::PxReadPSD(&m, Bitmap, Params, Layers, LoadLayers, info);
    } catch (...) {
        return true;
    }
    return aborting;
}

}  // namespace psdtest
