#include "imaging/model/PxStreamUtils.h"

#include <commctrl.h>
#include <cpuid.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numbers>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxStartup.h"

namespace imaging {

// ---- TPxMemStream

TPxMemStream::TPxMemStream(const void* buffer, int64_t size)
{
    SetPointer(const_cast<void*>(buffer), buffer && size > 0 ? size : 0);
}

int64_t TPxMemStream::Write(const void*, int64_t) { return 0; }

// ---- TPxBufferedReadStream

TPxBufferedReadStream::TPxBufferedReadStream(classlib::TStream* source, bool relative, int32_t bufferSize)
    : source_(source), bufferSize_(bufferSize < 1 ? 1 : bufferSize)
{
    const int64_t start = source_->GetPosition();
    base_ = relative ? start : 0;
    size_ = source_->GetSize();
    position_ = start;
    buffer_.reset(new uint8_t[static_cast<size_t>(bufferSize_)]);
    Fill();
}

void TPxBufferedReadStream::Fill()
{
    source_->SetPosition(position_);
    const int64_t got = source_->Read(buffer_.get(), bufferSize_);
    bufferUsed_ = got > 0 ? static_cast<int32_t>(got) : 0;
    index_ = 0;
}

int64_t TPxBufferedReadStream::Read(void* Buffer, int64_t Count)
{
    eof_ = false;
    if (Count > size_ - position_) {
        Count = std::max<int64_t>(size_ - position_, 0);
        eof_ = true;
    }
    if (Count < 1)
        return 0;
    uint8_t* out = static_cast<uint8_t*>(Buffer);
    int64_t copied = 0;
    while (copied < Count) {
        if (index_ >= bufferUsed_) {
            Fill();
            if (bufferUsed_ == 0) {  // the source is shorter than it said
                eof_ = true;
                break;
            }
        }
        const int64_t n = std::min<int64_t>(Count - copied, bufferUsed_ - index_);
        std::memcpy(out + copied, buffer_.get() + index_, static_cast<size_t>(n));
        index_ += static_cast<int32_t>(n);
        position_ += n;
        copied += n;
    }
    return copied;
}

int64_t TPxBufferedReadStream::Write(const void*, int64_t)
{
    throw classlib::EStreamError(L"TPxBufferedReadStream cannot write!");
}

int64_t TPxBufferedReadStream::Seek(int64_t Offset, classlib::TSeekOrigin Origin)
{
    eof_ = false;
    int64_t target;
    switch (Origin) {
    case classlib::soBeginning: target = base_ + Offset; break;
    case classlib::soCurrent: target = position_ + Offset; break;
    case classlib::soEnd: target = size_ - Offset; break;
    default: target = position_; break;
    }
    if (target < 0)
        target = 0;
    if (target >= size_) {
        target = size_;
        eof_ = true;
    }
    const int64_t windowStart = position_ - index_;
    if (target >= windowStart && target < windowStart + bufferUsed_) {
        index_ = static_cast<int32_t>(target - windowStart);
        position_ = target;
    } else if (target != position_) {
        position_ = target;
        Fill();
    }
    return target - base_;
}

// ---- string fields

namespace {

int32_t ReadCount(classlib::TStream* stream, int64_t unit)
{
    int32_t n = 0;
    stream->ReadBuffer(&n, 4);
    const int64_t left = stream->GetSize() - stream->GetPosition();
    if (n < 0 || static_cast<int64_t>(n) * unit > left)
        throw classlib::EReadError(L"Stream read error");
    return n;
}

}  // namespace

void PxStreamWriteAnsiString(classlib::TStream* stream, const std::string& text)
{
    const int32_t n = static_cast<int32_t>(text.size());
    stream->WriteBuffer(&n, 4);
    stream->WriteBuffer(text.data(), n);
}

void PxStreamReadAnsiString(classlib::TStream* stream, std::string& text)
{
    const int32_t n = ReadCount(stream, 1);
    text.assign(static_cast<size_t>(n), '\0');
    stream->ReadBuffer(text.data(), n);
}

void PxStreamWriteWideString(classlib::TStream* stream, const std::wstring& text)
{
    const int32_t n = static_cast<int32_t>(text.size());
    stream->WriteBuffer(&n, 4);
    stream->WriteBuffer(text.data(), static_cast<int64_t>(n) * 2);
}

void PxStreamReadWideString(classlib::TStream* stream, std::wstring& text)
{
    const int32_t n = ReadCount(stream, 2);
    text.assign(static_cast<size_t>(n), L'\0');
    stream->ReadBuffer(text.data(), static_cast<int64_t>(n) * 2);
}

void PxSafeStreamWrite(classlib::TStream* stream, bool& aborting, const void* buffer, int64_t count)
{
    if (stream->Write(buffer, count) < count)
        aborting = true;
}

void PxStreamWriteLine(classlib::TStream* stream, const std::string& text)
{
    stream->WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    stream->WriteBuffer("\r\n", 2);
}

// ---- temporary files and folders

std::wstring PxGetTempFileNameIn(const std::wstring& prefix, const std::wstring& folder)
{
    // The random sequence is the same in every process: a per-process salt
    // keeps two running programs from drawing the same names.
    static const uint32_t salt = static_cast<uint32_t>(::GetCurrentProcessId()) * 2654435761u;
    for (;;) {
        const int n = static_cast<int>((static_cast<uint32_t>(classlib::Random(2147483647)) ^ salt) & 0x7FFFFFFFu);
        std::wstring name = folder + prefix + L"-" + classlib::IntToHex(n, 8) + L".tmp";
        if (!PxFileExists(name))
            return name;
    }
}

std::wstring PxGetTempFileName()
{
    std::wstring folder = PxTempFolder;
    if (folder.empty()) {
        wchar_t buffer[MAX_PATH + 1];
        const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
        if (n > 0 && n <= MAX_PATH)
            folder.assign(buffer, n);
    }
    return PxGetTempFileNameIn(L"pxtemp", folder);
}

bool PxForceDirectories(const std::wstring& path)
{
    if (path.empty())
        throw classlib::Exception(L"Cannot Create Directory");
    std::wstring dir = path;
    if (dir.back() == L'\\')
        dir.pop_back();
    if (dir.size() <= 2 || classlib::DirectoryExists(dir))
        return true;
    const std::wstring parent = classlib::ExtractFilePath(dir);
    if (parent == dir)
        return true;
    if (!parent.empty() && !PxForceDirectories(parent))
        return false;
    if (::CreateDirectoryW(dir.c_str(), nullptr))
        return true;
    // Another process may have created it meanwhile.
    return classlib::DirectoryExists(dir);
}

int64_t PxGetFileSize(const std::wstring& name)
{
    HANDLE h = ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    LARGE_INTEGER size;
    const BOOL ok = ::GetFileSizeEx(h, &size);
    ::CloseHandle(h);
    return ok ? static_cast<int64_t>(size.QuadPart) : -1;
}

// ---- memory

namespace {

constexpr uint8_t kHeapBlock = 0;
constexpr uint8_t kGlobalBlock = 1;
// The caller's bytes start kBlockHeader bytes into the block, so that they
// are 16-byte aligned (rows of 16-bit and float pixels are read through
// typed pointers); the byte just before them names the allocator.
constexpr int64_t kBlockHeader = 16;

}  // namespace

void* PxAllocBlock(int64_t n)
{
    if (n < 0 || n > INT64_MAX - kBlockHeader || static_cast<uint64_t>(n + kBlockHeader) > SIZE_MAX)
        return nullptr;
    const size_t bytes = static_cast<size_t>(n + kBlockHeader);
    if (n < 1048576) {
        if (auto* p = static_cast<uint8_t*>(std::malloc(bytes))) {
            p[kBlockHeader - 1] = kHeapBlock;
            return p + kBlockHeader;
        }
    }
    HGLOBAL g = ::GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, bytes);
    if (!g)
        return nullptr;
    auto* p = static_cast<uint8_t*>(g);  // a fixed block's handle is its address
    p[kBlockHeader - 1] = kGlobalBlock;
    return p + kBlockHeader;
}

