#include "imaging/io/core/PresetImages.h"

#include "imaging/model/PxStartup.h"

namespace imaging {

namespace {

#include "imaging/io/core/PresetImages.inc"

struct TPresetDef {
    const uint8_t* Data;
    uint32_t Size;
    TPxPresetRect Rect;
};

const TPresetDef kPresets[] = {
    {kPresetImage1, sizeof kPresetImage1, {18, 29, 140, 119}},  // rounded panel
    {kPresetImage2, sizeof kPresetImage2, {13, 1, 95, 98}},     // film strip
    {kPresetImage3, sizeof kPresetImage3, {30, 14, 147, 92}},   // notebook page
    {kPresetImage4, sizeof kPresetImage4, {17, 17, 131, 131}},  // metallic frame
};

}  // namespace

classlib::TList* PxPresetImageList = nullptr;

void PxCreatePresetImages()
{
    PxFreePresetImages();
    auto* list = new classlib::TList();
    for (const TPresetDef& def : kPresets) {
        auto* entry = new TPxPresetImage();
        entry->Size = def.Size;
        entry->Data = def.Data;
        entry->FileType = ffPNG;
        entry->Rect = def.Rect;
        list->Add(entry);
    }
    PxPresetImageList = list;
}

void PxFreePresetImages()
{
    classlib::TList* list = PxPresetImageList;
    PxPresetImageList = nullptr;
    if (!list)
        return;
    for (int i = 0; i < list->GetCount(); ++i)
        delete static_cast<TPxPresetImage*>(list->GetItem(i));
    delete list;
}

void PxInitializePresetImages() { PxCreatePresetImages(); }
void PxFinalizePresetImages() { PxFreePresetImages(); }

void PxInstallPresetImages()
{
    PxRegisterStartup(psPresetImages, PxInitializePresetImages, PxFinalizePresetImages);
}

namespace {
const TPxStartupRegistration presetRegistration(psPresetImages, PxInitializePresetImages, PxFinalizePresetImages);
}  // namespace

}  // namespace imaging
