// The toolkit's link to the JPEG library: the error manager that turns
// library errors into EPxJpegException and counts warnings, the stream source
// and destination managers with their 64 KiB buffers, and a plain C++ face of
// one decompression (TPxJpegDecoder) and one compression (TPxJpegEncoder).
//
// This is the only translation unit that sees the library's header, so that
// its typedefs never meet <windows.h>.
//
// Errors: a library error makes the error manager set the caller's aborting
// flag (when one was given) and leave the library's frames by a long jump
// back to the method that called into the library; that method then raises
// EPxJpegException with the message text of the table below. Exceptions of
// the stream (a failing Read or Write) are caught inside the library's
// callbacks, carried out the same way and raised again unchanged. The one
// message that does not stop the library is "Application transferred too few
// scanlines": it sets the aborting flag and returns to the library.
//
// After an exception the object may only be destroyed (or, for a decoder,
// asked for its markers and warnings).
//
// Threads: an object is used by one thread at a time; separate objects may
// work on separate threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"

namespace classlib {
class TStream;
}

namespace imaging {

// Raised for every library error; the message is the table's text.
CLASSLIB_EXCEPTION(EPxJpegException, classlib::Exception);

// The table's text of a library message code: every placeholder of the
// library's text is "?"; codes the table does not know give "Corrupted".
std::wstring PxJpegMessageText(int Code);
// The message code of the library's "premature end of data segment" warning
// (what a truncated file gives), for callers that want to name it.
int PxJpegPrematureEndCode();

// Colour spaces of JPEG data and of decoded or encoded rows.
enum class TPxJpegColorSpace : uint8_t {
    Unknown,
    Gray,   // 1 byte per pixel
    RGB,    // file: red, green, blue; rows: always blue, green, red
    YCbCr,  // file: YCbCr; rows: raw Y, Cb, Cr
    CMYK,   // 4 bytes, stored as the file has them (Adobe files: inverted)
    YCCK    // file only; decoded as CMYK
};

// What jpeg_read_header found.
struct TPxJpegHeaderInfo {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Components = 0;
    TPxJpegColorSpace ColorSpace = TPxJpegColorSpace::Unknown;
    bool Progressive = false;
    bool Arithmetic = false;
    // JFIF density (unit 0 none, 1 dots per inch, 2 dots per centimetre);
    // the library's defaults (0, 1, 1) when the file has no JFIF marker.
    bool SawJFIF = false;
    int32_t DensityUnit = 0;
    int32_t XDensity = 1;
    int32_t YDensity = 1;
};

// One APPn or COM marker the decoder saved: its code and payload (the bytes
// after the length field). The data belong to the decoder.
struct TPxJpegMarker {
    uint8_t Type = 0;
    const uint8_t* Data = nullptr;
    uint32_t Length = 0;
};

// A replacement of the source manager's buffer filling (for decoders that
// feed data from elsewhere): sets Data/Count to the next bytes and returns
// true; at the end it should return end-of-image bytes (FF D9). Runs inside
// the library: it must not raise.
using TPxJpegFillProc = bool (*)(void* User, const uint8_t*& Data, size_t& Count);

class TPxJpegDecoder {
public:
    // Aborting: the caller's flag (may be nullptr), set to true by errors
    // and by an empty source.
    explicit TPxJpegDecoder(bool* Aborting);
    ~TPxJpegDecoder();
    TPxJpegDecoder(const TPxJpegDecoder&) = delete;
    TPxJpegDecoder& operator=(const TPxJpegDecoder&) = delete;

    // Reads abbreviated table data (no image) from Tables at its position.
    void ReadTables(classlib::TStream* Tables);
    // The stream the image is read from, from its position, through a
    // 64 KiB buffer. The stream must outlive the decoder.
    void SetSource(classlib::TStream* Stream);
    // Replaces the filling of the source buffer (after SetSource or instead
    // of it), and sets the bytes the library reads next.
    void SetSourceFill(TPxJpegFillProc Fill, void* User);
    void SetSourceData(const uint8_t* Data, size_t Count);
    // Keeps every COM and APP0..APP15 marker (up to 65,535 bytes each).
    void SaveMarkers();
    void ReadHeader(bool RequireImage);
    const TPxJpegHeaderInfo& Header() const { return header_; }

