#include "imaging/model/PxBitmap.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <new>

#include "classlib/Bitmap.h"
#include "classlib/Exceptions.h"
#include "classlib/ScopeGuard.h"
#include "imaging/model/PxFileBuffer.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

int64_t PxMemoryThreshold = -1;
bool PxAllowFileFallback = true;
bool PxAllowSegments = true;
std::wstring PxTempFolder;
TPxBitmapServices PxBitmapServices;

namespace detail {
bool PxFailSingleBlock = false;
}

namespace {

constexpr int64_t kDefaultThreshold = 33554432;      // 32 MiB when the memory size is unknown
constexpr int64_t kMinSegmentSize = 10485760;        // 10 MiB
constexpr int64_t kBlockSpare = 128;                 // room for the 64-byte alignment

const wchar_t* const kFormatNames[PxPixelFormatCount] = {L"pxNoPixels", L"px1g",   L"px8p",    L"px8g",
                                                         L"px16g",      L"px24RGB", L"px32f",   L"pxCMYK",
                                                         L"pxRGB48",    L"pxCIELab", L"px32RGB"};

std::wstring FormatName(TPxPixelFormat f)
{
    return f < PxPixelFormatCount ? kFormatNames[f] : L"?";
}

[[noreturn]] void NotAvailable(const std::wstring& what)
{
    throw classlib::EInvalidOperation(what + L" not available");
}

// Trunc of a double into 64 bits; values outside the range saturate.
int64_t TruncValue(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9.2e18)
        return std::numeric_limits<int64_t>::max();
    if (value <= -9.2e18)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

TPxRGB ColourOf(double value)
{
    return PxColorToRGB(static_cast<int32_t>(static_cast<uint32_t>(TruncValue(value))));
}

bool AllWhite(const TPxRGB& c)
{
    return c.r == 255 && c.g == 255 && c.b == 255;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

TPxBitmap::TPxBitmap()
{
    Init();
}

TPxBitmap::TPxBitmap(int Width, int Height, TPxPixelFormat Format)
{
    Init();
    Allocate(Width, Height, Format);
}

void TPxBitmap::Init()
{
    fileBuffer_ = std::make_unique<TPxFileBuffer>();
    if (PxMemoryThreshold != -1) {
        FileThreshold = PxMemoryThreshold;
    } else {
        const int64_t physical = PxGetPhysicalMemory(false);
        FileThreshold = physical != 0 ? static_cast<int64_t>(static_cast<double>(physical) / 1.3) : kDefaultThreshold;
    }
}

std::unique_ptr<TPxBitmap> TPxBitmap::CreateAsAlphaChannel(int Width, int Height, TPxLocation Location)
{
    auto alpha = std::make_unique<TPxBitmap>();
    alpha->isAlpha_ = true;
    alpha->location_ = Location == pxTBitmap ? pxMemory : Location;
    alpha->Allocate(Width, Height, px8g);
    alpha->Fill(255);
    return alpha;
}

TPxBitmap::~TPxBitmap()
{
    try {
        FreeImage(true);
    } catch (...) {
        // A row that cannot be written back at destruction has no one to
        // report to; the storage is released regardless.
    }
    FreeSpareBlock();
}

namespace {

void FreeBlockWith(void* Block, uint8_t Allocator)
{
    switch (Allocator) {
    case 0:
        std::free(Block);
        break;
    case 1:
        PxGlobalFree(Block);
        break;
    default:
        PxFreeBlock(Block);
        break;
    }
}

}  // namespace

void TPxBitmap::FreeSpareBlock()
{
    if (spareBlock_)
        FreeBlockWith(spareBlock_, spareBlockAllocator_);
    spareBlock_ = nullptr;
    spareBlockSize_ = 0;
}

// ---------------------------------------------------------------------------
// Size and format

int TPxBitmap::GetWidth()
{
    if (location_ == pxTBitmap)
        SyncFromVclBitmap();
    return width_;
}

int TPxBitmap::GetHeight()
{
    if (location_ == pxTBitmap)
        SyncFromVclBitmap();
    return height_;
}

int TPxBitmap::GetBitCount()
{
    if (location_ == pxTBitmap)
        SyncFromVclBitmap();
    return bitCount_;
}

int TPxBitmap::GetChannelCount()
{
    if (location_ == pxTBitmap)
        SyncFromVclBitmap();
    return channelCount_;
}

TPxPixelFormat TPxBitmap::GetPixelFormat()
{
    if (location_ == pxTBitmap)
        SyncFromVclBitmap();
    return format_;
}

int TPxBitmap::GetRowLen()
{
    if (location_ == pxTBitmap)
        SyncFromVclBitmap();
    return rowLen_;
}

bool TPxBitmap::IsEmpty()
{
    return GetWidth() == 0 || GetHeight() == 0 || GetRowLen() == 0 || GetBitCount() == 0;
}

bool TPxBitmap::Allocate(int Width, int Height, TPxPixelFormat Format)
{
    if (!reallocate_ && Width == GetWidth() && Height == GetHeight() && Format == GetPixelFormat())
        return true;
    if (vclAttached_)
        alpha_.reset();
    else
        FreeImage(true);
    width_ = Width;
    height_ = Height;
    format_ = Format;
    bool ok = false;
    try {
        ok = AllocateStorage();
    } catch (...) {
        ok = false;
    }
    if (!ok) {
        FreeImage(false);
        width_ = 0;
        height_ = 0;
    }
    reallocate_ = false;
    return ok;
}

bool TPxBitmap::AllocateStorage()
{
    if (width_ <= 0 || height_ <= 0 || format_ == pxNoPixels || format_ >= PxPixelFormatCount)
        return false;
    if (format_ == px8p) {
        palette_.assign(256, TPxRGB{0, 0, 0});
        paletteLen_ = 256;
    }
    bitCount_ = PxPixelFormatBits[format_];
    channelCount_ = PxPixelFormatChannels[format_];
    const int64_t rowLen = PxBitmapRowLen(width_, bitCount_, rowAlignment_);
    if (rowLen <= 0 || rowLen > std::numeric_limits<int32_t>::max())
        return false;
    rowLen_ = static_cast<int>(rowLen);
    const int64_t size = rowLen * height_;  // at most (2^31)^2: fits 64 bits

    if (location_ == pxFile && size < FileThreshold)
        location_ = pxMemory;
    else if (location_ == pxMemory && size > FileThreshold)
        location_ = pxFile;

    if (location_ == pxFile && !fileBuffer_->AllocateFile(L"IMG", true, size))
        location_ = pxMemory;

    if (location_ == pxMemory) {
        if (!AllocAligned(size) && !AllocSegments()) {
            if (!PxAllowFileFallback)
                return false;
            location_ = pxFile;
            if (!fileBuffer_->AllocateFile(L"IMG", true, size))
                return false;
        }
    } else if (location_ == pxTBitmap) {
        if (!AllocateVclStorage(size))
            return false;
    }
    FullAlpha = false;
    return true;
}

bool TPxBitmap::AllocAligned(int64_t Size)
{
    if (detail::PxFailSingleBlock)
        return false;
    int64_t blockSize = Size + kBlockSpare;
    void* block = nullptr;
    // A kept block serves when it is large enough and came from the same
    // allocator.
    const uint8_t wanted = allocator_ > 2 ? 2 : allocator_;
    if (spareBlock_ && spareBlockSize_ >= blockSize && spareBlockAllocator_ == wanted) {
        memBlock_ = spareBlock_;
        memBlockSize_ = spareBlockSize_;
        memBlockAllocator_ = wanted;
        spareBlock_ = nullptr;
        spareBlockSize_ = 0;
        const uintptr_t start = reinterpret_cast<uintptr_t>(memBlock_);
        memStart_ = reinterpret_cast<uint8_t*>((start + 63) & ~static_cast<uintptr_t>(63));
        // As clean as a fresh large block: nothing of the earlier image shows
        // through pixels a reader leaves alone.
        std::memset(memStart_, 0, static_cast<size_t>(Size));
        return true;
    }
    FreeSpareBlock();
    switch (allocator_) {
    case 0:
        block = std::malloc(static_cast<size_t>(blockSize));
        break;
    case 1:
        block = PxGlobalAlloc(static_cast<size_t>(blockSize));
        break;
    default:
        block = PxAllocBlock(blockSize);
        break;
    }
    if (!block)
        return false;
    memBlock_ = block;
    memBlockSize_ = blockSize;
    memBlockAllocator_ = wanted;
    const uintptr_t start = reinterpret_cast<uintptr_t>(block);
    memStart_ = reinterpret_cast<uint8_t*>((start + 63) & ~static_cast<uintptr_t>(63));
    return true;
}

bool TPxBitmap::AllocSegments()
{
    if (!PxAllowSegments)
        return false;
    int n = 4;
    for (;;) {
        const int rows = static_cast<int>((static_cast<int64_t>(height_) + n - 1) / n);
        const int64_t segmentSize = static_cast<int64_t>(rows) * rowLen_;
        if (segmentSize < kMinSegmentSize && n > 4)
            return false;
        std::vector<void*> blocks;
        bool ok = true;
        try {
            blocks.reserve(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) {
                void* block = PxGlobalAlloc(static_cast<size_t>(segmentSize));
                if (!block) {
                    ok = false;
                    break;
                }
                blocks.push_back(block);
            }
        } catch (const std::bad_alloc&) {
            ok = false;
        }
        if (ok) {
            segments_ = std::move(blocks);
            segmentCount_ = n;
            rowsPerSegment_ = rows;
            return true;
        }
        for (void* block : blocks)
            PxGlobalFree(block);
        n *= 2;
        if (n >= height_)
            return false;
    }
}

void TPxBitmap::FreeSegments()
{
    for (void*& block : segments_)
        PxGlobalFree(block);
    segments_.clear();
    segmentCount_ = 0;
    rowsPerSegment_ = 0;
}

void TPxBitmap::FreeImage(bool FreeAlpha)
{
    if (FreeAlpha)
        alpha_.reset();
    palette_.clear();
    palette_.shrink_to_fit();
    paletteLen_ = 0;
    // A row whose write-back fails does not keep the rest from being freed;
    // the first failure is reported at the end.
    std::exception_ptr failure;
    try {
        UnmapAllRows();
    } catch (...) {
        failure = std::current_exception();
        mappedRows_.clear();  // their buffers are released by FreeFile
        mappedRowNumbers_.clear();
    }
    try {
        fileBuffer_->FreeFile();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (memBlock_ && !memAttached_) {
        if (KeepStorage && memBlockSize_ > 0) {
            FreeSpareBlock();
            spareBlock_ = memBlock_;
            spareBlockSize_ = memBlockSize_;
            spareBlockAllocator_ = memBlockAllocator_;
        } else {
            FreeBlockWith(memBlock_, memBlockAllocator_);
        }
    }
    if (!KeepStorage)
        FreeSpareBlock();
    memBlock_ = nullptr;
    memBlockSize_ = 0;
    memStart_ = nullptr;
    FreeVclBitmap();
    rowTable_.clear();
    FreeSegments();
    width_ = 0;
    height_ = 0;
    rowLen_ = 0;
    bitCount_ = 0;
    channelCount_ = 0;
    FullAlpha = false;
    vclAttached_ = false;
    memAttached_ = false;
    if (failure)
        std::rethrow_exception(failure);
}

void TPxBitmap::MoveStorageTo(TPxBitmap* Target)
{
    if (!Target || Target == this)
        return;
    Target->FreeImage(true);
    Target->width_ = width_;
    Target->height_ = height_;
    Target->bitCount_ = bitCount_;
    Target->channelCount_ = channelCount_;
    Target->rowLen_ = rowLen_;
    Target->format_ = format_;
    Target->palette_ = std::move(palette_);
    Target->paletteLen_ = paletteLen_;
    Target->alpha_ = std::move(alpha_);
    Target->isAlpha_ = isAlpha_;
    Target->memStart_ = memStart_;
    Target->memBlock_ = memBlock_;
    Target->memBlockSize_ = memBlockSize_;
    Target->memBlockAllocator_ = memBlockAllocator_;
    Target->vclBitmap_ = vclBitmap_;
    Target->rowTable_ = std::move(rowTable_);
    Target->location_ = location_;
    Target->FullAlpha = FullAlpha;
    Target->vclAttached_ = vclAttached_;
    Target->memAttached_ = memAttached_;
    Target->segments_ = std::move(segments_);
    Target->segmentCount_ = segmentCount_;
    Target->rowsPerSegment_ = rowsPerSegment_;
    Target->fileBuffer_ = std::move(fileBuffer_);
    Target->currentFileRow_ = currentFileRow_;
    Target->mappedRows_ = std::move(mappedRows_);
    Target->mappedRowNumbers_ = std::move(mappedRowNumbers_);
    Target->BiLevelMethod = BiLevelMethod;
    Target->rowAlignment_ = rowAlignment_;
    Target->allocator_ = allocator_;
    // The rows are addressed as this image addressed them.
    Target->rowOrder_ = rowOrder_;

    fileBuffer_ = std::make_unique<TPxFileBuffer>();
    currentFileRow_ = nullptr;
    mappedRows_.clear();
    mappedRowNumbers_.clear();
    palette_.clear();
    paletteLen_ = 0;
    memStart_ = nullptr;
    memBlock_ = nullptr;
    memBlockSize_ = 0;
    vclBitmap_ = nullptr;
    rowTable_.clear();
    segments_.clear();
    segmentCount_ = 0;
    rowsPerSegment_ = 0;
    width_ = 0;
    height_ = 0;
    bitCount_ = 0;
    channelCount_ = 0;
    rowLen_ = 0;
    format_ = pxNoPixels;
    FullAlpha = false;
    vclAttached_ = false;
    memAttached_ = false;
    reallocate_ = true;
}

// Copies min(row lengths) bytes of every row both images have, converting
// px16g rows into px8g ones (high byte) where the new storage changed the
// format.
void TPxBitmap::CopyRowsFrom(TPxBitmap& Source)
{
    const int rows = std::min(height_, Source.height_);
    TPxAccessScope readOnly(Source, pxAccessRead);
    const bool narrow16 = Source.format_ == px16g && format_ == px8g;
    const int n = std::min(rowLen_, Source.rowLen_);
    for (int y = 0; y < rows; ++y) {
        const uint8_t* src = Source.GetScanline(y);
        uint8_t* dst = GetScanline(y);
        if (narrow16) {
            const int w = std::min(width_, Source.width_);
            for (int x = 0; x < w; ++x)
                dst[x] = src[2 * x + 1];
        } else {
            std::memcpy(dst, src, static_cast<size_t>(n));
        }
    }
}

void TPxBitmap::SetWidth(int Value)
{
    SetSide(Value, true);
}

void TPxBitmap::SetHeight(int Value)
{
    SetSide(Value, false);
}

void TPxBitmap::SetSide(int Value, bool IsWidth)
{
    if (Value == (IsWidth ? GetWidth() : GetHeight()))
        return;
    if (alpha_)
        alpha_->SetSide(Value, IsWidth);
    if (location_ == pxMemory || location_ == pxFile) {
        const int other = IsWidth ? height_ : width_;
        if (format_ != pxNoPixels && other > 0) {
            TPxBitmap old;
            MoveStorageTo(&old);
            const bool ok = IsWidth ? Allocate(Value, old.height_, old.format_) : Allocate(old.width_, Value, old.format_);
            if (ok) {
                CopyRowsFrom(old);
                // The alpha channel was resized above; it comes back as is.
                alpha_ = std::move(old.alpha_);
                if (old.paletteLen_ > 0) {
                    palette_ = old.palette_;
                    paletteLen_ = old.paletteLen_;
                }
            }
            FullAlpha = false;
        } else if (IsWidth) {
            width_ = Value;
        } else {
            height_ = Value;
        }
    } else {
        SetVclSide(Value, IsWidth);
    }
}

void TPxBitmap::SetPixelFormat(TPxPixelFormat Format)
{
    if (Format == GetPixelFormat())
        return;
    if (!PxBitmapServices.ConvertPixelFormat)
        NotAvailable(L"Conversion from " + FormatName(GetPixelFormat()) + L" to " + FormatName(Format));
    PxBitmapServices.ConvertPixelFormat(*this, Format);
}

void TPxBitmap::SetRowAlignment(int Bits)
{
    if (Bits <= 0 || Bits % 8 != 0)
        throw classlib::EInvalidArgument(L"Row alignment must be a positive multiple of 8 bits");
    if (Bits == rowAlignment_)
        return;
    reallocate_ = true;
    if (location_ != pxMemory)
        return;
    TPxBitmap old;
    MoveStorageTo(&old);
    rowAlignment_ = Bits;
    if (Allocate(old.width_, old.height_, old.format_)) {
        CopyRowsFrom(old);
        alpha_ = std::move(old.alpha_);
        if (old.paletteLen_ > 0) {
            palette_ = old.palette_;
            paletteLen_ = old.paletteLen_;
        }
    }
}

void TPxBitmap::SetLocation(TPxLocation Location)
{
    if (Location == location_)
        return;
    reallocate_ = true;
    const bool hadImage = !IsEmpty();
    const TPxLocation oldLocation = location_;
    TPxBitmap old;
    MoveStorageTo(&old);
    location_ = Location;
    const bool ok = Allocate(old.width_, old.height_, old.format_);
    if (!ok && hadImage) {
        // The new storage cannot hold this image: keep the pixels where they
        // were rather than lose them.
        old.MoveStorageTo(this);
        location_ = oldLocation;
        reallocate_ = false;
        return;
    }
    if (ok) {
        CopyRowsFrom(old);
        const int n = std::min(old.paletteLen_, paletteLen_);
        for (int i = 0; i < n; ++i)
            palette_[static_cast<size_t>(i)] = old.palette_[static_cast<size_t>(i)];
        SyncVclPalette();
    }
    isAlpha_ = old.isAlpha_;
    alpha_ = std::move(old.alpha_);
    FullAlpha = false;
}

// ---------------------------------------------------------------------------
// Rows

void TPxBitmap::ReleaseCurrentFileRow()
{
    if (currentFileRow_) {
        uint8_t* row = currentFileRow_;
        currentFileRow_ = nullptr;
        fileBuffer_->Unmap(row);
    }
}

uint8_t* TPxBitmap::RowAddress(int r)
{
    switch (location_) {
    case pxMemory:
        if (segmentCount_ > 0)
            return static_cast<uint8_t*>(segments_[static_cast<size_t>(r / rowsPerSegment_)]) +
                   static_cast<int64_t>(r % rowsPerSegment_) * rowLen_;
        return memStart_ + static_cast<int64_t>(rowLen_) * (height_ - 1 - r);
    case pxTBitmap:
        return rowTable_[static_cast<size_t>(r)];
    default:
        return nullptr;
    }
}

uint8_t* TPxBitmap::GetScanline(int Row)
{
    const int r = rowOrder_ == 1 ? height_ - 1 - Row : Row;
    if (location_ == pxFile) {
        ReleaseCurrentFileRow();
        currentFileRow_ = fileBuffer_->Map(Access, rowLen_, static_cast<int64_t>(r) * rowLen_);
        return currentFileRow_;
    }
    return RowAddress(r);
}

uint8_t* TPxBitmap::MapRow(int Row)
{
    if (location_ != pxFile)
        return RowAddress(Row);
    ReleaseCurrentFileRow();
    uint8_t* row = fileBuffer_->Map(Access, rowLen_, static_cast<int64_t>(Row) * rowLen_);
    try {
        mappedRows_.push_back(row);
        mappedRowNumbers_.push_back(Row);
    } catch (...) {
        if (mappedRows_.size() > mappedRowNumbers_.size())
            mappedRows_.pop_back();
        fileBuffer_->Unmap(row);
        throw;
    }
    return row;
}

void TPxBitmap::UnmapRow(int Row)
{
    if (location_ != pxFile)
        return;
    const auto it = std::find(mappedRowNumbers_.begin(), mappedRowNumbers_.end(), Row);
    if (it == mappedRowNumbers_.end())
        return;
    const size_t i = static_cast<size_t>(it - mappedRowNumbers_.begin());
    uint8_t* row = mappedRows_[i];
    mappedRows_.erase(mappedRows_.begin() + static_cast<std::ptrdiff_t>(i));
    mappedRowNumbers_.erase(it);
    fileBuffer_->Unmap(row);
}

void TPxBitmap::UnmapAllRows()
{
    ReleaseCurrentFileRow();
    while (!mappedRows_.empty()) {
        uint8_t* row = mappedRows_.back();
        mappedRows_.pop_back();
        mappedRowNumbers_.pop_back();
        fileBuffer_->Unmap(row);
    }
}

// ---------------------------------------------------------------------------
// Palette

TPxRGB* TPxBitmap::GetPaletteBuffer()
{
    return palette_.empty() ? nullptr : palette_.data();
}

TPxRGB TPxBitmap::GetPaletteEntry(int Index)
{
    if (Index >= 0 && Index < paletteLen_)
        return palette_[static_cast<size_t>(Index)];
    return TPxRGB{0, 0, 0};
}

void TPxBitmap::SetPaletteEntry(int Index, TPxRGB Colour)
{
    if (Index < 0 || Index >= paletteLen_)
        return;
    palette_[static_cast<size_t>(Index)] = Colour;
    SyncVclPalette();
}

int TPxBitmap::GetPaletteLen()
{
    return paletteLen_;
}

void TPxBitmap::CopyPaletteTo(TPxBaseBitmap* Target)
{
    auto* target = dynamic_cast<TPxBitmap*>(Target);
    if (!target || target == this)
        return;
    target->palette_.clear();
    target->paletteLen_ = 0;
    target->PaletteCapacity = 256;
    if (paletteLen_ > 0) {
        target->palette_.assign(palette_.begin(), palette_.begin() + paletteLen_);
        target->paletteLen_ = paletteLen_;
        target->PaletteCapacity = PaletteCapacity;
        target->SyncVclPalette();
    }
}

void TPxBitmap::Assign(classlib::TObject* Source)
{
    if (!PxBitmapServices.Assign)
        NotAvailable(L"TPxBitmap.Assign");
    PxBitmapServices.Assign(*this, Source);
}

// ---------------------------------------------------------------------------
// Alpha channel

TPxBitmap* TPxBitmap::GetAlphaChannel()
{
    if (isAlpha_)
        return nullptr;
    if (!alpha_)
        alpha_ = CreateAsAlphaChannel(GetWidth(), GetHeight(), location_);
    return alpha_.get();
}

void TPxBitmap::AttachAlphaChannel(TPxBitmap* Alpha)
{
    if (Alpha == alpha_.get())
        return;
    alpha_.reset(Alpha);
    if (Alpha)
        Alpha->isAlpha_ = true;
}

void TPxBitmap::RemoveAlphaChannel(bool Merge, int32_t Background)
{
    if (isAlpha_ || !alpha_)
        return;
    if (Merge && GetPixelFormat() == px24RGB) {
        const TPxRGB c = PxColorToRGB(Background);
        const int w = GetWidth();
        const int h = GetHeight();
        TPxAccessScope alphaRead(*alpha_, pxAccessRead);
        const auto blend = [](uint8_t p, uint8_t cc, uint8_t a) -> uint8_t {
            // c + floor((p - c) * a / 256), with the 32-bit logical shift.
            const uint32_t product = static_cast<uint32_t>((static_cast<int32_t>(p) - cc) * (static_cast<int32_t>(a) << 10));
            return static_cast<uint8_t>((product >> 18) + cc);
        };
        for (int y = 0; y < h; ++y) {
            const uint8_t* alphaRow = alpha_->GetScanline(y);
            TPxRGB* row = reinterpret_cast<TPxRGB*>(GetScanline(y));
            for (int x = 0; x < w; ++x) {
                const uint8_t a = alphaRow[x];
                row[x].b = blend(row[x].b, c.b, a);
                row[x].g = blend(row[x].g, c.g, a);
                row[x].r = blend(row[x].r, c.r, a);
            }
        }
    }
    alpha_.reset();
}

// ---------------------------------------------------------------------------
// Pixels

uint8_t TPxBitmap::GetPixelGray8(int x, int y)
{
    return GetScanline(y)[x];
}

void TPxBitmap::SetPixelGray8(int x, int y, uint8_t Value)
{
    GetScanline(y)[x] = Value;
    if (Value != 255)
        FullAlpha = false;
}

uint16_t TPxBitmap::GetPixelGray16(int x, int y)
{
    uint16_t v;
    std::memcpy(&v, GetScanline(y) + 2 * static_cast<int64_t>(x), 2);
    return v;
}

void TPxBitmap::SetPixelGray16(int x, int y, uint16_t Value)
{
    std::memcpy(GetScanline(y) + 2 * static_cast<int64_t>(x), &Value, 2);
    if (Value != 65535)
        FullAlpha = false;
}

float TPxBitmap::GetPixelFloat(int x, int y)
{
    float v;
    std::memcpy(&v, GetScanline(y) + 4 * static_cast<int64_t>(x), 4);
    return v;
}

void TPxBitmap::SetPixelFloat(int x, int y, float Value)
{
    std::memcpy(GetScanline(y) + 4 * static_cast<int64_t>(x), &Value, 4);
    if (Value < 1.0f)
        FullAlpha = false;
}

TPxCMYK TPxBitmap::GetPixelCMYK(int x, int y)
{
    TPxCMYK v;
    std::memcpy(&v, GetScanline(y) + 4 * static_cast<int64_t>(x), 4);
    return v;
}

void TPxBitmap::SetPixelCMYK(int x, int y, const TPxCMYK& Value)
{
    std::memcpy(GetScanline(y) + 4 * static_cast<int64_t>(x), &Value, 4);
}

TPxRGB TPxBitmap::GetPixelRGB(int x, int y)
{
    return *GetPixelRGBAddr(x, y);
}

void TPxBitmap::SetPixelRGB(int x, int y, const TPxRGB& Value)
{
    *GetPixelRGBAddr(x, y) = Value;
}

TPxRGB* TPxBitmap::GetPixelRGBAddr(int x, int y)
{
    return reinterpret_cast<TPxRGB*>(GetScanline(y)) + x;
}

TPxRGB48 TPxBitmap::GetPixelRGB48(int x, int y)
{
    TPxRGB48 v;
    std::memcpy(&v, GetScanline(y) + 6 * static_cast<int64_t>(x), 6);
    return v;
}

void TPxBitmap::SetPixelRGB48(int x, int y, const TPxRGB48& Value)
{
    std::memcpy(GetScanline(y) + 6 * static_cast<int64_t>(x), &Value, 6);
    if (Value.r != 65535 || Value.g != 65535 || Value.b != 65535)
        FullAlpha = false;
}

uint8_t TPxBitmap::GetAlpha(int x, int y)
{
    TPxBitmap* alpha = isAlpha_ ? this : GetAlphaChannel();
    return alpha->GetScanline(y)[x];
}

void TPxBitmap::SetAlpha(int x, int y, uint8_t Value)
{
    TPxBitmap* alpha = isAlpha_ ? this : GetAlphaChannel();
    alpha->GetScanline(y)[x] = Value;
    if (Value != 255) {
        alpha->FullAlpha = false;
        FullAlpha = false;
    }
}

TPxRGB TPxBitmap::GetPixelAsRGB(int x, int y)
{
    const TPxPixelFormat format = GetPixelFormat();
    switch (format) {
    case px1g: {
        const uint8_t v = PxGetBit(GetScanline(y), x) ? 255 : 0;
        return TPxRGB{v, v, v};
    }
    case px8p:
        return GetPaletteEntry(GetScanline(y)[x]);
    case px8g: {
        const uint8_t v = GetScanline(y)[x];
        return TPxRGB{v, v, v};
    }
    case px16g: {
        const uint8_t v = static_cast<uint8_t>(GetPixelGray16(x, y) >> 8);
        return TPxRGB{v, v, v};
    }
    case px24RGB:
        return GetPixelRGB(x, y);
    case px32f: {
        const uint8_t v = static_cast<uint8_t>(TruncValue(static_cast<double>(GetPixelFloat(x, y)) * 255));
        return TPxRGB{v, v, v};
    }
    case pxCMYK:
        if (!PxBitmapServices.CMYKToRGB)
            NotAvailable(L"Conversion from pxCMYK to px24RGB");
        return PxBitmapServices.CMYKToRGB(GetPixelCMYK(x, y));
    case pxRGB48: {
        const TPxRGB48 p = GetPixelRGB48(x, y);
        return TPxRGB{static_cast<uint8_t>(p.b >> 8), static_cast<uint8_t>(p.g >> 8), static_cast<uint8_t>(p.r >> 8)};
    }
    case pxCIELab: {
        if (!PxBitmapServices.CIELabToRGB)
            NotAvailable(L"Conversion from pxCIELab to px24RGB");
        TPxCIELab p;
        std::memcpy(&p, GetScanline(y) + 3 * static_cast<int64_t>(x), 3);
        return PxBitmapServices.CIELabToRGB(p);
    }
    case px32RGB: {
        const uint8_t* p = GetScanline(y) + 4 * static_cast<int64_t>(x);
        return TPxRGB{p[0], p[1], p[2]};
    }
    default:
        return TPxRGB{0, 0, 0};
    }
}

// ---------------------------------------------------------------------------
// Filling and tests

void TPxBitmap::Fill(double Value)
{
    const TPxPixelFormat format = GetPixelFormat();
    const int w = GetWidth();
    const int h = GetHeight();
    const int64_t tv = TruncValue(Value);
    // Rows are overwritten whole, so file rows need not be read first; only
    // px32RGB keeps its fourth bytes and must read them.
    TPxAccessScope access(*this, format == px32RGB ? pxAccessReadWrite : pxAccessWrite);
    switch (format) {
    case px1g: {
        const int b = tv != 0 ? 255 : 0;
        for (int y = 0; y < h; ++y)
            std::memset(GetScanline(y), b, static_cast<size_t>(rowLen_));
        FullAlpha = Value != 0;
        break;
    }
    case px8p:
    case px8g:
        for (int y = 0; y < h; ++y)
            std::memset(GetScanline(y), static_cast<uint8_t>(tv), static_cast<size_t>(rowLen_));
        FullAlpha = tv == 255;
        break;
    case px16g: {
        const uint16_t v = static_cast<uint16_t>(tv);
        for (int y = 0; y < h; ++y) {
            uint8_t* row = GetScanline(y);
            for (int x = 0; x < w; ++x)
                std::memcpy(row + 2 * static_cast<int64_t>(x), &v, 2);
        }
        FullAlpha = tv == 65535;
        break;
    }
    case px24RGB: {
        const TPxRGB c = ColourOf(Value);
        std::vector<uint8_t> line(static_cast<size_t>(rowLen_), 0);
        for (int x = 0; x < w; ++x)
            std::memcpy(line.data() + 3 * static_cast<size_t>(x), &c, 3);
        for (int y = 0; y < h; ++y)
            std::memcpy(GetScanline(y), line.data(), line.size());
        FullAlpha = AllWhite(c);
        break;
    }
    case px32f: {
        const float v = static_cast<float>(Value);
        for (int y = 0; y < h; ++y) {
            uint8_t* row = GetScanline(y);
            for (int x = 0; x < w; ++x)
                std::memcpy(row + 4 * static_cast<int64_t>(x), &v, 4);
        }
        FullAlpha = Value == 1.0;
        break;
    }
    case pxCMYK: {
        if (!PxBitmapServices.RGBToCMYK)
            NotAvailable(L"Conversion from px24RGB to pxCMYK");
        const TPxRGB c = ColourOf(Value);
        const TPxCMYK v = PxBitmapServices.RGBToCMYK(c);
        for (int y = 0; y < h; ++y) {
            uint8_t* row = GetScanline(y);
            for (int x = 0; x < w; ++x)
                std::memcpy(row + 4 * static_cast<int64_t>(x), &v, 4);
        }
        FullAlpha = AllWhite(c);
        break;
    }
    case pxRGB48: {
        const TPxRGB c = ColourOf(Value);
        const TPxRGB48 v{static_cast<uint16_t>(c.r * 257), static_cast<uint16_t>(c.g * 257),
                         static_cast<uint16_t>(c.b * 257)};
        for (int y = 0; y < h; ++y) {
            uint8_t* row = GetScanline(y);
            for (int x = 0; x < w; ++x)
                std::memcpy(row + 6 * static_cast<int64_t>(x), &v, 6);
        }
        FullAlpha = AllWhite(c);
        break;
    }
    case pxCIELab: {
        if (!PxBitmapServices.RGBToCIELab)
            NotAvailable(L"Conversion from px24RGB to pxCIELab");
        const TPxRGB c = ColourOf(Value);
        const TPxCIELab v = PxBitmapServices.RGBToCIELab(c);
        for (int y = 0; y < h; ++y) {
            uint8_t* row = GetScanline(y);
            for (int x = 0; x < w; ++x)
                std::memcpy(row + 3 * static_cast<int64_t>(x), &v, 3);
        }
        FullAlpha = AllWhite(c);
        break;
    }
    case px32RGB: {
        const TPxRGB c = ColourOf(Value);
        for (int y = 0; y < h; ++y) {
            uint8_t* row = GetScanline(y);
            for (int x = 0; x < w; ++x)
                std::memcpy(row + 4 * static_cast<int64_t>(x), &c, 3);
        }
        FullAlpha = AllWhite(c);
        break;
    }
    default:
        break;
    }
}

void TPxBitmap::FillRect(int x1, int y1, int x2, int y2, double Value)
{
    const TPxPixelFormat format = GetPixelFormat();
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, GetWidth() - 1);
    y2 = std::min(y2, GetHeight() - 1);
    if (y2 < y1 || x2 < x1)
        return;
    const int64_t tv = TruncValue(Value);
    const int64_t n = x2 - x1 + 1;
    const auto fillPixels = [&](const void* pixel, int size) {
        for (int y = y1; y <= y2; ++y) {
            uint8_t* p = GetScanline(y) + static_cast<int64_t>(x1) * size;
            for (int64_t i = 0; i < n; ++i, p += size)
                std::memcpy(p, pixel, static_cast<size_t>(size));
        }
    };
    switch (format) {
    case px1g:
        for (int y = y1; y <= y2; ++y) {
            uint8_t* row = GetScanline(y);
            for (int x = x1; x <= x2; ++x)
                PxSetBit(row, x, tv != 0);
        }
        break;
    case px8p:
    case px8g:
        for (int y = y1; y <= y2; ++y)
            std::memset(GetScanline(y) + x1, static_cast<uint8_t>(tv), static_cast<size_t>(n));
        break;
    case px16g: {
        const uint16_t v = static_cast<uint16_t>(tv);
        fillPixels(&v, 2);
        break;
    }
    case px24RGB: {
        const TPxRGB c = ColourOf(Value);
        fillPixels(&c, 3);
        break;
    }
    case px32f: {
        const float v = static_cast<float>(Value);
        fillPixels(&v, 4);
        break;
    }
    case pxCMYK: {
        if (!PxBitmapServices.RGBToCMYK)
            NotAvailable(L"Conversion from px24RGB to pxCMYK");
        const TPxCMYK v = PxBitmapServices.RGBToCMYK(ColourOf(Value));
        fillPixels(&v, 4);
        break;
    }
    case pxRGB48: {
        const TPxRGB c = ColourOf(Value);
        const TPxRGB48 v{static_cast<uint16_t>(c.r * 257), static_cast<uint16_t>(c.g * 257),
                         static_cast<uint16_t>(c.b * 257)};
        fillPixels(&v, 6);
        break;
    }
    case pxCIELab: {
        if (!PxBitmapServices.RGBToCIELab)
            NotAvailable(L"Conversion from px24RGB to pxCIELab");
        const TPxCIELab v = PxBitmapServices.RGBToCIELab(ColourOf(Value));
        fillPixels(&v, 3);
        break;
    }
    case px32RGB: {
        const TPxRGB c = ColourOf(Value);
        for (int y = y1; y <= y2; ++y) {
            uint8_t* p = GetScanline(y) + static_cast<int64_t>(x1) * 4;
            for (int64_t i = 0; i < n; ++i, p += 4)
                std::memcpy(p, &c, 3);
        }
        break;
    }
    default:
        break;
    }
}

void TPxBitmap::CheckFullAlpha()
{
    const int h = GetHeight();
    const int64_t used = PxBitmapRowLen(GetWidth(), GetBitCount(), 8);
    TPxAccessScope readOnly(*this, pxAccessRead);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = GetScanline(y);
        for (int64_t i = 0; i < used; ++i) {
            if (row[i] != 255) {
                FullAlpha = false;
                return;
            }
        }
    }
    FullAlpha = true;
}

bool TPxBitmap::IsAllZero()
{
    const int h = GetHeight();
    const int64_t used = PxBitmapRowLen(GetWidth(), GetBitCount(), 8);
    TPxAccessScope readOnly(*this, pxAccessRead);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = GetScanline(y);
        for (int64_t i = 0; i < used; ++i)
            if (row[i] != 0)
                return false;
    }
    return true;
}

