// The per-format load and save methods of TImgIO and the frame they share.
// Every method reaches its format's reader or writer through the format's
// built-in registry row (FileFormats.h), which the format's unit fills in,
// and takes its load options, save conversion and stream block tag from the
// format's description; a routine that is not installed fails cleanly
// before anything is opened or created.
#include <cstring>
#include <exception>
#include <new>

#include "classlib/Graphics.h"
#include "classlib/Streams.h"
#include "classlib/Threads.h"
#include "imaging/io/FileFormats.h"
#include "imaging/io/IOParams.h"
#include "imaging/io/IOStartup.h"
#include "imaging/io/ImgIO.h"
#include "imaging/io/MetafileImport.h"
#include "imaging/io/PsdReader.h"
#include "imaging/io/PsdWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxMask.h"
#include "imaging/io/ImgIOStreams.h"
#include "imaging/proc/PxConvert.h"

namespace imaging {

namespace {

// Sends the finish notification when the save leaves, also by an exception
// (an exception of the handler is then dropped, the first one goes on).
class TFinishGuard {
public:
    explicit TFinishGuard(TImgIO* IO) : io_(IO), exceptions_(std::uncaught_exceptions()) {}
    ~TFinishGuard() noexcept(false)
    {
        if (std::uncaught_exceptions() > exceptions_) {
            try {
                io_->DoFinishWork();
            } catch (...) {
            }
        } else {
            io_->DoFinishWork();
        }
    }
    TFinishGuard(const TFinishGuard&) = delete;
    TFinishGuard& operator=(const TFinishGuard&) = delete;

private:
    TImgIO* io_;
    int exceptions_;
};

TPxRGB ColorToRGB(classlib::TColor c)
{
    return TPxRGB{static_cast<uint8_t>((c >> 16) & 0xFF), static_cast<uint8_t>((c >> 8) & 0xFF),
                  static_cast<uint8_t>(c & 0xFF)};
}

classlib::TColor RGBToColor(const TPxRGB& c)
{
    return static_cast<classlib::TColor>(c.r | (c.g << 8) | (c.b << 16));
}

}  // namespace

// ---- stream block header

void PxWriteStreamBlockHeader(classlib::TStream* Stream, int64_t HeaderPos, const char* Tag)
{
    int64_t end = Stream->GetPosition();
    uint8_t header[12] = {};
    std::memcpy(header, Tag, std::min<size_t>(std::strlen(Tag), 4));
    uint32_t length = static_cast<uint32_t>(static_cast<int32_t>(end - HeaderPos - 12));
    for (int i = 0; i < 4; ++i)
        header[8 + i] = static_cast<uint8_t>(length >> (8 * i));
    Stream->SetPosition(HeaderPos);
    Stream->WriteBuffer(header, 12);
    Stream->SetPosition(end);
}

bool PxReadStreamBlockHeader(classlib::TStream* Stream, std::string& Tag, int32_t& Length)
{
    int64_t pos = Stream->GetPosition();
    uint8_t header[12];
    if (Stream->Read(header, 12) != 12) {
        Stream->SetPosition(pos);
        return false;
    }
    Tag.clear();
    for (int i = 0; i < 5 && header[i] != 0; ++i)
        Tag.push_back(static_cast<char>(header[i]));
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i)
        length |= static_cast<uint32_t>(header[8 + i]) << (8 * i);
    Length = static_cast<int32_t>(length);
    return true;
}

int32_t PxFileTypeFromExtension(const std::wstring& Ext)
{
    TPxFileFormatInfo* row = PxFormatInfoByExtension(Ext);
    return row ? row->TypeNumber : 0;
}

// ---- the load frame

unsigned TImgIO::LoadFlagsOf(int32_t FileType, bool FromStream)
{
    const TPxFormatDescription* d = PxFormatDescription(FileType);
    if (!d)
        return 0;
    return FromStream ? d->StreamLoadFlags : d->FileLoadFlags;
}

bool TImgIO::HasReader(int32_t FileType) const
{
    TPxFileFormatInfo* row = PxFormatInfoById(FileType);
    return row && row->Reader;
}

