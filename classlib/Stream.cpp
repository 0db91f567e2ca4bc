#include "classlib/Stream.h"

#include <algorithm>
#include <vector>

namespace classlib {

void TStream::ReadBuffer(void* Buffer, int64_t Count)
{
    if (Count > 0 && Read(Buffer, Count) != Count) throw EReadError(L"Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count)
{
    if (Count > 0 && Write(Buffer, Count) != Count) throw EWriteError(L"Stream write error");
}

int64_t TStream::GetSize()
{
    int64_t pos = Seek(0, soCurrent);
    int64_t size = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return size;
}

void TStream::SetSize(int64_t) { throw EStreamError(L"Stream size cannot be changed"); }

int64_t TStream::CopyFrom(TStream* Source, int64_t Count)
{
    if (Count == 0) {
        Source->SetPosition(0);
        Count = Source->GetSize();
    }
    if (Count < 0) return 0;  // nothing to copy (and no buffer of a negative size)
    const int64_t kChunk = 0xF000;
    std::vector<unsigned char> buf(static_cast<size_t>(std::min(Count, kChunk)));
    int64_t left = Count;
    while (left > 0) {
        int64_t n = std::min(left, kChunk);
        Source->ReadBuffer(buf.data(), n);
        WriteBuffer(buf.data(), n);
        left -= n;
    }
    return Count;
}

}  // namespace classlib
