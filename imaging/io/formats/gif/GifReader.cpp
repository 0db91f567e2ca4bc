#include "imaging/io/formats/gif/GifReader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/StringList.h"
#include "classlib/Streams.h"
#include "classlib/TextConv.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/formats/gif/GifFrames.h"
#include "imaging/io/formats/gif/GifLzw.h"
#include "imaging/io/formats/gif/GifWriter.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxByteOrder.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxMask.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

constexpr uint8_t kExtension = 0x21;
constexpr uint8_t kDescriptor = 0x2C;
constexpr uint8_t kTrailer = 0x3B;
constexpr uint8_t kGraphicControl = 0xF9;
constexpr uint8_t kComment = 0xFE;

// Reads a colour table of Count entries (red, green, blue in the file) as
// blue, green, red entries; entries the stream cannot give stay black.
std::vector<TPxRGB> ReadTable(classlib::TStream* Stream, int Count)
{
    std::vector<uint8_t> raw(static_cast<size_t>(Count) * 3, 0);
    Stream->Read(raw.data(), static_cast<int64_t>(raw.size()));
    std::vector<TPxRGB> table(static_cast<size_t>(Count));
    for (int i = 0; i < Count; ++i)
        table[static_cast<size_t>(i)] =
            TPxRGB{raw[static_cast<size_t>(i) * 3 + 2], raw[static_cast<size_t>(i) * 3 + 1], raw[static_cast<size_t>(i) * 3]};
    return table;
}

// Moves past sub-blocks: stops after a length 0 or at the end of the stream.
void SkipSubBlocks(classlib::TStream* Stream, int64_t Size)
{
    for (;;) {
        uint8_t length = 0;
        if (Stream->Read(&length, 1) != 1 || length == 0)
            return;
        const int64_t pos = Stream->GetPosition() + length;
        Stream->SetPosition(std::min(pos, Size));
        if (pos >= Size)
            return;
    }
}

// The largest number of pixels an LZW stream of Bytes bytes can give: every
// code has at least 3 bits and no string is longer than the 4096-entry
// table. A frame claiming more pixels cannot be genuine.
uint64_t MaxPixelsFor(int64_t Bytes)
{
    return (static_cast<uint64_t>(std::max<int64_t>(Bytes, 0)) * 8 / 3 + 1) * 4096;
}

struct TFreeBuffer {
    void operator()(uint8_t* p) const { std::free(p); }
};
using TIndexBuffer = std::unique_ptr<uint8_t, TFreeBuffer>;

// One read of PxReadGIF: the caller's arguments and what the steps share.
// A step that returns false ends the walk through the blocks (the frame
// count stays where it was).
class TGifRead {
public:
    TGifRead(classlib::TStream* Stream, TPxBitmap* Bitmap, int32_t& NumImages, TIOParamsVals& Params,
             TPxIOProgressInfo& Progress, bool Preview, std::unique_ptr<TPxMask>& Mask, bool NoMask)
        : stream_(Stream), bitmap_(Bitmap), numImages_(NumImages), params_(Params), progress_(Progress),
          preview_(Preview), mask_(Mask), noMask_(NoMask), size_(Stream->GetSize()), chosen_(Params.GIFImageIndex)
    {
    }

    // The logical screen: signature, screen fields and the global table.
    bool ReadScreen();
    // The blocks after the screen, up to the trailer or the end of the data.
    void ReadBlocks();

private:
    struct TFrame {
        int32_t Left = 0, Top = 0, Width = 0, Height = 0;
        bool Interlaced = false;
        int Bits = 0;
        std::vector<TPxRGB> Table;
    };

    void ReadExtension();
    void ReadComments();
    bool ReadFrame();
    void TakeFrameParams(const TFrame& Frame);
    bool DecodeIndexes(const TFrame& Frame, TIndexBuffer& Buffer);
    bool StoreFrame(const TFrame& Frame, const uint8_t* Indexes);
    void StoreRows(const TFrame& Frame, const uint8_t* Indexes, TPxPixelFormat Format, bool WithMask);
    void SkipImageData()
    {
        uint8_t codeSize = 0;
        stream_->Read(&codeSize, 1);
        SkipSubBlocks(stream_, size_);
    }