bool TPxBitmap::IsGrayScale()
{
    const TPxPixelFormat format = GetPixelFormat();
    const int w = GetWidth();
    const int h = GetHeight();
    TPxAccessScope readOnly(*this, pxAccessRead);
    switch (format) {
    case px8p:
        for (int i = 0; i < paletteLen_; ++i) {
            const TPxRGB& c = palette_[static_cast<size_t>(i)];
            if (c.r != c.g || c.g != c.b)
                return false;
        }
        return true;
    case px24RGB:
    case px32RGB: {
        const int step = format == px24RGB ? 3 : 4;
        for (int y = 0; y < h; ++y) {
            const uint8_t* p = GetScanline(y);
            for (int x = 0; x < w; ++x, p += step)
                if (p[0] != p[1] || p[1] != p[2])
                    return false;
        }
        return true;
    }
    case pxRGB48:
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = GetScanline(y);
            for (int x = 0; x < w; ++x) {
                TPxRGB48 p;
                std::memcpy(&p, row + 6 * static_cast<int64_t>(x), 6);
                if (p.r != p.g || p.g != p.b)
                    return false;
            }
        }
        return true;
    default:
        return true;
    }
}

// ---------------------------------------------------------------------------
// Comparison

bool PxCompareBitmaps(TPxBitmap* a, TPxBitmap* b)
{
    if (!a || !b)
        return false;
    if (a == b)
        return true;
    if (a->GetWidth() != b->GetWidth() || a->GetHeight() != b->GetHeight())
        return false;
    if (a->HasAlphaChannel() != b->HasAlphaChannel())
        return false;
    // Rows of different length (another format or alignment) cannot match,
    // and comparing them over the longer length would read past the shorter.
    if (a->GetPixelFormat() != b->GetPixelFormat() || a->GetRowLen() != b->GetRowLen())
        return false;
    const int h = a->GetHeight();
    const size_t len = static_cast<size_t>(a->GetRowLen());
    {
        TPxAccessScope readA(*a, pxAccessRead);
        TPxAccessScope readB(*b, pxAccessRead);
        for (int y = 0; y < h; ++y)
            if (std::memcmp(a->GetScanline(y), b->GetScanline(y), len) != 0)
                return false;
    }
    if (a->HasAlphaChannel())
        return PxCompareBitmaps(a->GetAlphaChannel(), b->GetAlphaChannel());
    return true;
}

