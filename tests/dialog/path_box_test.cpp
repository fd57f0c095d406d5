// The path box: drops, auto-completion and the Browse pickers, on the real dialog, driven from a
// second thread.

#include <windows.h>

#include <commdlg.h>
#include <dlgs.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <vector>

#include "dialog_driver.h"
#include "dialog_test_files.h"
#include "import_patch.h"
#include "main_dialog.h"
#include "path_box.h"
#include "resource.h"

namespace {

// A drop handle as the shell hands it over: DROPFILES followed by a double-zero-terminated list.
HGLOBAL MakeDrop(const std::vector<std::wstring>& paths) {
    size_t units = 1;
    for (const auto& path : paths)
        units += path.size() + 1;
    HGLOBAL drop = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + units * sizeof(wchar_t));
    auto* files = static_cast<DROPFILES*>(GlobalLock(drop));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    auto* list = reinterpret_cast<wchar_t*>(files + 1);
    for (const auto& path : paths) {
        path.copy(list, path.size());
        list += path.size() + 1;
    }
    GlobalUnlock(drop);
    return drop;
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
    if (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    return path;
}

class PathBoxTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(driver_.dialog(), nullptr);
        WriteFileBytes(texts_ + L"\\a.txt", "a");
        WriteFileBytes(texts_ + L"\\b.txt", "b");
        WriteFileBytes(other_ + L"\\c.txt", "c");
    }

    TempDir temp_;
    std::wstring texts_ = temp_ / L"texts";
    std::wstring other_ = temp_ / L"other";
    DialogDriver driver_{GetModuleHandleW(nullptr), IDD_MAIN, MainDialogProc};
};

