#include "app/Settings.h"

#include <vector>

#include <shlobj.h>

#include "classlib/Exceptions.h"
#include "classlib/Registry.h"
#include "classlib/SysUtils.h"

namespace album {

using classlib::TRegistry;

namespace {

// Largest number of thumbnails per page the album build can count.
constexpr int32_t kMaxPerPage = 32767;

// Raised inside Readini's protected block for stored values the album build
// cannot work with; handled like a missing value.
CLASSLIB_EXCEPTION(EBadSetting, classlib::Exception);

void CheckAtLeastOne(int32_t Value, const wchar_t* Name)
{
    if (Value < 1) throw EBadSetting(std::wstring(L"Invalid setting '") + Name + L"'");
}

}  // namespace

// --- TProgramEnvironment

TProgramEnvironment TProgramEnvironment::Current()
{
    TProgramEnvironment env;
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) break;
        if (n < buf.size()) {
            env.ProgramFile.assign(buf.data(), n);
            break;
        }
        if (buf.size() >= 32768) break;
        buf.resize(buf.size() * 2);
    }
    wchar_t documents[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents)))
        env.DocumentsFolder = documents;
    env.ScreenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    env.ScreenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    return env;
}

std::wstring TProgramEnvironment::ProgramFolder() const { return classlib::ExtractFilePath(ProgramFile); }

std::wstring TProgramEnvironment::DefaultOutputFolder() const
{
    // A program under a drive mapped to a whole file system (a shared or
    // emulated root) would otherwise make albums at that root.
    if (!DocumentsFolder.empty())
        return classlib::IncludeTrailingPathDelimiter(DocumentsFolder) + L"Albums_HTML\\";
    return classlib::ExtractFileDrive(ProgramFile) + L"\\Albums_HTML\\";
}

// --- language texts

int LanguageNumber(const std::wstring& StrLanguage)
{
    return classlib::StrToIntDef(classlib::Copy(StrLanguage, 4, 2), 0);
}

std::wstring DefaultIndexTemplate(const std::wstring& StrLanguage)
{
    if (StrLanguage == L"de_07") return L"Vorschau $p von $t";
    if (StrLanguage == L"ru_25") return L"Индекс $p из $t";
    return L"Index $p of $t";
}

std::wstring DefaultImageTemplate(const std::wstring& StrLanguage)
{
    if (StrLanguage == L"de_07") return L"Bild $p von $t";
    if (StrLanguage == L"ru_25") return L"Фотография $p из $t";
    return L"Image $p of $t";
}

// --- TSettings

TSettings::TSettings(TSettingsPlaces Places, TProgramEnvironment Env)
    : places_(std::move(Places)), env_(std::move(Env))
{
}

void TSettings::SetDefaults()
{
    BckgrCol = 0xC08000;
    CellCol = 0xFDAB00;
    TxtCol = 0xFFFFFF;
    FNCol = 0xFFFF00;
    FNBckgrCol = 0x956500;
    MaxTh = 140;
    MaxImg = 1000;
    ColumnsNr = 6;
    RowsNr = 4;
    ResizeImg = true;
    L2 = T2 = W2 = H2 = 0;
    WindowLeft = 100;
    WindowTop = 100;
    WindowWidth = env_.ScreenWidth - 200;
    WindowHeight = env_.ScreenHeight - 200;
    OutputFolder = env_.DefaultOutputFolder();
    InputFolder = env_.ProgramFolder();
    AlbumName = L"Album1";
    S_indx = DefaultIndexTemplate(StrLanguage);
    S_img = DefaultImageTemplate(StrLanguage);
}

void TSettings::ReadUserValues(TRegistry& Reg)
{
    BckgrCol = Reg.ReadInteger(L"BckgrCol");
    CellCol = Reg.ReadInteger(L"CellCol");
    TxtCol = Reg.ReadInteger(L"TxtCol");
    FNCol = Reg.ReadInteger(L"FNCol");
    FNBckgrCol = Reg.ReadInteger(L"FNBckgrCol");
    MaxTh = Reg.ReadInteger(L"MaxTh");
    MaxImg = Reg.ReadInteger(L"MaxImg");
    ColumnsNr = Reg.ReadInteger(L"ColumnsNr");
    RowsNr = Reg.ReadInteger(L"RowsNr");
    // The build divides by the thumbnails per page (a 16-bit count) and
    // scales into the size boxes: values it cannot use count as broken.
    CheckAtLeastOne(MaxTh, L"MaxTh");
    CheckAtLeastOne(MaxImg, L"MaxImg");
    CheckAtLeastOne(ColumnsNr, L"ColumnsNr");
    CheckAtLeastOne(RowsNr, L"RowsNr");
    if (static_cast<int64_t>(ColumnsNr) * RowsNr > kMaxPerPage) throw EBadSetting(L"Invalid setting 'RowsNr'");
    ResizeImg = Reg.ReadBool(L"ResizeImg");
    L2 = Reg.ReadInteger(L"L2");
    T2 = Reg.ReadInteger(L"T2");
    W2 = Reg.ReadInteger(L"W2");
    H2 = Reg.ReadInteger(L"H2");
    WindowWidth = Reg.ReadInteger(L"W");
    WindowHeight = Reg.ReadInteger(L"H");
    WindowLeft = Reg.ReadInteger(L"L");
    WindowTop = Reg.ReadInteger(L"T");
    std::wstring output = Reg.ReadString(L"OutputFolder");
    S_indx = Reg.ReadString(L"S_indx");
    S_img = Reg.ReadString(L"S_img");

    OutputFolder = classlib::DirectoryExists(output) ? output : env_.DefaultOutputFolder();
    classlib::CreateDir(OutputFolder);

    std::wstring input = Reg.ReadString(L"InputFolder");
    InputFolder = classlib::DirectoryExists(input) ? input : std::wstring();

    AlbumName = Reg.ReadString(L"AlbumFolder");
}

