#include "imaging/io/platform/HdpReader.h"

#include <ole2.h>

#include <atomic>
#include <new>
#include <mutex>
#include <cstring>
#include <vector>

#include "classlib/ComObject.h"
#include "classlib/Exceptions.h"
#include "imaging/io/metadata/ExifBlock.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/platform/HdpCheck.h"
#include "imaging/io/platform/HdpWriter.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxFileText.h"

namespace imaging {

const GUID PxCLSID_WICImagingFactory = {0xCACAF262, 0x9370, 0x4615, {0xA1, 0x3B, 0x9F, 0x55, 0x39, 0xDA, 0x4C, 0x0A}};
const GUID PxIID_IWICImagingFactory = {0xEC5EC8A9, 0xC395, 0x4314, {0x9C, 0x77, 0x54, 0xD7, 0xA9, 0x35, 0xFF, 0x70}};
const GUID PxGUID_VendorMicrosoft = {0xF0E749CA, 0xEDEF, 0x4589, {0xA7, 0x3A, 0xEE, 0x0E, 0x62, 0x6A, 0x2A, 0x2B}};

namespace {

struct TCodecRow {
    int32_t FileType;
    GUID Decoder;
    GUID Container;
    bool HasContainer;
};

const TCodecRow kCodecs[] = {
    {1, {0xB54E85D9, 0xFE23, 0x499F, {0x8B, 0x88, 0x6A, 0xCE, 0xA7, 0x13, 0x75, 0x2B}},
     {0x163BCC30, 0xE2E9, 0x4F0B, {0x96, 0x1D, 0xA3, 0xE9, 0xFD, 0xB7, 0x88, 0xA3}}, true},
    {2, {0x381DDA3C, 0x9CE9, 0x4834, {0xA2, 0x3E, 0x1F, 0x98, 0xF8, 0xFC, 0x52, 0xBE}},
     {0x1F8A5601, 0x7D4D, 0x4CBD, {0x9C, 0x82, 0x1B, 0xC8, 0xD4, 0xEE, 0xB9, 0xA5}}, true},
    {3, {0x9456A480, 0xE88B, 0x43EA, {0x9E, 0x73, 0x0B, 0x2D, 0x9B, 0x71, 0xB1, 0xCA}},
     {0x19E4A5AA, 0x5662, 0x4FC5, {0xA0, 0xC0, 0x17, 0x58, 0x02, 0x8E, 0x10, 0x57}}, true},
    {5, {0x6B462062, 0x7CBF, 0x400D, {0x9F, 0xDB, 0x81, 0x3D, 0xD1, 0x0F, 0x27, 0x78}},
     {0x0AF1D87E, 0xFCFE, 0x4188, {0xBD, 0xEB, 0xA7, 0x90, 0x64, 0x71, 0xCB, 0xE3}}, true},
    {6, {0xC61BFCDF, 0x2E0F, 0x4AAD, {0xA8, 0xD7, 0xE0, 0x6B, 0xAF, 0xEB, 0xCD, 0xFE}}, {}, false},
    {8, {0x389EA17B, 0x5078, 0x4CDE, {0xB6, 0xEF, 0x25, 0xC1, 0x51, 0x75, 0xC7, 0x51}},
     {0x1B7CFAF4, 0x713F, 0x473C, {0xBB, 0xCD, 0x61, 0x37, 0x42, 0x5F, 0xAE, 0xAF}}, true},
    {29, {0xA26CEC36, 0x234C, 0x4950, {0xAE, 0x16, 0xE3, 0x4A, 0xAC, 0xE7, 0x1D, 0x0D}},
     {0x57A37CAA, 0x367A, 0x4540, {0x91, 0x6B, 0xF1, 0x83, 0xC5, 0x09, 0x3A, 0x4B}}, true},
};

const TCodecRow* FindCodec(int32_t FileType)
{
    for (const TCodecRow& row : kCodecs)
        if (row.FileType == FileType)
            return &row;
    return nullptr;
}

const GUID kIID_ISequentialStream = {0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
const GUID kIID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// IStream over a TStream that it does not own. Exceptions of the TStream
// never cross the COM boundary: they become STG_E_* results.
class TStreamAdapter final : public classlib::TComObject<IStream, kIID_ISequentialStream, kIID_IStream> {
public:
    TStreamAdapter(classlib::TStream* Stream, int64_t Base) : Stream_(Stream), Base_(Base) {}

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (pcbRead)
            *pcbRead = 0;
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        try {
            const int64_t n = Stream_->Read(pv, cb);
            if (pcbRead)
                *pcbRead = static_cast<ULONG>(n < 0 ? 0 : n);
            return n == static_cast<int64_t>(cb) ? S_OK : S_FALSE;
        } catch (...) {
            return STG_E_READFAULT;
        }
    }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (pcbWritten)
            *pcbWritten = 0;
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        try {
            const int64_t n = Stream_->Write(pv, cb);
            if (pcbWritten)
                *pcbWritten = static_cast<ULONG>(n < 0 ? 0 : n);
            return n == static_cast<int64_t>(cb) ? S_OK : STG_E_MEDIUMFULL;
        } catch (...) {
            return STG_E_WRITEFAULT;
        }
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER Move, DWORD Origin, ULARGE_INTEGER* NewPos) override
    {
        classlib::TSeekOrigin o;
        int64_t offset = Move.QuadPart;
        switch (Origin) {
        case STREAM_SEEK_SET:
            o = classlib::soBeginning;
            if (offset < 0)
                return STG_E_INVALIDFUNCTION;
            offset += Base_;
            break;
        case STREAM_SEEK_CUR: o = classlib::soCurrent; break;
        case STREAM_SEEK_END: o = classlib::soEnd; break;
        default: return STG_E_INVALIDFUNCTION;
        }
        try {
            const int64_t p = Stream_->Seek(offset, o);
            if (p < Base_) {
                Stream_->Seek(Base_, classlib::soBeginning);
                return STG_E_INVALIDFUNCTION;
            }
            if (NewPos)
                NewPos->QuadPart = static_cast<ULONGLONG>(p - Base_);
            return S_OK;
        } catch (...) {
            return STG_E_INVALIDFUNCTION;
        }
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER NewSize) override
    {
        try {
            Stream_->SetSize(Base_ + static_cast<int64_t>(NewSize.QuadPart));
            return S_OK;
        } catch (...) {
            return STG_E_MEDIUMFULL;
        }
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return STG_E_REVERTED; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* Stat, DWORD) override
    {
        if (!Stat)
            return STG_E_INVALIDPOINTER;
        ZeroMemory(Stat, sizeof(*Stat));
        Stat->type = STGTY_STREAM;
        try {
            const int64_t size = Stream_->GetSize() - Base_;
            Stat->cbSize.QuadPart = static_cast<ULONGLONG>(size < 0 ? 0 : size);
        } catch (...) {
            return STG_E_ACCESSDENIED;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) override
    {
        if (ppstm)
            *ppstm = nullptr;
        return E_NOTIMPL;
    }

private:
    ~TStreamAdapter() = default;
    classlib::TStream* Stream_;
    int64_t Base_;  // the TStream position that is position 0 of this stream
};

template <typename T>
void ReleaseInto(T*& P)
{
    if (P) {
        P->Release();
        P = nullptr;
    }
}

Px_IWICImagingFactory* CreateFactory()
{
    void* p = nullptr;
    if (FAILED(CoCreateInstance(PxCLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                PxIID_IWICImagingFactory, &p)))
        return nullptr;
    return static_cast<Px_IWICImagingFactory*>(p);
}

void ReadHDPRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                TPxIOProgressInfo& Progress)
{
    PxReadHDPhoto(Stream, Bitmap, Params, Progress, Preview);
}

void WriteHDPRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    PxWriteHDPhoto(Stream, Bitmap, Params, Progress);
}

}  // namespace

