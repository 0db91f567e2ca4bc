#include "imaging/io/core/ImgIOStreams.h"

#include "classlib/ZLibStreams.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

std::unique_ptr<classlib::TStream> PxIOBufferedReader(classlib::TStream* Source, bool Relative, int32_t BufferSize)
{
    return std::make_unique<TPxBufferedReadStream>(Source, Relative, BufferSize);
}

std::unique_ptr<classlib::TStream> PxIOMemoryView(const void* Buffer, int64_t Count)
{
    return std::make_unique<TPxMemStream>(Buffer, Count);
}

std::vector<uint8_t> PxIOInflate(const uint8_t* Data, int64_t Size, int64_t Limit)
{
    std::vector<uint8_t> out;
    if (!Data || Size <= 0 || Limit <= 0)
        return out;
    std::unique_ptr<classlib::TStream> source = PxIOMemoryView(Data, Size);
    classlib::TDecompressionStream inflater(source.get());
    out.resize(static_cast<size_t>(Limit));
    int64_t got = 0;
    while (got < Limit) {
        const int64_t n = inflater.Read(out.data() + got, Limit - got);
        if (n <= 0)
            break;
        got += n;
    }
    out.resize(static_cast<size_t>(got));
    return out;
}

}  // namespace imaging
