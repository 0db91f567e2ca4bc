// The checked-in fixture files and whole-file reads, shared by the test
// executables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// tests/fixtures/<Area>\<Name>; Area may name a sub-folder ("io\\png").
// The narrow form takes ASCII names.
std::wstring FixturePath(const std::wstring& Area, const std::wstring& Name);
std::wstring FixturePath(const std::wstring& Area, const std::string& Name);

// The whole content of the file Path; throws std::runtime_error naming the
// file when it cannot be opened or read, so a missing fixture fails the test
// instead of passing for an empty input.
std::vector<uint8_t> FileBytes(const std::wstring& Path);
// As FileBytes, but empty when the file cannot be opened or read.
std::vector<uint8_t> FileBytesOrEmpty(const std::wstring& Path);

// FileBytes(FixturePath(Area, Name)).
std::vector<uint8_t> FixtureBytes(const std::wstring& Area, const std::wstring& Name);
std::vector<uint8_t> FixtureBytes(const std::wstring& Area, const std::string& Name);

}  // namespace testsupport
