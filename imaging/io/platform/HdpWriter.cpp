#include "imaging/io/platform/HdpWriter.h"

#include <ole2.h>

#include <vector>

#include "classlib/Exceptions.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/formats/tiff/TiffWriter.h"
#include "imaging/model/PxBitmap.h"

namespace imaging {

namespace {

[[noreturn]] void RaiseAssertion()
{
    throw classlib::EAssertionFailed(L"Assertion failure (pxwic)");
}

template <typename T>
void ReleaseInto(T*& P)
{
    if (P) {
        P->Release();
        P = nullptr;
    }
}

}  // namespace

HRESULT PxWICWriteProperty(IPropertyBag2* Bag, const wchar_t* Name, VARTYPE VarType, double Value)
{
    VARIANT v;
    ZeroMemory(&v, sizeof(v));
    v.vt = VarType;
    switch (VarType) {
    case VT_R4: v.fltVal = static_cast<float>(Value); break;
    case VT_BOOL: v.boolVal = Value != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_UI1: v.bVal = static_cast<BYTE>(Value); break;
    case VT_UI2: v.uiVal = static_cast<USHORT>(Value); break;
    default: RaiseAssertion();
    }
    if (!Bag)
        return E_POINTER;
    PROPBAG2 entry;
    ZeroMemory(&entry, sizeof(entry));
    entry.dwType = PROPBAG2_TYPE_DATA;
    entry.vt = VarType;
    entry.pstrName = const_cast<LPOLESTR>(Name);
    return Bag->Write(1, &entry, &v);
}

TPxWICWriter::TPxWICWriter() : DpiX(PxDefaultDpiX), DpiY(PxDefaultDpiY)
{
    OleInitialized_ = SUCCEEDED(OleInitialize(nullptr));
    void* p = nullptr;
    if (SUCCEEDED(CoCreateInstance(PxCLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   PxIID_IWICImagingFactory, &p)))
        Factory_ = static_cast<Px_IWICImagingFactory*>(p);
}

TPxWICWriter::~TPxWICWriter()
{
    Close();
    ReleaseInto(Factory_);
    if (OleInitialized_)
        OleUninitialize();
}

bool TPxWICWriter::IsReady() const { return Factory_ != nullptr; }

bool TPxWICWriter::Open(classlib::TStream* Stream, int32_t FileType)
{
    if (!IsReady() || !Stream)
        return false;
    GUID container;
    if (!PxWICContainerFormat(FileType, container))
        return false;
    Close();
    Stream_ = Stream;
    StreamPos_ = Stream->GetPosition();
    Factory_->CreateEncoder(container, &PxGUID_VendorMicrosoft, &Encoder_);
    if (!Encoder_)
        return false;
    IStream* adapter = PxCreateStreamAdapter(Stream);
    const HRESULT hr = Encoder_->Initialize(adapter, WICBitmapEncoderNoCache);
    adapter->Release();
    if (FAILED(hr)) {
        ReleaseInto(Encoder_);
        return false;
    }
    return true;
}

void TPxWICWriter::WriteOptions(IPropertyBag2* Bag)
{
    if (ImageQuality >= 0)
        PxWICWriteProperty(Bag, L"ImageQuality", VT_R4, ImageQuality);
    if (CompressionQuality >= 0)
        PxWICWriteProperty(Bag, L"CompressionQuality", VT_R4, CompressionQuality);
    PxWICWriteProperty(Bag, L"Lossless", VT_BOOL, Lossless ? 1 : 0);
    if (UseCodecOptions) {
        PxWICWriteProperty(Bag, L"UseCodecOptions", VT_BOOL, 1);
        PxWICWriteProperty(Bag, L"Quality", VT_UI1, Quality);
        PxWICWriteProperty(Bag, L"Overlap", VT_UI1, Overlap);
        PxWICWriteProperty(Bag, L"Subsampling", VT_UI1, Subsampling);
    }
    PxWICWriteProperty(Bag, L"HorizontalTileSlices", VT_UI2, HorizontalTileSlices);
    PxWICWriteProperty(Bag, L"VerticalTileSlices", VT_UI2, VerticalTileSlices);
    PxWICWriteProperty(Bag, L"FrequencyOrder", VT_BOOL, FrequencyOrder ? 1 : 0);
    PxWICWriteProperty(Bag, L"TiffCompressionMethod", VT_UI1, TiffCompression <= 6 ? TiffCompression : 1);
}

void TPxWICWriter::WriteFrame(TPxBitmap* Bitmap, TIOParamsVals* Params)
{
    if (!Bitmap)
        return;
    // The pixel format is checked first so that an unsupported bitmap never
    // leaves a half-made frame behind.
    uint8_t wicFormat = 0;
    switch (Bitmap->GetPixelFormat()) {
    case px1g: wicFormat = 0x05; break;
    case px8g: wicFormat = 0x08; break;
    case px16g: wicFormat = 0x0B; break;
    case px24RGB: wicFormat = 0x0C; break;
    case pxCMYK: wicFormat = 0x1C; break;
    case pxRGB48: wicFormat = 0x15; break;
    default: RaiseAssertion();
    }
    if (!Encoder_)
        return;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* bag = nullptr;
    Encoder_->CreateNewFrame(&frame, &bag);
    if (!frame || !bag) {
        ReleaseInto(frame);
        ReleaseInto(bag);
        return;
    }
    if (Params) {
        DpiX = Params->DpiX;
        DpiY = Params->DpiY;
        ImageQuality = Params->HDPImageQuality;
        Lossless = Params->HDPLossless;
    }
    WriteOptions(bag);
    const int width = Bitmap->GetWidth();
    const int height = Bitmap->GetHeight();
    const int rowLen = Bitmap->GetRowLen();
    bool ok = SUCCEEDED(frame->Initialize(bag)) &&
              SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) &&
              SUCCEEDED(frame->SetResolution(DpiX, DpiY));
    if (ok) {
        WICPixelFormatGUID format = PxWICPixelFormat(wicFormat);
        ok = SUCCEEDED(frame->SetPixelFormat(&format));
    }
    std::vector<uint8_t> inverted;
    for (int y = 0; ok && y < height; ++y) {
        uint8_t* row = Bitmap->GetScanline(y);
        if (Bitmap->GetPixelFormat() == pxCMYK) {
            // pxCMYK stores no ink as 255; the codec takes ink amounts.
            inverted.assign(row, row + rowLen);
            for (uint8_t& b : inverted)
                b = static_cast<uint8_t>(255 - b);
            row = inverted.data();
        }
        ok = SUCCEEDED(frame->WritePixels(1, static_cast<UINT>(rowLen), static_cast<UINT>(rowLen), row));
    }
    if (ok)
        frame->Commit();
    frame->Release();
    bag->Release();
}

void TPxWICWriter::Close()
{
    if (Encoder_) {
        Encoder_->Commit();
        ReleaseInto(Encoder_);
    }
}

void PxWriteHDPhoto(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    if (!PxIsWICAvailable() || !Stream) {
        Progress.Abort();
        return;
    }
    Progress.Progress(0);
    const int64_t start = Stream->GetPosition();
    bool opened = false;
    auto finish = [&] {
        // The tag copy runs only over a file the encoder produced: copying
        // into a stream without a complete file would damage it.
        if (opened && Stream->GetSize() > start) {
            try {
                Stream->Seek(start, classlib::soBeginning);
                PxCopyEXIFToTIFF(Stream, Stream, L"", Params, 0, L"");
            } catch (...) {
                Progress.Abort();
            }
        }
        Stream->Seek(start, classlib::soBeginning);
        Progress.Progress(0);
    };
    try {
        TPxWICWriter writer;
        opened = writer.Open(Stream, ffHDP);
        if (!opened)
            Progress.Abort();
        writer.WriteFrame(Bitmap, &Params);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

}  // namespace imaging
