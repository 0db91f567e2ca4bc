#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "classlib/Dialogs.h"

using namespace classlib;

namespace {

std::wstring Z(const wchar_t* s, std::size_t n) { return std::wstring(s, n); }

// A dialog that records the parameter block and answers like the system.
class TScriptedDialog : public TSaveDialog {
public:
    TScriptedDialog() : TSaveDialog(nullptr) {}
    std::wstring Answer;  // file buffer contents written back
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

TEST(Dialogs, ResultBufferBecomesFiles)
{
    TStringList files;
    const std::wstring multi = Z(L"C:\\pics\0a.jpg\0b.jpg\0\0", 21);
    ReadDialogFiles(multi.data(), multi.size(), &files);
    ASSERT_EQ(2, files.GetCount());
    EXPECT_EQ(L"C:\\pics\\a.jpg", files[0]);
    EXPECT_EQ(L"C:\\pics\\b.jpg", files[1]);

    const std::wstring root = Z(L"C:\\\0a.jpg\0D:\\x\\b.jpg\0\0", 22);
    ReadDialogFiles(root.data(), root.size(), &files);
    ASSERT_EQ(2, files.GetCount());
    EXPECT_EQ(L"C:\\a.jpg", files[0]);
    EXPECT_EQ(L"D:\\x\\b.jpg", files[1]);

    const std::wstring single = Z(L"C:\\pics\\one.jpg\0\0", 17);
    ReadDialogFiles(single.data(), single.size(), &files);
    ASSERT_EQ(1, files.GetCount());
    EXPECT_EQ(L"C:\\pics\\one.jpg", files[0]);

    // A buffer without terminators ends at its size.
    const wchar_t unterminated[] = {L'a', L'b'};
    ReadDialogFiles(unterminated, 2, &files);
    ASSERT_EQ(1, files.GetCount());
    EXPECT_EQ(L"ab", files[0]);
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
