#include "classlib/Streams.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "classlib/SysUtils.h"

namespace classlib {

namespace {

constexpr int64_t kMaxInt64 = std::numeric_limits<int64_t>::max();
// The largest single ReadFile/WriteFile request.
constexpr int64_t kMaxIoChunk = int64_t(1) << 30;

// The target of a seek in a stream whose position and size are known. Raises
// EStreamError for a negative or unrepresentable target.
int64_t SeekTarget(int64_t position, int64_t size, int64_t offset, TSeekOrigin origin)
{
    int64_t base;
    switch (origin) {
    case soBeginning: base = 0; break;
    case soCurrent: base = position; break;
    case soEnd: base = size; break;
    default: throw EStreamError(L"Stream seek error");
    }
    if (offset > 0 && base > kMaxInt64 - offset) throw EStreamError(L"Stream seek error");
    int64_t target = base + offset;
    if (target < 0) throw EStreamError(L"Stream seek error");
    return target;
}

}  // namespace

// ---------------------------------------------------------------------------
// THandleStream

int64_t THandleStream::Read(void* Buffer, int64_t Count)
{
    if (Count <= 0) return 0;
    auto* p = static_cast<unsigned char*>(Buffer);
    int64_t done = 0;
    while (done < Count) {
        DWORD want = static_cast<DWORD>(std::min(Count - done, kMaxIoChunk));
        DWORD got = 0;
        if (!::ReadFile(FHandle, p + done, want, &got, nullptr)) {
            DWORD err = ::GetLastError();
            if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF || done > 0) break;
            throw EReadError(L"Stream read error. " + SysErrorMessage(err));
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

int64_t THandleStream::Write(const void* Buffer, int64_t Count)
{
    if (Count <= 0) return 0;
    auto* p = static_cast<const unsigned char*>(Buffer);
    int64_t done = 0;
    while (done < Count) {
        DWORD want = static_cast<DWORD>(std::min(Count - done, kMaxIoChunk));
        DWORD put = 0;
        if (!::WriteFile(FHandle, p + done, want, &put, nullptr)) {
            DWORD err = ::GetLastError();
            if (done > 0) break;
            throw EWriteError(L"Stream write error. " + SysErrorMessage(err));
        }
        if (put == 0) break;
        done += put;
    }
    return done;
}

int64_t THandleStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    DWORD method;
    switch (Origin) {
    case soBeginning: method = FILE_BEGIN; break;
    case soCurrent: method = FILE_CURRENT; break;
    case soEnd: method = FILE_END; break;
    default: throw EStreamError(L"Stream seek error");
    }
    // The system rejects a negative target and leaves the position unchanged.
    LARGE_INTEGER distance, result;
    distance.QuadPart = Offset;
    if (!::SetFilePointerEx(FHandle, distance, &result, method))
        throw EStreamError(L"Stream seek error. " + SysErrorMessage(::GetLastError()));
    return result.QuadPart;
}

int64_t THandleStream::GetSize()
{
    LARGE_INTEGER size;
    if (::GetFileSizeEx(FHandle, &size)) return size.QuadPart;
    return TStream::GetSize();
}

void THandleStream::SetSize(int64_t NewSize)
{
    int64_t pos = Seek(0, soCurrent);
    Seek(NewSize, soBeginning);
    if (!::SetEndOfFile(FHandle)) {
        DWORD err = ::GetLastError();
        Seek(pos, soBeginning);
        RaiseLastOSError(err);
    }
    if (pos < NewSize) Seek(pos, soBeginning);
}

// ---------------------------------------------------------------------------
// TFileStream

TFileStream::TFileStream(const std::wstring& AFileName, unsigned Mode) : FFileName(AFileName)
{
    if ((Mode & 0xFFFF) == fmCreate) {
        FHandle = ::CreateFileW(AFileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (FHandle == INVALID_HANDLE_VALUE) {
            DWORD err = ::GetLastError();
            throw EFCreateError(L"Cannot create file \"" + ExpandFileName(AFileName) + L"\". " +
                                SysErrorMessage(err));
        }
        return;
    }
    static const DWORD kAccess[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
    static const DWORD kShare[] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE};
    unsigned access = Mode & 0x3;
    unsigned share = (Mode & 0xF0) >> 4;
    DWORD err = ERROR_INVALID_PARAMETER;
    if (access <= 2 && share <= 4) {
        FHandle = ::CreateFileW(AFileName.c_str(), kAccess[access], kShare[share], nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (FHandle != INVALID_HANDLE_VALUE) return;
        err = ::GetLastError();
    }
    throw EFOpenError(L"Cannot open file \"" + ExpandFileName(AFileName) + L"\". " + SysErrorMessage(err));
}

TFileStream::~TFileStream()
{
    if (FHandle != INVALID_HANDLE_VALUE) ::CloseHandle(FHandle);
}

// ---------------------------------------------------------------------------
// TCustomMemoryStream

int64_t TCustomMemoryStream::Read(void* Buffer, int64_t Count)
{
    if (Count <= 0 || FPosition >= FSize) return 0;
    int64_t n = std::min(Count, FSize - FPosition);
    std::memcpy(Buffer, FMemory + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TCustomMemoryStream::Write(const void*, int64_t) { return 0; }

int64_t TCustomMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    FPosition = SeekTarget(FPosition, FSize, Offset, Origin);
    return FPosition;
}

void TCustomMemoryStream::SaveToStream(TStream* Stream)
{
    if (FSize > 0) Stream->WriteBuffer(FMemory, FSize);
}

void TCustomMemoryStream::SaveToFile(const std::wstring& FileName)
{
    TFileStream file(FileName, fmCreate);
    SaveToStream(&file);
}

void TCustomMemoryStream::SetPointer(void* Ptr, int64_t Size)
{
    FMemory = static_cast<unsigned char*>(Ptr);
    FSize = Size;
}

// ---------------------------------------------------------------------------
// TMemoryStream

TMemoryStream::~TMemoryStream() { std::free(GetMemory()); }

void TMemoryStream::SetCapacity(int64_t NewCapacity)
{
    int64_t size = GetSize();
    NewCapacity = std::max(NewCapacity, size);
    if (NewCapacity == FCapacity) return;
    void* mem = nullptr;
    if (NewCapacity > 0) {
        mem = std::realloc(GetMemory(), static_cast<size_t>(NewCapacity));
        if (!mem) throw EOutOfMemory(L"Out of memory");
    } else {
        std::free(GetMemory());
    }
    SetPointer(mem, size);
    FCapacity = NewCapacity;
}

void TMemoryStream::GrowFor(int64_t Needed)
{
    if (Needed <= FCapacity) return;
    int64_t grown = FCapacity + FCapacity / 4;
    int64_t target = std::max(Needed, grown);
    constexpr int64_t kStep = 8192;
    if (target <= kMaxInt64 - (kStep - 1)) target = (target + kStep - 1) & ~(kStep - 1);
    try {
        SetCapacity(target);
    } catch (const EOutOfMemory&) {
        if (target == Needed) throw;
        SetCapacity(Needed);  // the rounded step did not fit; try the bare need
    }
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count)
{
    if (Count <= 0 || FPosition > kMaxInt64 - Count) return 0;
    int64_t end = FPosition + Count;
    int64_t size = GetSize();
    const auto* src = static_cast<const unsigned char*>(Buffer);
    if (end > size) {
        // The source may lie inside our own block, which growing can move.
        auto* oldMem = static_cast<unsigned char*>(GetMemory());
        bool inside = oldMem && src >= oldMem && src < oldMem + FCapacity;
        size_t srcOffset = inside ? static_cast<size_t>(src - oldMem) : 0;
        GrowFor(end);
        auto* mem = static_cast<unsigned char*>(GetMemory());
        if (inside) src = mem + srcOffset;
        if (FPosition > size) std::memset(mem + size, 0, static_cast<size_t>(FPosition - size));
        SetPointer(mem, end);
    }
    std::memmove(static_cast<unsigned char*>(GetMemory()) + FPosition, src,
                 static_cast<size_t>(Count));
    FPosition = end;
    return Count;
}

void TMemoryStream::SetSize(int64_t NewSize)
{
    if (NewSize < 0) throw EStreamError(L"Invalid stream size");
    int64_t size = GetSize();
    if (NewSize > FCapacity) SetCapacity(NewSize);
    auto* mem = static_cast<unsigned char*>(GetMemory());
    if (NewSize > size) std::memset(mem + size, 0, static_cast<size_t>(NewSize - size));
    SetPointer(mem, NewSize);
    if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear()
{
    SetPointer(GetMemory(), 0);
    SetCapacity(0);
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* Stream)
{
    Stream->SetPosition(0);
    int64_t count = Stream->GetSize();
    SetSize(count);
    FPosition = 0;
    if (count > 0) Stream->ReadBuffer(GetMemory(), count);
}

void TMemoryStream::LoadFromFile(const std::wstring& FileName)
{
    TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&file);
}

// ---------------------------------------------------------------------------
// TStringStream

static_assert(sizeof(wchar_t) == 2, "UTF-16 wchar_t expected");

TStringStream::TStringStream(const std::wstring& Text) : FBytes(Text.size() * 2, '\0')
{
    if (!Text.empty()) std::memcpy(FBytes.data(), Text.data(), FBytes.size());
}

int64_t TStringStream::Read(void* Buffer, int64_t Count)
{
    int64_t size = GetSize();
    if (Count <= 0 || FPosition >= size) return 0;
    int64_t n = std::min(Count, size - FPosition);
    std::memcpy(Buffer, FBytes.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TStringStream::Write(const void* Buffer, int64_t Count)
{
    if (Count <= 0 || FPosition > kMaxInt64 - Count) return 0;
    int64_t end = FPosition + Count;
    const char* src = static_cast<const char*>(Buffer);
    std::string copy;
    if (end > GetSize()) {
        // The source may lie inside our own bytes, which growing can move.
        if (!FBytes.empty() && src >= FBytes.data() && src < FBytes.data() + FBytes.size()) {
            copy.assign(src, static_cast<size_t>(Count));
            src = copy.data();
        }
        SetSize(end);
    }
    std::memmove(FBytes.data() + FPosition, src, static_cast<size_t>(Count));
    FPosition = end;
    return Count;
}

int64_t TStringStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    FPosition = SeekTarget(FPosition, GetSize(), Offset, Origin);
    return FPosition;
}

void TStringStream::SetSize(int64_t NewSize)
{
    if (NewSize < 0) throw EStreamError(L"Invalid stream size");
    try {
        FBytes.resize(static_cast<size_t>(NewSize), '\0');
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(L"Out of memory");
    } catch (const std::length_error&) {
        throw EOutOfMemory(L"Out of memory");
    }
    if (FPosition > NewSize) FPosition = NewSize;
}

std::wstring TStringStream::GetDataString() const
{
    std::wstring text(FBytes.size() / 2, L'\0');
    if (!text.empty()) std::memcpy(text.data(), FBytes.data(), text.size() * 2);
    return text;
}

}  // namespace classlib