    classlib::TStream* stream_;
    TPxBitmap* bitmap_;
    int32_t& numImages_;
    TIOParamsVals& params_;
    TPxIOProgressInfo& progress_;
    const bool preview_;
    std::unique_ptr<TPxMask>& mask_;
    const bool noMask_;
    const int64_t size_;
    const int32_t chosen_;
    // The graphic control of the chosen frame.
    uint8_t gcPacked_ = 0;
    uint16_t gcDelay_ = 0;
    uint8_t gcTransparent_ = 0;
    std::vector<TPxRGB> globalTable_;
    int globalBits_ = 0;
};

bool TGifRead::ReadScreen()
{
    uint8_t header[13];
    if (!PxReadExact(stream_, header, 13) || header[0] != 'G' || header[1] != 'I' || header[2] != 'F') {
        progress_.Abort();
        return false;
    }
    params_.GIFVersion.assign(reinterpret_cast<const char*>(header), 6);
    params_.GIFWinWidth = PxLe16(header + 6);
    params_.GIFWinHeight = PxLe16(header + 8);
    params_.GIFRatio = header[12];
    params_.SetDpiX(PxDefaultDpiX);
    params_.SetDpiY(PxDefaultDpiY);
    params_.SamplesPerPixel = 1;

    const uint8_t screenPacked = header[10];
    globalBits_ = (screenPacked & 7) + 1;
    if (screenPacked & 0x80) {
        globalTable_ = ReadTable(stream_, 1 << globalBits_);
        params_.GIFBackground = header[11] < globalTable_.size() ? globalTable_[header[11]] : TPxRGB{0, 0, 0};
    }
    if (stream_->GetPosition() >= size_)
        progress_.Abort();
    return true;
}

void TGifRead::ReadBlocks()
{
    while (!progress_.Aborted()) {
        uint8_t tag = 0;
        if (stream_->Read(&tag, 1) != 1 || stream_->GetPosition() >= size_)
            tag = kTrailer;
        if (tag == kExtension) {
            ReadExtension();
        } else if (tag == kDescriptor) {
            if (!ReadFrame())
                break;
            ++numImages_;
        } else if (tag == kTrailer) {
            break;
        }
        // any other byte is passed over
    }
}

void TGifRead::ReadExtension()
{
    uint8_t label = 0;
    stream_->Read(&label, 1);
    if (label == kGraphicControl && numImages_ == chosen_) {
        uint8_t block[6] = {};
        stream_->Read(block, 6);  // size, packed, delay (2), transparent index, terminator
        gcPacked_ = block[1];
        gcDelay_ = PxLe16(block + 2);
        gcTransparent_ = block[4];
    } else if (label == kComment) {
        ReadComments();
    } else {
        SkipSubBlocks(stream_, size_);
    }
}

// The comment's sub-blocks, each up to its first zero byte a line of the
// comments list.
void TGifRead::ReadComments()
{
    uint8_t length = 0;
    stream_->Read(&length, 1);
    while (length != 0 && stream_->GetPosition() < size_) {
        char text[256] = {};
        const int64_t got = stream_->Read(text, length);
        const size_t used = strnlen(text, static_cast<size_t>(std::max<int64_t>(got, 0)));
        if (used > 0 && params_.GIFComments)
            params_.GIFComments->Add(classlib::AnsiToWide(std::string(text, used)));
        length = 0;
        stream_->Read(&length, 1);
    }
}

