// Image annotations carried by TIFF files (tags 32932 and 32933): the
// annotation block of the imaging annotation format, parsed into a list of
// marks (lines with points, embedded images, text notes) and written back
// as a new block. The marks are only carried and round-tripped; nothing
// here draws them.
//
// Block layout (all integers 32-bit little-endian): an 8-byte header (a
// reserved word and the integer format word), then records of a type and a
// size: type 2 a named block of the defaults of all marks, type 5 the
// 164-byte attribute record that starts a mark, type 6 a named block of the
// current mark. A named block is an 8-byte name ("OiAnoDat", "OiFilNam",
// "OiDIB", "OiGroup", "OiIndex", "OiAnText" ...), a data size, 4 reserved
// bytes only when the format word is 0, then the data.
//
// The image parameters (TIOParamsVals) own one TPxImagingAnnot, created on
// first use through GetImagingAnnot: PxInstallImagingAnnot (called by
// PxInstallBuiltInFormats) installs its operations into
// IOParamsObjectServices().
//
// Untrusted input: LoadFromBuffer checks every size against the buffer; a
// block too short for what it declares ends the parse with the marks read
// so far.
//
// Threads: no shared state apart from the screen resolution, which is read
// once; an annotation list is used by one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Persistent.h"
#include "imaging/model/PxBitmap.h"

namespace imaging {

class TIOParamsVals;

// Size of the mark attribute record.
constexpr size_t PxAnnotAttributeSize = 164;
// Offsets in the attribute record.
constexpr size_t PxAnnotMarkTypeOffset = 0;     // 32-bit unsigned mark type
constexpr size_t PxAnnotBoundsOffset = 4;       // left, top, right, bottom
constexpr size_t PxAnnotFontHeightOffset = 48;  // first field of the font record

// Mark types with data of their own; other types are carried without data.
constexpr uint32_t PxAnnotImageEmbedded = 1;
constexpr uint32_t PxAnnotLineFirst = 3;  // 3 and 4: line marks with points
constexpr uint32_t PxAnnotLineLast = 4;
constexpr uint32_t PxAnnotTextFirst = 7;  // 7 to 10: text marks
constexpr uint32_t PxAnnotTextLast = 10;

struct TPxAnnotPoint {
    int32_t X = 0;
    int32_t Y = 0;
    friend bool operator==(const TPxAnnotPoint&, const TPxAnnotPoint&) = default;
};

// One mark.
class TPxImagingObject : public classlib::TObject {
public:
    std::wstring ClassName() const override { return L"TPxImagingObject"; }

    // The mark attribute record, stored and written unchanged (little-endian
    // words; the font height is rescaled when a text mark is read).
    std::array<uint8_t, PxAnnotAttributeSize> Attributes{};
    // Line marks: the points.
    std::vector<TPxAnnotPoint> Points;
    // Text marks: the 8-bit text (written with a terminating zero).
    std::string Text;
    // Embedded-image marks: the image, or nullptr.
    std::unique_ptr<TPxBitmap> Image;

    // Words of the attribute record.
    uint32_t GetMarkType() const { return static_cast<uint32_t>(GetAttributeWord(PxAnnotMarkTypeOffset)); }
    void SetMarkType(uint32_t Value) { SetAttributeWord(PxAnnotMarkTypeOffset, static_cast<int32_t>(Value)); }
    int32_t GetFontHeight() const { return GetAttributeWord(PxAnnotFontHeightOffset); }
    void SetFontHeight(int32_t Value) { SetAttributeWord(PxAnnotFontHeightOffset, Value); }
    // The 32-bit word at Offset (at most PxAnnotAttributeSize - 4).
    int32_t GetAttributeWord(size_t Offset) const;
    void SetAttributeWord(size_t Offset, int32_t Value);

    // A deep copy of Source (the image through TPxBitmap assignment).
    void Assign(const TPxImagingObject* Source);
};

class TPxImagingAnnot : public classlib::TObject {
public:
    TPxImagingAnnot() = default;
    ~TPxImagingAnnot() override = default;
    TPxImagingAnnot(const TPxImagingAnnot&) = delete;
    TPxImagingAnnot& operator=(const TPxImagingAnnot&) = delete;
    std::wstring ClassName() const override { return L"TPxImagingAnnot"; }

    // Frees every mark.
    void Clear();
    // Clear, then a deep copy of every mark of Source (nothing more for
    // nullptr or this list).
    void Assign(const TPxImagingAnnot* Source);

    // Parses a block of Length bytes and appends its marks; Length 0 does
    // nothing. UserChanged becomes false.
    void LoadFromBuffer(const void* Buffer, int64_t Length);
    // A new block holding every mark in list order; empty when the list is.
    std::vector<uint8_t> SaveToBuffer() const;

    // The parameters that own the list, or nullptr.
    TIOParamsVals* Parent = nullptr;
    // Set by the application when it changes the marks; cleared by a parse.
    bool UserChanged = false;
    // The marks, owned.
    std::vector<std::unique_ptr<TPxImagingObject>> Objects;
};

// The screen's resolution in dots per inch that the block's scales and
// placement data are computed with (read from the screen once).
int32_t PxAnnotScreenDpiX();
int32_t PxAnnotScreenDpiY();

// Installs the annotation operations into IOParamsObjectServices() (the
// parameters become the list's parent); repeated calls do nothing more.
void PxInstallImagingAnnot();

}  // namespace imaging
