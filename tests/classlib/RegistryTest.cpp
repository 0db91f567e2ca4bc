#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Registry.h"

using namespace classlib;

namespace {

// A private key below HKCU (and HKLM where a test needs it), removed before
// and after each test.
class RegistryTest : public testing::Test {
protected:
    void SetUp() override { Cleanup(); }
    void TearDown() override { Cleanup(); }
    void Cleanup()
    {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            TRegistry reg;
            reg.SetRootKey(root);
            reg.DeleteKey(kKey);
        }
    }
    static std::wstring Sorted(std::vector<std::wstring> names)
    {
        std::sort(names.begin(), names.end());
        std::wstring all;
        for (auto& n : names)
            all += n + L";";
        return all;
    }
    const std::wstring kKey = L"\\Software\\VelmoTests\\Registry" + std::to_wstring(GetCurrentProcessId());
};

TEST_F(RegistryTest, ValuesRoundTrip)
{
    const unsigned char blob[] = {0, 1, 2, 0xFE, 0xFF, 0x80};
    {
        TRegistry reg;
        EXPECT_EQ(reg.GetRootKey(), HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey(kKey, true));
        reg.WriteInteger(L"Int", -123456);
        reg.WriteInteger(L"Min", INT_MIN);
        reg.WriteBool(L"Yes", true);
        reg.WriteBool(L"No", false);
        reg.WriteString(L"Text", L"Index $p of $t \u0424\u043e\u0442\u043e");
        reg.WriteString(L"Empty", L"");
        reg.WriteExpandString(L"Expand", L"%TEMP%\\x");
        reg.WriteFloat(L"Float", -2.5e-300);
        reg.WriteBinaryData(L"Blob", blob, sizeof(blob));
        reg.CloseKey();
    }
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(kKey));
    EXPECT_EQ(reg.ReadInteger(L"Int"), -123456);
    EXPECT_EQ(reg.ReadInteger(L"Min"), INT_MIN);
    EXPECT_TRUE(reg.ReadBool(L"Yes"));
    EXPECT_FALSE(reg.ReadBool(L"No"));
    EXPECT_EQ(reg.ReadString(L"Text"), L"Index $p of $t \u0424\u043e\u0442\u043e");
    EXPECT_EQ(reg.ReadString(L"Empty"), L"");
    EXPECT_EQ(reg.ReadString(L"Expand"), L"%TEMP%\\x");  // not expanded
    EXPECT_EQ(reg.ReadFloat(L"Float"), -2.5e-300);
    unsigned char back[16] = {};
    EXPECT_EQ(reg.ReadBinaryData(L"Blob", back, sizeof(back)), int(sizeof(blob)));
    EXPECT_EQ(std::memcmp(back, blob, sizeof(blob)), 0);
    EXPECT_THROW(reg.ReadBinaryData(L"Blob", back, 3), ERegistryException);  // does not fit

    // Stored types: Booleans as REG_DWORD, floats as 8 binary bytes.
    EXPECT_EQ(reg.GetDataType(L"Yes"), rdInteger);
    EXPECT_EQ(reg.GetDataType(L"Text"), rdString);
    EXPECT_EQ(reg.GetDataType(L"Expand"), rdExpandString);
    EXPECT_EQ(reg.GetDataType(L"Float"), rdBinary);
    EXPECT_EQ(reg.GetDataSize(L"Float"), 8);
    EXPECT_EQ(reg.GetDataSize(L"Empty"), 2);  // the terminating null is stored
    EXPECT_EQ(reg.GetDataSize(L"Missing"), -1);
    std::vector<std::wstring> names;
    reg.GetValueNames(names);
    EXPECT_EQ(Sorted(names), L"Blob;Empty;Expand;Float;Int;Min;No;Text;Yes;");
}

TEST_F(RegistryTest, MissingAndMistypedValues)
{
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    reg.WriteString(L"Str", L"12");
    reg.WriteInteger(L"Num", 12);

    struct Case {
        const wchar_t* name;
        void (*read)(TRegistry&, const std::wstring&);
    };
    const Case cases[] = {
        {L"Missing", [](TRegistry& r, const std::wstring& n) { r.ReadInteger(n); }},
        {L"Missing", [](TRegistry& r, const std::wstring& n) { r.ReadBool(n); }},
        {L"Missing", [](TRegistry& r, const std::wstring& n) { r.ReadFloat(n); }},
        {L"Str", [](TRegistry& r, const std::wstring& n) { r.ReadInteger(n); }},
        {L"Str", [](TRegistry& r, const std::wstring& n) { r.ReadBool(n); }},
        {L"Num", [](TRegistry& r, const std::wstring& n) { r.ReadString(n); }},
        {L"Num", [](TRegistry& r, const std::wstring& n) { r.ReadFloat(n); }},
    };
    for (const Case& c : cases) {
        try {
            c.read(reg, c.name);
            ADD_FAILURE() << "no exception for a read of " << testing::PrintToString(std::wstring(c.name));
        } catch (const ERegistryException& e) {
            EXPECT_EQ(e.Message(), L"Invalid data type for '" + std::wstring(c.name) + L"'");
        }
    }
    EXPECT_EQ(reg.ReadString(L"Missing"), L"");
    EXPECT_TRUE(reg.ValueExists(L"Str"));
    EXPECT_FALSE(reg.ValueExists(L"Missing"));
    EXPECT_TRUE(reg.DeleteValue(L"Str"));
    EXPECT_FALSE(reg.ValueExists(L"Str"));
    EXPECT_FALSE(reg.DeleteValue(L"Str"));

    // Without an open key, reads behave as for a missing value and writes fail.
    reg.CloseKey();
    EXPECT_THROW(reg.ReadInteger(L"Num"), ERegistryException);
    EXPECT_EQ(reg.ReadString(L"Num"), L"");
    EXPECT_THROW(reg.WriteInteger(L"Num", 1), ERegistryException);
}

