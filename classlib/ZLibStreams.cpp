#include "classlib/ZLibStreams.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>

namespace classlib {

namespace {

// The largest chunk handed to zlib at once (its counters are 32-bit).
constexpr int64_t kMaxZChunk = int64_t(1) << 30;

std::wstring ZMessage(const z_stream& z, int rc)
{
    const char* msg = z.msg;
    if (!msg) {
        switch (rc) {
        case Z_MEM_ERROR: msg = "insufficient memory"; break;
        case Z_STREAM_ERROR: msg = "stream error"; break;
        case Z_NEED_DICT: msg = "preset dictionary needed"; break;
        case Z_DATA_ERROR: msg = "data error"; break;
        default: msg = "error"; break;
        }
    }
    return std::wstring(msg, msg + std::char_traits<char>::length(msg));
}

[[noreturn]] void CompressionFailed(const z_stream& z, int rc)
{
    throw EZCompressionError(L"Compression error: " + ZMessage(z, rc));
}

[[noreturn]] void DecompressionFailed(const z_stream& z, int rc)
{
    throw EZDecompressionError(L"Invalid compressed data: " + ZMessage(z, rc));
}

[[noreturn]] void Truncated() { throw EZDecompressionError(L"Unexpected end of compressed data"); }

bool ValidLevel(int level) { return level >= Z_DEFAULT_COMPRESSION && level <= Z_BEST_COMPRESSION; }

}  // namespace

// ---------------------------------------------------------------------------
// TCustomZlibStream

TCustomZlibStream::TCustomZlibStream(TStream* Strm)
    : FStrm(Strm), FZ(std::make_unique<z_stream>()), FBuffer(kBufferSize)
{
}

TCustomZlibStream::~TCustomZlibStream() = default;

// ---------------------------------------------------------------------------
// TCompressionStream

TCompressionStream::TCompressionStream(int Level, TStream* Dest) : TCustomZlibStream(Dest)
{
    if (!ValidLevel(Level)) throw EZCompressionError(L"Invalid compression level");
    int rc = deflateInit(FZ.get(), Level);
    if (rc != Z_OK) CompressionFailed(*FZ, rc);
    FZ->next_out = FBuffer.data();
    FZ->avail_out = static_cast<uInt>(kBufferSize);
}

TCompressionStream::~TCompressionStream()
{
    try {
        Finish();
    } catch (...) {
        // A destructor cannot report; callers that must know call Finish.
    }
    deflateEnd(FZ.get());
}

void TCompressionStream::WriteOutput()
{
    size_t n = kBufferSize - FZ->avail_out;
    FZ->next_out = FBuffer.data();
    FZ->avail_out = static_cast<uInt>(kBufferSize);
    if (n > 0) FStrm->WriteBuffer(FBuffer.data(), static_cast<int64_t>(n));
}

int64_t TCompressionStream::Write(const void* Buffer, int64_t Count)
{
    if (FFinished) throw EZCompressionError(L"Invalid stream operation");
    if (Count <= 0) return 0;
    auto* p = static_cast<const unsigned char*>(Buffer);
    int64_t left = Count;
    while (left > 0) {
        auto chunk = static_cast<uInt>(std::min(left, kMaxZChunk));
        FZ->next_in = const_cast<Bytef*>(p);
        FZ->avail_in = chunk;
        while (FZ->avail_in > 0) {
            int rc = deflate(FZ.get(), Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_BUF_ERROR) CompressionFailed(*FZ, rc);
            if (FZ->avail_out == 0) WriteOutput();
        }
        p += chunk;
        left -= chunk;
        FIn += chunk;
    }
    return Count;
}

void TCompressionStream::Finish()
{
    if (FFinished) return;
    // Marked first: after a failure here the destructor must not write again.
    FFinished = true;
    FZ->next_in = nullptr;
    FZ->avail_in = 0;
    for (;;) {
        int rc = deflate(FZ.get(), Z_FINISH);
        if (rc == Z_STREAM_END) break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) CompressionFailed(*FZ, rc);
        WriteOutput();
    }
    WriteOutput();
}

