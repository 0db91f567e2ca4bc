#include "imaging/model/PxFileBuffer.h"

#include <windows.h>

#include <algorithm>
#include <exception>

#include "classlib/Exceptions.h"
#include "classlib/ScopeGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

constexpr int64_t kCopyChunk = 1048576;

std::wstring TempFolder()
{
    if (!PxTempFolder.empty())
        return PxTempFolder;
    wchar_t buffer[250];
    const DWORD n = GetTempPathW(250, buffer);
    if (n == 0 || n >= 250)
        return std::wstring();
    return std::wstring(buffer, n);
}

// A zero-filled process-heap block freed on scope exit unless released.
// Zero-filled: a block mapped for writing only is written back whole, so
// bytes the caller leaves alone (the padding bits of a row) must not carry
// whatever the heap held before.
struct THeapBlock {
    explicit THeapBlock(int64_t size)
        : p(size >= 0 && static_cast<uint64_t>(size) <= SIZE_MAX
                ? static_cast<uint8_t*>(
                      HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, static_cast<SIZE_T>(size ? size : 1)))
                : nullptr)
    {
    }
    ~THeapBlock()
    {
        if (p)
            HeapFree(GetProcessHeap(), 0, p);
    }
    uint8_t* release()
    {
        uint8_t* q = p;
        p = nullptr;
        return q;
    }
    THeapBlock(const THeapBlock&) = delete;
    THeapBlock& operator=(const THeapBlock&) = delete;
    uint8_t* p;
};

}  // namespace

// ---------------------------------------------------------------------------

TPxTemporaryFileStream::TPxTemporaryFileStream(const std::wstring& FileName)
{
    // CREATE_NEW: a name that another process took since it was chosen must
    // fail rather than truncate that process's file.
    HANDLE h = CreateFileW(FileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        classlib::EInOutError failure(L"Unable to create " + FileName);
        SetLastError(error);  // callers tell a taken name from other failures
        throw failure;
    }
    FHandle = h;
}

TPxTemporaryFileStream::~TPxTemporaryFileStream()
{
    if (FHandle != INVALID_HANDLE_VALUE && FHandle != nullptr)
        CloseHandle(FHandle);
}

// ---------------------------------------------------------------------------

TPxFileBuffer::~TPxFileBuffer()
{
    try {
        FreeFile();
    } catch (...) {
        // A failed write-back at destruction has no one to report to.
    }
}

bool TPxFileBuffer::AllocateFile(const std::wstring& Prefix, bool UseFile, int64_t Size)
{
    if (stream_)
        FreeFile();
    bool result = false;
    try {
        fileName_ = PxGetTempFileNameIn(Prefix, TempFolder());
        if (UseFile) {
            // Names are free when chosen, but several processes draw them
            // from the same sequence: take the next name when one was taken.
            for (int attempt = 0;; ++attempt) {
                try {
                    stream_ = std::make_unique<TPxTemporaryFileStream>(fileName_);
                    break;
                } catch (const classlib::EInOutError&) {
                    const DWORD error = GetLastError();
                    if (attempt >= 100 || (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS &&
                                           error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED))
                        throw;
                    fileName_ = PxGetTempFileNameIn(Prefix, TempFolder());
                }
            }
        } else {
            stream_ = std::make_unique<classlib::TMemoryStream>();
        }
        stream_->SetSize(Size);
        result = true;
    } catch (...) {
        result = false;
    }
    return result;
}

void TPxFileBuffer::SetSize(int64_t Size)
{
    if (stream_)
        stream_->SetSize(Size);
}

void TPxFileBuffer::CopyTo(TPxFileBuffer* Target, int64_t Size, int64_t Offset)
{
    if (!Target || Target == this || !stream_ || !Target->stream_)
        return;
    UnmapAll();
    Target->UnmapAll();
    stream_->Seek(Offset, classlib::soBeginning);
    Target->stream_->Seek(Offset, classlib::soBeginning);
    std::vector<uint8_t> chunk(static_cast<size_t>(kCopyChunk));
    int64_t remaining = Size;
    while (remaining > 0) {
        const int64_t n = std::min(remaining, kCopyChunk);
        stream_->ReadBuffer(chunk.data(), n);
        Target->stream_->WriteBuffer(chunk.data(), n);
        remaining -= n;
    }
}

uint8_t* TPxFileBuffer::Map(uint8_t Access, int64_t Size, int64_t Offset)
{
    THeapBlock buffer(Size);
    if (!buffer.p)
        throw classlib::EOutOfMemory(L"Out of memory");
    if (stream_ && (Access & 1) && Size > 0) {
        stream_->Seek(Offset, classlib::soBeginning);
        stream_->Read(buffer.p, Size);
    }
    blocks_.push_back(TMappedBlock{Offset, Size, buffer.p, Access});
    return buffer.release();
}

void TPxFileBuffer::Unmap(void* Buffer)
{
    const int index = FindMapped(Buffer);
    if (index < 0)
        throw classlib::EListError(L"List index out of bounds (-1)");
    const TMappedBlock block = blocks_[static_cast<size_t>(index)];
    blocks_.erase(blocks_.begin() + index);
    // The buffer goes back to the heap even when the write-back fails.
    classlib::TOnExit freeOnExit([p = block.Buffer] { HeapFree(GetProcessHeap(), 0, p); });
    if (stream_ && (block.Access & 2) && block.Size > 0) {
        stream_->Seek(block.Offset, classlib::soBeginning);
        stream_->WriteBuffer(block.Buffer, block.Size);
    }
}

void TPxFileBuffer::UnmapAll()
{
    while (!blocks_.empty())
        Unmap(blocks_.back().Buffer);
}

int TPxFileBuffer::FindMapped(const void* Buffer) const
{
    for (size_t i = 0; i < blocks_.size(); ++i)
        if (blocks_[i].Buffer == Buffer)
            return static_cast<int>(i);
    return -1;
}

void TPxFileBuffer::FreeFile()
{
    if (!stream_)
        return;
    // Every block is unmapped and the file goes even when a write-back
    // fails; the first failure is reported afterwards.
    std::exception_ptr failure;
    while (!blocks_.empty()) {
        try {
            Unmap(blocks_.back().Buffer);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    stream_.reset();
    DeleteFileW(fileName_.c_str());
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace imaging