void PxFreeBlock(void*& address)
{
    if (!address)
        return;
    uint8_t* p = static_cast<uint8_t*>(address) - kBlockHeader;
    if (p[kBlockHeader - 1] == kGlobalBlock)
        ::GlobalFree(static_cast<HGLOBAL>(p));
    else
        std::free(p);
    address = nullptr;
}

void PxSafeGetMem(void*& address, int64_t size)
{
    address = nullptr;
    if (size < 0 || static_cast<uint64_t>(size) > SIZE_MAX)
        return;
    address = std::malloc(static_cast<size_t>(size ? size : 1));
}

HGLOBAL PxGlobalAlloc(int64_t size)
{
    if (size < 0 || static_cast<uint64_t>(size) > SIZE_MAX)
        return nullptr;
    return ::GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, static_cast<size_t>(size));
}

void PxGlobalFree(HGLOBAL& handle)
{
    if (handle)
        ::GlobalFree(handle);
    handle = nullptr;
}

int64_t PxGetPhysicalMemory(bool available)
{
    using Fn = BOOL(WINAPI*)(MEMORYSTATUSEX*);
    HMODULE kernel = ::GetModuleHandleW(L"Kernel32.dll");
    auto fn = kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "GlobalMemoryStatusEx")))
                     : nullptr;
    if (fn) {
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof(status);
        if (fn(&status))
            return static_cast<int64_t>(available ? status.ullAvailPhys : status.ullTotalPhys);
    }
    MEMORYSTATUS status{};
    status.dwLength = sizeof(status);
    ::GlobalMemoryStatus(&status);
    return static_cast<int64_t>(available ? status.dwAvailPhys : status.dwTotalPhys);
}