GUID PxWICPixelFormat(uint8_t Last)
{
    return GUID{0x6FDDC324, 0x4E03, 0x4BFE, {0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9, Last}};
}

bool PxWICDecoderClass(int32_t FileType, GUID& Clsid)
{
    const TCodecRow* row = FindCodec(FileType);
    if (!row)
        return false;
    Clsid = row->Decoder;
    return true;
}

bool PxWICContainerFormat(int32_t FileType, GUID& Format)
{
    const TCodecRow* row = FindCodec(FileType);
    if (!row || !row->HasContainer)
        return false;
    Format = row->Container;
    return true;
}

IStream* PxCreateStreamAdapter(classlib::TStream* Stream)
{
    return new TStreamAdapter(Stream, Stream->GetPosition());
}

bool PxIsWICAvailable()
{
    static std::once_flag once;
    static bool available = false;
    std::call_once(once, [] {
        const bool ole = SUCCEEDED(OleInitialize(nullptr));
        Px_IWICImagingFactory* f = CreateFactory();
        available = f != nullptr;
        ReleaseInto(f);
        if (ole)
            OleUninitialize();
    });
    return available;
}

// ---- TPxWICReader

TPxWICReader::TPxWICReader() : DpiX(PxDefaultDpiX), DpiY(PxDefaultDpiY)
{
    OleInitialized_ = SUCCEEDED(OleInitialize(nullptr));
    Factory_ = CreateFactory();
}

