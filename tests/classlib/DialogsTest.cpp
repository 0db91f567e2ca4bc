#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/Dialogs.h"

using namespace classlib;

namespace {

std::wstring Z(const wchar_t* s, std::size_t n) { return std::wstring(s, n); }

// A dialog that records the parameter block and answers like the system.
class TScriptedDialog : public TSaveDialog {
public:
    TScriptedDialog() : TSaveDialog(nullptr) {}
    // File buffer contents written back over the initial name, ended by
    // one zero (the rest of a longer initial name stays behind it).
    std::wstring Answer;
    WORD AnswerOffset = 0;  // nFileOffset
    DWORD AnswerFilter = 0;
    bool Accepts = true;
    DWORD SeenFlags = 0;
    std::wstring SeenFile;

protected:
    BOOL RunDialog(OPENFILENAMEW* Ofn) override
    {
        SeenFlags = Ofn->Flags;
        SeenFile = Ofn->lpstrFile;
        if (!Accepts) return FALSE;
        Answer.copy(Ofn->lpstrFile, Answer.size());
        Ofn->lpstrFile[Answer.size()] = L'\0';
        Ofn->nFileOffset = AnswerOffset;
        Ofn->nFilterIndex = AnswerFilter;
        Ofn->Flags |= OFN_EXTENSIONDIFFERENT;
        return TRUE;
    }
};

}  // namespace

TEST(Dialogs, FilterStringToSystemList)
{
    struct Case {
        const wchar_t* filter;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"", std::wstring()},
        {L"JPEG|*.jpg", Z(L"JPEG\0*.jpg\0\0", 12)},
        {L"Images|*.jpg;*.png|All|*.*", Z(L"Images\0*.jpg;*.png\0All\0*.*\0\0", 28)},
        {L"Images|*.jpg|All", Z(L"Images\0*.jpg\0\0", 14)},  // description without mask dropped
        {L"Lonely", std::wstring()},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, FilterToSystem(c.filter)) << c.filter;
}

TEST(Dialogs, OptionsBecomeSystemFlags)
{
    EXPECT_EQ(static_cast<DWORD>(OFN_EXPLORER), OpenOptionsToFlags(0));
    DWORD f = OpenOptionsToFlags(ofOverwritePrompt | ofFileMustExist | ofAllowMultiSelect | ofHideReadOnly);
    EXPECT_EQ(static_cast<DWORD>(OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT |
                                 OFN_HIDEREADONLY),
              f);
    // Out-only options are not passed in.
    EXPECT_EQ(static_cast<DWORD>(OFN_EXPLORER), OpenOptionsToFlags(ofExtensionDifferent));
}

TEST(Dialogs, PrepareFillsTheParameterBlock)
{
    TOpenDialog dlg(nullptr);
    dlg.Filter = L"JPEG|*.jpg|All|*.*";
    dlg.FilterIndex = 2;
    dlg.DefaultExt = L".jpg";
    dlg.InitialDir = L"C:\\pictures";
    dlg.Title = L"Pick one";
    dlg.FileName = L"start.jpg";
    dlg.Options = ofFileMustExist;
    TOpenDialog::TParams p;
    dlg.Prepare(p, nullptr);
    EXPECT_EQ(sizeof(OPENFILENAMEW), p.Ofn.lStructSize);
    EXPECT_EQ(Z(L"JPEG\0*.jpg\0All\0*.*\0\0", 20), std::wstring(p.Ofn.lpstrFilter, 20));
    EXPECT_EQ(2u, p.Ofn.nFilterIndex);
    EXPECT_STREQ(L"jpg", p.Ofn.lpstrDefExt);
    EXPECT_STREQ(L"C:\\pictures", p.Ofn.lpstrInitialDir);
    EXPECT_STREQ(L"Pick one", p.Ofn.lpstrTitle);
    EXPECT_STREQ(L"start.jpg", p.Ofn.lpstrFile);
    EXPECT_EQ(p.FileBuffer.size(), p.Ofn.nMaxFile);
    EXPECT_EQ(static_cast<DWORD>(OFN_EXPLORER | OFN_FILEMUSTEXIST), p.Ofn.Flags);

    // Empty settings are passed as absent.
    TOpenDialog plain(nullptr);
    plain.Options = 0;
    plain.Prepare(p, nullptr);
    EXPECT_EQ(nullptr, p.Ofn.lpstrFilter);
    EXPECT_EQ(nullptr, p.Ofn.lpstrDefExt);
    EXPECT_EQ(nullptr, p.Ofn.lpstrInitialDir);
    EXPECT_EQ(nullptr, p.Ofn.lpstrTitle);
    EXPECT_EQ(1u, p.Ofn.nFilterIndex);
}

