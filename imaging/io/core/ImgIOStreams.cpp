#include "imaging/io/core/ImgIOStreams.h"

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

}  // namespace imaging