TEST_F(RegistryTest, KeyPathsAndRecursiveDelete)
{
    TRegistry reg;
    EXPECT_FALSE(reg.KeyExists(kKey));
    EXPECT_FALSE(reg.OpenKey(kKey, false));
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    const std::wstring path = kKey.substr(1);
    EXPECT_EQ(reg.GetCurrentPath(), path);

    // Relative to the open key, unless the path starts with "\".
    ASSERT_TRUE(reg.OpenKey(L"A\\B", true));
    EXPECT_EQ(reg.GetCurrentPath(), path + L"\\A\\B");
    reg.WriteInteger(L"Deep", 1);
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_EQ(reg.GetCurrentPath(), path);
    EXPECT_TRUE(reg.KeyExists(L"A\\B"));
    EXPECT_TRUE(reg.KeyExists(kKey + L"\\A"));
    EXPECT_FALSE(reg.KeyExists(L"B"));
    EXPECT_FALSE(reg.OpenKey(L"Nope", false));
    EXPECT_EQ(reg.GetCurrentPath(), path);  // a failed open keeps the current key
    EXPECT_TRUE(reg.CreateKey(L"C"));
    EXPECT_EQ(reg.GetCurrentPath(), path);
    reg.WriteString(L"Top", L"x");

    std::vector<std::wstring> names;
    reg.GetKeyNames(names);
    EXPECT_EQ(Sorted(names), L"A;C;");

    EXPECT_TRUE(reg.DeleteKey(L"A"));  // has a subkey with a value
    EXPECT_FALSE(reg.KeyExists(L"A"));
    EXPECT_TRUE(reg.KeyExists(L"C"));
    EXPECT_FALSE(reg.DeleteKey(L"A"));

    reg.CloseKey();
    EXPECT_EQ(reg.GetCurrentPath(), L"");
    EXPECT_TRUE(reg.DeleteKey(kKey));  // from the root, with its values and subkeys
    EXPECT_FALSE(reg.KeyExists(kKey));
}

// The settings pattern: a machine-wide string read without creating the key,
// per-user values opened with creation.
TEST_F(RegistryTest, MachineValueReadOnlyBesidePerUserValues)
{
    {
        TRegistry machine;
        machine.SetRootKey(HKEY_LOCAL_MACHINE);
        EXPECT_FALSE(machine.OpenKeyReadOnly(kKey));  // missing: not created
        EXPECT_FALSE(machine.KeyExists(kKey));
        ASSERT_TRUE(machine.OpenKey(kKey, true));
        machine.WriteString(L"StrLanguage", L"ru_25");
    }
    TRegistry machine;
    machine.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(machine.OpenKeyReadOnly(kKey));
    EXPECT_EQ(machine.ReadString(L"StrLanguage"), L"ru_25");
    EXPECT_THROW(machine.WriteString(L"StrLanguage", L"de_07"), ERegistryException);  // opened for reading
    machine.CloseKey();

    TRegistry user;
    ASSERT_TRUE(user.OpenKey(kKey, true));
    EXPECT_FALSE(user.ValueExists(L"StrLanguage"));  // a different root
    EXPECT_THROW(user.ReadInteger(L"Language"), ERegistryException);
}

TEST_F(RegistryTest, RegIniFileSections)
{
    {
        TRegIniFile ini(kKey);
        EXPECT_EQ(ini.GetFileName(), kKey);
        EXPECT_EQ(ini.ReadString(L"ThemeManager", L"ColorName", L"none"), L"none");  // no section
        ini.WriteString(L"ThemeManager", L"ColorName", L"NormalColor");
        ini.WriteInteger(L"Sizes", L"Width", -40);
        ini.WriteBool(L"Sizes", L"Wide", true);
        ini.WriteString(L"Sizes", L"Bad", L"12x");
        ini.WriteString(L"", L"Top", L"level");
        EXPECT_EQ(ini.GetCurrentPath(), kKey.substr(1));  // sections do not move the key
    }
    TRegIniFile ini(kKey);
    EXPECT_EQ(ini.ReadString(L"ThemeManager", L"ColorName", L""), L"NormalColor");
    EXPECT_EQ(ini.ReadString(L"ThemeManager", L"Missing", L"dflt"), L"dflt");
    EXPECT_EQ(ini.ReadInteger(L"Sizes", L"Width", 0), -40);
    EXPECT_TRUE(ini.ReadBool(L"Sizes", L"Wide", false));
    EXPECT_FALSE(ini.ReadBool(L"Sizes", L"Missing", false));
    EXPECT_EQ(ini.ReadInteger(L"Sizes", L"Bad", 7), 7);
    EXPECT_EQ(ini.ReadString(L"Sizes", L"Width", L"?"), L"-40");  // stored as text
    EXPECT_EQ(ini.ReadString(L"", L"Top", L""), L"level");
    EXPECT_EQ(ini.ReadString(L"Top", L"Top", L"-"), L"-");  // a value is not a section

    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey + L"\\Sizes", false));
    reg.WriteInteger(L"Dword", 5);
    reg.CloseKey();
    EXPECT_EQ(ini.ReadInteger(L"Sizes", L"Dword", 0), 5);  // REG_DWORD values read too
}

}  // namespace
