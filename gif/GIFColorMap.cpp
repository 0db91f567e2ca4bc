#include "gif/GIFColorMap.h"

#include <cstring>
#include <vector>

namespace gif {

void TGIFColorMap::Assign(const classlib::TPersistent* Source)
{
    if (const auto* Map = dynamic_cast<const TGIFColorMap*>(Source)) {
        if (Map == this)
            return;
        Clear();
        Capacity = Map->Capacity;
        Count = Map->Count;
        Sorted = Map->Sorted;
        if (Capacity > 0) {
            Entries.reset(new TGIFColor[Capacity]());
            std::memcpy(Entries.get(), Map->Entries.get(), sizeof(TGIFColor) * Count);
        }
        Changed();
        return;
    }
    TPersistent::Assign(Source);
}

void TGIFColorMap::Clear()
{
    Entries.reset();
    Count = 0;
    Capacity = 0;
    Sorted = false;
}

void TGIFColorMap::Expand(int Needed)
{
    if (Needed < Capacity)
        return;
    int NewCapacity = Needed <= 16 ? 16 : ((Needed + 31) / 32) * 32;
    if (NewCapacity > 256)
        NewCapacity = 256;
    if (NewCapacity <= Capacity)
        return;
    std::unique_ptr<TGIFColor[]> Block(new TGIFColor[NewCapacity]());
    if (Count > 0)
        std::memcpy(Block.get(), Entries.get(), sizeof(TGIFColor) * Count);
    Entries = std::move(Block);
    Capacity = NewCapacity;
}

int TGIFColorMap::Add(TGIFRGB Color)
{
    if (Count > 255)
        RaiseGifError(L"Color table overflow");
    if (Count >= Capacity)
        Expand(Count + 1);
    Entries[Count] = {static_cast<uint8_t>(Color & 0xFF), static_cast<uint8_t>((Color >> 8) & 0xFF),
                      static_cast<uint8_t>((Color >> 16) & 0xFF)};
    const int Index = Count++;
    Sorted = false;
    Changed();
    return Index;
}

int TGIFColorMap::FindColor(TGIFRGB Color) const
{
    const uint8_t r = Color & 0xFF, g = (Color >> 8) & 0xFF, b = (Color >> 16) & 0xFF;
    auto Same = [&](int i) {
        return Entries[i].Red == r && Entries[i].Green == g && Entries[i].Blue == b;
    };
    if (Sorted) {
        for (int i = 0; i < Count; ++i)
            if (Same(i))
                return i;
    } else {
        for (int i = Count - 1; i >= 0; --i)
            if (Same(i))
                return i;
    }
    return -1;
}

int TGIFColorMap::AddUnique(TGIFRGB Color)
{
    const int Index = FindColor(Color);
    return Index >= 0 ? Index : Add(Color);
}

void TGIFColorMap::Delete(int Index)
{
    if (Index < 0 || Index >= Count)
        RaiseGifError(L"Invalid color index");
    std::memmove(&Entries[Index], &Entries[Index + 1], sizeof(TGIFColor) * (Count - Index - 1));
    --Count;
    Sorted = false;
    Changed();
}

TGIFRGB TGIFColorMap::GetColor(int Index)
{
    if (Index < 0 || Index >= Count) {
        Warning(1, L"Invalid color index");
        if (Count <= 0)
            RaiseGifError(L"Color table is empty");
        Index = 0;
    }
    const TGIFColor& c = Entries[Index];
    return MakeRGB(c.Red, c.Green, c.Blue);
}

void TGIFColorMap::SetColor(int Index, TGIFRGB Color)
{
    if (Index < 0 || Index >= Count)
        RaiseGifError(L"Invalid color index");
    Entries[Index] = {static_cast<uint8_t>(Color & 0xFF), static_cast<uint8_t>((Color >> 8) & 0xFF),
                      static_cast<uint8_t>((Color >> 16) & 0xFF)};
    Changed();
}

void TGIFColorMap::SaveToStream(classlib::TStream* Stream) const
{
    if (Count <= 0)
        return;
    const int Total = 1 << TableBits();
    std::vector<uint8_t> Bytes(static_cast<size_t>(Total) * 3, 0);
    std::memcpy(Bytes.data(), Entries.get(), sizeof(TGIFColor) * Count);
    Stream->WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
}

void TGIFColorMap::LoadFromStream(classlib::TStream* Stream, int n)
{
    Clear();
    if (n > 256)
        n = 256;
    Expand(n);
    if (n > 0)
        ReadExact(Stream, Entries.get(), int64_t{n} * 3);
    Count = n;
}

void TGIFColorMap::ImportPalette(HPALETTE Palette)
{
    Clear();
    if (!Palette)
        return;
    PALETTEENTRY Pal[256];
    const UINT n = ::GetPaletteEntries(Palette, 0, 256, Pal);
    if (n == 0)
        return;
    Expand(static_cast<int>(n));
    for (UINT i = 0; i < n; ++i)
        Entries[i] = {Pal[i].peRed, Pal[i].peGreen, Pal[i].peBlue};
    Count = static_cast<int>(n);
    Changed();
}

void TGIFColorMap::ImportRGB(const TGIFColor* Colors, int n)
{
    Clear();
    if (n <= 0)
        return;
    if (n > 256)
        n = 256;
    Expand(n);
    std::memcpy(Entries.get(), Colors, sizeof(TGIFColor) * n);
    Count = n;
    Changed();
}

void TGIFColorMap::ImportQuad(const RGBQUAD* Quads, int n)
{
    Clear();
    if (n <= 0)
        return;
    if (n > 256)
        n = 256;
    Expand(n);
    for (int i = 0; i < n; ++i)
        Entries[i] = {Quads[i].rgbRed, Quads[i].rgbGreen, Quads[i].rgbBlue};
    Count = n;
    Changed();
}

void TGIFColorMap::ImportDIB(HDC DC)
{
    Clear();
    RGBQUAD Quads[256];
    const UINT n = ::GetDIBColorTable(DC, 0, 256, Quads);
    ImportQuad(Quads, static_cast<int>(n));
    if (n == 0)
        Changed();
}

HPALETTE TGIFColorMap::ExportPalette() const
{
    if (Count <= 0)
        return nullptr;
    struct {
        WORD Version;
        WORD Entries;
        PALETTEENTRY Pal[256];
    } Log{};
    Log.Version = 0x300;
    Log.Entries = static_cast<WORD>(Count);
    for (int i = 0; i < Count; ++i)
        Log.Pal[i] = {Entries[i].Red, Entries[i].Green, Entries[i].Blue, PC_NOCOLLAPSE};
    return ::CreatePalette(reinterpret_cast<const LOGPALETTE*>(&Log));
}

namespace {

struct TUsePair {
    int64_t Count;
    int Index;
};

void SortPairs(TUsePair* Pairs, int Lo, int Hi)
{
    do {
        int i = Lo, j = Hi;
        const int64_t Pivot = Pairs[(Lo + Hi) / 2].Count;
        do {
            while (Pairs[i].Count > Pivot)
                ++i;
            while (Pairs[j].Count < Pivot)
                --j;
            if (i <= j) {
                std::swap(Pairs[i], Pairs[j]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (Lo < j)
            SortPairs(Pairs, Lo, j);
        Lo = i;
    } while (Lo < Hi);
}

}  // namespace

bool TGIFColorMap::Optimize()
{
    if (Count <= 1)
        return false;
    Sorted = true;
    TColorCounts Counts{};
    BuildHistogram(Counts);
    TUsePair Pairs[256];
    for (int i = 0; i < Count; ++i)
        Pairs[i] = {Counts[i], i};
    SortPairs(Pairs, 0, Count - 1);
    bool Moved = false;
    for (int i = 0; i < Count; ++i)
        if (Pairs[i].Index != i)
            Moved = true;
    if (!Moved)
        return true;
    TColorMapping Map{};
    for (int i = 0; i < 256; ++i)
        Map[i] = static_cast<uint8_t>(i);
    for (int i = 0; i < Count; ++i)
        Map[Pairs[i].Index] = static_cast<uint8_t>(i);
    MapImages(Map);
    std::unique_ptr<TGIFColor[]> Block(new TGIFColor[Capacity]());
    for (int i = 0; i < Count; ++i)
        Block[i] = Entries[Pairs[i].Index];
    Entries = std::move(Block);
    for (int i = 0; i < Count; ++i)
        if (Pairs[i].Count == 0) {
            Count = i;
            break;
        }
    Changed();
    return true;
}

}  // namespace gif
