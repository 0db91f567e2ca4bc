#include "imaging/io/platform/AviReader.h"

#include <windows.h>
#include <vfw.h>

#include <type_traits>

#include "classlib/SysUtils.h"
#include "imaging/io/platform/AviCheck.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOAsync.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxWorkBitmap.h"
#include "imaging/proc/PxDib.h"

namespace imaging {

namespace {

// The AVI file library, loaded once and kept for the life of the process
// (the I/O unit's shut-down calls its AVIFileExit).
struct TAviLibrary {
    decltype(&::AVIFileInit) FileInit = nullptr;
    decltype(&::AVIFileOpenW) FileOpen = nullptr;
    decltype(&::AVIFileGetStream) GetStream = nullptr;
    decltype(&::AVIStreamInfoW) StreamInfo = nullptr;
    decltype(&::AVIStreamGetFrameOpen) GetFrameOpen = nullptr;
    decltype(&::AVIStreamGetFrame) GetFrame = nullptr;
    decltype(&::AVIStreamGetFrameClose) GetFrameClose = nullptr;
    decltype(&::AVIStreamRelease) StreamRelease = nullptr;
    decltype(&::AVIFileRelease) FileRelease = nullptr;
    bool Ok = false;

    TAviLibrary()
    {
        HMODULE m = LoadLibraryW(L"avifil32.dll");
        if (!m)
            return;
        auto get = [m](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
                reinterpret_cast<void*>(GetProcAddress(m, name)));
            return slot != nullptr;
        };
        Ok = get(FileInit, "AVIFileInit") & get(FileOpen, "AVIFileOpenW") & get(GetStream, "AVIFileGetStream") &
             get(StreamInfo, "AVIStreamInfoW") & get(GetFrameOpen, "AVIStreamGetFrameOpen") &
             get(GetFrame, "AVIStreamGetFrame") & get(GetFrameClose, "AVIStreamGetFrameClose") &
             get(StreamRelease, "AVIStreamRelease") & get(FileRelease, "AVIFileRelease");
    }
};

TAviLibrary& Avi()
{
    static TAviLibrary library;
    return library;
}

// COM for the calling thread while the scope lives (the library's files and
// streams are COM objects); balanced: uninitialised only when it succeeded.
class TComScope {
public:
    TComScope() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~TComScope()
    {
        if (ok_)
            CoUninitialize();
    }
    TComScope(const TComScope&) = delete;
    TComScope& operator=(const TComScope&) = delete;

private:
    bool ok_;
};

// The I/O object's own thread keeps COM from its first open on (as the
// library's initialisation does for the thread that runs it); workers
// bracket their call with a TComScope instead.
void EnsureComOnThisThread()
{
    thread_local bool done = false;
    if (!done) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        done = true;
    }
}

// The parameters that follow the bit count of a decoded frame.
void SetSampleFormat(TIOParamsVals& p, int BitCount)
{
    switch (BitCount) {
    case 1: p.BitsPerSample = 1; p.SamplesPerPixel = 1; break;
    case 4: p.BitsPerSample = 4; p.SamplesPerPixel = 1; break;
    case 8: p.BitsPerSample = 8; p.SamplesPerPixel = 1; break;
    case 15: p.BitsPerSample = 5; p.SamplesPerPixel = 3; break;
    case 16:
    case 24:
    case 32: p.BitsPerSample = 8; p.SamplesPerPixel = 3; break;
    default: break;
    }
}

}  // namespace

int32_t PxAVIFrameDelay(uint32_t Rate, uint32_t Scale)
{
    if (Rate == 0 || Scale == 0)
        return 0;
    return static_cast<int32_t>(classlib::Round(1000.0 / (static_cast<double>(Rate) / Scale)));
}

TPxAVIReader::TPxAVIReader(TImgIO& IO) : classlib::TComponent(&IO), io_(IO) {}

TPxAVIReader::~TPxAVIReader() { CloseAVIFile(); }

TPxAVIReader& TPxAVIReader::Of(TImgIO& IO)
{
    for (int i = 0; i < IO.GetComponentCount(); ++i)
        if (auto* reader = dynamic_cast<TPxAVIReader*>(IO.GetComponent(i)))
            return *reader;
    return *new TPxAVIReader(IO);
}

void TPxAVIReader::SetTiming()
{
    io_.FileParams->AVIFrameCount = static_cast<int32_t>(length_ > INT32_MAX ? INT32_MAX : length_);
    io_.FileParams->AVIFrameDelay = PxAVIFrameDelay(rate_, scale_);
}

