// Ditherers: map the pixels of an image, row by row in serpentine order,
// to palette indices through a colour lookup, optionally spreading each
// pixel's colour error to pixels not yet visited.
#pragma once

#include <memory>
#include <vector>

#include "gif/GIFDIB.h"

namespace gif {

// Nearest colour without error spreading. The caller visits the pixels of a
// row from NextColumn in steps of WalkDirection and calls EndRow after each.
class TDitherEngine : public classlib::TObject {
public:
    TDitherEngine(int RowWidth, TColorLookup* Lookup);
    virtual uint8_t DitherPixel(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B);
    virtual void EndRow();

    TColorLookup* ColorLookup;  // not owned
    int RowWidth;
    int WalkDirection = 1;
    int NextColumn = 0;
};

class TFloydSteinbergDitherer : public TDitherEngine {
public:
    TFloydSteinbergDitherer(int RowWidth, TColorLookup* Lookup);
    uint8_t DitherPixel(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B) override;
    void EndRow() override;

private:
    std::vector<int32_t> Errors[3];
    int Cell = 0;
    int32_t Current[3]{}, Below[3]{}, BelowPrev[3]{};
};

// One weight of an error-spreading kernel: row (0 = current), offset in the
// direction of travel, weight.
struct TKernelTap {
    int Row, Offset, Weight;
};

// The kernel ditherers: error rows per channel with margins that absorb the
// kernel at the row ends.
class TKernelDitherer : public TDitherEngine {
public:
    uint8_t DitherPixel(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B) override;
    void EndRow() override;

protected:
    TKernelDitherer(int RowWidth, TColorLookup* Lookup, int Rows, int Margin, int Divisor,
                    std::vector<TKernelTap> Kernel);

private:
    int Rows, Margin, Divisor;
    std::vector<TKernelTap> Kernel;
    std::vector<std::vector<int32_t>> Errors[3];
    int Cell = 0;
};

class T5by3Ditherer : public TKernelDitherer {
protected:
    using TKernelDitherer::TKernelDitherer;
};

class TStuckiDitherer : public T5by3Ditherer {
public:
    TStuckiDitherer(int RowWidth, TColorLookup* Lookup);
};
class TSierraDitherer : public T5by3Ditherer {
public:
    TSierraDitherer(int RowWidth, TColorLookup* Lookup);
};
class TJaJuNiDitherer : public T5by3Ditherer {
public:
    TJaJuNiDitherer(int RowWidth, TColorLookup* Lookup);
};
class TSteveArcheDitherer : public TKernelDitherer {
public:
    TSteveArcheDitherer(int RowWidth, TColorLookup* Lookup);
};
class TBurkesDitherer : public TKernelDitherer {
public:
    TBurkesDitherer(int RowWidth, TColorLookup* Lookup);
};

// The ditherer of a DitherKind (0 to 6), or null for an unknown kind.
std::unique_ptr<TDitherEngine> CreateDitherer(int Kind, int RowWidth, TColorLookup* Lookup);

}  // namespace gif