TPxWICReader::~TPxWICReader()
{
    Close();
    ReleaseInto(Factory_);
    if (OleInitialized_)
        OleUninitialize();
}

bool TPxWICReader::IsReady() const { return Factory_ != nullptr && PxIsWICAvailable(); }

bool TPxWICReader::Open(classlib::TStream* Stream, int32_t FileType)
{
    if (!IsReady() || !Stream)
        return false;
    GUID vendor;
    if (!PxWICDecoderClass(FileType, vendor))
        return false;
    Stream_ = Stream;
    StreamPos_ = Stream->GetPosition();
    Close();
    IStream* adapter = PxCreateStreamAdapter(Stream);
    Factory_->CreateDecoderFromStream(adapter, &vendor, WICDecodeMetadataCacheOnLoad, &Decoder_);
    adapter->Release();  // the decoder holds its own reference
    return Decoder_ != nullptr;
}

uint32_t TPxWICReader::GetFrameCount()
{
    UINT n = 0;
    if (!IsReady() || !Decoder_ || FAILED(Decoder_->GetFrameCount(&n)))
        return 0;
    return n;
}

uint32_t TPxWICReader::GetFrameWidth()
{
    UINT w = 0, h = 0;
    if (!Frame_ || FAILED(Frame_->GetSize(&w, &h)))
        return 0;
    return w;
}

uint32_t TPxWICReader::GetFrameHeight()
{
    UINT w = 0, h = 0;
    if (!Frame_ || FAILED(Frame_->GetSize(&w, &h)))
        return 0;
    return h;
}

void TPxWICReader::Close()
{
    ReleaseInto(Metadata_);
    ReleaseInto(Frame_);
    ReleaseInto(Decoder_);
}