int64_t TCompressionStream::Read(void*, int64_t) { throw EZCompressionError(L"Invalid stream operation"); }

int64_t TCompressionStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    if (Offset == 0 && Origin == soCurrent) return FIn;
    throw EZCompressionError(L"Invalid stream operation");
}

// ---------------------------------------------------------------------------
// TDecompressionStream

TDecompressionStream::TDecompressionStream(TStream* Source)
    : TCustomZlibStream(Source), FStart(Source->GetPosition())
{
    int rc = inflateInit(FZ.get());
    if (rc != Z_OK) DecompressionFailed(*FZ, rc);
}

TDecompressionStream::~TDecompressionStream() { inflateEnd(FZ.get()); }

// Refills the input buffer when it is empty; false when the source has no
// more bytes.
bool TDecompressionStream::Fill()
{
    if (FZ->avail_in > 0) return true;
    int64_t n = FStrm->Read(FBuffer.data(), static_cast<int64_t>(kBufferSize));
    if (n <= 0) return false;
    FZ->next_in = FBuffer.data();
    FZ->avail_in = static_cast<uInt>(n);
    return true;
}

// One inflate call. At the end of the compressed data the unused input is
// given back to the source.
int TDecompressionStream::Inflate()
{
    int rc = inflate(FZ.get(), Z_NO_FLUSH);
    switch (rc) {
    case Z_STREAM_END:
        if (FZ->avail_in > 0) {
            FStrm->Seek(-static_cast<int64_t>(FZ->avail_in), soCurrent);
            FZ->avail_in = 0;
        }
        FEnded = true;
        return rc;
    case Z_OK:
    case Z_BUF_ERROR:
        return rc;
    default:
        DecompressionFailed(*FZ, rc);
    }
}

// Called when the caller's buffer is full: lets zlib consume what needs no
// output (the end of the last block and the trailer), so that the end is
// found, the checksum verified and the source positioned as soon as the last
// byte has been read. Input that runs out here is no error yet.
void TDecompressionStream::Probe()
{
    unsigned char none;
    while (!FEnded) {
        FZ->next_out = &none;
        FZ->avail_out = 0;
        if (!Fill()) return;
        int rc = Inflate();
        if (rc == Z_BUF_ERROR || (!FEnded && FZ->avail_in > 0)) return;  // waits for output
    }
}

int64_t TDecompressionStream::Read(void* Buffer, int64_t Count)
{
    if (Count <= 0 || FEnded) return 0;
    auto* p = static_cast<unsigned char*>(Buffer);
    int64_t produced = 0;
    while (produced < Count && !FEnded) {
        auto chunk = static_cast<uInt>(std::min(Count - produced, kMaxZChunk));
        FZ->next_out = p + produced;
        FZ->avail_out = chunk;
        while (FZ->avail_out > 0 && !FEnded) {
            if (!Fill()) Truncated();
            Inflate();
        }
        produced += chunk - FZ->avail_out;
    }
    FOut += produced;
    Probe();
    return produced;
}

int64_t TDecompressionStream::Write(const void*, int64_t)
{
    throw EZDecompressionError(L"Invalid stream operation");
}

void TDecompressionStream::Restart()
{
    FStrm->Seek(FStart, soBeginning);
    int rc = inflateReset(FZ.get());
    if (rc != Z_OK) DecompressionFailed(*FZ, rc);
    FZ->next_in = nullptr;
    FZ->avail_in = 0;
    FOut = 0;
    FEnded = false;
}

int64_t TDecompressionStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    int64_t target;
    if (Origin == soBeginning)
        target = Offset;
    else if (Origin == soCurrent && !(Offset > 0 && FOut > std::numeric_limits<int64_t>::max() - Offset))
        target = FOut + Offset;
    else
        throw EZDecompressionError(L"Invalid stream operation");
    if (target < 0) throw EZDecompressionError(L"Invalid stream operation");
    if (target < FOut) Restart();
    std::vector<unsigned char> scratch;
    while (FOut < target && !FEnded) {
        scratch.resize(static_cast<size_t>(std::min<int64_t>(target - FOut, kBufferSize)));
        if (Read(scratch.data(), static_cast<int64_t>(scratch.size())) == 0) break;
    }
    return FOut;
}

