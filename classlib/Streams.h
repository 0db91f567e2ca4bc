// Concrete byte streams: Win32 handles and files, memory blocks and byte
// strings. The abstract TStream is in Stream.h; zlib streams are in
// ZLibStreams.h.
//
// Seek rules shared by every stream here:
// - soBeginning: target = Offset; soCurrent: Position + Offset;
//   soEnd: Size + Offset.
// - A target past the end is allowed. Reading there returns 0; a later write
//   extends the stream, and the gap reads back as zero bytes.
// - A negative target is rejected: EStreamError is raised and the position
//   does not change.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/Stream.h"

namespace classlib {

// File open modes. The access is in bits 0-1, the sharing in bits 4-7.
// fmCreate creates the file (or empties an existing one) for reading and
// writing without sharing; it has every bit of the low word set, so a share
// flag or-ed into it changes nothing.
enum : unsigned {
    fmCreate = 0xFFFF,
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
};

// A stream over a Win32 file HANDLE (passed as void*, which HANDLE is). The
// handle is borrowed: this class never closes it. 64-bit positions.
// Read and Write raise EReadError / EWriteError with the system's message when
// the system call fails before any byte was transferred (end of file is not a
// failure: Read returns 0). Seek failures raise EStreamError; SetSize failures
// raise EOSError.
class THandleStream : public TStream {
public:
    explicit THandleStream(void* AHandle) : FHandle(AHandle) {}
    std::wstring ClassName() const override { return L"THandleStream"; }

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t GetSize() override;
    // Cuts or extends the file (SetEndOfFile). The position is kept, or moved
    // to NewSize when it was beyond it.
    void SetSize(int64_t NewSize) override;

    void* GetHandle() const { return FHandle; }

protected:
    THandleStream() = default;
    // INVALID_HANDLE_VALUE until a derived constructor sets it.
    void* FHandle = reinterpret_cast<void*>(static_cast<intptr_t>(-1));
};

// A stream over a file named by a wide path. Owns and closes its handle.
// Failures raise EFCreateError "Cannot create file \"<full path>\". <system
// message>" (fmCreate) or EFOpenError "Cannot open file \"<full path>\".
// <system message>" (any other mode; an access of 3 or a share field above 4
// is an invalid mode and fails without touching the file).
class TFileStream : public THandleStream {
public:
    TFileStream(const std::wstring& AFileName, unsigned Mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;
    std::wstring ClassName() const override { return L"TFileStream"; }

    // The name as passed to the constructor.
    const std::wstring& GetFileName() const { return FFileName; }

private:
    std::wstring FFileName;
};

// A stream over a contiguous memory block. The block is set by derived
// classes through SetPointer; this class neither allocates nor frees it.
// Over foreign memory the stream is read-only: Write writes nothing and
// returns 0, and SetSize raises EStreamError.
class TCustomMemoryStream : public TStream {
public:
    std::wstring ClassName() const override { return L"TCustomMemoryStream"; }

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t GetSize() override { return FSize; }

    void* GetMemory() const { return FMemory; }
    // Writes the whole block (whatever the position) to Stream.
    void SaveToStream(TStream* Stream);
    // Creates (or empties) the file and writes the whole block to it.
    void SaveToFile(const std::wstring& FileName);

protected:
    // Points the stream at Size bytes at Ptr; the position is unchanged.
    void SetPointer(void* Ptr, int64_t Size);
    int64_t FPosition = 0;

private:
    unsigned char* FMemory = nullptr;
    int64_t FSize = 0;
};

// A memory stream that owns a growable block. Writing past the end grows the
// block (capacity in steps of at least a quarter of the current capacity,
// rounded up to 8 KiB); new bytes between the old end and a write or SetSize
// are zero. Allocation failures raise EOutOfMemory and leave the stream
// unchanged.
class TMemoryStream : public TCustomMemoryStream {
public:
    TMemoryStream() = default;
    ~TMemoryStream() override;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;
    std::wstring ClassName() const override { return L"TMemoryStream"; }

    int64_t Write(const void* Buffer, int64_t Count) override;
    // Sets the size; the position is kept, or moved to NewSize when it was
    // beyond it. A negative size raises EStreamError.
    void SetSize(int64_t NewSize) override;
    // Frees the block: size and position 0.
    void Clear();
    // Replaces the content with the whole of Stream (read from its position 0);
    // the position becomes 0.
    void LoadFromStream(TStream* Stream);
    // Replaces the content with the file's bytes (opened read-only, others may
    // read); the position becomes 0.
    void LoadFromFile(const std::wstring& FileName);

protected:
    int64_t GetCapacity() const { return FCapacity; }
    // Reallocates the block to exactly NewCapacity bytes (at least the size).
    void SetCapacity(int64_t NewCapacity);

private:
    void GrowFor(int64_t Needed);
    int64_t FCapacity = 0;
};

// A stream over a byte string that it owns. The bytes are whatever was
// written; text given as std::wstring is stored as its UTF-16 little-endian
// code units (2 bytes per wchar_t), and GetDataString reads the bytes back
// the same way. Same seek rules as the memory streams; SetSize resizes the
// string (new bytes are zero).
class TStringStream : public TStream {
public:
    TStringStream() = default;
    explicit TStringStream(std::string Bytes) : FBytes(std::move(Bytes)) {}
    // The stream holds Text as UTF-16 bytes.
    explicit TStringStream(const std::wstring& Text);
    std::wstring ClassName() const override { return L"TStringStream"; }

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t GetSize() override { return static_cast<int64_t>(FBytes.size()); }
    void SetSize(int64_t NewSize) override;

    // All bytes of the stream.
    const std::string& GetBytes() const { return FBytes; }
    // All bytes read as UTF-16 code units; an odd last byte is ignored.
    std::wstring GetDataString() const;

private:
    std::string FBytes;
    int64_t FPosition = 0;
};

}  // namespace classlib
