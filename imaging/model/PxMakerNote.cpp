#include "imaging/model/PxMakerNote.h"

#include <algorithm>
#include <cstring>

#include "imaging/model/PxIfdEditor.h"

namespace imaging {

namespace {

std::string Sig(const char* Text, size_t Length) { return std::string(Text, Length); }

const TPxEXIFMakerNoteDeviceInfo kDevices[PxMakerNoteDeviceCount] = {
    {Sig("SONY CAM \0\0\0", 12), 0, 0, {}, 0},
    {Sig("SONY DSC \0\0\0", 12), 0, 0, {}, 0},
    {Sig("Nikon\0\x02\x10\0\0", 10), 1, 1, {}, 1},
    {Sig("QVC\0\0\0", 6), 0, 0, {}, 3},
    {Sig("EPSON\0\x01\0", 8), 0, 0, {}, 0},
    {Sig("Nikon\0\x01\0", 8), 0, 0, {}, 0},
    {Sig("Panasonic\0\0\0", 12), 0, 0, {}, 0},
};

// The tag stream is in host order; the target is little-endian.
uint16_t HostU16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
uint32_t HostU32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void WriteEntry(classlib::TStream& Stream, int64_t Slot, const TPxMakerNoteEntry& Entry)
{
    uint8_t b[12];
    std::memcpy(b, &Entry.Tag, 2);
    std::memcpy(b + 2, &Entry.Type, 2);
    std::memcpy(b + 4, &Entry.Count, 4);
    std::memcpy(b + 8, &Entry.Value, 4);
    Stream.SetPosition(Slot);
    Stream.WriteBuffer(b, 12);
}

}  // namespace

const TPxEXIFMakerNoteDeviceInfo& PxMakerNoteDevice(int Index) { return kDevices[Index]; }

uint32_t PxMakerNoteTypeSize(uint16_t Type)
{
    const uint32_t size = PxTIFFTypeSize(Type);
    return size == 0 ? 1 : size;
}

void TPxTagsHandler::Clear()
{
    FData.clear();
    FData.shrink_to_fit();
    Entries.clear();
    Device = TPxEXIFMakerNoteDeviceInfo();
    TagStream.Clear();
    ReadLittleEndian = true;
}

void TPxTagsHandler::Assign(const TPxTagsHandler* Source)
{
    if (Source == this) return;
    Clear();
    if (Source == nullptr) return;
    // GetSize does not change the stream; it is not declared const.
    auto& sourceStream = const_cast<classlib::TMemoryStream&>(Source->TagStream);
    if (sourceStream.GetSize() > 0) {
        TagStream.WriteBuffer(sourceStream.GetMemory(), sourceStream.GetSize());
        TagStream.SetPosition(0);
    }
    LoadEntries();
    FData = Source->FData;
    Device = Source->Device;
    ReadLittleEndian = Source->ReadLittleEndian;
}

void TPxTagsHandler::SetData(const uint8_t* Buffer, int32_t Count)
{
    FData.clear();
    if (Buffer != nullptr && Count > 0) FData.assign(Buffer, Buffer + Count);
}

void TPxTagsHandler::DetectDevice()
{
    Device = TPxEXIFMakerNoteDeviceInfo();
    for (const TPxEXIFMakerNoteDeviceInfo& d : kDevices) {
        const size_t n = std::min(FData.size(), d.Signature.size());
        if (std::memcmp(FData.data(), d.Signature.data(), n) == 0) {
            Device = d;
            return;
        }
    }
}

void TPxTagsHandler::LoadEntries()
{
    Entries.clear();
    const int64_t size = TagStream.GetSize();
    if (size < 2) return;
    const auto* p = static_cast<const uint8_t*>(TagStream.GetMemory());
    const uint16_t n = HostU16(p);
    for (uint32_t i = 0; i < n && 2 + 12 * int64_t(i + 1) <= size; ++i) {
        const uint8_t* e = p + 2 + 12 * i;
        Entries.push_back({HostU16(e), HostU16(e + 2), HostU32(e + 4), HostU32(e + 8)});
    }
}

void TPxTagsHandler::ReadFromStream(classlib::TStream* Stream, int32_t Size, bool LittleEndian)
{
    Clear();
    if (Stream == nullptr || Size <= 0) return;
    const int64_t p0 = Stream->GetPosition();
    if (Size > Stream->GetSize() - p0) return;  // the note does not lie inside the block
    FData.resize(static_cast<size_t>(Size));
    Stream->ReadBuffer(FData.data(), Size);
    if (Size <= 1) return;
    if (!ReadEntries(p0, LittleEndian)) {
        Clear();
        return;
    }
    LoadEntries();
}

bool TPxTagsHandler::ReadEntries(int64_t P0, bool LittleEndian)
{
    DetectDevice();
    const auto size = static_cast<int64_t>(FData.size());
    int64_t list = static_cast<int64_t>(Device.Signature.size());
    int64_t h = 0;
    if (Device.HasHeader) {
        if (list + 8 > size) return false;
        h = list;
        std::memcpy(Device.Header, FData.data() + h, 8);
        list += 8;
    }
    bool little = LittleEndian;
    switch (Device.ByteOrderMode) {
    case 1: little = Device.Header[0] == 'I' && Device.Header[1] == 'I'; break;
    case 2: little = true; break;
    case 3: little = false; break;
    default: break;
    }
    if (list + 2 > size) return false;
    const uint8_t* raw = FData.data();
    const uint16_t n = PxGetU16(raw + list, little);
    if (n > 256 || list + 2 + 12 * int64_t(n) > size) return false;

    ReadLittleEndian = little;
    TagStream.Clear();
    TagStream.SetSize(2 + 12 * int64_t(n));
    TagStream.SetPosition(0);
    TagStream.WriteBuffer(&n, 2);
    for (int i = 0; i < n; ++i) {
        const uint8_t* e = raw + list + 2 + 12 * i;
        TPxMakerNoteEntry entry{PxGetU16(e, little), PxGetU16(e + 2, little), PxGetU32(e + 4, little),
                                PxGetU32(e + 8, little)};
        const uint64_t bytes = uint64_t(entry.Count) * PxMakerNoteTypeSize(entry.Type);
        if (bytes > 4) {
            const int64_t pos = Device.OffsetMode == 1 ? int64_t(entry.Value) + h : int64_t(entry.Value) - P0;
            if (pos < 0 || bytes > uint64_t(size) || pos > size - int64_t(bytes)) {
                entry.Count = 0;
                entry.Value = 0;
            } else {
                const int64_t at = TagStream.GetSize();
                TagStream.SetPosition(at);
                TagStream.WriteBuffer(raw + pos, static_cast<int64_t>(bytes));
                entry.Value = static_cast<uint32_t>(at);
            }
        }
        WriteEntry(TagStream, 2 + 12 * int64_t(i), entry);
    }
    TagStream.SetPosition(0);
    return true;
}

int32_t TPxTagsHandler::WriteToStream(classlib::TStream* Stream, bool BlockLittleEndian)
{
    if (Stream == nullptr || TagStream.GetSize() < 2) return 0;
    bool little = BlockLittleEndian;
    switch (Device.ByteOrderMode) {
    case 1: little = !(Device.Header[0] == 'M' && Device.Header[1] == 'M'); break;
    case 2: little = true; break;
    case 3: little = false; break;
    default: break;
    }
    const bool swap = little != ReadLittleEndian;
    const auto* tags = static_cast<const uint8_t*>(TagStream.GetMemory());
    const int64_t tagSize = TagStream.GetSize();
    const auto n = static_cast<uint32_t>(Entries.size());

    const int64_t start = Stream->GetPosition();
    const int64_t headerPos = start + static_cast<int64_t>(Device.Signature.size());
    const int64_t listPos = headerPos + (Device.HasHeader ? 8 : 0);
    const int64_t valuesStart = listPos + 2 + 12 * int64_t(n) + 4;

    // Lay the note out in memory first, so that an oversized note writes
    // nothing.
    std::vector<uint8_t> out(static_cast<size_t>(valuesStart - start), 0);
    std::memcpy(out.data(), Device.Signature.data(), Device.Signature.size());
    if (Device.HasHeader) {
        uint8_t* hp = out.data() + (headerPos - start);
        std::memcpy(hp, Device.Header, 8);
        const bool headerLittle = !(Device.Header[0] == 'M' && Device.Header[1] == 'M');
        PxPutU32(hp + 4, 8, headerLittle);
    }
    PxPutU16(out.data() + (listPos - start), static_cast<uint16_t>(n), little);
    int64_t values = valuesStart;
    for (uint32_t i = 0; i < n; ++i) {
        TPxMakerNoteEntry e = Entries[i];
        uint8_t word[4];
        const uint64_t bytes = uint64_t(e.Count) * PxMakerNoteTypeSize(e.Type);
        if (bytes > 4) {
            if (e.Value > uint64_t(tagSize) || bytes > uint64_t(tagSize) - e.Value) {
                e.Count = 0;
                std::memset(word, 0, 4);
            } else {
                // Each value block after the first starts at an even position.
                if (values != valuesStart && (values & 1)) ++values;
                std::vector<uint8_t> data(tags + e.Value, tags + e.Value + bytes);
                if (swap) PxSwapTIFFValues(e.Type, data.data(), e.Count, data.size());
                out.resize(static_cast<size_t>(values - start), 0);
                out.insert(out.end(), data.begin(), data.end());
                const int64_t offset = Device.OffsetMode == 1 ? values - headerPos : values;
                PxPutU32(word, static_cast<uint32_t>(offset), little);
                values += static_cast<int64_t>(bytes);
            }
        } else {
            PxPutU32(word, e.Value, ReadLittleEndian);
            if (swap) PxSwapTIFFValues(e.Type, word, e.Count, 4);
        }
        uint8_t* slot = out.data() + (listPos - start) + 2 + 12 * i;
        PxPutU16(slot, e.Tag, little);
        PxPutU16(slot + 2, e.Type, little);
        PxPutU32(slot + 4, e.Count, little);
        std::memcpy(slot + 8, word, 4);
    }
    out.resize(static_cast<size_t>(values - start), 0);
    if (out.size() > static_cast<size_t>(PxMaxMakerNoteSize)) return 0;
    Stream->WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
    return static_cast<int32_t>(out.size());
}

}  // namespace imaging