// ---------------------------------------------------------------------------
// Attached storage

void TPxBitmap::AttachVclBitmap(classlib::TBitmap* Bitmap, bool FreeFirst)
{
    // Without FreeFirst the alpha channel stays; the previous storage is
    // released either way, so nothing is lost track of.
    FreeImage(FreeFirst);
    if (!Bitmap)
        return;
    switch (Bitmap->GetPixelFormat()) {
    case classlib::pf1bit:
    case classlib::pf8bit:
    case classlib::pf24bit:
    case classlib::pf32bit:
        break;
    default:
        // Rows of other layouts cannot be read as any pixel format.
        return;
    }
    vclBitmap_ = Bitmap;
    vclAttached_ = true;
    location_ = pxTBitmap;
    rowOrder_ = 0;
    format_ = pxNoPixels;  // the sync below takes everything from the bitmap
    SyncFromVclBitmap();
    reallocate_ = false;
}

void TPxBitmap::AttachMemory(void* Buffer, int Width, int Height, TPxPixelFormat Format, bool FreeFirst,
                             uint8_t RowOrder)
{
    FreeImage(FreeFirst);
    if (!Buffer || Width <= 0 || Height <= 0 || Format == pxNoPixels || Format >= PxPixelFormatCount)
        return;
    width_ = Width;
    height_ = Height;
    format_ = Format;
    bitCount_ = PxPixelFormatBits[format_];
    channelCount_ = PxPixelFormatChannels[format_];
    rowLen_ = static_cast<int>(PxBitmapRowLen(width_, bitCount_, rowAlignment_));
    location_ = pxMemory;
    memAttached_ = true;
    memStart_ = static_cast<uint8_t*>(Buffer);
    memBlock_ = Buffer;
    rowOrder_ = RowOrder == 1 ? 1 : 0;
    if (format_ == px8p) {
        palette_.assign(256, TPxRGB{0, 0, 0});
        paletteLen_ = 256;
    }
    if (alpha_ && (alpha_->GetWidth() != width_ || alpha_->GetHeight() != height_))
        alpha_->Allocate(width_, height_, px8g);
    reallocate_ = false;
}

