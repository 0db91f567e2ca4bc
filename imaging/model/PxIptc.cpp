#include "imaging/model/PxIptc.h"

#include <cstring>
#include <limits>
#include <utility>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"

namespace imaging {

namespace {

constexpr uint8_t kTag = 0x1C;

void PutBE16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutBE32(std::vector<uint8_t>& out, uint32_t v)
{
    PutBE16(out, v >> 16);
    PutBE16(out, v);
}

uint32_t GetBE(const uint8_t* p, size_t count)
{
    uint32_t v = 0;
    for (size_t i = 0; i < count; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Parses the resource that starts at Pos; false when it does not start with
// "8BIM" or its name, size or data would run past the block's end.
bool ParseResourceAt(const uint8_t* Block, size_t Length, size_t Pos, TPxPhotoshopResource& Res)
{
    if (Pos > Length || Length - Pos < 8) return false;  // signature, id, name length byte (+1)
    if (std::memcmp(Block + Pos, "8BIM", 4) != 0) return false;
    Res.Id = static_cast<uint16_t>(GetBE(Block + Pos + 4, 2));
    Res.Start = Pos;
    Res.NameOffset = Pos + 6;
    Res.NameSize = (size_t{1} + Block[Res.NameOffset] + 1) & ~size_t{1};
    if (Length - Res.NameOffset < Res.NameSize + 4) return false;
    const size_t sizeOffset = Res.NameOffset + Res.NameSize;
    Res.DataSize = GetBE(Block + sizeOffset, 4);
    Res.DataOffset = sizeOffset + 4;
    if (Res.DataSize > Length - Res.DataOffset) return false;
    Res.End = Res.DataOffset + Res.DataSize;
    if ((Res.DataSize & 1) != 0 && Res.End < Length) ++Res.End;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// TPxIPTCInfoList

const TPxIPTCInfoList::TItem& TPxIPTCInfoList::At(int i) const
{
    if (i < 0 || i >= GetCount())
        throw classlib::EListError(classlib::Format(L"IPTC item index out of bounds (%d)", i));
    return items_[static_cast<size_t>(i)];
}

int32_t TPxIPTCInfoList::GetRecordNumber(int i) const { return At(i).Record; }

int32_t TPxIPTCInfoList::GetDataSet(int i) const { return At(i).DataSet; }

const uint8_t* TPxIPTCInfoList::GetItemData(int i) const
{
    const TItem& item = At(i);
    return item.Data.empty() ? nullptr : item.Data.data();
}

int32_t TPxIPTCInfoList::GetItemLength(int i) const { return static_cast<int32_t>(At(i).Data.size()); }

int TPxIPTCInfoList::AddItem(int32_t Record, int32_t DataSet, int32_t Length, const void* Data)
{
    TItem item;
    item.Record = Record;
    item.DataSet = DataSet;
    if (Length > 0 && Data != nullptr) {
        const auto* bytes = static_cast<const uint8_t*>(Data);
        item.Data.assign(bytes, bytes + Length);
    }
    items_.push_back(std::move(item));
    UserChanged = true;
    return GetCount() - 1;
}

void TPxIPTCInfoList::Clear()
{
    items_.clear();
    UserChanged = true;
}

void TPxIPTCInfoList::Assign(const TPxIPTCInfoList* Source)
{
    if (Source == nullptr || Source == this) return;
    Clear();
    items_ = Source->items_;
    UserChanged = true;
}

std::vector<uint8_t> TPxIPTCInfoList::SaveToBuffer(bool PhotoshopHeader) const
{
    std::vector<uint8_t> out;
    if (items_.empty()) return out;
    if (PhotoshopHeader) {
        static const uint8_t kHeader[22] = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3',
                                            '.', '0', 0,   '8', 'B', 'I', 'M', 4,   4,   0,   0};
        out.assign(kHeader, kHeader + sizeof kHeader);
        PutBE32(out, 0);  // the data length, filled in below
    } else {
        static const uint8_t kVersion[7] = {kTag, 2, 0, 0, 2, 0, 2};
        out.assign(kVersion, kVersion + sizeof kVersion);
    }
    uint64_t dataLength = 0;
    for (const TItem& item : items_) {
        const size_t n = item.Data.size();
        if ((item.Record == 2 && item.DataSet == 0) || n == 0) continue;
        out.push_back(kTag);
        out.push_back(static_cast<uint8_t>(item.Record));
        out.push_back(static_cast<uint8_t>(item.DataSet));
        if (n < 32768) {
            PutBE16(out, static_cast<uint32_t>(n));
            dataLength += 5 + n;
        } else {
            out.push_back(0x80);
            out.push_back(0x04);
            PutBE32(out, static_cast<uint32_t>(n));
            dataLength += 9 + n;
        }
        out.insert(out.end(), item.Data.begin(), item.Data.end());
    }
    if (out.size() % 2 != 0) out.push_back(0);
    if (PhotoshopHeader) {
        const auto v = static_cast<uint32_t>(dataLength);
        out[22] = static_cast<uint8_t>(v >> 24);
        out[23] = static_cast<uint8_t>(v >> 16);
        out[24] = static_cast<uint8_t>(v >> 8);
        out[25] = static_cast<uint8_t>(v);
    }
    return out;
}

bool TPxIPTCInfoList::LoadFromBuffer(const void* Buffer, size_t Length)
{
    items_.clear();
    const auto* b = static_cast<const uint8_t*>(Buffer);
    bool any = false;
    size_t pos = 0;
    size_t end = Length;
    bool ok = b != nullptr && Length > 0;

    if (ok && PxIsPhotoshopBlock(b, Length)) {
        // The datasets are the data of the first IPTC resource. Resources are
        // walked one by one; past a resource that cannot be parsed, the
        // first "8BIM" 0x04 0x04 found by search is tried.
        bool complete = false;
        const auto resources = PxParsePhotoshopResources(b, Length, &complete);
        TPxPhotoshopResource iptc;
        bool found = false;
        for (const auto& r : resources) {
            if (r.Id == PxResourceIPTC) {
                iptc = r;
                found = true;
                break;
            }
        }
        if (!found && !complete) {
            static const uint8_t kSig[6] = {'8', 'B', 'I', 'M', 4, 4};
            size_t from = resources.empty() ? PxPhotoshopSignatureLength : resources.back().End;
            for (size_t p = from; !found && p + sizeof kSig <= Length; ++p)
                if (std::memcmp(b + p, kSig, sizeof kSig) == 0) found = ParseResourceAt(b, Length, p, iptc);
        }
        ok = found;
        if (found) {
            pos = iptc.DataOffset;
            end = iptc.DataOffset + iptc.DataSize;
        }
    }

    if (ok) {
        while (pos < end && b[pos] != kTag)
            ++pos;
        while (pos + 1 < end && b[pos + 1] == kTag)
            ++pos;
        while (pos < end) {
            if (b[pos] != kTag || end - pos <= 5) break;
            const uint8_t record = b[pos + 1];
            const uint8_t dataSet = b[pos + 2];
            size_t dataPos;
            uint64_t n;
            if ((b[pos + 3] & 0x80) != 0) {
                // Extended length: the low 15 bits give the number of length
                // bytes that follow; the length is unsigned and must fit the
                // data that remain.
                const size_t count = GetBE(b + pos + 3, 2) & 0x7FFF;
                if (count < 1 || count > 4 || end - (pos + 5) < count) break;
                n = GetBE(b + pos + 5, count);
                dataPos = pos + 5 + count;
            } else {
                n = GetBE(b + pos + 3, 2);
                dataPos = pos + 5;
            }
            if (n > end - dataPos || n > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) break;
            TItem item;
            item.Record = record;
            item.DataSet = dataSet;
            item.Data.assign(b + dataPos, b + dataPos + n);
            items_.push_back(std::move(item));
            any = true;
            pos = dataPos + static_cast<size_t>(n);
        }
    }
    UserChanged = false;
    return any;
}

// ---------------------------------------------------------------------------
// Photoshop resource blocks

bool PxIsPhotoshopBlock(const uint8_t* Block, size_t Length)
{
    return Block != nullptr && Length >= 13 && std::memcmp(Block, "Photoshop 3.0", 13) == 0;
}

std::vector<TPxPhotoshopResource> PxParsePhotoshopResources(const uint8_t* Block, size_t Length, bool* Complete)
{
    std::vector<TPxPhotoshopResource> resources;
    bool complete = false;
    if (PxIsPhotoshopBlock(Block, Length)) {
        size_t pos = PxPhotoshopSignatureLength;
        while (true) {
            if (pos >= Length) {
                complete = true;
                break;
            }
            TPxPhotoshopResource r;
            if (!ParseResourceAt(Block, Length, pos, r)) break;
            resources.push_back(r);
            pos = r.End;
        }
    }
    if (Complete != nullptr) *Complete = complete;
    return resources;
}

}  // namespace imaging