    // Decoding choices, before Start. Output: Gray, RGB (rows blue, green,
    // red), YCbCr or CMYK. Denominator 1, 2, 4 or 8. Method 0 slow integer,
    // 1 fast integer, 2 floating point.
    void SetOutput(TPxJpegColorSpace Output);
    void SetScale(int Denominator);
    void SetDCTMethod(int Method);
    // Subsampled components are repeated over the pixels they cover
    // instead of interpolated (the library's default).
    void SetReplicatedUpsampling(bool Replicate);

    void Start();
    int32_t OutputWidth() const;
    int32_t OutputHeight() const;
    int32_t OutputComponents() const;
    int32_t OutputScanline() const;
    // Decodes the next row into Row (OutputWidth x OutputComponents bytes);
    // false when no row was delivered.
    bool ReadRow(uint8_t* Row);
    // jpeg_finish_decompress (reads up to the end of the image).
    void Finish();

    // The saved markers in file order. The payloads belong to the decoder's
    // image memory: valid until Finish() or the decoder's destruction.
    std::vector<TPxJpegMarker> Markers() const;
    // Warnings of this decompression and the code of the last one.
    int WarningCount() const;
    int LastWarningCode() const;
    // A warning said that the coded picture is damaged or ends early (the
    // library made up the pixels it could not decode).
    bool DataDamaged() const;
    // The source stream ended before the library was done with it (the
    // source manager fed it an end-of-image marker of its own).
    bool DataEnded() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    TPxJpegHeaderInfo header_;
};

// The settings of one compression.
struct TPxJpegEncodeSettings {
    int32_t Width = 0;
    int32_t Height = 0;
    // Rows given to WriteRow: false 24-bit blue, green, red; true CMYK.
    bool InputCMYK = false;
    // The file's colour space (Gray, YCbCr, RGB, CMYK or YCCK; CMYK and YCCK
    // need InputCMYK).
    TPxJpegColorSpace FileColorSpace = TPxJpegColorSpace::YCbCr;
    int32_t DensityUnit = 1;
    int32_t XDensity = 72;  // stored in 16 bits
    int32_t YDensity = 72;
    int32_t DCTMethod = 0;
    bool OptimizeCoding = false;
    int32_t Smoothing = 0;
    int32_t Quality = 75;
    // Horizontal and vertical sampling of component 0 (the others 1 x 1);
    // 0 keeps the library's default.
    int32_t LumaH = 0;
    int32_t LumaV = 0;
    bool WriteJFIF = false;  // force a JFIF header (CMYK files)
    bool Progressive = false;
};

class TPxJpegEncoder {
public:
    // Aborting: as for the decoder; a short write also sets it.
    explicit TPxJpegEncoder(bool* Aborting);
    ~TPxJpegEncoder();
    TPxJpegEncoder(const TPxJpegEncoder&) = delete;
    TPxJpegEncoder& operator=(const TPxJpegEncoder&) = delete;

    // The stream written to, from its position, through a 64 KiB buffer.
    void SetDestination(classlib::TStream* Stream);
    // Applies the settings and writes the headers (all tables).
    void Start(const TPxJpegEncodeSettings& Settings);
    // Writes one marker after the headers; Length must be at most
    // PxJpegMaxMarkerPayload.
    void WriteMarker(uint8_t Type, const uint8_t* Data, uint32_t Length);
    // Compresses the next row (Width x 3 or Width x 4 bytes).
    void WriteRow(const uint8_t* Row);
    // Ends the image and flushes the buffer to the stream.
    void Finish();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The largest payload one marker segment can hold (its 16-bit length field
// counts itself).
constexpr uint32_t PxJpegMaxMarkerPayload = 65533;

// Test seam: raises the error of Code through the error manager exactly as
// the library would, with Aborting as the flag. Returns normally only for
// codes the error manager lets the library go on with.
void PxJpegRaiseErrorForTest(int Code, bool* Aborting);
// Test seam: sends a warning of Code through the error manager of a fresh
// decompression Count times and returns the count and last code it kept.
void PxJpegWarnForTest(const std::vector<int>& Codes, int& Count, int& LastCode);

}  // namespace imaging
