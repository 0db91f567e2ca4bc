// GIF colour tables: at most 256 red, green, blue entries.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>

#include "classlib/Persistent.h"
#include "classlib/Stream.h"
#include "gif/GIFUtils.h"

namespace gif {

struct TGIFColor {
    uint8_t Red, Green, Blue;
};

// A colour of the class library: red in the low byte, then green, then blue;
// the top byte is ignored.
using TGIFRGB = uint32_t;

inline TGIFRGB MakeRGB(uint8_t r, uint8_t g, uint8_t b)
{
    return uint32_t{r} | (uint32_t{g} << 8) | (uint32_t{b} << 16);
}

// Use counts per entry, filled by BuildHistogram.
using TColorCounts = std::array<int64_t, 256>;
// Old index -> new index, applied by MapImages.
using TColorMapping = std::array<uint8_t, 256>;

class TGIFColorMap : public classlib::TPersistent {
public:
    TGIFColorMap() = default;
    ~TGIFColorMap() override = default;
    std::wstring ClassName() const override { return L"TGIFColorMap"; }
    void Assign(const classlib::TPersistent* Source) override;

    // Frees the entries; Count, Capacity 0; not sorted. Does not call Changed.
    void Clear();
    void Expand(int Needed);
    // Appends a colour; "Color table overflow" above 256 entries.
    int Add(TGIFRGB Color);
    int FindColor(TGIFRGB Color) const;
    int AddUnique(TGIFRGB Color);
    void Delete(int Index);
    // Out of range: warning "Invalid color index" and entry 0 instead;
    // "Color table is empty" when there is no entry.
    TGIFRGB GetColor(int Index);
    // Replaces the three bytes of one entry and calls Changed; Sorted and
    // Count stay. "Invalid color index" outside 0 .. Count - 1.
    void SetColor(int Index, TGIFRGB Color);
    int TableBits() const { return BitsForColorCount(Count); }
    int GetCount() const { return Count; }
    int GetCapacity() const { return Capacity; }
    bool GetSorted() const { return Sorted; }
    void SetSorted(bool Value) { Sorted = Value; }
    const TGIFColor* Data() const { return Entries.get(); }
    TGIFColor& Entry(int Index) { return Entries[Index]; }

    // Count entries, then zero entries up to 2^TableBits; nothing when empty.
    void SaveToStream(classlib::TStream* Stream) const;
    // Reads exactly n entries ("Premature end of data"). No Changed.
    void LoadFromStream(classlib::TStream* Stream, int n);

    void ImportPalette(HPALETTE Palette);
    void ImportRGB(const TGIFColor* Colors, int n);
    void ImportQuad(const RGBQUAD* Quads, int n);
    void ImportDIB(HDC DC);
    // A new palette (owned by the caller) of Count entries with
    // PC_NOCOLLAPSE, or none for an empty table.
    HPALETTE ExportPalette() const;

    // Sorts the table by decreasing use, renumbers the pixels that use it and
    // drops never-used entries at its end. False for 0 or 1 entries.
    bool Optimize();

    virtual void Warning(uint8_t Severity, const std::wstring& Message) = 0;
    virtual void BuildHistogram(TColorCounts& Counts) = 0;
    virtual void MapImages(const TColorMapping& Map) = 0;
    virtual bool DoOptimize() = 0;
    virtual void Changed() = 0;

protected:
    std::unique_ptr<TGIFColor[]> Entries;
    int Count = 0;
    int Capacity = 0;
    bool Sorted = false;
};

}  // namespace gif