int TImgIO::RunLoad(classlib::TStream* Stream, int32_t FileType, unsigned Flags, int64_t DataSize)
{
    AbortFlag = false;
    TPxIOProgressInfo info = MakeProgress(true);
    info.DataSize = DataSize;
    if (!PrepareBitmap(0)) {
        FailLoad(TPxReadFailure::OutOfMemory);
        return 0;
    }
    struct TLoading {
        int& n;
        explicit TLoading(int& c) : n(c) { ++n; }
        ~TLoading() { --n; }
    } loading(loading_);
    FileParams->ClearInfo();
    if (!(Flags & lfRegistered))
        currentBitmap_->RemoveAlphaChannel(false, classlib::clWhite);
    TPxFileFormatInfo* row = PxFormatInfoById(FileType);
    bool layered = false;
    if (!row || !row->Reader) {
        info.Fail(TPxReadFailure::NoReader);
    } else {
        // A reader reports failure through the flag; an exception counts
        // the same and goes no further.
        try {
            if (FileType == ffPSD)
                layered = ReadPSDDocument(Stream, info);
            else
                row->Reader(Stream, currentBitmap_, *FileParams, false, info);
            // Whatever the reader says, a load without pixels has failed.
            if (!AbortFlag && currentBitmap_->IsEmpty())
                info.Fail(TPxReadFailure::NoImage);
        } catch (const std::bad_alloc&) {
            info.Fail(TPxReadFailure::OutOfMemory);
        } catch (...) {
            AbortFlag = true;
        }
    }
    std::unique_ptr<TPxMask> mask = info.Mask.Take();
    if (AbortFlag) {
        // Never partly decoded rows, nor the storage of an earlier image.
        currentBitmap_->FreeImage(true);
    } else {
        if (!(Flags & pxlfNoDefaultDpi))
            ApplyDefaultDpi();
        if (mask)
            CopyFromMask(*currentBitmap_->GetAlphaChannel(), mask.get());
        // One layer of a stack is never resampled on its own.
        if (AutoAdjustDPI && !(Flags & pxlfNoAdjust) && !layered)
            AdjustDPI();
        FileParams->FileName.clear();
        FileParams->FileFormat = FileType;
        if (!(Flags & pxlfNoViewDpi))
            UpdateViewDpi();
        if (Flags & pxlfGIFBackground) {
            const TPxRGB c = FileParams->GIFTransparent ? FileParams->GIFTransparentColor : FileParams->GIFBackground;
            SetBackground(static_cast<classlib::TColor>(c.r | (c.g << 8) | (c.b << 16)));
        }
    }
    mask.reset();
    --loading_;
    NotifyImageChanged();
    ++loading_;
    DoFinishWork();
    return info.Count;
}

void TImgIO::OnViewThread(const std::function<void()>& Call)
{
    if (InWorkerThread())
        classlib::TThread::Synchronize(nullptr, Call);
    else
        Call();
}

namespace {

// The alpha of a document's only layer laid over the merged image at the
// layer's position; outside the layer the image is transparent. A layer
// without alpha that covers the whole image changes nothing.
void TakeLayerAlpha(TPxBitmap& Image, const TPxPSDLayer& Layer)
{
    TPxBitmap* source = Layer.GetBitmap();
    const int w = Image.GetWidth(), h = Image.GetHeight();
    const int lw = source->GetWidth(), lh = source->GetHeight();
    const bool covers = Layer.PosX <= 0 && Layer.PosY <= 0 && Layer.PosX + lw >= w && Layer.PosY + lh >= h;
    if (Image.IsEmpty() || (!source->HasAlphaChannel() && covers))
        return;
    TPxBitmap* layerAlpha = source->HasAlphaChannel() ? source->GetAlphaChannel() : nullptr;
    TPxBitmap* alpha = Image.GetAlphaChannel();
    for (int y = 0; y < h; ++y) {
        uint8_t* d = alpha->GetScanline(y);
        const int ly = y - Layer.PosY;
        for (int x = 0; x < w; ++x) {
            const int lx = x - Layer.PosX;
            if (ly < 0 || ly >= lh || lx < 0 || lx >= lw)
                d[x] = 0;
            else
                d[x] = layerAlpha ? layerAlpha->GetScanline(ly)[lx] : 255;
        }
    }
    alpha->CheckFullAlpha();
}

}  // namespace