// ---- rows, bits and bytes

int64_t PxBitmapRowLen(int64_t width, int bits, int alignment)
{
    const int64_t rowBits = width * bits;
    if (alignment == 32)
        return ((rowBits + 31) >> 5) * 4;
    if (alignment < 8)
        alignment = 8;
    return ((rowBits + alignment - 1) / alignment) * (alignment / 8);
}

int PxMaskBitCount(uint32_t mask)
{
    if (mask == 0)
        return 0;
    while ((mask & 1) == 0)
        mask >>= 1;
    int n = 0;
    while (mask & 1) {
        ++n;
        mask >>= 1;
    }
    return n;
}

int PxMaskTopBit(uint32_t mask)
{
    if (mask == 0)
        return -1;
    int top = 31;
    while ((mask & (1u << top)) == 0)
        --top;
    if ((mask & (mask - 1)) == 0)
        return top;
    return top + 1;
}

int64_t PxPow2(int bits, int times)
{
    const int64_t e = static_cast<int64_t>(bits) * times;
    if (e < 0)
        return 0;
    if (e > 62)
        return INT64_MAX;
    return int64_t{1} << e;
}

// Built from the bit-reversal of 2-bit groups.
const uint8_t PxReverseBitsTable[256] = {
#define R2(n) n, n + 2 * 64, n + 1 * 64, n + 3 * 64
#define R4(n) R2(n), R2(n + 2 * 16), R2(n + 1 * 16), R2(n + 3 * 16)
#define R6(n) R4(n), R4(n + 2 * 4), R4(n + 1 * 4), R4(n + 3 * 4)
    R6(0), R6(2), R6(1), R6(3)
#undef R6
#undef R4
#undef R2
};

void PxReverseBitsByte(uint8_t& b) { b = PxReverseBitsTable[b]; }

void PxReverseBits32(uint32_t& w)
{
    w = (static_cast<uint32_t>(PxReverseBitsTable[w & 0xFF]) << 24) |
        (static_cast<uint32_t>(PxReverseBitsTable[(w >> 8) & 0xFF]) << 16) |
        (static_cast<uint32_t>(PxReverseBitsTable[(w >> 16) & 0xFF]) << 8) | PxReverseBitsTable[w >> 24];
}

uint32_t PxSwapBytes16(uint32_t v) { return (v & 0xFFFF0000u) | ((v & 0xFF) << 8) | ((v >> 8) & 0xFF); }