// The result buffer as the system dialog leaves it: its answer written over
// the initial name, so a single choice may be followed by the rest of a
// longer initial name, which is no second file.
TEST(Dialogs, ResultBufferBecomesFiles)
{
    struct Case {
        const char* what;
        std::wstring buffer;
        bool multiSelect;
        WORD offset;
        std::vector<std::wstring> files;
    };
    const Case cases[] = {
        {"one name", Z(L"C:\\pics\\one.jpg\0\0", 17), false, 8, {L"C:\\pics\\one.jpg"}},
        {"one name, the rest of a longer one behind it", Z(L"Z:\\tmp\\x\\summer.alb\0Kite_2560x1600.jpg\0", 39),
         false, 9, {L"Z:\\tmp\\x\\summer.alb"}},
        {"one name of a multiple-choice dialog, rest behind it", Z(L"C:\\b\\s2.alb\0long_name.alb\0", 26), true, 5,
         {L"C:\\b\\s2.alb"}},
        {"several names", Z(L"C:\\pics\0a.jpg\0b.jpg\0\0", 21), true, 8, {L"C:\\pics\\a.jpg", L"C:\\pics\\b.jpg"}},
        {"several names in a root, one of them full", Z(L"C:\\\0a.jpg\0D:\\x\\b.jpg\0\0", 22), true, 4,
         {L"C:\\a.jpg", L"D:\\x\\b.jpg"}},
        {"nothing", Z(L"\0\0", 2), true, 0, {}},
        {"no terminator: ends at the buffer's size", L"ab", false, 0, {L"ab"}},
    };
    TStringList files;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring buffer = c.buffer;
        OPENFILENAMEW ofn{};
        ofn.lpstrFile = buffer.data();
        ofn.nMaxFile = static_cast<DWORD>(buffer.size());
        ofn.nFileOffset = c.offset;
        ofn.Flags = OFN_EXPLORER | (c.multiSelect ? OFN_ALLOWMULTISELECT : 0);
        ReadDialogFiles(ofn, &files);
        std::vector<std::wstring> got;
        for (int i = 0; i < files.GetCount(); ++i) got.push_back(files[i]);
        EXPECT_EQ(c.files, got);
    }
}

TEST(Dialogs, ExecuteTakesTheAnswerOrKeepsTheSettingsOnCancel)
{
    TScriptedDialog dlg;
    dlg.FileName = L"old.jpg";
    dlg.Options = ofOverwritePrompt;
    dlg.Accepts = false;
    EXPECT_FALSE(dlg.Execute());
    EXPECT_EQ(L"old.jpg", dlg.SeenFile);
    EXPECT_EQ(L"old.jpg", dlg.FileName);
    EXPECT_TRUE(dlg.SeenFlags & OFN_OVERWRITEPROMPT);

    dlg.Accepts = true;
    dlg.Answer = L"C:\\out\\new.png";
    dlg.AnswerFilter = 3;
    EXPECT_TRUE(dlg.Execute());
    EXPECT_EQ(L"C:\\out\\new.png", dlg.FileName);
    EXPECT_EQ(3, dlg.FilterIndex);
    ASSERT_EQ(1, dlg.GetFiles()->GetCount());
    EXPECT_TRUE(dlg.Options & ofExtensionDifferent);

    // The next answer is shorter than this one, which the dialog starts
    // with: only the new name comes back.
    dlg.Answer = L"C:\\s2.png";
    dlg.AnswerOffset = 3;
    EXPECT_TRUE(dlg.Execute());
    EXPECT_EQ(L"C:\\out\\new.png", dlg.SeenFile);
    EXPECT_EQ(L"C:\\s2.png", dlg.FileName);
    ASSERT_EQ(1, dlg.GetFiles()->GetCount());
    EXPECT_EQ(L"C:\\s2.png", dlg.GetFiles()->GetStrings(0));
}

TEST(Dialogs, MessageBoxStyleOfTypeAndButtons)
{
    struct Case {
        TMsgDlgType type;
        TMsgDlgButtons buttons;
        UINT style;
    };
    const Case cases[] = {
        {mtWarning, mbOK, MB_ICONWARNING | MB_OK},
        {mtError, mbOKCancel, MB_ICONERROR | MB_OKCANCEL},
        {mtConfirmation, mbYesNo, MB_ICONQUESTION | MB_YESNO},
        {mtConfirmation, mbYesNoCancel, MB_ICONQUESTION | MB_YESNOCANCEL},
        {mtInformation, mbAbortRetryIgnore, MB_ICONINFORMATION | MB_ABORTRETRYIGNORE},
        {mtCustom, mbRetry | mbCancel, MB_RETRYCANCEL},
        {mtCustom, 0, MB_OK},
    };
    for (const Case& c : cases) EXPECT_EQ(c.style, MessageBoxStyle(c.type, c.buttons)) << c.type << " " << c.buttons;
}
