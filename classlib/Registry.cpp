#include "classlib/Registry.h"

#include <cerrno>
#include <cstdint>
#include <cwchar>
#include <utility>

#include "classlib/Exceptions.h"

namespace classlib {

namespace {

// A 64-bit program reads the 64-bit view; a 32-bit one keeps its own view.
#ifdef _WIN64
constexpr REGSAM kView = KEY_WOW64_64KEY;
#else
constexpr REGSAM kView = 0;
#endif

// Closes an opened key when it leaves scope.
class KeyHolder {
public:
    KeyHolder() = default;
    ~KeyHolder()
    {
        if (key_)
            RegCloseKey(key_);
    }
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

[[noreturn]] void InvalidType(const std::wstring& name)
{
    throw ERegistryException(L"Invalid data type for '" + name + L"'");
}

[[noreturn]] void GetFailed(const std::wstring& name)
{
    throw ERegistryException(L"Failed to get data for '" + name + L"'");
}

TRegDataType ToDataType(DWORD type)
{
    switch (type) {
    case REG_SZ:
        return rdString;
    case REG_EXPAND_SZ:
        return rdExpandString;
    case REG_DWORD:
        return rdInteger;
    case REG_BINARY:
        return rdBinary;
    default:
        return rdUnknown;
    }
}

// Deletes Sub below Base together with everything below it.
bool DeleteTree(HKEY base, const std::wstring& sub)
{
    {
        KeyHolder key;
        if (RegOpenKeyExW(base, sub.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | kView, key.Out()) ==
            ERROR_SUCCESS) {
            std::vector<std::wstring> children;
            wchar_t name[256];
            for (DWORD i = 0;; ++i) {
                DWORD len = 256;
                LONG r = RegEnumKeyExW(key.Get(), i, name, &len, nullptr, nullptr, nullptr, nullptr);
                if (r != ERROR_SUCCESS)
                    break;
                children.emplace_back(name, len);
            }
            for (const std::wstring& child : children)
                DeleteTree(key.Get(), child);
        }
    }
    return RegDeleteKeyExW(base, sub.c_str(), kView, 0) == ERROR_SUCCESS;
}

}  // namespace

TRegistry::TRegistry(REGSAM Access) : access_(Access) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY Value)
{
    CloseKey();
    rootKey_ = Value;
}

HKEY TRegistry::BaseKey(const std::wstring& Key, std::wstring& SubPath) const
{
    bool fromRoot = !Key.empty() && Key[0] == L'\\';
    size_t first = Key.find_first_not_of(L'\\');
    size_t last = Key.find_last_not_of(L'\\');
    SubPath = first == std::wstring::npos ? std::wstring() : Key.substr(first, last - first + 1);
    return (!fromRoot && currentKey_) ? currentKey_ : rootKey_;
}

void TRegistry::SwapCurrentKey(HKEY& Key, std::wstring& Path)
{
    std::swap(currentKey_, Key);
    std::swap(currentPath_, Path);
}

bool TRegistry::OpenKey(const std::wstring& Key, bool CanCreate)
{
    std::wstring sub;
    HKEY base = BaseKey(Key, sub);
    HKEY key = nullptr;
    LONG r = CanCreate ? RegCreateKeyExW(base, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access_ | kView,
                                         nullptr, &key, nullptr)
                       : RegOpenKeyExW(base, sub.c_str(), 0, access_ | kView, &key);
    if (r != ERROR_SUCCESS)
        return false;
    std::wstring path = sub;
    if (base == currentKey_ && currentKey_ && !currentPath_.empty())
        path = sub.empty() ? currentPath_ : currentPath_ + L"\\" + sub;
    CloseKey();
    currentKey_ = key;
    currentPath_ = std::move(path);
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::wstring& Key)
{
    static const REGSAM kReadModes[] = {KEY_READ, STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS,
                                        KEY_QUERY_VALUE};
    REGSAM saved = access_;
    for (REGSAM mode : kReadModes) {
        access_ = mode;
        bool ok = OpenKey(Key, false);
        access_ = saved;
        if (ok)
            return true;
    }
    return false;
}

void TRegistry::CloseKey()
{
    if (!currentKey_)
        return;
    if (!lazyWrite_)
        RegFlushKey(currentKey_);
    RegCloseKey(currentKey_);
    currentKey_ = nullptr;
    currentPath_.clear();
}

bool TRegistry::KeyExists(const std::wstring& Key)
{
    std::wstring sub;
    HKEY base = BaseKey(Key, sub);
    KeyHolder key;
    LONG r = RegOpenKeyExW(base, sub.c_str(), 0, KEY_READ | kView, key.Out());
    // A key we may not read still exists.
    return r == ERROR_SUCCESS || r == ERROR_ACCESS_DENIED;
}

bool TRegistry::CreateKey(const std::wstring& Key)
{
    std::wstring sub;
    HKEY base = BaseKey(Key, sub);
    KeyHolder key;
    if (RegCreateKeyExW(base, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access_ | kView, nullptr, key.Out(),
                        nullptr) != ERROR_SUCCESS)
        throw ERegistryException(L"Failed to create key " + Key);
    return true;
}

bool TRegistry::DeleteKey(const std::wstring& Key)
{
    std::wstring sub;
    HKEY base = BaseKey(Key, sub);
    if (sub.empty())  // never the base key itself
        return false;
    return DeleteTree(base, sub);
}

void TRegistry::GetKeyNames(std::vector<std::wstring>& Names)
{
    Names.clear();
    if (!currentKey_)
        return;
    wchar_t name[256];  // key names are at most 255 characters
    for (DWORD i = 0;; ++i) {
        DWORD len = 256;
        if (RegEnumKeyExW(currentKey_, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        Names.emplace_back(name, len);
    }
}

void TRegistry::GetValueNames(std::vector<std::wstring>& Names)
{
    Names.clear();
    if (!currentKey_)
        return;
    std::vector<wchar_t> name(16384);  // value names are at most 16383 characters
    for (DWORD i = 0;; ++i) {
        DWORD len = static_cast<DWORD>(name.size());
        if (RegEnumValueW(currentKey_, i, name.data(), &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        Names.emplace_back(name.data(), len);
    }
}

bool TRegistry::ValueExists(const std::wstring& Name)
{
    return currentKey_ &&
           RegQueryValueExW(currentKey_, Name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool TRegistry::DeleteValue(const std::wstring& Name)
{
    return currentKey_ && RegDeleteValueW(currentKey_, Name.c_str()) == ERROR_SUCCESS;
}

TRegDataType TRegistry::GetDataType(const std::wstring& Name)
{
    DWORD type = 0;
    if (!currentKey_ || RegQueryValueExW(currentKey_, Name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
        return rdUnknown;
    return ToDataType(type);
}

int TRegistry::GetDataSize(const std::wstring& Name)
{
    DWORD size = 0;
    if (!currentKey_ || RegQueryValueExW(currentKey_, Name.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return -1;
    return static_cast<int>(size);
}

int32_t TRegistry::ReadInteger(const std::wstring& Name)
{
    DWORD type = 0, size = sizeof(int32_t);
    int32_t value = 0;
    if (!currentKey_ || RegQueryValueExW(currentKey_, Name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(int32_t))
        InvalidType(Name);
    return value;
}

bool TRegistry::ReadBool(const std::wstring& Name) { return ReadInteger(Name) != 0; }

std::wstring TRegistry::ReadString(const std::wstring& Name)
{
    if (!currentKey_)
        return {};
    for (;;) {
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(currentKey_, Name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return {};
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            InvalidType(Name);
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        LONG r = RegQueryValueExW(currentKey_, Name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                  &got);
        if (r == ERROR_MORE_DATA)
            continue;  // the value grew in between
        if (r != ERROR_SUCCESS)
            return {};
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            InvalidType(Name);
        std::wstring result(buffer.data(), got / sizeof(wchar_t));
        size_t nul = result.find(L'\0');
        if (nul != std::wstring::npos)
            result.resize(nul);
        return result;
    }
}

double TRegistry::ReadFloat(const std::wstring& Name)
{
    DWORD type = 0, size = sizeof(double);
    double value = 0;
    if (!currentKey_ || RegQueryValueExW(currentKey_, Name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                                         &size) != ERROR_SUCCESS ||
        type != REG_BINARY || size != sizeof(double))
        InvalidType(Name);
    return value;
}

int TRegistry::ReadBinaryData(const std::wstring& Name, void* Buffer, int BufSize)
{
    DWORD type = 0, size = 0;
    if (!currentKey_ || RegQueryValueExW(currentKey_, Name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        InvalidType(Name);
    TRegDataType kind = ToDataType(type);
    if (kind != rdBinary && kind != rdUnknown)
        InvalidType(Name);
    if (BufSize < 0 || size > static_cast<DWORD>(BufSize))
        GetFailed(Name);
    DWORD got = static_cast<DWORD>(BufSize);
    if (RegQueryValueExW(currentKey_, Name.c_str(), nullptr, &type, static_cast<BYTE*>(Buffer), &got) !=
        ERROR_SUCCESS)
        GetFailed(Name);
    return static_cast<int>(got);
}

void TRegistry::PutData(const std::wstring& Name, const void* Data, DWORD Size, DWORD Type)
{
    if (!currentKey_ ||
        RegSetValueExW(currentKey_, Name.c_str(), 0, Type, static_cast<const BYTE*>(Data), Size) != ERROR_SUCCESS)
        throw ERegistryException(L"Failed to set data for '" + Name + L"'");
}

void TRegistry::WriteInteger(const std::wstring& Name, int32_t Value)
{
    PutData(Name, &Value, sizeof(Value), REG_DWORD);
}

void TRegistry::WriteBool(const std::wstring& Name, bool Value) { WriteInteger(Name, Value ? 1 : 0); }

void TRegistry::WriteString(const std::wstring& Name, const std::wstring& Value)
{
    PutData(Name, Value.c_str(), static_cast<DWORD>((Value.size() + 1) * sizeof(wchar_t)), REG_SZ);
}

void TRegistry::WriteExpandString(const std::wstring& Name, const std::wstring& Value)
{
    PutData(Name, Value.c_str(), static_cast<DWORD>((Value.size() + 1) * sizeof(wchar_t)), REG_EXPAND_SZ);
}

void TRegistry::WriteFloat(const std::wstring& Name, double Value)
{
    PutData(Name, &Value, sizeof(Value), REG_BINARY);
}

void TRegistry::WriteBinaryData(const std::wstring& Name, const void* Buffer, int BufSize)
{
    if (BufSize < 0)
        throw ERegistryException(L"Failed to set data for '" + Name + L"'");
    PutData(Name, Buffer, static_cast<DWORD>(BufSize), REG_BINARY);
}

// ---------------------------------------------------------------------------

// Makes a section (subkey of the file key) the current key for the lifetime
// of the scope; an empty section is the file key itself.
struct TRegIniFile::SectionScope {
    SectionScope(TRegIniFile& ini, const std::wstring& section, bool create) : ini_(ini)
    {
        HKEY file = ini.GetCurrentKey();
        if (!file)
            return;
        if (section.empty()) {
            ok_ = true;
            return;
        }
        std::wstring sub = section;
        while (!sub.empty() && sub.front() == L'\\')
            sub.erase(0, 1);
        LONG r = create ? RegCreateKeyExW(file, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          ini.GetAccess() | kView, nullptr, &key_, nullptr)
                        : RegOpenKeyExW(file, sub.c_str(), 0, KEY_READ | kView, &key_);
        if (r != ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        path_ = ini.GetCurrentPath() + L"\\" + sub;
        ini_.SwapCurrentKey(key_, path_);
        swapped_ = true;
        ok_ = true;
    }
    ~SectionScope()
    {
        if (swapped_)
            ini_.SwapCurrentKey(key_, path_);
        if (key_)
            RegCloseKey(key_);
    }
    SectionScope(const SectionScope&) = delete;
    SectionScope& operator=(const SectionScope&) = delete;

    TRegIniFile& ini_;
    HKEY key_ = nullptr;
    std::wstring path_;
    bool swapped_ = false;
    bool ok_ = false;
};

TRegIniFile::TRegIniFile(const std::wstring& FileName, REGSAM Access) : TRegistry(Access), fileName_(FileName)
{
    OpenKey(FileName, true);
}

std::wstring TRegIniFile::ReadString(const std::wstring& Section, const std::wstring& Ident,
                                     const std::wstring& Default)
{
    SectionScope scope(*this, Section, false);
    if (!scope.ok_)
        return Default;
    TRegDataType type = GetDataType(Ident);
    if (type != rdString && type != rdExpandString)
        return Default;
    return TRegistry::ReadString(Ident);
}

int32_t TRegIniFile::ReadInteger(const std::wstring& Section, const std::wstring& Ident, int32_t Default)
{
    SectionScope scope(*this, Section, false);
    if (!scope.ok_)
        return Default;
    switch (GetDataType(Ident)) {
    case rdInteger:
        return TRegistry::ReadInteger(Ident);
    case rdString:
    case rdExpandString: {
        std::wstring text = TRegistry::ReadString(Ident);
        size_t first = text.find_first_not_of(L" \t");
        size_t last = text.find_last_not_of(L" \t");
        if (first == std::wstring::npos)
            return Default;
        text = text.substr(first, last - first + 1);
        wchar_t* end = nullptr;
        errno = 0;
        long long value = std::wcstoll(text.c_str(), &end, 10);
        if (errno != 0 || end != text.c_str() + text.size() || value < INT32_MIN || value > INT32_MAX)
            return Default;
        return static_cast<int32_t>(value);
    }
    default:
        return Default;
    }
}

bool TRegIniFile::ReadBool(const std::wstring& Section, const std::wstring& Ident, bool Default)
{
    return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

void TRegIniFile::WriteString(const std::wstring& Section, const std::wstring& Ident, const std::wstring& Value)
{
    SectionScope scope(*this, Section, true);
    if (!scope.ok_)
        throw ERegistryException(L"Failed to set data for '" + Ident + L"'");
    TRegistry::WriteString(Ident, Value);
}

void TRegIniFile::WriteInteger(const std::wstring& Section, const std::wstring& Ident, int32_t Value)
{
    WriteString(Section, Ident, std::to_wstring(Value));
}

void TRegIniFile::WriteBool(const std::wstring& Section, const std::wstring& Ident, bool Value)
{
    WriteString(Section, Ident, Value ? L"1" : L"0");
}

}  // namespace classlib
