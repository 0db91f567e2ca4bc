#include "classlib/GraphicFormats.h"

#include <mutex>

#include "classlib/Icon.h"
#include "classlib/Metafile.h"
#include "classlib/Picture.h"

namespace classlib {

void RegisterGraphicFormats()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TPicture::RegisterFileFormat(L"ico", L"Icon", &TIcon::Class);
        TPicture::RegisterFileFormat(L"emf", L"Enhanced Metafile", &TMetafile::Class);
        TPicture::RegisterFileFormat(L"wmf", L"Metafile", &TMetafile::Class);
    });
}

}  // namespace classlib