// An image descriptor: the chosen frame is read (its parameters only in a
// preview), any other one passed over.
bool TGifRead::ReadFrame()
{
    uint8_t desc[9] = {};
    stream_->Read(desc, 9);
    TFrame frame;
    frame.Left = PxLe16(desc);
    frame.Top = PxLe16(desc + 2);
    frame.Width = PxLe16(desc + 4);
    frame.Height = PxLe16(desc + 6);
    const uint8_t packed = desc[8];
    frame.Interlaced = (packed & 0x40) != 0;
    const bool hasLocal = (packed & 0x80) != 0;
    const int localBits = (packed & 7) + 1;
    std::vector<TPxRGB> localTable;
    if (hasLocal)
        localTable = ReadTable(stream_, 1 << localBits);
    if (numImages_ != chosen_) {
        SkipImageData();
        return true;
    }

    progress_.Progress(30);
    if (progress_.Aborted())
        return false;
    frame.Bits = hasLocal ? localBits : globalBits_;
    frame.Table = hasLocal ? localTable : globalTable_;
    frame.Table.resize(static_cast<size_t>(1) << frame.Bits, TPxRGB{0, 0, 0});  // no table at all: black
    TakeFrameParams(frame);

    TIndexBuffer buffer;
    if (preview_)
        SkipImageData();
    else if (!DecodeIndexes(frame, buffer))
        return false;

    params_.FreeColorMap();
    params_.BitsPerSample = frame.Bits;
    params_.AllocColorMap(1 << frame.Bits);
    std::copy(frame.Table.begin(), frame.Table.end(), params_.ColorMap.get());
    return preview_ || StoreFrame(frame, buffer.get());
}

void TGifRead::TakeFrameParams(const TFrame& Frame)
{
    params_.GIFTransparentColor = gcTransparent_ < Frame.Table.size() ? Frame.Table[gcTransparent_] : TPxRGB{0, 0, 0};
    params_.GIFXPos = Frame.Left;
    params_.GIFYPos = Frame.Top;
    params_.Width = Frame.Width;
    params_.Height = Frame.Height;
    params_.OriginalWidth = Frame.Width;
    params_.OriginalHeight = Frame.Height;
    params_.GIFDelayTime = gcDelay_;
    params_.GIFTransparent = (gcPacked_ & 1) != 0;
    params_.GIFInterlaced = Frame.Interlaced;
    params_.GIFAction = static_cast<uint8_t>((gcPacked_ >> 2) & 7);
}

// The frame's palette indexes through the LZW decoder into Buffer; false
// ends the read (a frame larger than the rest of the data could code, no
// data decoded, no data blocks at all, or an empty frame or no memory, which
// stop quietly).
bool TGifRead::DecodeIndexes(const TFrame& Frame, TIndexBuffer& Buffer)
{
    const uint64_t pixels = static_cast<uint64_t>(Frame.Width) * static_cast<uint64_t>(Frame.Height);
    if (pixels > MaxPixelsFor(size_ - stream_->GetPosition())) {
        progress_.Abort();  // more pixels than the rest of the stream could hold
        return false;
    }
    void* block = nullptr;
    if (pixels > 0)
        PxSafeGetMem(block, static_cast<int64_t>(pixels));
    if (!block)
        return false;
    Buffer.reset(static_cast<uint8_t*>(block));
    std::memset(Buffer.get(), 0, static_cast<size_t>(pixels));
    const int64_t before = stream_->GetPosition();
    TPxGIFLZWDecompressProc decoder =
        params_.GIFLZWDecompress ? params_.GIFLZWDecompress : PxGlobalGIFLZWDecompress;
    if (decoder)
        decoder(stream_, Frame.Height, Frame.Width, Frame.Interlaced, Buffer.get());
    if (stream_->GetPosition() == before) {
        progress_.Abort();
        return false;
    }
    // Only the code size and the terminating block: not one code, so no
    // pixel of the frame was decoded (even a clear and an end code take a
    // data block).
    if (stream_->GetPosition() - before <= 2) {
        progress_.Fail(TPxReadFailure::Truncated);
        return false;
    }
    progress_.Progress(70);
    return !progress_.Aborted();
}

