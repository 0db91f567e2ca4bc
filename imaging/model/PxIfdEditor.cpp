#include "imaging/model/PxIfdEditor.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "classlib/Streams.h"
#include "imaging/model/PxFileText.h"

namespace imaging {

namespace {

// Sub-IFDs nested deeper than this are not read (real files nest two deep).
constexpr int kMaxSubIFDDepth = 8;

struct TLoadState {
    classlib::TStream* Stream;
    int64_t Size;
    bool Little;
    uint16_t Version;
    int64_t ChunkBudget;          // bytes the data chunks may still take
    std::set<uint32_t> Visited;   // IFD offsets read so far (chain and sub-IFDs)
    bool Damaged = false;
};

bool ReadAt(TLoadState& S, int64_t Offset, void* Buffer, int64_t Count)
{
    if (Offset < 0 || Count < 0 || Offset > S.Size || Count > S.Size - Offset) return false;
    S.Stream->SetPosition(Offset);
    S.Stream->ReadBuffer(Buffer, Count);
    return true;
}

void SortEntries(TPxTIFFPage& Page)
{
    std::stable_sort(Page.Entries.begin(), Page.Entries.end(),
                     [](const TPxTIFFEntry& a, const TPxTIFFEntry& b) { return a.Tag < b.Tag; });
}

uint64_t EntryBytes(const TPxTIFFEntry& E) { return uint64_t(E.Count) * PxTIFFTypeSize(E.Type); }

const uint8_t* BytesOf(const TPxTIFFEntry& E) { return EntryBytes(E) > 4 ? E.Data.data() : E.Value; }

// Value I of an entry as an unsigned integer (SHORT or LONG offsets and
// counts); 0 outside.
uint32_t UnsignedValue(const TPxTIFFEntry& E, uint32_t I, bool Little)
{
    if (I >= E.Count) return 0;
    const uint8_t* p = BytesOf(E);
    const uint64_t size = PxTIFFTypeSize(E.Type);
    if (p == nullptr || (I + 1) * size > std::max<uint64_t>(EntryBytes(E), 0)) return 0;
    switch (E.Type) {
    case 1: case 2: case 6: case 7: return p[I];
    case 3: case 8: return PxGetU16(p + 2 * I, Little);
    case 4: case 9: case 13: return PxGetU32(p + 4 * I, Little);
    default: return 0;
    }
}

std::unique_ptr<TPxTIFFPage> ReadIFD(TLoadState& S, uint32_t Offset, int Depth, int64_t* LinkPosition);

void LoadChunks(TLoadState& S, TPxTIFFPage& Page)
{
    for (TPxTIFFEntry& e : Page.Entries) {
        const uint16_t partner = PxTIFFOffsetPartner(e.Tag, S.Version);
        if (partner == 0) continue;
        const TPxTIFFEntry* counts = nullptr;
        for (const TPxTIFFEntry& c : Page.Entries)
            if (c.Tag == partner) counts = &c;
        if (e.Type != 3 && e.Type != 4) continue;  // offsets are SHORT or LONG
        std::vector<std::vector<uint8_t>> chunks(e.Count);
        for (uint32_t i = 0; i < e.Count; ++i) {
            const uint32_t offset = UnsignedValue(e, i, S.Little);
            const uint32_t count = counts ? UnsignedValue(*counts, i, S.Little) : 0;
            if (count == 0 || count > S.ChunkBudget) continue;
            std::vector<uint8_t>& chunk = chunks[i];
            chunk.resize(count);
            if (!ReadAt(S, offset, chunk.data(), count)) {
                S.Damaged = true;
                chunk.clear();
                continue;
            }
            S.ChunkBudget -= count;
        }
        e.Chunks = std::move(chunks);
        e.IsOffsetTag = true;
        e.Type = 4;
        e.Data.clear();
        std::memset(e.Value, 0, 4);
    }
}

std::unique_ptr<TPxTIFFPage> ReadIFD(TLoadState& S, uint32_t Offset, int Depth, int64_t* LinkPosition)
{
    uint8_t countBytes[2];
    if (!S.Visited.insert(Offset).second || !ReadAt(S, Offset, countBytes, 2)) {
        S.Damaged = true;
        return nullptr;
    }
    uint32_t n = PxGetU16(countBytes, S.Little);
    // Entries beyond the stream's end are not there.
    if (int64_t(n) > (S.Size - Offset - 2) / 12) {
        S.Damaged = true;
        n = static_cast<uint32_t>((S.Size - Offset - 2) / 12);
    }
    std::vector<uint8_t> raw(size_t(n) * 12);
    if (n > 0 && !ReadAt(S, int64_t(Offset) + 2, raw.data(), int64_t(raw.size()))) return nullptr;
    if (LinkPosition) *LinkPosition = int64_t(Offset) + 2 + 12 * int64_t(n);

    auto page = std::make_unique<TPxTIFFPage>();
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* r = raw.data() + 12 * i;
        TPxTIFFEntry e;
        e.Tag = PxGetU16(r, S.Little);
        e.Type = PxGetU16(r + 2, S.Little);
        e.Count = PxGetU32(r + 4, S.Little);
        std::memcpy(e.Value, r + 8, 4);
        const uint64_t bytes = EntryBytes(e);
        if (PxIsSubIFDTag(e.Tag)) {
            const uint32_t sub = PxGetU32(e.Value, S.Little);
            if (Depth >= kMaxSubIFDDepth || sub == 0) {
                S.Damaged = true;
                continue;
            }
            e.SubIFD = ReadIFD(S, sub, Depth + 1, nullptr);
            if (!e.SubIFD) continue;  // outside the stream, or looping back
            e.Type = 4;
            e.Count = 1;
            std::memset(e.Value, 0, 4);
        } else if (bytes > 4) {
            const uint32_t at = PxGetU32(e.Value, S.Little);
            if (bytes >= uint64_t(S.Size) || at > S.Size - int64_t(bytes)) {  // dropped
                S.Damaged = true;
                continue;
            }
            e.SourceOffset = at;
            e.Data.resize(static_cast<size_t>(bytes));
            ReadAt(S, at, e.Data.data(), int64_t(bytes));
        }
        page->Entries.push_back(std::move(e));
    }
    if (Depth == 0) {
        LoadChunks(S, *page);
        // A JPEG-compressed page that has both strips and an interchange
        // stream keeps only the interchange stream.
        const int compression = TPxTIFFHandler::FindTagIn(*page, 259);
        if (compression >= 0 && UnsignedValue(page->Entries[compression], 0, S.Little) == 6 &&
            TPxTIFFHandler::FindTagIn(*page, 273) >= 0 && TPxTIFFHandler::FindTagIn(*page, 513) >= 0) {
            for (uint16_t tag : {273, 519, 520, 521}) {
                const int k = TPxTIFFHandler::FindTagIn(*page, tag);
                if (k >= 0) page->Entries.erase(page->Entries.begin() + k);
            }
        }
    }
    SortEntries(*page);
    return page;
}

// ---- writing

void Align(classlib::TStream* Stream)
{
    const int64_t pos = Stream->GetPosition();
    if (pos & 1) {
        const uint8_t zero = 0;
        Stream->WriteBuffer(&zero, 1);
    }
}

int64_t WriteIFD(classlib::TStream* Stream, TPxTIFFPage& Page, bool Little)
{
    SortEntries(Page);
    const int64_t start = Stream->GetPosition();
    const auto n = static_cast<uint32_t>(Page.Entries.size());
    std::vector<uint8_t> table(2 + 12 * size_t(n) + 4, 0);
    PxPutU16(table.data(), static_cast<uint16_t>(n), Little);
    Stream->WriteBuffer(table.data(), int64_t(table.size()));
    for (uint32_t i = 0; i < n; ++i) {
        TPxTIFFEntry& e = Page.Entries[i];
        uint8_t* slot = table.data() + 2 + 12 * i;
        uint16_t type = e.Type;
        uint32_t count = e.Count;
        uint8_t word[4];
        std::memcpy(word, e.Value, 4);
        if (e.IsOffsetTag) {
            type = 4;
            count = static_cast<uint32_t>(e.Chunks.size());
            std::vector<uint32_t> positions;
            for (const std::vector<uint8_t>& chunk : e.Chunks) {
                Align(Stream);
                positions.push_back(static_cast<uint32_t>(Stream->GetPosition()));
                if (!chunk.empty()) Stream->WriteBuffer(chunk.data(), int64_t(chunk.size()));
            }
            if (positions.size() == 1) {
                PxPutU32(word, positions[0], Little);
            } else if (positions.size() > 1) {
                Align(Stream);
                PxPutU32(word, static_cast<uint32_t>(Stream->GetPosition()), Little);
                std::vector<uint8_t> array(positions.size() * 4);
                for (size_t k = 0; k < positions.size(); ++k) PxPutU32(array.data() + 4 * k, positions[k], Little);
                Stream->WriteBuffer(array.data(), int64_t(array.size()));
            } else {
                std::memset(word, 0, 4);
            }
        } else if (e.SubIFD) {
            Align(Stream);
            type = 4;
            count = 1;
            PxPutU32(word, static_cast<uint32_t>(Stream->GetPosition()), Little);
            WriteIFD(Stream, *e.SubIFD, Little);
        } else if (EntryBytes(e) > 4) {
            Align(Stream);
            PxPutU32(word, static_cast<uint32_t>(Stream->GetPosition()), Little);
            Stream->WriteBuffer(e.Data.data(), int64_t(e.Data.size()));
        }
        PxPutU16(slot, e.Tag, Little);
        PxPutU16(slot + 2, type, Little);
        PxPutU32(slot + 4, count, Little);
        std::memcpy(slot + 8, word, 4);
    }
    const int64_t end = Stream->GetPosition();
    Stream->SetPosition(start);
    Stream->WriteBuffer(table.data(), int64_t(table.size()));
    Stream->SetPosition(end);
    return start + 2 + 12 * int64_t(n);
}

void ConvertEntry(TPxTIFFEntry& E)
{
    if (E.IsOffsetTag) return;  // offsets are rewritten, chunks are image data
    if (E.SubIFD) {
        for (TPxTIFFEntry& s : E.SubIFD->Entries) ConvertEntry(s);
        return;
    }
    if (EntryBytes(E) > 4)
        PxSwapTIFFValues(E.Type, E.Data.data(), E.Count, E.Data.size());
    else
        PxSwapTIFFValues(E.Type, E.Value, E.Count, 4);
}

}  // namespace