bool TPxWICReader::CopyToBitmap(IWICBitmapSource* Source, TPxBitmap* Bitmap, bool Native)
{
    WICPixelFormatGUID source{};
    if (FAILED(Source->GetPixelFormat(&source)))
        return false;
    uint8_t target = 0x0C;  // 24 bit BGR
    TPxPixelFormat format = px24RGB;
    const GUID base = PxWICPixelFormat(0);
    const bool known = memcmp(&source, &base, sizeof(GUID) - 1) == 0;
    const uint8_t last = known ? source.Data4[7] : 0;
    if (last == 0x05) {
        target = 0x05;
        format = px1g;
    } else if (Native) {
        switch (last) {
        case 0x01: target = 0x04; format = px8p; break;
        case 0x08: target = 0x08; format = px8g; break;
        case 0x0B: target = 0x0B; format = px16g; break;
        case 0x15: target = 0x15; format = pxRGB48; break;
        case 0x1C: target = 0x1C; format = pxCMYK; break;
        default: break;
        }
    }
    // A source already in the target format is copied as it is: the
    // converter adds nothing then, and some platforms' converters cannot
    // produce every target (16-bit grey, 48-bit RGB) even from itself.
    auto makeSource = [&](uint8_t Last) -> IWICBitmapSource* {
        const GUID targetGuid = PxWICPixelFormat(Last);
        if (IsEqualGUID(source, targetGuid)) {
            Source->AddRef();
            return Source;
        }
        IWICFormatConverter* converter = nullptr;
        Factory_->CreateFormatConverter(&converter);
        if (!converter)
            return nullptr;
        if (FAILED(converter->Initialize(Source, targetGuid, WICBitmapDitherTypeNone, nullptr, 0.0,
                                         WICBitmapPaletteTypeCustom))) {
            converter->Release();
            return nullptr;
        }
        return converter;
    };
    IWICBitmapSource* pixels = makeSource(target);
    UINT w = 0, h = 0;
    if (FAILED(Source->GetSize(&w, &h)) || w == 0 || h == 0 || w > 0x7FFFFFF || h > INT32_MAX) {
        if (pixels)
            pixels->Release();
        return false;
    }
    // The frame is copied in one call into a packed buffer and then spread
    // over the rows: some decoders misplace rows when single rows are copied
    // out with a stride other than their own packed one.
    auto bitsOf = [](uint8_t Last) -> uint64_t {
        switch (Last) {
        case 0x05: return 1;
        case 0x04:
        case 0x08: return 8;
        case 0x0B: return 16;
        case 0x0E:
        case 0x1C: return 32;
        case 0x15: return 48;
        default: return 24;
        }
    };
    auto copyAll = [&](IWICBitmapSource* From, uint8_t Last, std::vector<uint8_t>& Out) -> bool {
        // The packed copy and the bitmap, within the caps (the platform's
        // decoder bounds the data itself).
        TPxRasterCheck check;
        check.Width = w;
        check.Height = h;
        check.CodedBits = int64_t(bitsOf(Last));
        check.StorageBits = int64_t(bitsOf(Last)) + PxPixelFormatBits[format];
        check.Coding = TPxCoding::Unbounded;
        if (PxCheckRaster(check) != TPxReadFailure::None)
            return false;
        const uint64_t stride = (static_cast<uint64_t>(w) * bitsOf(Last) + 7) / 8;
        try {
            Out.assign(static_cast<size_t>(stride * h), 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        const WICRect all{0, 0, static_cast<INT>(w), static_cast<INT>(h)};
        return SUCCEEDED(From->CopyPixels(&all, static_cast<UINT>(stride), static_cast<UINT>(Out.size()), Out.data()));
    };
    std::vector<uint8_t> data;
    uint8_t copied = target;
    bool ok = pixels && copyAll(pixels, target, data);
    if (!ok && target == 0x0C) {
        // Some converters accept 24-bit BGR as a target but cannot fill it
        // from every source; 32-bit BGR is then the intermediate, its fourth
        // byte dropped.
        if (pixels)
            pixels->Release();
        pixels = makeSource(0x0E);
        copied = 0x0E;
        ok = pixels && copyAll(pixels, copied, data);
    }
    if (pixels)
        pixels->Release();
    if (!ok)
        return false;
    if (!Bitmap->Allocate(static_cast<int>(w), static_cast<int>(h), format))
        return false;
    const size_t stride = data.size() / h;
    for (UINT y = 0; y < h; ++y) {
        uint8_t* row = Bitmap->GetScanline(static_cast<int>(y));
        const uint8_t* from = data.data() + static_cast<size_t>(y) * stride;
        if (copied == 0x0E && target == 0x0C) {
            for (UINT x = 0; x < w; ++x)
                std::memcpy(row + static_cast<size_t>(x) * 3, from + static_cast<size_t>(x) * 4, 3);
        } else {
            std::memcpy(row, from, stride);
        }
        if (format == pxCMYK) {
            // The codec's CMYK bytes are ink amounts; pxCMYK stores no ink as 255.
            for (size_t i = 0; i < stride; ++i)
                row[i] = static_cast<uint8_t>(255 - row[i]);
        }
    }
    return true;
}

void TPxWICReader::ReadFrame(uint32_t Index, TPxBitmap* Bitmap, TIOParamsVals* Params, bool* Aborting)
{
    auto fail = [&] {
        if (Aborting)
            *Aborting = true;
    };
    if (!IsReady() || !Decoder_ || !Bitmap) {
        fail();
        return;
    }
    ReleaseInto(Metadata_);
    ReleaseInto(Frame_);
    Decoder_->GetFrame(Index, &Frame_);
    if (!Frame_) {
        fail();
        return;
    }
    double rx = 0, ry = 0;
    if (SUCCEEDED(Frame_->GetResolution(&rx, &ry))) {
        DpiX = rx;
        DpiY = ry;
    }
    Frame_->GetMetadataQueryReader(&Metadata_);

    const bool native = !Params || Params->NativePixelFormat;
    IWICBitmapSource* thumbnail = nullptr;
    if (Params && Params->UseEmbeddedThumbnail)
        Frame_->GetThumbnail(&thumbnail);
    const bool ok = CopyToBitmap(thumbnail ? thumbnail : static_cast<IWICBitmapSource*>(Frame_), Bitmap, native);
    ReleaseInto(thumbnail);
    if (!ok) {
        fail();
        return;
    }

    if (Params) {
        if (Stream_) {
            const int64_t here = Stream_->GetPosition();
            Stream_->Seek(StreamPos_, classlib::soBeginning);
            PxLoadEXIFFromStream(Stream_, *Params);
            Stream_->Seek(here, classlib::soBeginning);
        }
        int channels = 3, bpp = 24;
        switch (Bitmap->GetPixelFormat()) {
        case px1g: channels = 1; bpp = 1; break;
        case px8p:
        case px8g: channels = 1; bpp = 8; break;
        case px16g: channels = 1; bpp = 16; break;
        case pxRGB48: channels = 3; bpp = 48; break;
        case pxCMYK: channels = 4; bpp = 32; break;
        default: break;
        }
        Params->BitsPerSample = bpp / channels;
        Params->SamplesPerPixel = channels;
        Params->OriginalWidth = static_cast<int32_t>(GetFrameWidth());
        Params->OriginalHeight = static_cast<int32_t>(GetFrameHeight());
        Params->Width = Bitmap->GetWidth();
        Params->Height = Bitmap->GetHeight();
        Params->DpiX = static_cast<int32_t>(DpiX);
        Params->DpiY = static_cast<int32_t>(DpiY);
    }
}

// ---- free routines

void PxReadHDPhoto(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                   bool /*Preview: the frame is always decoded*/)
{
    Progress.Progress(0);
    // The platform's decoder trusts the container: only a file whose
    // structure passes our check reaches it.
    if (TPxReadFailure refused = PxCheckHDPhotoStructure(*Stream); refused != TPxReadFailure::None) {
        Progress.Fail(refused);
        return;
    }
    TPxWICReader reader;
    if (reader.Open(Stream, ffHDP)) {
        reader.ReadFrame(static_cast<uint32_t>(Params.ImageIndex < 0 ? 0 : Params.ImageIndex), Bitmap, &Params,
                         Progress.Aborting);
    } else {
        Progress.Abort();
    }
    Progress.Progress(0);
}

int32_t PxCountHDPhotoFrames(const std::wstring& FileName)
{
    if (!PxIsWICAvailable())
        return 0;
    TPxWideFileStream stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    if (PxCheckHDPhotoStructure(stream) != TPxReadFailure::None)
        return 0;
    TPxWICReader reader;
    if (!reader.Open(&stream, ffHDP))
        return 0;
    return static_cast<int32_t>(reader.GetFrameCount());
}

void PxInstallHDPFormat()
{
    PxSetBuiltInFormatReader(ffHDP, ReadHDPRow);
    PxSetBuiltInFormatWriter(ffHDP, WriteHDPRow);
    PxSetFrameCounter(ffHDP, PxCountHDPhotoFrames);
    PxSetHDPhotoAvailableTest(PxIsWICAvailable);
}

}  // namespace imaging
