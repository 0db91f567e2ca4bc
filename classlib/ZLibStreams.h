// zlib (RFC 1950: header, deflate data, Adler-32 trailer) compression and
// decompression streams over another stream, and one-shot helpers over byte
// vectors. Failures raise EZCompressionError / EZDecompressionError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/Stream.h"

struct z_stream_s;

namespace classlib {

// Compression levels: the named ones, or any number 0 (stored) to 9 (best).
enum TCompressionLevel : int { zcNone = 0, zcFastest = 1, zcDefault = -1, zcMax = 9 };

// Common part: the other stream (borrowed, must outlive this one), the zlib
// state and a 64 KiB buffer.
class TCustomZlibStream : public TStream {
public:
    ~TCustomZlibStream() override;
    TCustomZlibStream(const TCustomZlibStream&) = delete;
    TCustomZlibStream& operator=(const TCustomZlibStream&) = delete;

protected:
    explicit TCustomZlibStream(TStream* Strm);
    static constexpr size_t kBufferSize = 0x10000;
    TStream* FStrm;
    std::unique_ptr<z_stream_s> FZ;
    std::vector<unsigned char> FBuffer;
};

// Compresses everything written to it into Dest (at Dest's position).
// Finish writes the rest of the compressed data; the destructor calls it when
// it has not run, but cannot report a failure then, so callers that must know
// call Finish themselves. Reading, and seeking other than Seek(0, soCurrent)
// (which returns the count of uncompressed bytes written), raise
// EZCompressionError.
class TCompressionStream : public TCustomZlibStream {
public:
    // Level: a TCompressionLevel or 0 ... 9; anything else raises
    // EZCompressionError.
    TCompressionStream(int Level, TStream* Dest);
    ~TCompressionStream() override;
    std::wstring ClassName() const override { return L"TCompressionStream"; }

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    // Ends the compressed data and writes it out; later writes raise.
    void Finish();

private:
    void WriteOutput();
    int64_t FIn = 0;
    bool FFinished = false;
};

// Decompresses zlib data read from Source, starting at Source's position at
// construction. It never keeps input beyond the end of the compressed data:
// once the end is reached (which happens as soon as the last decompressed
// byte has been read), unused input is given back by seeking Source, so its
// position is right after the compressed data; further reads return 0.
// Source must therefore be seekable. Damaged data, or data that ends early,
// raise EZDecompressionError.
// Seek: soCurrent 0 gives the count of decompressed bytes read; a forward
// target is reached by decompressing and discarding (stopping at the end of
// the data); a backward target restarts from the beginning of the compressed
// data. soEnd and writing raise
// EZDecompressionError.
class TDecompressionStream : public TCustomZlibStream {
public:
    explicit TDecompressionStream(TStream* Source);
    ~TDecompressionStream() override;
    std::wstring ClassName() const override { return L"TDecompressionStream"; }

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

private:
    bool Fill();
    int Inflate();
    void Probe();
    void Restart();
    int64_t FStart;
    int64_t FOut = 0;
    bool FEnded = false;
};

// Compresses Size bytes at Data into a complete zlib stream.
std::vector<unsigned char> ZCompress(const void* Data, size_t Size, int Level = zcDefault);
std::vector<unsigned char> ZCompress(const std::vector<unsigned char>& Data, int Level = zcDefault);
// Decompresses one complete zlib stream; bytes after its end are ignored.
std::vector<unsigned char> ZDecompress(const void* Data, size_t Size);
std::vector<unsigned char> ZDecompress(const std::vector<unsigned char>& Data);

}  // namespace classlib