// The decoded frame into the bitmap: one bit per pixel for a black and
// white table, else palette indexes (NativePixelFormat) or colours; the
// mask of a transparent frame unless NoMask, dropped when nothing in it is
// transparent.
bool TGifRead::StoreFrame(const TFrame& Frame, const uint8_t* Indexes)
{
    const int count = params_.ColorMapCount;
    const TPxRGB* map = params_.ColorMap.get();
    const bool bilevel = Frame.Bits == 1 && count == 2 && map[0].r == 0 && map[0].g == 0 && map[0].b == 0 &&
                         map[1].r == 255 && map[1].g == 255 && map[1].b == 255;
    if (!bilevel && (Frame.Width > 65000 || Frame.Height > 65000) && size_ - stream_->GetPosition() < 2000) {
        progress_.Abort();
        return false;
    }
    const TPxPixelFormat format = bilevel ? px1g : (params_.NativePixelFormat ? px8p : px24RGB);
    if (!bitmap_->Allocate(Frame.Width, Frame.Height, format)) {
        progress_.Abort();
        return false;
    }
    const bool withMask = !noMask_ && params_.GIFTransparent;
    if (withMask) {
        if (!mask_)
            mask_ = std::make_unique<TPxMask>();
        mask_->AllocateBits(Frame.Width, Frame.Height, 8);
        mask_->Fill(255);
    }
    if (format == px8p) {
        for (int i = 0; i < count; ++i)
            bitmap_->SetPaletteEntry(i, map[i]);
        bitmap_->PaletteCapacity = 1 << Frame.Bits;
    }
    StoreRows(Frame, Indexes, format, withMask);
    if (mask_) {
        mask_->CheckFull();
        if (mask_->Full)
            mask_.reset();
    }
    return true;
}

void TGifRead::StoreRows(const TFrame& Frame, const uint8_t* Indexes, TPxPixelFormat Format, bool WithMask)
{
    const int count = params_.ColorMapCount;
    const TPxRGB* map = params_.ColorMap.get();
    const int32_t width = Frame.Width;
    TPxAccessScope access(*bitmap_, pxAccessWrite);
    const uint8_t* src = Indexes;
    for (int32_t y = 0; y < Frame.Height; ++y, src += width) {
        uint8_t* row = bitmap_->GetScanline(y);
        if (Format == px1g) {
            std::memset(row, 0, static_cast<size_t>((width + 7) / 8));
            for (int32_t x = 0; x < width; ++x)
                if (src[x] == 1)
                    row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        } else if (Format == px8p) {
            std::memcpy(row, src, static_cast<size_t>(width));
        } else {
            TPxRGB* px = reinterpret_cast<TPxRGB*>(row);
            for (int32_t x = 0; x < width; ++x)
                px[x] = src[x] < count ? map[src[x]] : TPxRGB{0, 0, 0};
        }
        if (WithMask) {
            uint8_t* m = mask_->GetScanline(y);
            for (int32_t x = 0; x < width; ++x)
                if (src[x] == gcTransparent_)
                    m[x] = 0;
        }
    }
}

}  // namespace

void PxReadGIF(classlib::TStream* Stream, TPxBitmap* Bitmap, int32_t& NumImages, TIOParamsVals& Params,
               TPxIOProgressInfo& Progress, bool Preview, std::unique_ptr<TPxMask>& Mask, bool NoMask)
{
    TPxAbortFlagScope abortScope(Progress);
    Mask.reset();
    NumImages = 0;
    Progress.Progress(0);
    if (Progress.Aborted())
        return;

    TGifRead read(Stream, Bitmap, NumImages, Params, Progress, Preview, Mask, NoMask);
    if (!read.ReadScreen())
        return;
    read.ReadBlocks();

    Params.SetImageCount(NumImages);
    if (!Preview && NumImages == 0)
        Progress.Fail(TPxReadFailure::NoImage);
    if (!Progress.Aborted())
        Progress.Progress(100);
}

