#include "imaging/io/GifReader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/StringList.h"
#include "classlib/Streams.h"
#include "classlib/TextConv.h"
#include "imaging/io/FileFormats.h"
#include "imaging/io/GifFrames.h"
#include "imaging/io/GifLzw.h"
#include "imaging/io/GifWriter.h"
#include "imaging/io/IOParams.h"
#include "imaging/io/IOStartup.h"
#include "imaging/io/ImgIOCounters.h"
#include "imaging/model/PxBitmap.h"
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

uint16_t Word(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Reads exactly Count bytes or reports false (the bytes read stay).
bool ReadExact(classlib::TStream* Stream, void* Buffer, int64_t Count)
{
    return Stream->Read(Buffer, Count) == Count;
}

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

    const int64_t size = Stream->GetSize();
    const int32_t chosen = Params.GIFImageIndex;
    uint8_t gcPacked = 0;
    uint16_t gcDelay = 0;
    uint8_t gcTransparent = 0;

    uint8_t header[13];
    if (!ReadExact(Stream, header, 13) || header[0] != 'G' || header[1] != 'I' || header[2] != 'F') {
        Progress.Abort();
        return;
    }
    Params.GIFVersion.assign(reinterpret_cast<const char*>(header), 6);
    Params.GIFWinWidth = Word(header + 6);
    Params.GIFWinHeight = Word(header + 8);
    Params.GIFRatio = header[12];
    Params.SetDpiX(PxDefaultDpiX);
    Params.SetDpiY(PxDefaultDpiY);
    Params.SamplesPerPixel = 1;

    const uint8_t screenPacked = header[10];
    std::vector<TPxRGB> globalTable;
    int globalBits = (screenPacked & 7) + 1;
    if (screenPacked & 0x80) {
        globalTable = ReadTable(Stream, 1 << globalBits);
        Params.GIFBackground = header[11] < globalTable.size() ? globalTable[header[11]] : TPxRGB{0, 0, 0};
    }
    if (Stream->GetPosition() >= size)
        Progress.Abort();

    while (!Progress.Aborted()) {
        uint8_t tag = 0;
        if (Stream->Read(&tag, 1) != 1 || Stream->GetPosition() >= size)
            tag = kTrailer;

        if (tag == kExtension) {
            uint8_t label = 0;
            Stream->Read(&label, 1);
            if (label == kGraphicControl && NumImages == chosen) {
                uint8_t block[6] = {};
                Stream->Read(block, 6);  // size, packed, delay (2), transparent index, terminator
                gcPacked = block[1];
                gcDelay = Word(block + 2);
                gcTransparent = block[4];
            } else if (label == kComment) {
                uint8_t length = 0;
                Stream->Read(&length, 1);
                while (length != 0 && Stream->GetPosition() < size) {
                    char text[256] = {};
                    const int64_t got = Stream->Read(text, length);
                    const size_t used = strnlen(text, static_cast<size_t>(std::max<int64_t>(got, 0)));
                    if (used > 0 && Params.GIFComments)
                        Params.GIFComments->Add(classlib::AnsiToWide(std::string(text, used)));
                    length = 0;
                    Stream->Read(&length, 1);
                }
            } else {
                SkipSubBlocks(Stream, size);
            }
        } else if (tag == kDescriptor) {
            uint8_t desc[9] = {};
            Stream->Read(desc, 9);
            const int32_t left = Word(desc);
            const int32_t top = Word(desc + 2);
            const int32_t width = Word(desc + 4);
            const int32_t height = Word(desc + 6);
            const uint8_t packed = desc[8];
            const bool interlaced = (packed & 0x40) != 0;
            std::vector<TPxRGB> localTable;
            const int localBits = (packed & 7) + 1;
            if (packed & 0x80)
                localTable = ReadTable(Stream, 1 << localBits);

            if (NumImages != chosen) {
                uint8_t codeSize = 0;
                Stream->Read(&codeSize, 1);
                SkipSubBlocks(Stream, size);
            } else {
                Progress.Progress(30);
                if (Progress.Aborted())
                    break;
                const bool hasLocal = (packed & 0x80) != 0;
                const int bits = hasLocal ? localBits : globalBits;
                std::vector<TPxRGB> table = hasLocal ? localTable : globalTable;
                table.resize(static_cast<size_t>(1) << bits, TPxRGB{0, 0, 0});  // no table at all: black
                Params.GIFTransparentColor = gcTransparent < table.size() ? table[gcTransparent] : TPxRGB{0, 0, 0};
                Params.GIFXPos = left;
                Params.GIFYPos = top;
                Params.Width = width;
                Params.Height = height;
                Params.OriginalWidth = width;
                Params.OriginalHeight = height;
                Params.GIFDelayTime = gcDelay;
                Params.GIFTransparent = (gcPacked & 1) != 0;
                Params.GIFInterlaced = interlaced;
                Params.GIFAction = static_cast<uint8_t>((gcPacked >> 2) & 7);

                TIndexBuffer buffer;
                if (Preview) {
                    uint8_t codeSize = 0;
                    Stream->Read(&codeSize, 1);
                    SkipSubBlocks(Stream, size);
                } else {
                    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
                    if (pixels > MaxPixelsFor(size - Stream->GetPosition())) {
                        Progress.Abort();  // more pixels than the rest of the stream could hold
                        break;
                    }
                    void* block = nullptr;
                    if (pixels > 0)
                        PxSafeGetMem(block, static_cast<int64_t>(pixels));
                    if (!block)
                        break;  // an empty frame or no memory: stop quietly
                    buffer.reset(static_cast<uint8_t*>(block));
                    std::memset(buffer.get(), 0, static_cast<size_t>(pixels));
                    const int64_t before = Stream->GetPosition();
                    TPxGIFLZWDecompressProc decoder =
                        Params.GIFLZWDecompress ? Params.GIFLZWDecompress : PxGlobalGIFLZWDecompress;
                    if (decoder)
                        decoder(Stream, height, width, interlaced, buffer.get());
                    if (Stream->GetPosition() == before) {
                        Progress.Abort();
                        break;
                    }
                    Progress.Progress(70);
                    if (Progress.Aborted())
                        break;
                }

                Params.FreeColorMap();
                Params.BitsPerSample = bits;
                Params.AllocColorMap(1 << bits);
                std::copy(table.begin(), table.end(), Params.ColorMap.get());

                if (!Preview) {
                    const int count = Params.ColorMapCount;
                    const TPxRGB* map = Params.ColorMap.get();
                    const bool bilevel = bits == 1 && count == 2 && map[0].r == 0 && map[0].g == 0 && map[0].b == 0 &&
                                         map[1].r == 255 && map[1].g == 255 && map[1].b == 255;
                    if (!bilevel && (width > 65000 || height > 65000) && size - Stream->GetPosition() < 2000) {
                        Progress.Abort();
                        break;
                    }
                    const TPxPixelFormat format = bilevel ? px1g : (Params.NativePixelFormat ? px8p : px24RGB);
                    if (!Bitmap->Allocate(width, height, format)) {
                        Progress.Abort();
                        break;
                    }
                    const bool withMask = !NoMask && Params.GIFTransparent;
                    if (withMask) {
                        if (!Mask)
                            Mask = std::make_unique<TPxMask>();
                        Mask->AllocateBits(width, height, 8);
                        Mask->Fill(255);
                    }
                    if (format == px8p) {
                        for (int i = 0; i < count; ++i)
                            Bitmap->SetPaletteEntry(i, map[i]);
                        Bitmap->PaletteCapacity = 1 << bits;
                    }
                    TPxAccessScope access(*Bitmap, pxAccessWrite);
                    const uint8_t* src = buffer.get();
                    for (int32_t y = 0; y < height; ++y, src += width) {
                        uint8_t* row = Bitmap->GetScanline(y);
                        if (format == px1g) {
                            std::memset(row, 0, static_cast<size_t>((width + 7) / 8));
                            for (int32_t x = 0; x < width; ++x)
                                if (src[x] == 1)
                                    row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
                        } else if (format == px8p) {
                            std::memcpy(row, src, static_cast<size_t>(width));
                        } else {
                            TPxRGB* px = reinterpret_cast<TPxRGB*>(row);
                            for (int32_t x = 0; x < width; ++x)
                                px[x] = src[x] < count ? map[src[x]] : TPxRGB{0, 0, 0};
                        }
                        if (withMask) {
                            uint8_t* m = Mask->GetScanline(y);
                            for (int32_t x = 0; x < width; ++x)
                                if (src[x] == gcTransparent)
                                    m[x] = 0;
                        }
                    }
                    buffer.reset();
                    if (Mask) {
                        Mask->CheckFull();
                        if (Mask->Full)
                            Mask.reset();
                    }
                }
            }
            ++NumImages;
        } else if (tag == kTrailer) {
            break;
        }
        // any other byte is passed over
    }

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
        if (!ReadExact(&file, header, 13) || header[0] != 'G' || header[1] != 'I' || header[2] != 'F')
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
                const bool whole = ReadExact(&file, desc, 9);
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

int32_t PxCountGIFFrames(const std::wstring& FileName)
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
    PxSetFrameCounter(ffGIF, PxCountGIFFrames);
    PxSyncGIFFormatRow();
}

namespace {
const TPxBuiltInFormatRegistration gifRegistration(ffGIF, PxReadGIFFrame, PxWriteGIF);
}  // namespace

}  // namespace imaging
