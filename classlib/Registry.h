// Access to the system registry.
//
// TRegistry works on one open key at a time (the current key) below a root
// key (HKEY_CURRENT_USER unless set). Key paths passed to its operations are
// relative to the current key, or to the root key when no key is open; a path
// that starts with "\" is always relative to the root key. A 64-bit program
// always sees the 64-bit view of the registry.
//
// Values: ReadInteger/ReadBool/ReadFloat/ReadBinaryData raise
// ERegistryException "Invalid data type for '<name>'" when the value is
// missing or of another type; ReadString returns an empty string for a
// missing value. Writes that fail raise ERegistryException
// "Failed to set data for '<name>'". Value operations need an open key.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Persistent.h"

namespace classlib {

// The kind of data of a value, as GetDataType reports it.
enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

class TRegistry : public TObject {
public:
    // Access: the rights used to open and create keys.
    explicit TRegistry(REGSAM Access = KEY_ALL_ACCESS);
    ~TRegistry() override;
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;
    std::wstring ClassName() const override { return L"TRegistry"; }

    // Changing the root key closes the current key.
    HKEY GetRootKey() const { return rootKey_; }
    void SetRootKey(HKEY Value);
    REGSAM GetAccess() const { return access_; }
    void SetAccess(REGSAM Value) { access_ = Value; }
    // With LazyWrite false, CloseKey flushes the key to disk (RegFlushKey).
    bool GetLazyWrite() const { return lazyWrite_; }
    void SetLazyWrite(bool Value) { lazyWrite_ = Value; }

    // The open key (null when none) and its path below the root, without a
    // leading "\".
    HKEY GetCurrentKey() const { return currentKey_; }
    const std::wstring& GetCurrentPath() const { return currentPath_; }

    // Makes Key the current key, creating it (and missing keys on its path)
    // when CanCreate is set. Returns false, keeping the current key, when the
    // key cannot be opened or created.
    bool OpenKey(const std::wstring& Key, bool CanCreate);
    // Opens Key for reading only (with the most access a reader can get).
    bool OpenKeyReadOnly(const std::wstring& Key);
    void CloseKey();

    bool KeyExists(const std::wstring& Key);
    // Creates Key; raises ERegistryException "Failed to create key <key>" on
    // failure. The current key does not change.
    bool CreateKey(const std::wstring& Key);
    // Deletes Key with all its subkeys; false when it could not be deleted.
    bool DeleteKey(const std::wstring& Key);
    // The names of the subkeys / values of the current key (cleared first).
    void GetKeyNames(std::vector<std::wstring>& Names);
    void GetValueNames(std::vector<std::wstring>& Names);

    bool ValueExists(const std::wstring& Name);
    bool DeleteValue(const std::wstring& Name);
    TRegDataType GetDataType(const std::wstring& Name);
    // The size of a value in bytes; -1 when it does not exist.
    int GetDataSize(const std::wstring& Name);

    int32_t ReadInteger(const std::wstring& Name);
    bool ReadBool(const std::wstring& Name);
    // A REG_SZ or REG_EXPAND_SZ value (not expanded), cut at its first null;
    // empty when missing, "Invalid data type" for a value of another type.
    std::wstring ReadString(const std::wstring& Name);
    double ReadFloat(const std::wstring& Name);
    // Reads a REG_BINARY (or untyped) value into Buffer and returns its size;
    // raises "Failed to get data for '<name>'" when it does not fit.
    int ReadBinaryData(const std::wstring& Name, void* Buffer, int BufSize);

    void WriteInteger(const std::wstring& Name, int32_t Value);
    // Stored as REG_DWORD 1 or 0.
    void WriteBool(const std::wstring& Name, bool Value);
    void WriteString(const std::wstring& Name, const std::wstring& Value);
    void WriteExpandString(const std::wstring& Name, const std::wstring& Value);
    // Stored as the 8 bytes of the double in a REG_BINARY value.
    void WriteFloat(const std::wstring& Name, double Value);
    void WriteBinaryData(const std::wstring& Name, const void* Buffer, int BufSize);

protected:
    // The key that relative paths start from, and Key turned into a path from
    // that key (leading and trailing "\" removed).
    HKEY BaseKey(const std::wstring& Key, std::wstring& SubPath) const;
    // Replaces the current key without closing the old one (for temporary
    // switches to a subkey; the caller restores and closes).
    void SwapCurrentKey(HKEY& Key, std::wstring& Path);

private:
    void PutData(const std::wstring& Name, const void* Data, DWORD Size, DWORD Type);

    HKEY rootKey_ = HKEY_CURRENT_USER;
    HKEY currentKey_ = nullptr;
    std::wstring currentPath_;
    REGSAM access_;
    bool lazyWrite_ = true;
};

// Registry access in the manner of an initialisation file: the "file" is a
// key below HKEY_CURRENT_USER (opened, and created when missing, by the
// constructor) and each section is a subkey of it (empty: the key itself).
// Reads of a missing section or value, or of a value of an unsuitable type,
// give the default. Integers and Booleans are written as strings ("1"/"0"
// for Booleans) and read from strings or REG_DWORD values; a string that is
// not a decimal number reads as the default. Writes create the section and
// raise ERegistryException when the file key could not be opened.
class TRegIniFile : public TRegistry {
public:
    explicit TRegIniFile(const std::wstring& FileName, REGSAM Access = KEY_ALL_ACCESS);
    std::wstring ClassName() const override { return L"TRegIniFile"; }

    const std::wstring& GetFileName() const { return fileName_; }

    std::wstring ReadString(const std::wstring& Section, const std::wstring& Ident, const std::wstring& Default);
    int32_t ReadInteger(const std::wstring& Section, const std::wstring& Ident, int32_t Default);
    bool ReadBool(const std::wstring& Section, const std::wstring& Ident, bool Default);
    void WriteString(const std::wstring& Section, const std::wstring& Ident, const std::wstring& Value);
    void WriteInteger(const std::wstring& Section, const std::wstring& Ident, int32_t Value);
    void WriteBool(const std::wstring& Section, const std::wstring& Ident, bool Value);

    using TRegistry::ReadBool;
    using TRegistry::ReadInteger;
    using TRegistry::ReadString;
    using TRegistry::WriteBool;
    using TRegistry::WriteInteger;
    using TRegistry::WriteString;

private:
    struct SectionScope;
    std::wstring fileName_;
};

}  // namespace classlib