int32_t PxDeleteGIFFrame(const std::wstring& FileName, int32_t Index, bool Save)
{
    classlib::TMemoryStream result;
    int32_t kept = 0;
    bool complete = false;
    {
        TPxWideFileStream file(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
        const int64_t size = file.GetSize();
        uint8_t header[13];
        if (!PxReadExact(&file, header, 13) || header[0] != 'G' || header[1] != 'I' || header[2] != 'F')
            return 0;
        std::memcpy(header + 3, "89a", 3);
        result.WriteBuffer(header, 13);

        // Copies Count bytes (or what the file still has); false when the
        // file ended first.
        auto copy = [&](int64_t Count) -> bool {
            std::vector<uint8_t> data(static_cast<size_t>(std::max<int64_t>(Count, 0)));
            const int64_t got = std::max<int64_t>(file.Read(data.data(), Count), 0);
            result.WriteBuffer(data.data(), got);
            return got == Count;
        };
        if (header[10] & 0x80)
            copy(3 * (int64_t{1} << ((header[10] & 7) + 1)));

        int32_t frame = 0;
        bool stop = false;
        while (!stop) {
            uint8_t tag = 0;
            if (file.Read(&tag, 1) != 1 || file.GetPosition() >= size)
                tag = kTrailer;
            if (tag == kExtension) {
                uint8_t label = 0;
                file.Read(&label, 1);
                if (label == kGraphicControl && frame == Index) {
                    SkipSubBlocks(&file, size);
                } else {
                    const uint8_t intro[2] = {kExtension, label};
                    result.WriteBuffer(intro, 2);
                    for (;;) {
                        uint8_t length = 0;
                        if (file.Read(&length, 1) != 1)
                            break;
                        result.WriteBuffer(&length, 1);
                        if (length == 0 || !copy(length))
                            break;
                    }
                }
            } else if (tag == kDescriptor) {
                uint8_t desc[9] = {};
                const bool whole = PxReadExact(&file, desc, 9);
                const int64_t tableBytes = (desc[8] & 0x80) ? 3 * (int64_t{1} << ((desc[8] & 7) + 1)) : 0;
                if (frame == Index) {
                    file.SetPosition(std::min(file.GetPosition() + tableBytes + 1, size));
                    SkipSubBlocks(&file, size);
                } else {
                    ++kept;
                    result.WriteBuffer(&tag, 1);
                    result.WriteBuffer(desc, 9);
                    if (!whole || !copy(tableBytes) || !copy(1)) {
                        stop = true;  // the data end inside the frame
                        break;
                    }
                    for (;;) {
                        uint8_t length = 0;
                        if (file.Read(&length, 1) != 1) {
                            stop = true;
                            break;
                        }
                        result.WriteBuffer(&length, 1);
                        if (length == 0)
                            break;
                        if (!copy(length)) {
                            stop = true;
                            break;
                        }
                    }
                    if (stop)
                        break;
                }
                ++frame;
            } else if (tag == kTrailer) {
                result.WriteBuffer(&tag, 1);
                complete = true;
                stop = true;
            }
        }
    }
    if (Save && complete) {
        TPxWideFileStream out(FileName, classlib::fmCreate);
        out.WriteBuffer(result.GetMemory(), result.GetSize());
    }
    return kept;
}

int32_t PxCountGIFFramesInFile(const std::wstring& FileName)
{
    try {
        return PxDeleteGIFFrame(FileName, -1, false);
    } catch (...) {
        return 0;
    }
}

void PxInstallGIFFormat()
{
    PxInstallGIFLZWCodec();
    PxSetBuiltInFormatReader(ffGIF, PxReadGIFFrame);
    PxSetBuiltInFormatWriter(ffGIF, PxWriteGIF);
    PxSetFrameCounter(ffGIF, PxCountGIFFramesInFile);
    PxSyncGIFFormatRow();
}

}  // namespace imaging
