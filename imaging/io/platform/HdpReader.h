// HD Photo (file type 29) through the platform's imaging component (WIC).
//
// TPxWICReader wraps a WIC decoder over a classlib::TStream; PxReadHDPhoto,
// PxCountHDPhotoFrames and PxIsWICAvailable use it. The writer side is in
// HdpWriter.h.
//
// Threads: every reader (and writer) brackets its life with OleInitialize /
// OleUninitialize on the thread that creates it, so it can run on the
// asynchronous I/O workers; one object must stay on the thread that made
// it. PxIsWICAvailable computes its answer once per process.
//
// Failure: WIC errors are not raised; a missing decoder, frame or converter
// makes ReadFrame set the aborting flag. Stream errors inside the codec are
// reported to it as failed stream calls.
#pragma once

#include <cstdint>
#include <string>

#include <windows.h>
#include <wincodec.h>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

using Px_IWICImagingFactory = IWICImagingFactory;
using Px_IWICBitmapDecoder = IWICBitmapDecoder;
using Px_IWICBitmapFrameDecode = IWICBitmapFrameDecode;
using Px_IWICMetadataQueryReader = IWICMetadataQueryReader;
using Px_IWICBitmapEncoder = IWICBitmapEncoder;

// Identifiers of the imaging component used here.
extern const GUID PxCLSID_WICImagingFactory;
extern const GUID PxIID_IWICImagingFactory;
extern const GUID PxGUID_VendorMicrosoft;

// The WIC pixel format {6FDDC324-4E03-4BFE-B185-3D77768DC9xx} with last
// byte Last.
GUID PxWICPixelFormat(uint8_t Last);

// Decoder class (passed as the preferred vendor) and container format of a
// file type; false for a type without a codec in the table (1, 2, 3, 5, 6,
// 8, 29; type 6 has no container format).
bool PxWICDecoderClass(int32_t FileType, GUID& Clsid);
bool PxWICContainerFormat(int32_t FileType, GUID& Format);

// A non-owning IStream over a classlib::TStream (reference count starts at
// 1; the caller releases it). The TStream must outlive every user of the
// adapter. Position 0 of the adapter is the TStream's position at creation,
// so a file that starts inside a larger stream looks like a whole file to
// the codec (which looks for its signature at the stream's start).
IStream* PxCreateStreamAdapter(classlib::TStream* Stream);

class TPxWICReader : public classlib::TObject {
public:
    TPxWICReader();
    ~TPxWICReader() override;
    TPxWICReader(const TPxWICReader&) = delete;
    TPxWICReader& operator=(const TPxWICReader&) = delete;
    std::wstring ClassName() const override { return L"TPxWICReader"; }

    // Factory present and PxIsWICAvailable.
    bool IsReady() const;
    // Keeps Stream (not owned) and its position and makes a decoder over it;
    // true when one was made. False when not ready or the type has no codec.
    bool Open(classlib::TStream* Stream, int32_t FileType);
    // Frames of the open decoder; 0 when not ready or nothing open.
    uint32_t GetFrameCount();
    // Decodes frame Index into Bitmap. Params may be nullptr (then the
    // native pixel format is read and no parameters are filled). Failure
    // sets *Aborting (when given).
    void ReadFrame(uint32_t Index, TPxBitmap* Bitmap, TIOParamsVals* Params, bool* Aborting);
    // Size of the current frame (0 without one).
    uint32_t GetFrameWidth();
    uint32_t GetFrameHeight();
    // Releases frame, metadata reader and decoder.
    void Close();

    double DpiX;
    double DpiY;

private:
    bool CopyToBitmap(IWICBitmapSource* Source, TPxBitmap* Bitmap, bool Native);

    Px_IWICImagingFactory* Factory_ = nullptr;
    Px_IWICBitmapDecoder* Decoder_ = nullptr;
    Px_IWICBitmapFrameDecode* Frame_ = nullptr;
    Px_IWICMetadataQueryReader* Metadata_ = nullptr;
    classlib::TStream* Stream_ = nullptr;
    int64_t StreamPos_ = 0;
    bool OleInitialized_ = false;
};

// Reads frame Params.ImageIndex of the HD Photo at Stream's position.
// Preview is not used (the frame is always decoded). Progress 0 is reported
// before and after; failure sets the aborting flag.
void PxReadHDPhoto(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                   bool Preview);

// Frames of an HD Photo file (opened for reading, deny write); 0 without
// WIC. Stream errors raise.
int32_t PxCountHDPhotoFrames(const std::wstring& FileName);

// True when the imaging factory can be created; computed on the first call
// and kept.
bool PxIsWICAvailable();

// Installs the HD Photo reader, writer, frame counter and the availability
// test of the registry's HD Photo row. Calling it again is harmless.
void PxInstallHDPFormat();

}  // namespace imaging
