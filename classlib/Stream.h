// The abstract byte stream. Concrete streams (files, handles, memory, strings,
// zlib) live in Streams.h.
#pragma once

#include <cstdint>

#include "classlib/Persistent.h"

namespace classlib {

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream : public TObject {
public:
    std::wstring ClassName() const override { return L"TStream"; }

    // Reads up to Count bytes; returns how many were read (0 at the end).
    virtual int64_t Read(void* Buffer, int64_t Count) = 0;
    // Writes up to Count bytes; returns how many were written.
    virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
    // Moves the position; soEnd means Size + Offset. Returns the new position.
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;

    // Read/Write exactly Count bytes or raise EReadError "Stream read error" /
    // EWriteError "Stream write error".
    void ReadBuffer(void* Buffer, int64_t Count);
    void WriteBuffer(const void* Buffer, int64_t Count);

    int64_t GetPosition() { return Seek(0, soCurrent); }
    void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }
    virtual int64_t GetSize();
    virtual void SetSize(int64_t NewSize);

    // Copies Count bytes from Source at its position (Count 0: the whole of
    // Source from its beginning). Returns the number of bytes copied.
    int64_t CopyFrom(TStream* Source, int64_t Count);
};

}  // namespace classlib
