#include "imaging/model/PxDicomTags.h"

#include <cstring>

namespace imaging {

int TPxDICOMTags::AddTag(uint16_t Group, uint16_t Element, int32_t Length, std::unique_ptr<uint8_t[]> Data,
                         const std::string& VR)
{
    auto tag = std::make_unique<TPxDICOMTag>();
    tag->Group = Group;
    tag->Element = Element;
    if (VR.size() == 2) {
        tag->VR[0] = VR[0];
        tag->VR[1] = VR[1];
    }
    // A length without a block would promise bytes that are not there.
    if (Length >= 0 && Data) {
        tag->Data = std::move(Data);
        tag->DataLength = Length;
    }
    tags_.push_back(std::move(tag));
    return static_cast<int>(tags_.size()) - 1;
}

void TPxDICOMTags::Assign(const TPxDICOMTags* Source)
{
    if (!Source || Source == this)
        return;
    Clear();
    for (const auto& s : Source->tags_) {
        auto tag = std::make_unique<TPxDICOMTag>();
        tag->Group = s->Group;
        tag->Element = s->Element;
        tag->VR[0] = s->VR[0];
        tag->VR[1] = s->VR[1];
        if (s->DataLength > 0 && s->Data) {
            const size_t n = static_cast<size_t>(s->DataLength);
            tag->Data = std::make_unique<uint8_t[]>(n + 1);
            std::memcpy(tag->Data.get(), s->Data.get(), n);
            tag->Data[n] = 0;
            tag->DataLength = s->DataLength;
        }
        tags_.push_back(std::move(tag));
    }
}

const TPxDICOMTag* TPxDICOMTags::GetTag(int Index) const
{
    if (Index < 0 || Index >= GetCount())
        return nullptr;
    return tags_[static_cast<size_t>(Index)].get();
}

}  // namespace imaging
