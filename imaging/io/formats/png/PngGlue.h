// The PNG library behind a plain C++ interface, so that png.h stays in one
// translation unit (PngGlue.cpp) and out of every unit that includes the
// platform headers.
//
// Errors: the library reports an error by a long jump. Every glue call that
// can reach the library's error path sets its jump point in a small frame of
// its own that holds no C++ object, runs the library call, and answers false
// when the library gave up (ErrorText() then holds the library's message);
// nothing is raised here and no C++ exception ever passes through the
// library's frames. After a false answer the structures may only be
// destroyed (the object's destructor does that).
//
// Callbacks: the data callbacks are plain functions that must not raise; the
// read callback returns the number of bytes it delivered, and anything short
// of the request ends the read with an error. The write callback's count is
// the caller's business (the glue writes on regardless).
//
// Threads: an object is used by one thread at a time; separate objects are
// independent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace imaging {

using TPngReadProc = std::size_t (*)(void* User, uint8_t* Data, std::size_t Size) noexcept;
using TPngWriteProc = void (*)(void* User, const uint8_t* Data, std::size_t Size) noexcept;

// Colour types of the header.
constexpr int pngGray = 0;
constexpr int pngRGB = 2;
constexpr int pngPalette = 3;
constexpr int pngGrayAlpha = 4;
constexpr int pngRGBA = 6;

// Single filters of the writer.
constexpr int pngFilterNone = 0x08;
constexpr int pngFilterSub = 0x10;
constexpr int pngFilterPaeth = 0x80;

struct TPngHeader {
    uint32_t Width = 0;
    uint32_t Height = 0;
    int BitDepth = 0;
    int ColorType = 0;
    bool Interlaced = false;
};

// One text chunk; Utf8 marks international text, whose Text is UTF-8 (the
// keyword is Latin-1 in every kind).
struct TPngText {
    std::string Key;
    std::string Text;
    bool Utf8 = false;
};

// A background colour as the file holds it: Index for palette images, Gray
// for grey ones, Red/Green/Blue otherwise, samples in the image's depth.
struct TPngBackground {
    uint8_t Index = 0;
    uint16_t Red = 0;
    uint16_t Green = 0;
    uint16_t Blue = 0;
    uint16_t Gray = 0;
};

struct TPngPaletteEntry {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
};

// Transformations of the reader (bits of SetTransforms), applied in the
// library's own order.
constexpr uint32_t pngtSwap = 1;          // 16-bit samples little-endian
constexpr uint32_t pngtExpand = 2;        // palette to RGB, low grey depths to 8
constexpr uint32_t pngtExpandGray = 4;    // grey 1, 2, 4 bits to 8
constexpr uint32_t pngtStrip16 = 8;       // 16-bit samples to their high byte
constexpr uint32_t pngtPacking = 16;      // one byte per sample below 8 bits
constexpr uint32_t pngtGrayToRGB = 32;    // grey to three equal samples
constexpr uint32_t pngtBGR = 64;          // blue, green, red order
constexpr uint32_t pngtTRNSToAlpha = 128; // a transparency chunk becomes alpha

class TPngReadGlue {
public:
    TPngReadGlue();
    ~TPngReadGlue();
    TPngReadGlue(const TPngReadGlue&) = delete;
    TPngReadGlue& operator=(const TPngReadGlue&) = delete;

    // Creates the read and info structures over the callback; false when
    // either cannot be had.
    bool Create(TPngReadProc Read, void* User);
    // Reads the signature and every chunk before the image data.
    bool ReadInfo();
    bool GetHeader(TPngHeader& Header);
    // The text chunks in file order.
    std::vector<TPngText> GetTexts();
    // False when the file has no background chunk.
    bool GetBackground(TPngBackground& Background);
    // False without a physical-size chunk; Metre is its unit flag.
    bool GetPhysical(uint32_t& X, uint32_t& Y, bool& Metre);
    std::vector<TPngPaletteEntry> GetPalette();
    // The transparency chunk: false without one. Palette images: the alpha
    // of the first entries (the rest are opaque); grey images: the grey
    // sample (in the image's depth) that is transparent.
    bool GetTransparency(std::vector<uint8_t>& PaletteAlpha, uint16_t& Gray);
    bool SetTransforms(uint32_t Bits);
    // Passes is 7 for an interlaced file with the library de-interlacing, 1
    // otherwise.
    bool SetInterlaceHandling(int& Passes);
    bool UpdateInfo();
    // Bytes and channels of one delivered row (after UpdateInfo).
    std::size_t GetRowBytes();
    int GetChannels();
    // Reads the next row into Row, which must hold GetRowBytes() bytes;
    // during interlaced passes the pixels of other passes in Row stay.
    bool ReadRow(uint8_t* Row);
    bool ReadEnd();
    const char* ErrorText() const;

    struct TImpl;  // the library's structures, private to the glue unit

private:
    std::unique_ptr<TImpl> impl_;
};

class TPngWriteGlue {
public:
    TPngWriteGlue();
    ~TPngWriteGlue();
    TPngWriteGlue(const TPngWriteGlue&) = delete;
    TPngWriteGlue& operator=(const TPngWriteGlue&) = delete;

    bool Create(TPngWriteProc Write, void* User);
    bool SetHeader(const TPngHeader& Header);
    bool SetPalette(const TPngPaletteEntry* Entries, int Count);
    // Alpha values of the first Count palette entries.
    bool SetPaletteTransparency(const uint8_t* Alpha, int Count);
    bool SetBackground(const TPngBackground& Background);
    // Pixels per metre.
    bool SetPhysical(uint32_t X, uint32_t Y);
    bool SetFilter(int Filters);
    bool SetCompressionLevel(int Level);
    // Rows come blue, green, red (and alpha).
    bool SetBGR();
    // Uncompressed text chunks; keywords must be valid for the library.
    bool SetTexts(const std::vector<TPngText>& Texts);
    bool WriteInfo();
    bool SetInterlaceHandling(int& Passes);
    bool WriteRow(const uint8_t* Row);
    bool WriteEnd();
    const char* ErrorText() const;

    struct TImpl;  // the library's structures, private to the glue unit

private:
    std::unique_ptr<TImpl> impl_;
};

}  // namespace imaging