TEST_F(PathBoxTest, DropsPutTheFirstItemsPathInTheBox) {
    struct Case {
        const char* name;
        bool folderMode;
        std::vector<std::wstring> dropped;
        std::wstring expected;  // the box's text afterwards; it holds "before" when the drop is refused
    };
    const std::wstring tooLong = texts_ + L"\\" + std::wstring(MAX_PATH, L'x') + L".txt";
    const Case cases[] = {
        {"three files", false, {texts_ + L"\\b.txt", texts_ + L"\\a.txt", other_ + L"\\c.txt"}, texts_ + L"\\b.txt"},
        {"a folder in File mode", false, {other_}, other_},
        {"a folder in Folder mode", true, {other_}, other_},
        {"a path that does not fit the box's buffer", false, {tooLong, texts_ + L"\\a.txt"}, L"before"},
        {"a path of 259 characters", false, {PathOfLength(temp_.path(), 259)}, PathOfLength(temp_.path(), 259)},
        {"a path of 260 characters", false, {PathOfLength(temp_.path(), 260)}, L"before"},
        {"no items", false, {}, L"before"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver_.Click(c.folderMode ? IDC_MODE_FOLDER : IDC_MODE_FILE);
        driver_.SetText(IDC_PATH, L"before");
        HGLOBAL drop = MakeDrop(c.dropped);
        EXPECT_EQ(SendMessageW(driver_.item(IDC_PATH), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0), 0);
        EXPECT_EQ(driver_.Text(IDC_PATH), c.expected);
        EXPECT_EQ(GlobalFlags(drop), GMEM_INVALID_HANDLE) << "the drop handle was not released";
        EXPECT_EQ(driver_.IsChecked(IDC_MODE_FOLDER), c.folderMode) << "the drop changed the mode";
        EXPECT_EQ(driver_.IsChecked(IDC_MODE_FILE), !c.folderMode) << "the drop changed the mode";
    }
}

// Everything other than a drop still reaches the edit control's own procedure.
TEST_F(PathBoxTest, TheBoxStillEditsAsAnEditBox) {
    driver_.Focus(IDC_PATH);
    driver_.Type(L"ab");
    driver_.PressKey(VK_LEFT);
    driver_.Type(L"x");
    EXPECT_EQ(driver_.Text(IDC_PATH), L"axb");
    EXPECT_NE(GetWindowLongPtrW(driver_.item(IDC_PATH), GWLP_USERDATA), 0) << "the previous procedure is kept";
}

// Wine's SHAutoComplete is a stub that shows nothing, so the call itself is what can be seen here: the
// import of this program is pointed at a recorder that passes the call on.
struct AutoCompleteCall {
    HWND window = nullptr;
    DWORD flags = 0;
    int count = 0;
};
AutoCompleteCall recordedCall;
decltype(&SHAutoComplete) realAutoComplete = nullptr;

HRESULT WINAPI RecordAutoComplete(HWND window, DWORD flags) {
    recordedCall.window = window;
    recordedCall.flags = flags;
    ++recordedCall.count;
    return realAutoComplete(window, flags);
}

TEST(PathBoxAutoCompletion, IsInstalledOnThePathBoxWithFileSystemSuggestionsOnly) {
    ImportPatch patch("shlwapi.dll", "SHAutoComplete", &RecordAutoComplete);
    ASSERT_TRUE(patch.active()) << "the program does not import SHAutoComplete";
    realAutoComplete = patch.real();
    DialogDriver driver(GetModuleHandleW(nullptr), IDD_MAIN, MainDialogProc);
    ASSERT_NE(driver.dialog(), nullptr);
    EXPECT_EQ(recordedCall.count, 1);
    EXPECT_EQ(recordedCall.window, driver.item(IDC_PATH));
    EXPECT_EQ(recordedCall.flags, static_cast<DWORD>(SHACF_FILESYS_ONLY));
    // Auto-completion sits on top of the drop handling, which must still get its messages.
    HGLOBAL drop = MakeDrop({L"C:\\dropped.txt"});
    SendMessageW(driver.item(IDC_PATH), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    EXPECT_EQ(driver.Text(IDC_PATH), L"C:\\dropped.txt");
}

enum class Act { Cancel, Accept, ChooseOther };

struct BrowseCase {
    const char* name;
    bool folderMode;
    bool fileInBox;  // the box holds texts\a.txt, else the folder texts
    bool quoted;     // between double quotes, with blanks around them, as pasted from Explorer
    Act act;
    const wchar_t* expectedBox;  // relative to the temporary folder; null: unchanged
};

TEST_F(PathBoxTest, BrowseStartsFromTheBoxAndPutsTheChoiceIn) {
    const BrowseCase cases[] = {
        {"file picker, file in the box, cancelled", false, true, false, Act::Cancel, nullptr},
        {"file picker, folder in the box, cancelled", false, false, false, Act::Cancel, nullptr},
        {"file picker, a file chosen", false, true, false, Act::ChooseOther, L"other\\c.txt"},
        {"file picker, folder in the box, a file chosen", false, false, false, Act::ChooseOther, L"other\\c.txt"},
        {"folder picker, file in the box, cancelled", true, true, false, Act::Cancel, nullptr},
        {"folder picker, file in the box, accepted", true, true, false, Act::Accept, L"texts"},
        {"folder picker, folder in the box, accepted", true, false, false, Act::Accept, L"texts"},
        {"folder picker, another folder chosen", true, false, false, Act::ChooseOther, L"other"},
        {"file picker, quoted file in the box, cancelled", false, true, true, Act::Cancel, nullptr},
        {"folder picker, quoted folder in the box, accepted", true, false, true, Act::Accept, L"texts"},
    };
    // The file picker makes the folder it ends in the current one; give the temporary folder back.
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    for (const BrowseCase& c : cases) {
        SCOPED_TRACE(c.name);
        driver_.Click(c.folderMode ? IDC_MODE_FOLDER : IDC_MODE_FILE);
        const std::wstring path = c.fileInBox ? texts_ + L"\\a.txt" : texts_;
        const std::wstring before = c.quoted ? L" \"" + path + L"\"\t" : path;
        driver_.SetText(IDC_PATH, before);

        AsyncSend click(driver_.item(IDC_BROWSE), BM_CLICK, 0, 0);
        HWND picker = driver_.WaitForPicker();
        ASSERT_NE(picker, nullptr) << "no picker appeared";
        if (!c.folderMode) {
            ASSERT_NE(GetDlgItem(picker, cmb13), nullptr) << "not the file picker";
            wchar_t folder[MAX_PATH] = {};
            SendMessageW(picker, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
            EXPECT_EQ(WithoutTrailingBackslash(folder), texts_) << "the file picker starts elsewhere";
        } else {
            EXPECT_NE(FindWindowExW(picker, nullptr, L"SysTreeView32", nullptr), nullptr) << "not the folder picker";
        }

        if (c.act == Act::ChooseOther && !c.folderMode) {
            std::wstring chosen = other_ + L"\\c.txt";
            SendMessageW(picker, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(chosen.c_str()));
        } else if (c.act == Act::ChooseOther) {
            SendMessageW(picker, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(other_.c_str()));
        }
        PostMessageW(picker, WM_COMMAND, c.act == Act::Cancel ? IDCANCEL : IDOK, 0);
        ASSERT_TRUE(click.Wait()) << "the picker did not close";

        EXPECT_EQ(driver_.Text(IDC_PATH), c.expectedBox ? temp_ / c.expectedBox : before);
        EXPECT_EQ(driver_.IsChecked(IDC_MODE_FOLDER), c.folderMode) << "Browse changed the mode";
        EXPECT_EQ(driver_.FindPicker(), nullptr);
        SetCurrentDirectoryW(current);
    }
}

}  // namespace