bool TImgIO::ReadPSDDocument(classlib::TStream* Stream, TPxIOProgressInfo& Info)
{
    const bool toView = FileParams->PSDLoadLayers && attachedImg_ && attachedImg_->IsImageView();
    const bool replace = toView && FileParams->PSDReplaceLayers;
    if (replace)
        OnViewThread([this] { attachedImg_->ClearDocumentLayers(); });
    TPxPSDLayerList layers;
    PxReadPSD(Stream, currentBitmap_, *FileParams, &layers, toView, Info);
    if (AbortFlag || layers.empty())
        return false;
    if (toView) {
        bool taken = false;
        const int w = FileParams->Width, h = FileParams->Height;
        OnViewThread([&] { taken = attachedImg_->TakeDocumentLayers(layers, w, h, replace); });
        if (taken)
            return true;
    }
    if (layers.size() == 1 && !FileParams->UseEmbeddedThumbnail)
        TakeLayerAlpha(*currentBitmap_, *layers[0]);
    return false;
}

int TImgIO::LoadFileWith(const std::wstring& FileName, int32_t FileType, unsigned Flags)
{
    BeginFailableLoad();
    std::unique_ptr<classlib::TStream> stream = OpenToRead(FileName);
    int count = RunLoad(stream.get(), FileType, Flags, -1);
    if (!AbortFlag)
        FileParams->FileName = FileName;
    return count;
}

// A file load: fails cleanly without a reader, defers in asynchronous mode,
// else opens the file and runs the frame with the options of the format's
// description.
#define PX_FILE_LOAD(Method, Type)                                \
    void TImgIO::Method(const std::wstring& FileName)             \
    {                                                             \
        if (!HasReader(Type)) {                                   \
            FailLoad(TPxReadFailure::NoReader);                   \
            return;                                               \
        }                                                         \
        if (TryDefer([this, FileName] { Method(FileName); }))     \
            return;                                               \
        LoadFileWith(FileName, Type, LoadFlagsOf(Type, false));   \
    }

#define PX_STREAM_LOAD(Method, Type)                              \
    void TImgIO::Method(classlib::TStream* Stream)                \
    {                                                             \
        if (!HasReader(Type)) {                                   \
            FailLoad(TPxReadFailure::NoReader);                   \
            return;                                               \
        }                                                         \
        if (TryDefer([this, Stream] { Method(Stream); }))         \
            return;                                               \
        RunLoad(Stream, Type, LoadFlagsOf(Type, true), -1);       \
    }

PX_FILE_LOAD(LoadBMPFromFile, ffBMP)
PX_FILE_LOAD(LoadICOFromFile, ffICO)
PX_STREAM_LOAD(LoadICOFromStream, ffICO)
PX_FILE_LOAD(LoadCURFromFile, ffCUR)
PX_STREAM_LOAD(LoadCURFromStream, ffCUR)
PX_FILE_LOAD(LoadTGAFromFile, ffTGA)
PX_STREAM_LOAD(LoadTGAFromStream, ffTGA)
PX_FILE_LOAD(LoadPXMFromFile, ffPXM)
PX_STREAM_LOAD(LoadPXMFromStream, ffPXM)
PX_FILE_LOAD(LoadJP2FromFile, ffJP2)
PX_STREAM_LOAD(LoadJP2FromStream, ffJP2)
PX_FILE_LOAD(LoadJ2KFromFile, ffJ2K)
PX_STREAM_LOAD(LoadJ2KFromStream, ffJ2K)
PX_FILE_LOAD(LoadWBMPFromFile, ffWBMP)
PX_STREAM_LOAD(LoadWBMPFromStream, ffWBMP)
PX_FILE_LOAD(LoadDCXFromFile, ffDCX)
PX_STREAM_LOAD(LoadDCXFromStream, ffDCX)
PX_FILE_LOAD(LoadRawPixelsFromFile, ffRawData)
PX_STREAM_LOAD(LoadRawPixelsFromStream, ffRawData)
PX_FILE_LOAD(LoadPSDFromFile, ffPSD)
PX_STREAM_LOAD(LoadPSDFromStream, ffPSD)
PX_FILE_LOAD(LoadDICOMFromFile, ffDICOM)
PX_STREAM_LOAD(LoadDICOMFromStream, ffDICOM)
PX_FILE_LOAD(LoadHDPFromFile, ffHDP)
PX_STREAM_LOAD(LoadHDPFromStream, ffHDP)

