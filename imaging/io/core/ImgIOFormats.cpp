// The load and save frames of TImgIO and the per-format methods, one-line
// calls into them. The frames reach a format's reader or writer through its
// built-in registry row (FileFormats.h), which the format's unit fills in,
// and take everything else from the format's description: load options,
// read buffer, data size, stream block header and the format's own steps,
// save conversion and options. A routine that is not installed fails
// cleanly before anything is opened or created.
#include <cstring>
#include <exception>
#include <new>

#include "classlib/Graphics.h"
#include "classlib/Streams.h"
#include "classlib/Threads.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/platform/MetafileImport.h"
#include "imaging/io/formats/psd/PsdReader.h"
#include "imaging/io/formats/psd/PsdWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxMask.h"
#include "imaging/io/core/ImgIOStreams.h"
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
            if (Flags & pxlfLayers)
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

// The file load frame: fails cleanly without a reader, defers in
// asynchronous mode, else opens the file and reads it with the steps of the
// format's description.
int TImgIO::LoadFormatFile(const std::wstring& FileName, int32_t FileType)
{
    const TPxFormatDescription* described = PxFormatDescription(FileType);
    if (!described || !HasReader(FileType)) {
        FailLoad(TPxReadFailure::NoReader);
        return 0;
    }
    if (TryDefer([this, FileName, FileType] { LoadFormatFile(FileName, FileType); }))
        return -1;
    const TPxFormatDescription& format = *described;
    const TPxLoadEntry& load = format.Load;
    if (load.BeforeFile)
        load.BeforeFile(*this);
    BeginFailableLoad();
    std::unique_ptr<classlib::TStream> file = OpenToRead(FileName);
    const int64_t size = load.FileSize == pxlsNone ? -1 : file->GetSize();
    int count = ReadFormatData(format, file.get(), load.FileBuffer, size, format.FileLoadFlags);
    if (!AbortFlag)
        FileParams->FileName = FileName;
    if (!AbortFlag && load.Loaded)
        load.Loaded(*this);
    return count;
}

// The stream load frame: the same, from the stream's position, with the
// stream block header the description expects; the stream is left after
// the block's data when a header was taken.
int TImgIO::LoadFormatStream(classlib::TStream* Stream, int32_t FileType)
{
    const TPxFormatDescription* described = PxFormatDescription(FileType);
    if (!described || !HasReader(FileType)) {
        FailLoad(TPxReadFailure::NoReader);
        return 0;
    }
    if (TryDefer([this, Stream, FileType] { LoadFormatStream(Stream, FileType); }))
        return -1;
    const TPxFormatDescription& format = *described;
    const TPxLoadEntry& load = format.Load;
    int64_t size = -1;
    if (load.StreamSize == pxlsWhole)
        size = Stream->GetSize();
    else if (load.StreamSize == pxlsRemaining)
        size = Stream->GetSize() - Stream->GetPosition();
    int64_t dataEnd = -1;
    bool relative = PxBufferedReadFromPosition;
    if (!TakeStreamBlock(format, Stream, size, dataEnd, relative))
        return 0;
    TPxLoadBuffer buffer = load.StreamBuffer;
    if (buffer == pxlbAsSet && relative)
        buffer = pxlbFromPosition;
    int count = ReadFormatData(format, Stream, buffer, size, format.StreamLoadFlags);
    if (dataEnd >= 0)
        Stream->SetPosition(dataEnd);
    if (!AbortFlag && load.Loaded)
        load.Loaded(*this);
    return count;
}

bool TImgIO::TakeStreamBlock(const TPxFormatDescription& Format, classlib::TStream* Stream, int64_t& DataSize,
                             int64_t& DataEnd, bool& Relative)
{
    const TPxLoadBlock block = Format.Load.StreamBlock;
    if (block == pxbkNone || (block != pxbkOptional && !StreamHeaders))
        return true;
    const int64_t start = Stream->GetPosition();
    std::string tag;
    int32_t length = 0;
    const bool read = PxReadStreamBlockHeader(Stream, tag, length);
    if (block == pxbkOptional) {
        // Taken when it is there; otherwise the data starts at the position.
        if (!read || tag != Format.StreamTag || length < 0) {
            Stream->SetPosition(start);
            return true;
        }
    } else if (block == pxbkRequiredOrShort && read && tag != Format.StreamTag && tag.compare(0, 3, Format.StreamTag, 3) == 0) {
        // The older form: a 4-byte header.
        Stream->SetPosition(start + 4);
        return true;
    } else if (!read || tag != Format.StreamTag || length < 0) {
        FailLoad();
        return false;
    }
    DataSize = length;
    DataEnd = Stream->GetPosition() + length;
    Relative = true;  // offsets count from the start of the block's data
    return true;
}

int TImgIO::ReadFormatData(const TPxFormatDescription& Format, classlib::TStream* Stream, TPxLoadBuffer Buffer,
                           int64_t DataSize, unsigned Flags)
{
    // An application may have taken the format's extension for a format of
    // its own: that format reads the data then.
    if (Format.Load.ReadAs) {
        const int32_t type = Format.Load.ReadAs();
        if (type != Format.Type && type != 0) {
            LoadFromStreamFormat(Stream, type);
            return 0;
        }
    }
    if (Buffer == pxlbNone)
        return RunLoad(Stream, Format.Type, Flags, DataSize);
    std::unique_ptr<classlib::TStream> buffered =
        PxIOBufferedReader(Stream, Buffer == pxlbFromPosition || PxBufferedReadFromPosition, 8192);
    return RunLoad(buffered.get(), Format.Type, Flags, DataSize);
}