// ---------------------------------------------------------------------------
// One-shot helpers

std::vector<unsigned char> ZCompress(const void* Data, size_t Size, int Level)
{
    if (!ValidLevel(Level)) throw EZCompressionError(L"Invalid compression level");
    z_stream z{};
    int rc = deflateInit(&z, Level);
    if (rc != Z_OK) CompressionFailed(z, rc);
    std::vector<unsigned char> out;
    try {
        auto* p = static_cast<const unsigned char*>(Data);
        size_t left = Size;
        out.resize(std::min<size_t>(deflateBound(&z, static_cast<uLong>(std::min<size_t>(Size, kMaxZChunk))),
                                    static_cast<size_t>(kMaxZChunk)) + 64);
        size_t used = 0;
        for (;;) {
            size_t chunk = std::min<size_t>(left, kMaxZChunk);
            z.next_in = const_cast<Bytef*>(p);
            z.avail_in = static_cast<uInt>(chunk);
            int flush = chunk == left ? Z_FINISH : Z_NO_FLUSH;
            do {
                if (used == out.size()) out.resize(out.size() + out.size() / 2 + 4096);
                size_t room = std::min<size_t>(out.size() - used, kMaxZChunk);
                z.next_out = out.data() + used;
                z.avail_out = static_cast<uInt>(room);
                rc = deflate(&z, flush);
                used += room - z.avail_out;
                if (rc != Z_OK && rc != Z_BUF_ERROR && rc != Z_STREAM_END) CompressionFailed(z, rc);
            } while (rc != Z_STREAM_END && (z.avail_in > 0 || flush == Z_FINISH));
            p += chunk;
            left -= chunk;
            if (rc == Z_STREAM_END) break;
        }
        out.resize(used);
    } catch (const std::bad_alloc&) {
        deflateEnd(&z);
        throw EOutOfMemory(L"Out of memory");
    } catch (...) {
        deflateEnd(&z);
        throw;
    }
    deflateEnd(&z);
    return out;
}

std::vector<unsigned char> ZCompress(const std::vector<unsigned char>& Data, int Level)
{
    return ZCompress(Data.data(), Data.size(), Level);
}

std::vector<unsigned char> ZDecompress(const void* Data, size_t Size)
{
    z_stream z{};
    int rc = inflateInit(&z);
    if (rc != Z_OK) DecompressionFailed(z, rc);
    std::vector<unsigned char> out;
    try {
        auto* p = static_cast<const unsigned char*>(Data);
        size_t left = Size;
        size_t used = 0;
        out.resize(std::min<size_t>(Size, kMaxZChunk) * 2 + 4096);
        rc = Z_OK;
        while (rc != Z_STREAM_END) {
            if (z.avail_in == 0) {
                if (left == 0) Truncated();
                size_t chunk = std::min<size_t>(left, kMaxZChunk);
                z.next_in = const_cast<Bytef*>(p);
                z.avail_in = static_cast<uInt>(chunk);
                p += chunk;
                left -= chunk;
            }
            if (used == out.size()) out.resize(out.size() + out.size() / 2);
            size_t room = std::min<size_t>(out.size() - used, kMaxZChunk);
            z.next_out = out.data() + used;
            z.avail_out = static_cast<uInt>(room);
            rc = inflate(&z, Z_NO_FLUSH);
            used += room - z.avail_out;
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) DecompressionFailed(z, rc);
        }
        out.resize(used);
    } catch (const std::bad_alloc&) {
        inflateEnd(&z);
        throw EOutOfMemory(L"Out of memory");
    } catch (...) {
        inflateEnd(&z);
        throw;
    }
    inflateEnd(&z);
    return out;
}

std::vector<unsigned char> ZDecompress(const std::vector<unsigned char>& Data)
{
    return ZDecompress(Data.data(), Data.size());
}

}  // namespace classlib