uint32_t PxTIFFTypeSize(uint16_t Type)
{
    static const uint8_t kSizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    return Type <= 12 ? kSizes[Type] : 0;
}

void PxSwapTIFFValues(uint16_t Type, uint8_t* Data, uint64_t Count, uint64_t Size)
{
    uint32_t unit = PxTIFFTypeSize(Type);
    if (Type == 5 || Type == 10) {  // two 32-bit halves
        unit = 4;
        Count = Count > UINT64_MAX / 2 ? UINT64_MAX : Count * 2;
    }
    if (unit < 2 || Data == nullptr) return;
    for (uint64_t i = 0; i < Count && (i + 1) * unit <= Size; ++i) std::reverse(Data + i * unit, Data + (i + 1) * unit);
}

bool PxIsSubIFDTag(uint16_t Tag) { return Tag == PxTagExifIFD || Tag == PxTagGPSIFD || Tag == PxTagInteropIFD; }

uint16_t PxTIFFOffsetPartner(uint16_t Tag, uint16_t Version)
{
    switch (Tag) {
    case 273: return 279;
    case 324: return 325;
    case 513: return 514;
    case 48320: return Version == 444 ? 48321 : 0;
    case 48322: return Version == 444 ? 48323 : 0;
    default: return 0;
    }
}