void TImgIO::LoadBMPFromStream(classlib::TStream* Stream)
{
    if (!HasReader(ffBMP)) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    if (TryDefer([this, Stream] { LoadBMPFromStream(Stream); }))
        return;
    RunLoad(Stream, ffBMP, LoadFlagsOf(ffBMP, true), Stream->GetSize() - Stream->GetPosition());
}

// ---- formats with their own steps

int TImgIO::LoadGIFFromFile(const std::wstring& FileName)
{
    if (!HasReader(ffGIF)) {
        FailLoad(TPxReadFailure::NoReader);
        return 0;
    }
    if (TryDefer([this, FileName] { LoadGIFFromFile(FileName); }))
        return -1;
    return LoadFileWith(FileName, ffGIF, LoadFlagsOf(ffGIF, false));
}

int TImgIO::LoadGIFFromStream(classlib::TStream* Stream)
{
    if (!HasReader(ffGIF)) {
        FailLoad(TPxReadFailure::NoReader);
        return 0;
    }
    if (TryDefer([this, Stream] { LoadGIFFromStream(Stream); }))
        return -1;
    return RunLoad(Stream, ffGIF, LoadFlagsOf(ffGIF, true), -1);
}

int TImgIO::LoadTIFFCore(classlib::TStream* Stream)
{
    int64_t dataEnd = -1;
    int64_t dataSize = -1;
    bool relative = PxBufferedReadFromPosition;
    if (StreamHeaders) {
        std::string tag;
        int32_t length = 0;
        if (!PxReadStreamBlockHeader(Stream, tag, length) || tag != PxFormatDescription(ffTIFF)->StreamTag ||
            length < 0) {
            FailLoad();
            return 0;
        }
        dataSize = length;
        dataEnd = Stream->GetPosition() + length;
        relative = true;  // offsets count from the start of the block's data
    }
    int count;
    {
        std::unique_ptr<classlib::TStream> buffered = PxIOBufferedReader(Stream, relative, 8192);
        count = RunLoad(buffered.get(), ffTIFF, LoadFlagsOf(ffTIFF, true), dataSize);
    }
    if (dataEnd >= 0)
        Stream->SetPosition(dataEnd);
    return count;
}

int TImgIO::LoadTIFFFromFile(const std::wstring& FileName)
{
    if (!HasReader(ffTIFF)) {
        FailLoad(TPxReadFailure::NoReader);
        return 0;
    }
    if (TryDefer([this, FileName] { LoadTIFFFromFile(FileName); }))
        return -1;
    BeginFailableLoad();
    std::unique_ptr<classlib::TStream> file = OpenToRead(FileName);
    std::unique_ptr<classlib::TStream> buffered = PxIOBufferedReader(file.get(), PxBufferedReadFromPosition, 8192);
    int count = RunLoad(buffered.get(), ffTIFF, LoadFlagsOf(ffTIFF, false), -1);
    if (!AbortFlag)
        FileParams->FileName = FileName;
    return count;
}

int TImgIO::LoadTIFFFromStream(classlib::TStream* Stream)
{
    if (!HasReader(ffTIFF)) {
        FailLoad(TPxReadFailure::NoReader);
        return 0;
    }
    if (TryDefer([this, Stream] { LoadTIFFFromStream(Stream); }))
        return -1;
    return LoadTIFFCore(Stream);
}