int TPxAVIReader::OpenAVIFile(const std::wstring& FileName)
{
    io_.AbortFlag = false;
    io_.lastFailure_ = TPxReadFailure::None;
    CloseAVIFile();
    TIOParamsVals& p = *io_.FileParams;
    p.AVIFrameCount = 0;
    p.FileName = FileName;
    p.FileFormat = 0;

    // The library trusts the file's sizes and offsets: only a file whose
    // structure passes our check reaches it.
    if (TPxReadFailure refused = PxCheckAVIFile(FileName); refused != TPxReadFailure::None) {
        io_.lastFailure_ = refused;
        io_.AbortFlag = true;
        return 0;
    }
    TAviLibrary& avi = Avi();
    if (!avi.Ok) {
        io_.AbortFlag = true;
        return 0;
    }
    if (!io_.InWorkerThread())
        EnsureComOnThisThread();
    if (!PxAVILibraryInitialized) {
        avi.FileInit();
        PxAVILibraryInitialized = true;
    }
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    AVISTREAMINFOW info{};
    auto fail = [&]() {
        if (stream)
            avi.StreamRelease(stream);
        if (file)
            avi.FileRelease(file);
        file_ = stream_ = getFrame_ = nullptr;
        io_.AbortFlag = true;
        return 0;
    };
    if (avi.FileOpen(&file, FileName.c_str(), OF_READ, nullptr) != 0) {
        file = nullptr;
        return fail();
    }
    if (avi.GetStream(file, &stream, streamtypeVIDEO, 0) != 0) {
        stream = nullptr;
        return fail();
    }
    if (avi.StreamInfo(stream, &info, sizeof(info)) != 0)
        return fail();
    PGETFRAME frames = avi.GetFrameOpen(stream, nullptr);
    if (!frames)
        return fail();
    file_ = file;
    stream_ = stream;
    getFrame_ = frames;
    rate_ = info.dwRate;
    scale_ = info.dwScale;
    length_ = info.dwLength;
    SetTiming();
    return p.AVIFrameCount;
}

void TPxAVIReader::LoadAVIFrame(uint32_t Index, bool Required)
{
    if (io_.ShouldDefer()) {
        TPxIOThread::Launch(
            &io_,
            [this, Index, Required] {
                TComScope com;
                LoadAVIFrame(Index, Required);
            },
            nullptr);
        return;
    }
    try {
        io_.AbortFlag = false;
        TPxReadFailure failure = TPxReadFailure::NoImage;
        if (io_.PrepareBitmap(0) && getFrame_ && Index < (length_ > INT32_MAX ? uint32_t(INT32_MAX) : length_)) {
            failure = TPxReadFailure::Unsupported;
            TAviLibrary& avi = Avi();
            void* dib = avi.GetFrame(static_cast<PGETFRAME>(getFrame_), static_cast<LONG>(Index));
            SetTiming();
            if (dib) {
                // The frame reader's block holds the header, the colour table
                // and the pixels; its size is not told, so the header
                // describes it.
                TPxDibbitmap frame;
                int bits = PxDIBToDibbitmap(dib, &frame, nullptr, true);
                if (bits > 0 && frame.GetWidth() > 0 && CopyFromDibBitmap(*io_.GetCurrentBitmap(), &frame)) {
                    TIOParamsVals& p = *io_.FileParams;
                    SetSampleFormat(p, bits);
                    p.DpiX = PxDefaultDpiX;
                    p.DpiY = PxDefaultDpiY;
                    p.Width = p.OriginalWidth = frame.GetWidth();
                    p.Height = p.OriginalHeight = frame.GetHeight();
                    p.FreeColorMap();
                    io_.NotifyImageChanged();
                    failure = TPxReadFailure::None;
                }
            }
        }
        if (Required && failure != TPxReadFailure::None) {
            io_.lastFailure_ = failure;
            io_.AbortFlag = true;
        }
    } catch (...) {
        io_.DoFinishWork();
        throw;
    }
    io_.DoFinishWork();
}

void TPxAVIReader::CloseAVIFile()
{
    if (!file_)
        return;
    TAviLibrary& avi = Avi();
    if (getFrame_)
        avi.GetFrameClose(static_cast<PGETFRAME>(getFrame_));
    if (stream_)
        avi.StreamRelease(static_cast<PAVISTREAM>(stream_));
    avi.FileRelease(static_cast<PAVIFILE>(file_));
    file_ = stream_ = getFrame_ = nullptr;
    rate_ = scale_ = length_ = 0;
}

namespace {

void LoadAVIFileWith(TPxAVIReader& Reader, TImgIO& IO, const std::wstring& FileName)
{
    if (Reader.OpenAVIFile(FileName) == 0 && IO.AbortFlag) {
        IO.DoFinishWork();
        return;
    }
    try {
        Reader.LoadAVIFrame(static_cast<uint32_t>(IO.FileParams->ImageIndex), true);
    } catch (...) {
        Reader.CloseAVIFile();
        throw;
    }
    Reader.CloseAVIFile();
    IO.FileParams->FileName = FileName;
    IO.FileParams->FileFormat = ffAVI;
}

}  // namespace

void PxLoadAVIFile(TImgIO& IO, const std::wstring& FileName)
{
    TPxAVIReader& reader = TPxAVIReader::Of(IO);
    if (IO.ShouldDefer()) {
        // The whole open-read-close runs on one worker, so the file stays open
        // while the frame is read.
        TPxIOThread::Launch(
            &IO,
            [&reader, &IO, FileName] {
                TComScope com;
                LoadAVIFileWith(reader, IO, FileName);
            },
            nullptr);
        return;
    }
    LoadAVIFileWith(reader, IO, FileName);
}

}  // namespace imaging