TPxTIFFEntry TPxTIFFEntry::Clone() const
{
    TPxTIFFEntry c;
    c.Tag = Tag;
    c.Type = Type;
    c.Count = Count;
    std::memcpy(c.Value, Value, 4);
    c.Data = Data;
    if (SubIFD) {
        c.SubIFD = std::make_unique<TPxTIFFPage>();
        for (const TPxTIFFEntry& e : SubIFD->Entries) c.SubIFD->Entries.push_back(e.Clone());
    }
    c.Chunks = Chunks;
    c.IsOffsetTag = IsOffsetTag;
    c.SourceOffset = SourceOffset;
    return c;
}

std::unique_ptr<TPxTIFFHandler> TPxTIFFHandler::CreateFromFile(const std::wstring& Name)
{
    auto handler = std::make_unique<TPxTIFFHandler>();
    if (PxFileExists(Name)) {
        classlib::TFileStream file(Name, classlib::fmOpenRead | classlib::fmShareDenyWrite);
        handler->LoadFromStream(&file);
    }
    return handler;
}

std::unique_ptr<TPxTIFFHandler> TPxTIFFHandler::CreateFromStream(classlib::TStream* Stream)
{
    auto handler = std::make_unique<TPxTIFFHandler>();
    if (Stream) handler->LoadFromStream(Stream);
    return handler;
}