void PxSwapBytes16Buffer(void* buffer, int64_t words)
{
    uint8_t* p = static_cast<uint8_t*>(buffer);
    for (int64_t i = 0; i < words; ++i, p += 2)
        std::swap(p[0], p[1]);
}

uint32_t PxSwapBytes32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

uint32_t PxSwapBytes16If(uint32_t v, bool swap) { return swap ? PxSwapBytes16(v) : v; }
uint32_t PxSwapBytes32If(uint32_t v, bool swap) { return swap ? PxSwapBytes32(v) : v; }

namespace {

template <class F>
F Power(F base, F exponent)
{
    if (exponent == 0)
        return 1;
    if (base == 0 && exponent > 0)
        return 0;
    if (exponent != std::trunc(exponent) || std::fabs(exponent) > 2147483647)
        return std::exp(exponent * std::log(base));
    int64_t e = static_cast<int64_t>(std::fabs(exponent));
    F result = 1;
    F b = base;
    while (e > 0) {
        if (e & 1)
            result *= b;
        b *= b;
        e >>= 1;
    }
    return exponent < 0 ? 1 / result : result;
}

void QuickSortRange(int lo, int hi, const std::function<int(int, int)>& compare,
                    const std::function<void(int, int)>& swap)
{
    int i;
    do {
        i = lo;
        int j = hi;
        int pivot = (lo + hi) >> 1;
        do {
            while (compare(i, pivot) < 0)
                ++i;
            while (compare(j, pivot) > 0)
                --j;
            if (i <= j) {
                if (pivot == i)
                    pivot = j;
                else if (pivot == j)
                    pivot = i;
                if (i != j)
                    swap(i, j);
                ++i;
                --j;
            }
        } while (i <= j);
        if (lo < j)
            QuickSortRange(lo, j, compare, swap);
        lo = i;
    } while (i < hi);
}

}  // namespace

long double PxPower(long double base, long double exponent) { return Power(base, exponent); }
double PxPowerDouble(double base, double exponent) { return Power(base, exponent); }

void PxQuickSort(int count, const std::function<int(int, int)>& compare, const std::function<void(int, int)>& swap)
{
    if (count > 1)
        QuickSortRange(0, count - 1, compare, swap);
}

// ---- encoders

int PxAscii85EncodeGroup(const uint8_t* source, int count, char* destination)
{
    count = std::clamp(count, 1, 4);
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = (v << 8) | (i < count ? source[i] : 0u);
    if (count == 4 && v == 0) {
        destination[0] = 'z';
        return 1;
    }
    static const uint32_t kDivisors[5] = {52200625, 614125, 7225, 85, 1};
    for (int i = 0; i <= count; ++i) {
        destination[i] = static_cast<char>(v / kDivisors[i] + 33);
        v %= kDivisors[i];
    }
    return count + 1;
}

int64_t PxAscii85MaxLength(int64_t length)
{
    const int64_t groups = (length + 3) / 4;
    return groups * 5 + (groups * 5 / 75 + 1) * 2 + 4;
}

int64_t PxAscii85Encode(const uint8_t* source, int64_t length, char* destination, int64_t& counter)
{
    int64_t written = 0;
    int line = 0;
    for (int64_t pos = 0; pos < length; pos += 4) {
        const int count = static_cast<int>(std::min<int64_t>(4, length - pos));
        const int n = PxAscii85EncodeGroup(source + pos, count, destination + written);
        written += n;
        counter += n;
        line += n;
        if (line > 74) {
            destination[written++] = '\r';
            destination[written++] = '\n';
            line = 0;
        }
    }
    std::memcpy(destination + written, "~>\r\n", 4);
    return written + 4;
}

// Literals are at least 2 bytes long except the last one, so the worst case
// is 3 output bytes for every 2 input bytes, plus an odd tail and the end byte.
int64_t PxPackBitsMaxLength(int64_t length) { return length + (length + 1) / 2 + 1; }