void TPxBitmap::SetPaletteLen(int Count)
{
    Count = std::clamp(Count, 0, 256);
    palette_.resize(static_cast<size_t>(Count), TPxRGB{0, 0, 0});
    paletteLen_ = Count;
}

// ---------------------------------------------------------------------------
// System bitmap

void TPxBitmap::BuildRowTable()
{
    rowTable_.clear();
    if (!vclBitmap_ || vclBitmap_->GetWidth() <= 0 || vclBitmap_->GetHeight() <= 0)
        return;
    const int h = vclBitmap_->GetHeight();
    rowTable_.resize(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        rowTable_[static_cast<size_t>(y)] = static_cast<uint8_t*>(vclBitmap_->GetScanLine(y));
}

void TPxBitmap::SetVclSide(int Value, bool IsWidth)
{
    if (!vclBitmap_)
        vclBitmap_ = new classlib::TBitmap();
    // The class library's bitmap keeps its content (1-bit included) at the
    // top-left when resized.
    if (IsWidth)
        vclBitmap_->SetWidth(Value);
    else
        vclBitmap_->SetHeight(Value);
    width_ = vclBitmap_->GetWidth();
    height_ = vclBitmap_->GetHeight();
    if (IsWidth)
        rowLen_ = static_cast<int>(PxBitmapRowLen(width_, bitCount_, 32));
    BuildRowTable();
}

classlib::TBitmap* TPxBitmap::GetVclBitmap()
{
    SetLocation(pxTBitmap);
    SetupCanvasTransform();
    return location_ == pxTBitmap ? vclBitmap_ : nullptr;
}

classlib::TCanvas* TPxBitmap::GetCanvas()
{
    if (location_ == pxMemory || location_ == pxFile)
        SetLocation(pxTBitmap);
    SetupCanvasTransform();
    return location_ == pxTBitmap && vclBitmap_ ? vclBitmap_->GetCanvas() : nullptr;
}

void TPxBitmap::SetupCanvasTransform()
{
    if (!vclBitmap_ || location_ != pxTBitmap || vclBitmap_->GetEmpty())
        return;
    HDC dc = vclBitmap_->GetCanvas()->GetHandle();
    if (rowOrder_ == 1) {
        SetGraphicsMode(dc, GM_ADVANCED);
        const XFORM flip{1.0f, 0.0f, 0.0f, -1.0f, 0.0f, static_cast<float>(height_ - 1)};
        SetWorldTransform(dc, &flip);
    } else if (GetGraphicsMode(dc) == GM_ADVANCED) {
        ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
    }
}

void TPxBitmap::SyncVclPalette()
{
    // While the palette is being taken from the system bitmap there is
    // nothing to write back.
    if (syncing_ || location_ != pxTBitmap || !vclBitmap_ || paletteLen_ < 1)
        return;
    HPALETTE palette = vclBitmap_->GetPalette();
    if (!palette)
        return;
    std::vector<PALETTEENTRY> entries(static_cast<size_t>(paletteLen_));
    for (int i = 0; i < paletteLen_; ++i) {
        const TPxRGB& c = palette_[static_cast<size_t>(i)];
        entries[static_cast<size_t>(i)] = PALETTEENTRY{c.r, c.g, c.b, 0};
    }
    SetPaletteEntries(palette, 0, static_cast<UINT>(paletteLen_), entries.data());
    vclBitmap_->SetPaletteModified(true);
}

void TPxBitmap::SyncFromVclBitmap()
{
    if (!vclBitmap_ || syncing_)
        return;
    classlib::TValueScope syncing(syncing_, true);

    TPxPixelFormat format;
    switch (vclBitmap_->GetPixelFormat()) {
    case classlib::pf1bit:
        format = px1g;
        break;
    case classlib::pf8bit:
        format = isAlpha_ || PxVclBitmapHasGrayPalette(vclBitmap_) ? px8g : px8p;
        break;
    case classlib::pf32bit:
        format = px32RGB;
        break;
    default:
        format = px24RGB;
        break;
    }
    const int w = vclBitmap_->GetWidth();
    const int h = vclBitmap_->GetHeight();
    if (w != width_ || h != height_ || format != format_) {
        width_ = w;
        height_ = h;
        format_ = format;
        bitCount_ = PxPixelFormatBits[format_];
        channelCount_ = PxPixelFormatChannels[format_];
        rowLen_ = static_cast<int>(PxBitmapRowLen(w, bitCount_, 32));
        if (alpha_ && (alpha_->GetWidth() != w || alpha_->GetHeight() != h))
            alpha_->Allocate(w, h, px8g);
        BuildRowTable();
    }
    if (height_ > 0 && width_ > 0 &&
        (rowTable_.empty() || rowTable_[0] != static_cast<uint8_t*>(vclBitmap_->GetScanLine(0))))
        BuildRowTable();
    if (format_ == px8p) {
        if (paletteLen_ == 0) {
            palette_.assign(256, TPxRGB{0, 0, 0});
            paletteLen_ = 256;
        }
        PxCopyVclPaletteToPxBitmap(vclBitmap_, this);
    }
}

bool TPxBitmap::AllocateVclStorage(int64_t size)
{
    if (size > PxGetPhysicalMemory(false))
        return false;
    if (!vclBitmap_)
        vclBitmap_ = new classlib::TBitmap();
    // Any failure below (the format messages included) fails the rule.
    vclBitmap_->SetWidth(1);
    vclBitmap_->SetHeight(1);
    vclBitmap_->SetPixelFormat(classlib::pfDevice);
    switch (format_) {
    case px1g:
        vclBitmap_->SetPixelFormat(classlib::pf1bit);
        break;
    case px8p:
    case px8g:
        vclBitmap_->SetPixelFormat(classlib::pf8bit);
        break;
    case px16g:
        vclBitmap_->SetPixelFormat(classlib::pf8bit);
        format_ = px8g;
        bitCount_ = PxPixelFormatBits[format_];
        channelCount_ = PxPixelFormatChannels[format_];
        rowLen_ = static_cast<int>(PxBitmapRowLen(width_, bitCount_, rowAlignment_));
        break;
    case px24RGB:
        vclBitmap_->SetPixelFormat(classlib::pf24bit);
        break;
    case px32RGB:
        vclBitmap_->SetPixelFormat(classlib::pf32bit);
        break;
    case px32f:
        throw classlib::EInvalidGraphicOperation(
            L"px32f pixel format not allowed when Location=pxTBitmap Please set TImgView.LegacyBitmap=false.");
    case pxCMYK:
        throw classlib::EInvalidGraphicOperation(
            L"pxCMYK pixel format not allowed when Location=pxTBitmap. Please set TImgView.LegacyBitmap=false.");
    case pxRGB48:
        throw classlib::EInvalidGraphicOperation(
            L"pxRGB48 pixel format not allowed when Location=pxTBitmap Please set TImgView.LegacyBitmap=false.");
    case pxCIELab:
        throw classlib::EInvalidGraphicOperation(
            L"pxCIELab pixel format not allowed when Location=pxTBitmap Please set TImgView.LegacyBitmap=false.");
    default:
        return false;
    }
    vclBitmap_->SetWidth(width_);
    vclBitmap_->SetHeight(height_);
    if (format_ == px8g)
        PxSetGrayPalette(vclBitmap_);
    // The system bitmap's rows are 32-bit aligned whatever was asked.
    rowLen_ = static_cast<int>(PxBitmapRowLen(width_, bitCount_, 32));
    BuildRowTable();
    return true;
}

void TPxBitmap::FreeVclBitmap()
{
    if (vclBitmap_ && !vclAttached_)
        delete vclBitmap_;
    vclBitmap_ = nullptr;
}


}  // namespace imaging