void TPxTIFFHandler::Clear()
{
    Pages.clear();
    Damaged = false;
    ChainCut = false;
}

bool TPxTIFFHandler::LoadFromStream(classlib::TStream* Stream)
{
    Clear();
    uint8_t header[8];
    const int64_t size = Stream->GetSize();
    if (Stream->Read(header, 8) != 8) return false;
    if (header[0] == 'I' && header[1] == 'I')
        BigEndian = false;
    else if (header[0] == 'M' && header[1] == 'M')
        BigEndian = true;
    else
        return false;
    Version = PxGetU16(header + 2, Little());
    TLoadState state{Stream, size, Little(), Version, 2 * size + 65536, {}};
    uint32_t next = PxGetU32(header + 4, Little());
    while (next != 0 && int64_t(next) < size && state.Visited.count(next) == 0) {
        int64_t link = -1;
        std::unique_ptr<TPxTIFFPage> page = ReadIFD(state, next, 0, &link);
        if (!page) {
            next = 0;
            break;
        }
        Pages.push_back(std::move(page));
        uint8_t word[4];
        if (link < 0 || !ReadAt(state, link, word, 4)) {
            state.Damaged = true;
            next = 0;
            break;
        }
        next = PxGetU32(word, Little());
    }
    if (next != 0 && state.Visited.count(next) != 0) state.Damaged = true;
    ChainCut = next != 0 && int64_t(next) >= size;
    Damaged = state.Damaged;
    return true;
}

TPxTIFFPage* TPxTIFFHandler::GetPage(int Page) const
{
    return Page >= 0 && Page < GetPageCount() ? Pages[size_t(Page)].get() : nullptr;
}

TPxTIFFPage* TPxTIFFHandler::AddPage()
{
    Pages.push_back(std::make_unique<TPxTIFFPage>());
    return Pages.back().get();
}

int TPxTIFFHandler::FindTagIn(const TPxTIFFPage& Entries, uint16_t Tag)
{
    for (size_t i = 0; i < Entries.Entries.size(); ++i)
        if (Entries.Entries[i].Tag == Tag) return static_cast<int>(i);
    return -1;
}

int TPxTIFFHandler::FindTag(int Page, uint16_t Tag) const
{
    const TPxTIFFPage* page = GetPage(Page);
    return page ? FindTagIn(*page, Tag) : -1;
}

const uint8_t* TPxTIFFHandler::GetEntryBytes(const TPxTIFFEntry& Entry) const { return BytesOf(Entry); }

int64_t TPxTIFFHandler::GetTagValue(const TPxTIFFPage& Entries, uint16_t Tag, uint32_t I) const
{
    const int k = FindTagIn(Entries, Tag);
    if (k < 0) return 0;
    const TPxTIFFEntry& e = Entries.Entries[size_t(k)];
    if (e.IsOffsetTag)
        return I < e.Chunks.size() && !e.Chunks[I].empty()
                   ? static_cast<int64_t>(reinterpret_cast<intptr_t>(e.Chunks[I].data()))
                   : 0;
    if (e.Type == 6 && I < e.Count) return static_cast<int8_t>(BytesOf(e)[I]);
    if (e.Type == 9) return static_cast<int32_t>(UnsignedValue(e, I, Little()));
    return UnsignedValue(e, I, Little());
}

void TPxTIFFHandler::AddTagData(TPxTIFFPage& Entries, uint16_t Tag, uint16_t Type, uint32_t Count,
                                const uint8_t* Data, size_t Size)
{
    const int k = FindTagIn(Entries, Tag);
    if (k >= 0) DeleteTag(Entries, k, true);
    TPxTIFFEntry e;
    e.Tag = Tag;
    e.Type = Type;
    e.Count = Count;
    const uint64_t bytes = EntryBytes(e);
    if (bytes > 4) {
        e.Data.assign(size_t(bytes), 0);
        std::memcpy(e.Data.data(), Data, std::min<size_t>(Size, size_t(bytes)));
    } else if (Data != nullptr) {
        std::memcpy(e.Value, Data, std::min<size_t>(Size, size_t(bytes)));
    }
    Entries.Entries.push_back(std::move(e));
}