void TImgIO::LoadJPEGFromFile(const std::wstring& FileName)
{
    if (!HasReader(ffJPEG)) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    if (TryDefer([this, FileName] { LoadJPEGFromFile(FileName); }))
        return;
    BeginFailableLoad();
    std::unique_ptr<classlib::TStream> file = OpenToRead(FileName);
    std::unique_ptr<classlib::TStream> buffered = PxIOBufferedReader(file.get(), true, 8192);
    RunLoad(buffered.get(), ffJPEG, LoadFlagsOf(ffJPEG, false), -1);
    if (!AbortFlag)
        FileParams->FileName = FileName;
}

void TImgIO::LoadJPEGCore(classlib::TStream* Stream)
{
    // A "JFIF" block header is recognised whatever StreamHeaders says.
    int64_t start = Stream->GetPosition();
    int64_t dataEnd = -1;
    std::string tag;
    int32_t length = 0;
    if (PxReadStreamBlockHeader(Stream, tag, length) && tag == PxFormatDescription(ffJPEG)->StreamTag && length >= 0)
        dataEnd = Stream->GetPosition() + length;
    else
        Stream->SetPosition(start);
    RunLoad(Stream, ffJPEG, LoadFlagsOf(ffJPEG, true), dataEnd >= 0 ? length : -1);
    if (dataEnd >= 0)
        Stream->SetPosition(dataEnd);
}

void TImgIO::LoadJPEGFromStream(classlib::TStream* Stream)
{
    if (!HasReader(ffJPEG)) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    if (TryDefer([this, Stream] { LoadJPEGFromStream(Stream); }))
        return;
    LoadJPEGCore(Stream);
}

void TImgIO::LoadPCXCore(classlib::TStream* Stream)
{
    int64_t dataEnd = -1;
    int64_t size = Stream->GetSize();
    if (StreamHeaders) {
        int64_t start = Stream->GetPosition();
        std::string tag;
        int32_t length = 0;
        if (!PxReadStreamBlockHeader(Stream, tag, length) || tag.compare(0, 3, "PCX") != 0) {
            FailLoad();
            return;
        }
        if (tag == PxFormatDescription(ffPCX)->StreamTag) {
            if (length < 0) {
                FailLoad();
                return;
            }
            size = length;
            dataEnd = Stream->GetPosition() + length;
        } else {
            // The older form: a 4-byte header.
            Stream->SetPosition(start + 4);
        }
    }
    RunLoad(Stream, ffPCX, LoadFlagsOf(ffPCX, true), size);
    if (dataEnd >= 0)
        Stream->SetPosition(dataEnd);
}

void TImgIO::LoadPCXFromFile(const std::wstring& FileName)
{
    if (!HasReader(ffPCX)) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    if (TryDefer([this, FileName] { LoadPCXFromFile(FileName); }))
        return;
    BeginFailableLoad();
    std::unique_ptr<classlib::TStream> file = OpenToRead(FileName);
    RunLoad(file.get(), ffPCX, LoadFlagsOf(ffPCX, false), file->GetSize());
    if (!AbortFlag)
        FileParams->FileName = FileName;
}

void TImgIO::LoadPCXFromStream(classlib::TStream* Stream)
{
    if (!HasReader(ffPCX)) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    if (TryDefer([this, Stream] { LoadPCXFromStream(Stream); }))
        return;
    LoadPCXCore(Stream);
}

void TImgIO::LoadPNGFromFile(const std::wstring& FileName)
{
    if (!HasReader(ffPNG)) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    if (TryDefer([this, FileName] { LoadPNGFromFile(FileName); }))
        return;
    FileParams->PNGBackground = ColorToRGB(GetBackground());
    LoadFileWith(FileName, ffPNG, LoadFlagsOf(ffPNG, false));
    if (!AbortFlag)
        SetBackground(RGBToColor(FileParams->PNGBackground));
}

void TImgIO::LoadPNGFromStream(classlib::TStream* Stream)
{
    if (!HasReader(ffPNG)) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    if (TryDefer([this, Stream] { LoadPNGFromStream(Stream); }))
        return;
    RunLoad(Stream, ffPNG, LoadFlagsOf(ffPNG, true), -1);
    if (!AbortFlag)
        SetBackground(RGBToColor(FileParams->PNGBackground));
}