int64_t PxPackBitsEncode(const uint8_t* source, int64_t length, uint8_t* destination)
{
    int64_t out = 0;
    int64_t i = 0;
    while (i < length) {
        if (i + 1 < length && source[i] == source[i + 1]) {
            int64_t run = 2;
            while (run < 128 && i + run < length && source[i + run] == source[i])
                ++run;
            destination[out++] = static_cast<uint8_t>(257 - run);
            destination[out++] = source[i];
            i += run;
        } else {
            int64_t n = 1;
            while (n < 128 && i + n < length && source[i + n] != source[i + n - 1])
                ++n;
            destination[out++] = static_cast<uint8_t>(n - 1);
            std::memcpy(destination + out, source + i, static_cast<size_t>(n));
            out += n;
            i += n;
        }
    }
    destination[out++] = 128;
    return out;
}

void PxBase64EncodeTriple(const uint8_t* bytes, char* chars, int count)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    count = std::clamp(count, 1, 3);
    const uint32_t v = (static_cast<uint32_t>(bytes[0]) << 16) | (count > 1 ? bytes[1] << 8 : 0u) |
                       (count > 2 ? bytes[2] : 0u);
    chars[0] = kAlphabet[(v >> 18) & 63];
    chars[1] = kAlphabet[(v >> 12) & 63];
    chars[2] = count > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    chars[3] = count > 2 ? kAlphabet[v & 63] : '=';
}

void PxBase64EncodeStream(classlib::TStream* stream, classlib::TTextFile& text, int lineLength)
{
    const int groupsPerLine = std::max(lineLength / 4, 1);
    std::wstring line;
    uint8_t bytes[3];
    char chars[4];
    for (;;) {
        const int64_t n = stream->Read(bytes, 3);
        if (n <= 0)
            break;
        PxBase64EncodeTriple(bytes, chars, static_cast<int>(n));
        line.append(chars, chars + 4);
        if (static_cast<int>(line.size()) == groupsPerLine * 4) {
            text.WriteLn(line);
            line.clear();
        }
        if (n < 3)
            break;
    }
    if (!line.empty())
        text.WriteLn(line);
}

std::wstring PxFloatToStrDot(double value)
{
    std::wstring s = classlib::FloatToStr(value);
    for (wchar_t& c : s)
        if (c == L',' || c == classlib::DecimalSeparator)
            c = L'.';
    return s;
}

std::string PxFloatToStrDotA(double value) { return classlib::WideToAnsi(PxFloatToStrDot(value)); }

void PxYCbCrToRGB(TPxRGB& destination, int y, int cb, int cr)
{
    auto clamp = [](double v) {
        const int t = static_cast<int>(std::trunc(v));
        return static_cast<uint8_t>(t < 0 ? 0 : (t > 255 ? 255 : t));
    };
    destination.r = clamp(y + 1.402 * (cr - 128));
    destination.g = clamp(y - 0.34414 * (cb - 128) - 0.71414 * (cr - 128));
    destination.b = clamp(y + 1.772 * (cb - 128));
}

// ---- images

void PxAspectFit(int sourceWidth, int sourceHeight, int boxWidth, int boxHeight, int& width, int& height)
{
    if (sourceWidth == 0 || sourceHeight == 0)
        return;
    const double scale = std::min(static_cast<double>(boxHeight) / sourceHeight,
                                  static_cast<double>(boxWidth) / sourceWidth);
    width = std::max(static_cast<int>(std::trunc(sourceWidth * scale)), 1);
    height = std::max(static_cast<int>(std::trunc(sourceHeight * scale)), 1);
}

int PxVclPixelFormatBits(classlib::TPixelFormat format)
{
    switch (format) {
    case classlib::pf1bit: return 1;
    case classlib::pf4bit: return 4;
    case classlib::pf8bit: return 8;
    case classlib::pf15bit: return 15;
    case classlib::pf16bit: return 16;
    case classlib::pf24bit: return 24;
    case classlib::pf32bit: return 32;
    default: return 0;
    }
}

int64_t PxVclBitmapRowLen(int width, classlib::TPixelFormat format)
{
    return PxBitmapRowLen(width, PxVclPixelFormatBits(format), 32);
}