void TPxTIFFHandler::AddTag(TPxTIFFPage& Entries, uint16_t Tag, double Value, uint16_t Type)
{
    uint8_t b[8] = {};
    const bool l = Little();
    switch (Type) {
    case 1: case 6: b[0] = static_cast<uint8_t>(static_cast<int64_t>(Value)); break;
    case 3: case 8: PxPutU16(b, static_cast<uint16_t>(static_cast<int64_t>(Value)), l); break;
    case 4: case 9: PxPutU32(b, static_cast<uint32_t>(static_cast<int64_t>(Value)), l); break;
    case 5: case 10:
        PxPutU32(b, static_cast<uint32_t>(static_cast<int64_t>(Value * 10000)), l);
        PxPutU32(b + 4, 10000, l);
        break;
    case 11: {
        const float f = static_cast<float>(Value);
        uint32_t u;
        std::memcpy(&u, &f, 4);
        PxPutU32(b, u, l);
        break;
    }
    case 12: {
        uint64_t u;
        std::memcpy(&u, &Value, 8);
        PxPutU32(b + (l ? 0 : 4), static_cast<uint32_t>(u), l);
        PxPutU32(b + (l ? 4 : 0), static_cast<uint32_t>(u >> 32), l);
        break;
    }
    default: return;  // ASCII goes through the text overload; other types are not supported
    }
    AddTagData(Entries, Tag, Type, 1, b, PxTIFFTypeSize(Type));
}

void TPxTIFFHandler::AddTag(TPxTIFFPage& Entries, uint16_t Tag, const std::string& Text)
{
    std::vector<uint8_t> bytes(Text.begin(), Text.end());
    bytes.push_back(0);
    AddTagData(Entries, Tag, 2, static_cast<uint32_t>(bytes.size()), bytes.data(), bytes.size());
}

void TPxTIFFHandler::DeleteTag(TPxTIFFPage& Entries, int Index, bool)
{
    if (Index >= 0 && size_t(Index) < Entries.Entries.size()) Entries.Entries.erase(Entries.Entries.begin() + Index);
}

void TPxTIFFHandler::DeletePage(int Page)
{
    if (GetPage(Page)) Pages.erase(Pages.begin() + Page);
}

void TPxTIFFHandler::CopyTag(const TPxTIFFHandler& Source, int SourcePage, int TagIndex, int DestPage)
{
    const TPxTIFFPage* from = Source.GetPage(SourcePage);
    TPxTIFFPage* to = GetPage(DestPage);
    if (from == nullptr || to == nullptr || TagIndex < 0 || size_t(TagIndex) >= from->Entries.size()) return;
    TPxTIFFEntry copy = from->Entries[size_t(TagIndex)].Clone();
    if (Source.BigEndian != BigEndian) ConvertEntry(copy);
    const int k = FindTagIn(*to, copy.Tag);
    if (k >= 0) DeleteTag(*to, k, true);
    to->Entries.push_back(std::move(copy));
}

void TPxTIFFHandler::WriteStream(classlib::TStream* Stream, int Page)
{
    const int64_t start = Stream->GetPosition();
    uint8_t header[8];
    header[0] = header[1] = BigEndian ? 'M' : 'I';
    PxPutU16(header + 2, Version, Little());
    PxPutU32(header + 4, static_cast<uint32_t>(start + 8), Little());
    Stream->WriteBuffer(header, 8);
    std::vector<TPxTIFFPage*> pages;
    if (GetPage(Page))
        pages.push_back(GetPage(Page));
    else
        for (auto& p : Pages) pages.push_back(p.get());
    if (pages.empty()) {
        // No IFD at all: a header whose first IFD is an empty directory.
        const uint8_t empty[6] = {};
        Stream->WriteBuffer(empty, 6);
        return;
    }
    for (size_t i = 0; i < pages.size(); ++i) {
        const int64_t link = WriteIFD(Stream, *pages[i], Little());
        if (i + 1 < pages.size()) {
            Align(Stream);
            const int64_t next = Stream->GetPosition();
            uint8_t word[4];
            PxPutU32(word, static_cast<uint32_t>(next), Little());
            Stream->SetPosition(link);
            Stream->WriteBuffer(word, 4);
            Stream->SetPosition(next);
        }
    }
}

void TPxTIFFHandler::WriteFile(const std::wstring& Name, int Page)
{
    classlib::TFileStream file(Name, classlib::fmCreate);
    WriteStream(&file, Page);
}

}  // namespace imaging