void TImgIO::LoadRAWCore(classlib::TStream* Stream)
{
    // An application may have taken the "RAW" extension for a format of its
    // own: that format reads the data then.
    int32_t type = PxFileTypeFromExtension(L"RAW");
    if (type != ffRAW && type != 0) {
        LoadFromStreamFormat(Stream, type);
        return;
    }
    RunLoad(Stream, ffRAW, LoadFlagsOf(ffRAW, true), -1);
}

void TImgIO::LoadRAWFromFile(const std::wstring& FileName)
{
    if (!HasReader(ffRAW)) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    if (TryDefer([this, FileName] { LoadRAWFromFile(FileName); }))
        return;
    BeginFailableLoad();
    std::unique_ptr<classlib::TStream> file = OpenToRead(FileName);
    LoadRAWCore(file.get());
    if (!AbortFlag)
        FileParams->FileName = FileName;
}

void TImgIO::LoadRAWFromStream(classlib::TStream* Stream)
{
    if (!HasReader(ffRAW)) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    if (TryDefer([this, Stream] { LoadRAWFromStream(Stream); }))
        return;
    LoadRAWCore(Stream);
}

void TImgIO::ImportMetafileFromFile(const std::wstring& FileName, int Width, int Height, bool WithAlpha)
{
    // The rasterising options belong to the metafile unit, which reads the
    // file through the WMF/EMF rows.
    int32_t type = PxExtractFileExt(FileName, true) == L".emf" ? ffEMF : ffWMF;
    if (!HasReader(type)) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    if (TryDefer([this, FileName, Width, Height, WithAlpha] { ImportMetafileFromFile(FileName, Width, Height, WithAlpha); }))
        return;
    PxImportMetafileFromFile(*this, FileName, Width, Height, WithAlpha);
}

void TImgIO::ImportMetafile(classlib::TMetafile* Metafile, int Width, int Height, bool WithAlpha)
{
    if (!Metafile) {
        FailLoad();
        return;
    }
    PxImportMetafile(*this, *Metafile, Width, Height, WithAlpha);
}

void TImgIO::ReadMetafileParams(classlib::TStream* Stream) { PxImportReadMetafileParams(*this, Stream); }

namespace {
TPxViewDataRenderer viewDataRenderer = nullptr;
}

void PxSetViewDataRenderer(TPxViewDataRenderer Renderer) { viewDataRenderer = Renderer; }
TPxViewDataRenderer PxGetViewDataRenderer() { return viewDataRenderer; }

void TImgIO::LoadViewDataFromFile(const std::wstring& FileName, int32_t FileType)
{
    FileParams->FileFormat = FileType;
    AbortFlag = false;
    // A damaged file fails the load; the view keeps what it held.
    try {
        if (attachedImg_) {
            const int r = attachedImg_->LoadViewDataFromFile(FileName, FileType);
            if (r == 1)
                return;  // the data went into the view: no finish notification
            if (r == 0) {
                FailLoad();
                return;
            }
        }
        if (!viewDataRenderer) {
            FailLoad(TPxReadFailure::NoReader);
            return;
        }
        TPxBitmap flat;
        if (!viewDataRenderer(FileName, FileType, &flat) || !currentBitmap_) {
            FailLoad();
            return;
        }
        currentBitmap_->Assign(&flat);
    } catch (...) {
        FailLoad();
        return;
    }
    if (attachedImg_) {
        attachedImg_->Update();
        attachedImg_->DoImageChange();
    }
    DoFinishWork();
}

void TImgIO::LoadViewDataFromStream(classlib::TStream* Stream, int32_t FileType)
{
    // Only a view that holds such data reads it; no finish notification.
    FileParams->FileFormat = FileType;
    AbortFlag = false;
    if (!attachedImg_)
        return;
    try {
        if (attachedImg_->LoadViewDataFromStream(Stream, FileType) == 0)
            AbortFlag = true;
    } catch (...) {
        AbortFlag = true;
    }
}

// ---- saves