void TSettings::Readini()
{
    StrLanguage.clear();
    {
        TRegistry machine(KEY_READ);
        machine.SetRootKey(places_.Machine.Root);
        if (machine.OpenKeyReadOnly(places_.Machine.Key)) {
            try {
                StrLanguage = machine.ReadString(L"StrLanguage");
            } catch (const classlib::ERegistryException&) {
                // A value of another type is no language text.
                StrLanguage.clear();
            }
            machine.CloseKey();
        }
    }

    TRegistry reg;
    reg.SetRootKey(places_.User.Root);
    bool useDefaults = true;
    if (reg.OpenKey(places_.User.Key, true)) {
        try {
            ReadUserValues(reg);
            useDefaults = false;
        } catch (const classlib::Exception&) {
            // Falls through to the defaults: one broken value discards all.
        }
        reg.CloseKey();
    }
    if (useDefaults) {
        SetDefaults();
        classlib::CreateDir(OutputFolder);
    }
}

bool TSettings::Writeini() const
{
    TRegistry reg;
    reg.SetRootKey(places_.User.Root);
    if (!reg.OpenKey(places_.User.Key, true)) return false;
    reg.WriteInteger(L"BckgrCol", BckgrCol);
    reg.WriteInteger(L"CellCol", CellCol);
    reg.WriteInteger(L"TxtCol", TxtCol);
    reg.WriteInteger(L"FNCol", FNCol);
    reg.WriteInteger(L"FNBckgrCol", FNBckgrCol);
    reg.WriteInteger(L"MaxTh", MaxTh);
    reg.WriteInteger(L"MaxImg", MaxImg);
    reg.WriteInteger(L"ColumnsNr", ColumnsNr);
    reg.WriteInteger(L"RowsNr", RowsNr);
    reg.WriteBool(L"ResizeImg", ResizeImg);
    reg.WriteInteger(L"W", WindowWidth);
    reg.WriteInteger(L"H", WindowHeight);
    reg.WriteInteger(L"L", WindowLeft);
    reg.WriteInteger(L"T", WindowTop);
    reg.WriteString(L"InputFolder", InputFolder);
    reg.WriteString(L"OutputFolder", OutputFolder);
    reg.WriteString(L"AlbumFolder", AlbumName);
    reg.WriteString(L"S_indx", S_indx);
    reg.WriteString(L"S_img", S_img);
    reg.WriteInteger(L"W2", W2);
    reg.WriteInteger(L"H2", H2);
    reg.WriteInteger(L"L2", L2);
    reg.WriteInteger(L"T2", T2);
    reg.CloseKey();
    return true;
}

int TSettings::SettleLanguageId() const
{
    TRegistry reg;
    reg.SetRootKey(places_.User.Root);
    int id = kEnglishLangId;
    if (reg.OpenKey(places_.User.Key, true)) {
        try {
            if (reg.ValueExists(L"Language")) {
                id = reg.ReadInteger(L"Language");
            } else {
                TRegistry machine(KEY_READ);
                machine.SetRootKey(places_.Machine.Root);
                if (machine.OpenKeyReadOnly(places_.Machine.Key) && machine.ValueExists(L"StrLanguage")) {
                    id = LanguageNumber(machine.ReadString(L"StrLanguage"));
                    if (id != 0) reg.WriteInteger(L"Language", id);
                }
            }
        } catch (const classlib::Exception&) {
            id = 0;
        }
    }
    return id == 0 ? kEnglishLangId : id;
}

bool TSettings::StoreLanguageId(int Id) const
{
    TRegistry reg;
    reg.SetRootKey(places_.User.Root);
    if (!reg.OpenKey(places_.User.Key, true)) return false;
    reg.WriteInteger(L"Language", Id);
    return true;
}

}  // namespace album
