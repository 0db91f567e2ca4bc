// Temporary-file backing of large images.
//
// TPxFileBuffer owns one backing stream: a temporary file that the system
// deletes when it is closed (TPxTemporaryFileStream) or, when asked, a memory
// stream. Callers never touch the stream: they map a byte range into a heap
// buffer (Map), work on the buffer and unmap it (Unmap); the buffer is
// written back when it was mapped with the write bit. Any number of blocks
// may be mapped at once, overlapping ones included; each is written back on
// its own, in unmapping order.
//
// Threads: one thread uses a buffer at a time; no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Streams.h"

namespace imaging {

// A file created for this stream alone: read/write, not shared, always new
// and empty, temporary and deleted by the system when the handle is closed
// (also when the process ends without closing it).
class TPxTemporaryFileStream : public classlib::THandleStream {
public:
    // Raises classlib::EInOutError "Unable to create <name>" on failure.
    explicit TPxTemporaryFileStream(const std::wstring& FileName);
    ~TPxTemporaryFileStream() override;
    TPxTemporaryFileStream(const TPxTemporaryFileStream&) = delete;
    TPxTemporaryFileStream& operator=(const TPxTemporaryFileStream&) = delete;
    std::wstring ClassName() const override { return L"TPxTemporaryFileStream"; }
};

class TPxFileBuffer : public classlib::TObject {
public:
    TPxFileBuffer() = default;
    ~TPxFileBuffer() override;
    TPxFileBuffer(const TPxFileBuffer&) = delete;
    TPxFileBuffer& operator=(const TPxFileBuffer&) = delete;
    std::wstring ClassName() const override { return L"TPxFileBuffer"; }

    bool IsAllocated() const { return stream_ != nullptr; }
    // The full path of the temporary file (also drawn for a memory stream,
    // where no file is made).
    const std::wstring& GetFileName() const { return fileName_; }

    // Replaces any previous stream by a new temporary file named
    // <folder><Prefix>-XXXXXXXX.tmp (UseFile) or a memory stream, of Size
    // bytes. The folder is PxTempFolder, else the system's temporary folder.
    // False when the file cannot be created or the size cannot be reserved;
    // a stream created before a failing size change stays attached.
    bool AllocateFile(const std::wstring& Prefix, bool UseFile, int64_t Size);
    // Sets the stream's size (nothing without a stream).
    void SetSize(int64_t Size);
    // Copies Size bytes from Offset into the same offsets of Target's stream
    // in chunks of 1 MiB, after both have unmapped all blocks. Nothing unless
    // both have a stream.
    void CopyTo(TPxFileBuffer* Target, int64_t Size, int64_t Offset);

    // A new heap buffer of Size bytes holding the stream's bytes at Offset
    // when Access has the read bit (1); otherwise its content is undefined.
    // A read past the end leaves the rest undefined. Raises
    // classlib::EOutOfMemory when the heap cannot supply the buffer.
    uint8_t* Map(uint8_t Access, int64_t Size, int64_t Offset);
    // Ends the mapping of a buffer of Map, writing it back when it was mapped
    // with the write bit (2). An address never mapped raises
    // classlib::EListError.
    void Unmap(void* Buffer);
    // Unmaps every block, last first.
    void UnmapAll();
    // Index of the block whose buffer is Buffer, or -1.
    int FindMapped(const void* Buffer) const;
    int GetMappedCount() const { return static_cast<int>(blocks_.size()); }
    // Unmaps everything (written blocks reach the stream), frees the stream
    // (a temporary file disappears) and deletes the file name as well.
    void FreeFile();

private:
    struct TMappedBlock {
        int64_t Offset;
        int64_t Size;
        uint8_t* Buffer;
        uint8_t Access;
    };

    std::wstring fileName_;
    std::vector<TMappedBlock> blocks_;
    std::unique_ptr<classlib::TStream> stream_;
};

}  // namespace imaging
