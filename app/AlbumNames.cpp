#include "app/AlbumNames.h"

#include <unordered_set>

#include "classlib/SysUtils.h"

namespace album {

namespace {

// Two names are one file name for Windows when their upper-case forms match.
std::wstring NameKey(const std::wstring& Name) { return classlib::WideUpperCase(Name); }

}  // namespace

std::wstring OutputNameOf(const std::wstring& Path)
{
    return classlib::ChangeFileExt(classlib::ExtractFileName(Path), L".jpg");
}

std::vector<std::wstring> OutputNamesOf(const std::vector<TAlbumRow>& Rows)
{
    std::vector<std::wstring> names;
    names.reserve(Rows.size());
    // Every row's own name is kept free for the first row that has it, so a
    // suffixed name never takes the name of a later row's own file.
    std::unordered_set<std::wstring> own;
    for (const TAlbumRow& row : Rows) own.insert(NameKey(OutputNameOf(row.Path)));
    std::unordered_set<std::wstring> given;
    for (const TAlbumRow& row : Rows) {
        const std::wstring name = OutputNameOf(row.Path);
        if (given.insert(NameKey(name)).second) {
            names.push_back(name);
            continue;
        }
        const std::wstring stem = classlib::ChangeFileExt(name, L"");
        for (std::size_t n = 2;; ++n) {
            const std::wstring candidate = stem + L"_" + std::to_wstring(n) + L".jpg";
            const std::wstring key = NameKey(candidate);
            if (own.count(key) == 0 && given.insert(key).second) {
                names.push_back(candidate);
                break;
            }
        }
    }
    return names;
}

}  // namespace album