void TImgIO::LoadBMPFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffBMP); }
void TImgIO::LoadBMPFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffBMP); }
void TImgIO::LoadICOFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffICO); }
void TImgIO::LoadICOFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffICO); }
void TImgIO::LoadCURFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffCUR); }
void TImgIO::LoadCURFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffCUR); }
void TImgIO::LoadTGAFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffTGA); }
void TImgIO::LoadTGAFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffTGA); }
void TImgIO::LoadPXMFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffPXM); }
void TImgIO::LoadPXMFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffPXM); }
void TImgIO::LoadJP2FromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffJP2); }
void TImgIO::LoadJP2FromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffJP2); }
void TImgIO::LoadJ2KFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffJ2K); }
void TImgIO::LoadJ2KFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffJ2K); }
void TImgIO::LoadWBMPFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffWBMP); }
void TImgIO::LoadWBMPFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffWBMP); }
void TImgIO::LoadDCXFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffDCX); }
void TImgIO::LoadDCXFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffDCX); }
void TImgIO::LoadRawPixelsFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffRawData); }
void TImgIO::LoadRawPixelsFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffRawData); }
void TImgIO::LoadPSDFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffPSD); }
void TImgIO::LoadPSDFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffPSD); }
void TImgIO::LoadDICOMFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffDICOM); }
void TImgIO::LoadDICOMFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffDICOM); }
void TImgIO::LoadHDPFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffHDP); }
void TImgIO::LoadHDPFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffHDP); }
int TImgIO::LoadGIFFromFile(const std::wstring& FileName) { return LoadFormatFile(FileName, ffGIF); }
int TImgIO::LoadGIFFromStream(classlib::TStream* Stream) { return LoadFormatStream(Stream, ffGIF); }
int TImgIO::LoadTIFFFromFile(const std::wstring& FileName) { return LoadFormatFile(FileName, ffTIFF); }
int TImgIO::LoadTIFFFromStream(classlib::TStream* Stream) { return LoadFormatStream(Stream, ffTIFF); }
void TImgIO::LoadJPEGFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffJPEG); }
void TImgIO::LoadJPEGFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffJPEG); }
void TImgIO::LoadPCXFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffPCX); }
void TImgIO::LoadPCXFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffPCX); }
void TImgIO::LoadPNGFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffPNG); }
void TImgIO::LoadPNGFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffPNG); }
void TImgIO::LoadRAWFromFile(const std::wstring& FileName) { LoadFormatFile(FileName, ffRAW); }
void TImgIO::LoadRAWFromStream(classlib::TStream* Stream) { LoadFormatStream(Stream, ffRAW); }


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
    if ((Flags & pxsfLayers) && attachedImg_ && attachedImg_->IsImageView()) {
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

void TImgIO::SaveFormatFile(const std::wstring& FileName, int32_t FileType)
{
    const TPxFormatDescription* d = PxFormatDescription(FileType);
    if (!d) {
        AbortFlag = true;
        return;
    }
    SaveFileWith(FileName, FileType, d->FileSaveConversion,
                 [this, FileName, FileType] { SaveFormatFile(FileName, FileType); }, d->SaveFlags);
}

void TImgIO::SaveFormatStream(classlib::TStream* Stream, int32_t FileType)
{
    const TPxFormatDescription* d = PxFormatDescription(FileType);
    if (!d) {
        AbortFlag = true;
        return;
    }
    SaveStreamWith(Stream, FileType, d->StreamSaveConversion, d->StreamTag,
                   [this, Stream, FileType] { SaveFormatStream(Stream, FileType); }, d->SaveFlags);
}

void TImgIO::SaveTIFFToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffTIFF); }
void TImgIO::SaveTIFFToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffTIFF); }
void TImgIO::SaveGIFToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffGIF); }
void TImgIO::SaveGIFToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffGIF); }
void TImgIO::SaveJPEGToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffJPEG); }
void TImgIO::SaveJPEGToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffJPEG); }
void TImgIO::SavePCXToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffPCX); }
void TImgIO::SavePCXToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffPCX); }
void TImgIO::SaveBMPToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffBMP); }
void TImgIO::SaveBMPToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffBMP); }
void TImgIO::SaveICOToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffICO); }
void TImgIO::SaveICOToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffICO); }
void TImgIO::SavePNGToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffPNG); }
void TImgIO::SavePNGToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffPNG); }
void TImgIO::SaveTGAToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffTGA); }
void TImgIO::SaveTGAToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffTGA); }
void TImgIO::SavePXMToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffPXM); }
void TImgIO::SavePXMToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffPXM); }
void TImgIO::SaveJP2ToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffJP2); }
void TImgIO::SaveJP2ToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffJP2); }
void TImgIO::SaveJ2KToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffJ2K); }
void TImgIO::SaveJ2KToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffJ2K); }
void TImgIO::SaveWBMPToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffWBMP); }
void TImgIO::SaveWBMPToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffWBMP); }
void TImgIO::SavePSToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffPS); }
void TImgIO::SavePSToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffPS); }
void TImgIO::SavePDFToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffPDF); }
void TImgIO::SavePDFToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffPDF); }
void TImgIO::SaveDCXToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffDCX); }
void TImgIO::SaveDCXToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffDCX); }
void TImgIO::SavePSDToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffPSD); }
void TImgIO::SavePSDToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffPSD); }
void TImgIO::SaveHDPToFile(const std::wstring& FileName) { SaveFormatFile(FileName, ffHDP); }
void TImgIO::SaveHDPToStream(classlib::TStream* Stream) { SaveFormatStream(Stream, ffHDP); }

}  // namespace imaging