TPxBitmap* TImgIO::SaveSource(TPxSaveConversion Conv, std::unique_ptr<TPxBitmap>& Copy)
{
    TPxPixelFormat f = currentBitmap_->GetPixelFormat();
    bool convert = false;
    if (Conv == pxscTo24)
        convert = f != px24RGB && f != px1g;
    else if (Conv == pxscTo24Keep48)
        convert = f != px24RGB && f != px1g && f != pxRGB48;
    if (!convert || currentBitmap_->IsEmpty())
        return currentBitmap_;
    // The writer gets a converted copy: the image itself keeps its depth.
    Copy = std::make_unique<TPxBitmap>();
    Copy->Assign(currentBitmap_);
    Copy->SetPixelFormat(px24RGB);
    return Copy.get();
}

void TImgIO::CallWriter(TPxFileFormatInfo& Row, classlib::TStream* Stream, TPxBitmap* Source, unsigned Flags)
{
    TPxIOProgressInfo info = MakeProgress(true);
    if (Row.TypeNumber == ffPSD && attachedImg_ && attachedImg_->IsImageView()) {
        // A view with layers is written whole: every layer and the merged
        // picture of them all.
        TPxPSDLayerList layers;
        TPxBitmap merged;
        bool got = false;
        OnViewThread([&] { got = attachedImg_->GetDocumentLayers(layers, merged); });
        if (got) {
            PxWritePSD(Stream, *FileParams, info, layers, &merged);
            return;
        }
    }
    std::unique_ptr<TPxMask> mask;
    if ((Flags & pxsfMask) && Source->HasAlphaChannel()) {
        mask = std::make_unique<TPxMask>();
        PxBitmapToMask(Source->GetAlphaChannel(), mask.get());
        info.Mask.Lend(mask.get());
    }
    Row.Writer(Stream, Source, *FileParams, info);
}

void TImgIO::SaveFileWith(const std::wstring& FileName, int32_t FileType, TPxSaveConversion Conv,
                          std::function<void()> Again,
                          unsigned Flags)
{
    TPxFileFormatInfo* row = PxFormatInfoById(FileType);
    if (!row || !row->Writer) {
        // Nothing to write with: no file is created.
        AbortFlag = true;
        return;
    }
    if (TryDefer(std::move(Again)))
        return;
    TFinishGuard finish(this);
    AbortFlag = true;
    if (!PrepareBitmap(0))
        return;
    std::unique_ptr<TPxBitmap> copy;
    TPxBitmap* source = SaveSource(Conv, copy);
    std::exception_ptr error;
    {
        TPxWideFileStream file(FileName, pxFmCreate);
        AbortFlag = false;
        try {
            CallWriter(*row, &file, source, Flags);
        } catch (...) {
            AbortFlag = true;
            error = std::current_exception();
        }
    }
    if (AbortFlag) {
        // A failed save leaves no partial file behind.
        DeleteFileW(FileName.c_str());
    } else {
        FileParams->FileName = FileName;
        FileParams->FileFormat = FileType;
    }
    if (error)
        std::rethrow_exception(error);
}

void TImgIO::SaveStreamWith(classlib::TStream* Stream, int32_t FileType, TPxSaveConversion Conv, const char* HeaderTag,
                            std::function<void()> Again, unsigned Flags)
{
    TPxFileFormatInfo* row = PxFormatInfoById(FileType);
    if (!row || !row->Writer || !Stream) {
        AbortFlag = true;
        return;
    }
    if (TryDefer(std::move(Again)))
        return;
    TFinishGuard finish(this);
    AbortFlag = false;
    if (!PrepareBitmap(0)) {
        AbortFlag = true;
        return;
    }
    std::unique_ptr<TPxBitmap> copy;
    TPxBitmap* source = SaveSource(Conv, copy);
    if (Flags & pxsfTruncate) {
        Stream->SetSize(0);
        Stream->SetPosition(0);
    }
    int64_t headerPos = -1;
    if (HeaderTag && StreamHeaders) {
        headerPos = Stream->GetPosition();
        const uint8_t placeholder[12] = {};
        Stream->WriteBuffer(placeholder, 12);
    }
    try {
        CallWriter(*row, Stream, source, Flags);
    } catch (...) {
        AbortFlag = true;
        throw;
    }
    if (headerPos >= 0 && !((Flags & pxsfHeaderIfOk) && AbortFlag))
        PxWriteStreamBlockHeader(Stream, headerPos, HeaderTag);
}

