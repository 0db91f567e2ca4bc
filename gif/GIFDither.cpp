#include "gif/GIFDither.h"

#include <algorithm>

namespace gif {

namespace {

inline int Clamp255(int v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

}  // namespace

TDitherEngine::TDitherEngine(int Width, TColorLookup* Lookup) : ColorLookup(Lookup), RowWidth(Width) {}

uint8_t TDitherEngine::DitherPixel(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B)
{
    const uint8_t Index = ColorLookup->MapColor(Red, Green, Blue, R, G, B);
    NextColumn += WalkDirection;
    return Index;
}

void TDitherEngine::EndRow()
{
    WalkDirection = -WalkDirection;
    NextColumn = WalkDirection > 0 ? 0 : RowWidth - 1;
}

// ---- Floyd-Steinberg -----------------------------------------------------------

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int Width, TColorLookup* Lookup) : TDitherEngine(Width, Lookup)
{
    for (auto& e : Errors)
        e.assign(static_cast<size_t>(Width) + 2, 0);
}

uint8_t TFloydSteinbergDitherer::DitherPixel(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G,
                                             uint8_t& B)
{
    const int In[3] = {Red, Green, Blue};
    int v[3];
    for (int c = 0; c < 3; ++c) {
        const int t = Current[c] + Errors[c][Cell];
        v[c] = Clamp255(In[c] + (t + 8) / 16);
    }
    const uint8_t Index = TDitherEngine::DitherPixel(static_cast<uint8_t>(v[0]), static_cast<uint8_t>(v[1]),
                                                     static_cast<uint8_t>(v[2]), R, G, B);
    const int Out[3] = {R, G, B};
    for (int c = 0; c < 3; ++c) {
        const int32_t Error = v[c] - Out[c];
        Current[c] = Error;
        if (Error != 0) {
            Errors[c][Cell] = BelowPrev[c] + 3 * Error;
            BelowPrev[c] = Below[c] + 5 * Error;
            Below[c] = Error;
            Current[c] = 7 * Error;
        } else {
            Current[c] = 0;
        }
    }
    Cell += WalkDirection;
    return Index;
}

void TFloydSteinbergDitherer::EndRow()
{
    if (Cell >= 0 && Cell < static_cast<int>(Errors[0].size()))
        for (int c = 0; c < 3; ++c)
            Errors[c][Cell] = BelowPrev[c];
    for (int c = 0; c < 3; ++c)
        Current[c] = Below[c] = BelowPrev[c] = 0;
    TDitherEngine::EndRow();
    Cell = WalkDirection > 0 ? 0 : RowWidth + 1;
}

// ---- kernel ditherers ------------------------------------------------------------

TKernelDitherer::TKernelDitherer(int Width, TColorLookup* Lookup, int RowCount, int MarginCells, int Div,
                                 std::vector<TKernelTap> Taps)
    : TDitherEngine(Width, Lookup), Rows(RowCount), Margin(MarginCells), Divisor(Div), Kernel(std::move(Taps))
{
    for (auto& ch : Errors)
        ch.assign(static_cast<size_t>(Rows), std::vector<int32_t>(static_cast<size_t>(Width) + 2 * Margin, 0));
    Cell = Margin;
}

uint8_t TKernelDitherer::DitherPixel(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B)
{
    const int In[3] = {Red, Green, Blue};
    int v[3];
    for (int c = 0; c < 3; ++c)
        v[c] = Clamp255(In[c] + (Errors[c][0][Cell] + Divisor / 2) / Divisor);
    const uint8_t Index = TDitherEngine::DitherPixel(static_cast<uint8_t>(v[0]), static_cast<uint8_t>(v[1]),
                                                     static_cast<uint8_t>(v[2]), R, G, B);
    const int Out[3] = {R, G, B};
    const int Size = static_cast<int>(Errors[0][0].size());
    for (int c = 0; c < 3; ++c) {
        const int32_t Error = v[c] - Out[c];
        if (Error == 0)
            continue;
        for (const TKernelTap& t : Kernel) {
            const int Target = Cell + t.Offset * WalkDirection;
            if (Target >= 0 && Target < Size)
                Errors[c][t.Row][Target] += Error * t.Weight;
        }
    }
    Cell += WalkDirection;
    return Index;
}

void TKernelDitherer::EndRow()
{
    for (auto& ch : Errors) {
        std::fill(ch[0].begin(), ch[0].end(), 0);
        std::rotate(ch.begin(), ch.begin() + 1, ch.end());
    }
    TDitherEngine::EndRow();
    Cell = WalkDirection > 0 ? Margin : RowWidth - 1 + Margin;
}

TStuckiDitherer::TStuckiDitherer(int Width, TColorLookup* Lookup)
    : T5by3Ditherer(Width, Lookup, 3, 2, 42,
                    {{0, 1, 8}, {0, 2, 4},
                     {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
                     {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}})
{
}

TSierraDitherer::TSierraDitherer(int Width, TColorLookup* Lookup)
    : T5by3Ditherer(Width, Lookup, 3, 2, 32,
                    {{0, 1, 5}, {0, 2, 3},
                     {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},
                     {2, -1, 2}, {2, 0, 3}, {2, 1, 2}})
{
}

TJaJuNiDitherer::TJaJuNiDitherer(int Width, TColorLookup* Lookup)
    : T5by3Ditherer(Width, Lookup, 3, 2, 48,
                    {{0, 1, 7}, {0, 2, 5},
                     {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},
                     {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}})
{
}

TSteveArcheDitherer::TSteveArcheDitherer(int Width, TColorLookup* Lookup)
    : TKernelDitherer(Width, Lookup, 4, 3, 200,
                      {{0, 2, 32},
                       {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16},
                       {2, -2, 12}, {2, 0, 26}, {2, 2, 12},
                       {3, -3, 5}, {3, -1, 12}, {3, 1, 12}, {3, 3, 5}})
{
}

TBurkesDitherer::TBurkesDitherer(int Width, TColorLookup* Lookup)
    : TKernelDitherer(Width, Lookup, 2, 2, 32,
                      {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}})
{
}

std::unique_ptr<TDitherEngine> CreateDitherer(int Kind, int RowWidth, TColorLookup* Lookup)
{
    switch (Kind) {
    case 0: return std::make_unique<TDitherEngine>(RowWidth, Lookup);
    case 1: return std::make_unique<TFloydSteinbergDitherer>(RowWidth, Lookup);
    case 2: return std::make_unique<TStuckiDitherer>(RowWidth, Lookup);
    case 3: return std::make_unique<TSierraDitherer>(RowWidth, Lookup);
    case 4: return std::make_unique<TJaJuNiDitherer>(RowWidth, Lookup);
    case 5: return std::make_unique<TSteveArcheDitherer>(RowWidth, Lookup);
    case 6: return std::make_unique<TBurkesDitherer>(RowWidth, Lookup);
    default: return nullptr;
    }
}

}  // namespace gif
