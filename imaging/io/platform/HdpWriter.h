// HD Photo writer through the platform's imaging component (WIC).
//
// TPxWICWriter wraps a WIC encoder over a classlib::TStream (not owned).
// Threads and OLE: as TPxWICReader (HdpReader.h).
#pragma once

#include <cstdint>
#include <string>

#include <windows.h>
#include <wincodec.h>

#include "classlib/Stream.h"
#include "imaging/io/platform/HdpReader.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// Writes one option into Bag: a PROPBAG2 entry of type data with the
// variant type and the name. VarType must be VT_R4, VT_BOOL, VT_UI1 or
// VT_UI2 (Value is converted to it); any other raises EAssertionFailed.
// The result of the write is returned but callers need not check it.
HRESULT PxWICWriteProperty(IPropertyBag2* Bag, const wchar_t* Name, VARTYPE VarType, double Value);

class TPxWICWriter : public classlib::TObject {
public:
    TPxWICWriter();
    ~TPxWICWriter() override;  // calls Close
    TPxWICWriter(const TPxWICWriter&) = delete;
    TPxWICWriter& operator=(const TPxWICWriter&) = delete;
    std::wstring ClassName() const override { return L"TPxWICWriter"; }

    // Factory present.
    bool IsReady() const;
    // Keeps Stream and its position, makes an encoder for the type's
    // container format and initialises it over the stream. False when not
    // ready, the type has no container format or no encoder was made.
    bool Open(classlib::TStream* Stream, int32_t FileType);
    // Writes Bitmap as a new frame with the options below (Params, when
    // given, sets the resolution, ImageQuality and Lossless first). Nothing
    // is written without an encoder or when the frame cannot be made. A
    // bitmap in a format without WIC counterpart (px8p, px32f, pxCIELab,
    // px32RGB) raises EAssertionFailed.
    void WriteFrame(TPxBitmap* Bitmap, TIOParamsVals* Params);
    // Commits and releases the encoder.
    void Close();

    double DpiX;
    double DpiY;
    double ImageQuality = -1;        // < 0: not written
    double CompressionQuality = -1;  // < 0: not written
    bool Lossless = false;
    bool UseCodecOptions = false;
    uint8_t Quality = 1;
    uint8_t Overlap = 1;
    uint8_t Subsampling = 3;
    uint16_t HorizontalTileSlices = 0;
    uint16_t VerticalTileSlices = 0;
    bool FrequencyOrder = true;
    uint8_t TiffCompression = 1;  // 0..6, written as is

    // Writes the options above into Bag in the codec's order (results not
    // checked). Separate from WriteFrame so the set of options can be
    // checked against any property bag.
    void WriteOptions(IPropertyBag2* Bag);

private:
    Px_IWICImagingFactory* Factory_ = nullptr;
    Px_IWICBitmapEncoder* Encoder_ = nullptr;
    classlib::TStream* Stream_ = nullptr;
    int64_t StreamPos_ = 0;
    bool OleInitialized_ = false;
};

// Writes Bitmap as an HD Photo at Stream's position. Without WIC, or when
// no encoder can be made, the aborting flag is set and nothing is written.
// After a written file the EXIF and TIFF tags of Params are copied into it.
// The stream ends where it was before the call. An EAssertionFailed of the
// writer reaches the caller after the clean-up.
void PxWriteHDPhoto(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                    TPxIOProgressInfo& Progress);

}  // namespace imaging
