// Small helpers shared by the test executables.
#pragma once

#include <cstddef>
#include <string>

namespace testsupport {

// The folder of the checked-in fixtures for one area, e.g. Fixture(L"gif").
std::wstring FixtureDir(const std::wstring& area);

// Creates the file empty (or empties it); a file that cannot be made fails
// the running test.
void Touch(const std::wstring& file);

// Creates the file with count bytes 'x'; a file that cannot be made fails
// the running test.
void WriteFilled(const std::wstring& file, std::size_t count);

// Deletes the folder dir with everything in it (read-only files too); what
// cannot be deleted stays.
void RemoveTree(const std::wstring& dir);

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path_; }
    // Path() joined with a file name.
    std::wstring File(const std::wstring& name) const;

private:
    std::wstring path_;
};

}  // namespace testsupport