void PxSetGrayPalette(classlib::TBitmap* bitmap)
{
    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entries[256];
    } palette{};
    palette.version = 0x300;
    palette.count = 256;
    for (int i = 0; i < 256; ++i) {
        const BYTE v = static_cast<BYTE>(i);
        palette.entries[i] = PALETTEENTRY{v, v, v, 0};
    }
    HPALETTE h = ::CreatePalette(reinterpret_cast<LOGPALETTE*>(&palette));
    if (h)
        bitmap->SetPalette(h);  // adopted by the bitmap
}

bool PxVclBitmapHasGrayPalette(classlib::TBitmap* bitmap)
{
    HPALETTE h = bitmap->GetPalette();
    if (!h)
        return false;
    PALETTEENTRY entries[256];
    const UINT n = ::GetPaletteEntries(h, 0, 256, entries);
    for (UINT i = 0; i < n; ++i)
        if (entries[i].peRed != i || entries[i].peGreen != i || entries[i].peBlue != i)
            return false;
    return true;
}

void PxCopyVclPaletteToPxBitmap(classlib::TBitmap* bitmap, TPxBitmap* image)
{
    if (bitmap->GetPixelFormat() != classlib::pf8bit || image->GetPixelFormat() != px8p)
        return;
    HPALETTE h = bitmap->GetPalette();
    if (!h)
        return;
    PALETTEENTRY entries[256];
    const UINT n = ::GetPaletteEntries(h, 0, 256, entries);
    for (UINT i = 0; i < n; ++i)
        image->SetPaletteEntry(static_cast<int>(i), TPxRGB{entries[i].peBlue, entries[i].peGreen, entries[i].peRed});
}

int32_t PxCosineTable[256];

void PxInitCosineTable()
{
    for (int i = 0; i < 256; ++i)
        PxCosineTable[i] =
            static_cast<int32_t>(classlib::Round(64 - std::cos(i * std::numbers::pi / 255) * 64));
}

// ---- platform

bool PxIsRemoteSession() { return ::GetSystemMetrics(SM_REMOTESESSION) != 0; }

bool PxHasMMX()
{
    // Every 64-bit processor has the identification instruction.
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    return (d & bit_MMX) != 0;
}

void PxCenterWindow(HWND window)
{
    if (PxCenterWindowHook) {
        PxCenterWindowHook(window);
        return;
    }
    RECT r;
    if (!::GetWindowRect(window, &r))
        return;
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 3;
    ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOACTIVATE | SWP_NOSIZE | SWP_NOZORDER);
}

namespace {

void ApplyScrollInfo(HWND window, int bar, SCROLLINFO& info, bool redraw, bool flat)
{
    info.cbSize = sizeof(info);
    if (flat)
        ::FlatSB_SetScrollInfo(window, bar, &info, redraw);
    else
        ::SetScrollInfo(window, bar, &info, redraw);
}

}  // namespace

void PxSetScrollInfo(HWND window, int bar, int minimum, int maximum, int page, int position, bool redraw, bool flat)
{
    SCROLLINFO info{};
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = minimum;
    info.nMax = maximum;
    info.nPage = static_cast<UINT>(page);
    info.nPos = position;
    ApplyScrollInfo(window, bar, info, redraw, flat);
}

void PxSetScrollRange(HWND window, int bar, int minimum, int maximum, bool redraw, bool flat)
{
    SCROLLINFO info{};
    info.fMask = SIF_RANGE;
    info.nMin = minimum;
    info.nMax = maximum;
    ApplyScrollInfo(window, bar, info, redraw, flat);
}

void PxSetScrollPos(HWND window, int bar, int position, bool redraw, bool flat)
{
    SCROLLINFO info{};
    info.fMask = SIF_POS;
    info.nPos = position;
    ApplyScrollInfo(window, bar, info, redraw, flat);
}

void PxEnableScrollBar(HWND window, int bar, UINT arrows, bool flat)
{
    if (flat)
        ::FlatSB_EnableScrollBar(window, bar, arrows);
    else
        ::EnableScrollBar(window, static_cast<UINT>(bar), arrows);
}

void PxShowScrollBar(HWND window, int bar, bool show, bool flat)
{
    if (flat)
        ::FlatSB_ShowScrollBar(window, bar, show);
    else
        ::ShowScrollBar(window, bar, show);
}

}  // namespace imaging
