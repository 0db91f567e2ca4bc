#include "controls/shell/ShPictureThumbnail.h"

#include <ole2.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "controls/shell/ShComRef.h"

namespace shell {

namespace {

// Spelled out so that no import library of the codecs is needed.
const GUID kCLSID_WICImagingFactory = {0xCACAF262, 0x9370, 0x4615, {0xA1, 0x3B, 0x9F, 0x55, 0x39, 0xDA, 0x4C, 0x0A}};
const GUID kIID_IWICImagingFactory = {0xEC5EC8A9, 0xC395, 0x4314, {0x9C, 0x77, 0x54, 0xD7, 0xA9, 0x35, 0xFF, 0x70}};
const GUID kWICPixelFormat32bppBGR = {0x6FDDC324, 0x4E03, 0x4BFE, {0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9, 0x0E}};

}  // namespace

HBITMAP MakePictureThumbnail(const std::wstring& File, int Width, int Height)
{
    if (File.empty() || Width <= 0 || Height <= 0) return nullptr;
    TComRef<IWICImagingFactory> factory;
    if (FAILED(::CoCreateInstance(kCLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, kIID_IWICImagingFactory,
                                  factory.PutVoid())) ||
        !factory)
        return nullptr;
    TComRef<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromFilename(File.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  decoder.Put())) ||
        !decoder)
        return nullptr;
    TComRef<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, frame.Put())) || !frame) return nullptr;
    UINT w = 0, h = 0;
    if (FAILED(frame->GetSize(&w, &h)) || w == 0 || h == 0) return nullptr;
    const double scale = std::min({1.0, double(Width) / w, double(Height) / h});
    const UINT tw = std::max(1u, UINT(w * scale)), th = std::max(1u, UINT(h * scale));
    TComRef<IWICBitmapScaler> scaler;
    if (FAILED(factory->CreateBitmapScaler(scaler.Put())) || !scaler ||
        FAILED(scaler->Initialize(frame.Get(), tw, th, WICBitmapInterpolationModeFant)))
        return nullptr;
    TComRef<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(converter.Put())) || !converter ||
        FAILED(converter->Initialize(scaler.Get(), kWICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = LONG(tw);
    info.bmiHeader.biHeight = -LONG(th);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap) ::DeleteObject(bitmap);
        return nullptr;
    }
    const UINT stride = tw * 4;
    if (FAILED(converter->CopyPixels(nullptr, stride, stride * th, static_cast<BYTE*>(bits)))) {
        ::DeleteObject(bitmap);
        return nullptr;
    }
    return bitmap;
}

}  // namespace shell