void TImgIO::SaveFormatFile(const std::wstring& FileName, int32_t FileType, std::function<void()> Again)
{
    const TPxFormatDescription* d = PxFormatDescription(FileType);
    SaveFileWith(FileName, FileType, d->FileSaveConversion, std::move(Again), d->SaveFlags);
}

void TImgIO::SaveFormatStream(classlib::TStream* Stream, int32_t FileType, std::function<void()> Again)
{
    const TPxFormatDescription* d = PxFormatDescription(FileType);
    SaveStreamWith(Stream, FileType, d->StreamSaveConversion, d->StreamTag, std::move(Again), d->SaveFlags);
}

#define PX_FILE_SAVE(Method, Type)                                              \
    void TImgIO::Method(const std::wstring& FileName)                           \
    {                                                                           \
        SaveFormatFile(FileName, Type, [this, FileName] { Method(FileName); }); \
    }

#define PX_STREAM_SAVE(Method, Type)                                          \
    void TImgIO::Method(classlib::TStream* Stream)                            \
    {                                                                         \
        SaveFormatStream(Stream, Type, [this, Stream] { Method(Stream); });   \
    }

PX_FILE_SAVE(SaveTIFFToFile, ffTIFF)
PX_STREAM_SAVE(SaveTIFFToStream, ffTIFF)
PX_FILE_SAVE(SaveGIFToFile, ffGIF)
PX_STREAM_SAVE(SaveGIFToStream, ffGIF)
PX_FILE_SAVE(SaveJPEGToFile, ffJPEG)
PX_STREAM_SAVE(SaveJPEGToStream, ffJPEG)
PX_FILE_SAVE(SavePCXToFile, ffPCX)
PX_STREAM_SAVE(SavePCXToStream, ffPCX)
PX_FILE_SAVE(SaveBMPToFile, ffBMP)
PX_STREAM_SAVE(SaveBMPToStream, ffBMP)
PX_FILE_SAVE(SaveICOToFile, ffICO)
PX_STREAM_SAVE(SaveICOToStream, ffICO)
PX_FILE_SAVE(SavePNGToFile, ffPNG)
PX_STREAM_SAVE(SavePNGToStream, ffPNG)
PX_FILE_SAVE(SaveTGAToFile, ffTGA)
PX_STREAM_SAVE(SaveTGAToStream, ffTGA)
PX_FILE_SAVE(SavePXMToFile, ffPXM)
PX_STREAM_SAVE(SavePXMToStream, ffPXM)
PX_FILE_SAVE(SaveJP2ToFile, ffJP2)
PX_STREAM_SAVE(SaveJP2ToStream, ffJP2)
PX_FILE_SAVE(SaveJ2KToFile, ffJ2K)
PX_STREAM_SAVE(SaveJ2KToStream, ffJ2K)
PX_FILE_SAVE(SaveWBMPToFile, ffWBMP)
PX_STREAM_SAVE(SaveWBMPToStream, ffWBMP)
PX_FILE_SAVE(SavePSToFile, ffPS)
PX_STREAM_SAVE(SavePSToStream, ffPS)
PX_FILE_SAVE(SavePDFToFile, ffPDF)
PX_STREAM_SAVE(SavePDFToStream, ffPDF)
PX_FILE_SAVE(SaveDCXToFile, ffDCX)
PX_STREAM_SAVE(SaveDCXToStream, ffDCX)
PX_FILE_SAVE(SavePSDToFile, ffPSD)
PX_STREAM_SAVE(SavePSDToStream, ffPSD)
PX_FILE_SAVE(SaveHDPToFile, ffHDP)
PX_STREAM_SAVE(SaveHDPToStream, ffHDP)

}  // namespace imaging
