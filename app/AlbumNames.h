// The names of an album's picture files: every row of the album list gets a
// name of its own in "Images" (and, with "tn_" before it, in "Thumbnails"),
// so that photos of one file name from different folders, or of one stem
// with different extensions, never replace each other. The build writes the
// files under these names and the pages link to them; both take them from
// OutputNamesOf over the same rows.
#pragma once

#include <string>
#include <vector>

#include "app/AlbumListFile.h"

namespace album {

// A row's own output name: the file-name part of Path with its extension
// replaced by ".jpg".
std::wstring OutputNameOf(const std::wstring& Path);

// The output name of every row, in row order. A row keeps its own name
// unless an earlier row has it already (names compared as Windows compares
// file names, ignoring case); then it gets its stem with the first suffix
// "_2", "_3" ... that is neither a row's own name nor given to an earlier
// row. Decided from the paths in list order only (not from what is on disk),
// so the same list always gives the same names.
std::vector<std::wstring> OutputNamesOf(const std::vector<TAlbumRow>& Rows);

}  // namespace album
