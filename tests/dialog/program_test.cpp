// The built QTX.exe started as a user starts it, in a folder of its own, and driven from this process:
// its dialog, a conversion, its exit code, and the satellite translation beside it.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "dialog_driver.h"
#include "dialog_test_files.h"
#include "resource.h"

namespace {

const wchar_t kChineseCaption[] = L"中文檔案格式轉換";

// A started program; ended by force if a test stops before it has ended on its own.
class Program {
  public:
    explicit Program(const std::wstring& exe) {
        STARTUPINFOW startup = {sizeof startup};
        std::wstring folder = exe.substr(0, exe.rfind(L'\\'));
        started_ = CreateProcessW(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                                  &info_) != 0;
        EXPECT_TRUE(started_) << "cannot start " << testing::PrintToString(exe) << ", error " << GetLastError();
    }
    ~Program() {
        if (!started_)
            return;
        if (WaitForSingleObject(info_.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(info_.hProcess, 1);
            WaitForSingleObject(info_.hProcess, kDialogTimeoutMs);
        }
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    HWND WaitForDialog() const { return started_ ? WaitForProcessDialog(info_.hProcess, info_.dwProcessId) : nullptr; }

    // The exit code once the program has ended, or -1 when it is still running after the time limit.
    long WaitForExit() const {
        DWORD code = 0;
        if (!started_ || WaitForSingleObject(info_.hProcess, kDialogTimeoutMs) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(info_.hProcess, &code))
            return -1;
        return static_cast<long>(code);
    }

  private:
    PROCESS_INFORMATION info_ = {};
    bool started_ = false;
};

// Wine 8 answers 0 to WM_GETICON (and WM_SETICON) sent to another process's window, although other
// messages arrive: there the window's icon is proved inside one process by main_dialog_tests (the same
// dialog code, the icon taken from the program's module with and without a satellite), and that QTX.exe
// holds the icon by package_tests. Elsewhere it is asked for here, and must come.
void ExpectBigIcon(HWND dialog) {
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr)
        return;
    DWORD_PTR icon = 0;
    ASSERT_TRUE(SendMessageTimeoutW(dialog, WM_GETICON, ICON_BIG, 0, SMTO_NORMAL, kDialogTimeoutMs, &icon));
    EXPECT_NE(icon, 0u) << "the window has no icon";
}

void PressEscape(HWND window) {
    UINT scan = MapVirtualKeyW(VK_ESCAPE, MAPVK_VK_TO_VSC);
    PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 1 | static_cast<LPARAM>(scan) << 16);
    PostMessageW(window, WM_KEYUP, VK_ESCAPE, 1 | static_cast<LPARAM>(scan) << 16 | 3LL << 30);
}

class ProgramTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(CopyFileW(FromUnixPath(QTX_EXE_PATH).c_str(), exe_.c_str(), TRUE)) << "cannot copy QTX.exe";
    }

    void PlaceSatellite(const char* unixPath) {
        ASSERT_TRUE(CopyFileW(FromUnixPath(unixPath).c_str(), (exe_ + L".mui").c_str(), TRUE));
    }

    TempDir temp_;
    std::wstring exe_ = temp_ / L"QTX.exe";
};

TEST_F(ProgramTest, ConvertsATypedPathAndEndsWithCodeZeroOnEsc) {
    std::wstring file = temp_ / L"texts\\簡體.txt";
    WriteFileBytes(file, kGb2312Text);
    Program program(exe_);
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr) << "no dialog appeared";
    EXPECT_EQ(WindowText(dialog), kChineseCaption);
    ExpectBigIcon(dialog);

    HWND box = GetDlgItem(dialog, IDC_PATH);
    for (wchar_t unit : file)
        SendMessageW(box, WM_CHAR, unit, 1);
    ASSERT_EQ(WindowText(box), file);
    SendMessageW(GetDlgItem(dialog, IDC_CONVERT), BM_CLICK, 0, 0);
    EXPECT_EQ(Hex(ReadFileBytes(file)), Hex(kBig5Text));

    PressEscape(box);
    EXPECT_EQ(program.WaitForExit(), 0);
}

TEST_F(ProgramTest, TheCloseBoxEndsItWithCodeZero) {
    Program program(exe_);
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr) << "no dialog appeared";
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(program.WaitForExit(), 0);
}

TEST_F(ProgramTest, ASatelliteBesideItSuppliesTheDialogButNotTheIcon) {
    PlaceSatellite(QTX_EN_SATELLITE_PATH);
    std::wstring caption = TemplateCaption(exe_ + L".mui");
    ASSERT_NE(caption, kChineseCaption);
    ASSERT_FALSE(HasIcon(exe_ + L".mui")) << "the satellite has an icon of its own: the test could not tell";

    Program program(exe_);
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr) << "no dialog appeared";
    EXPECT_EQ(WindowText(dialog), caption);
    ExpectBigIcon(dialog);
    for (int id : {IDC_MODE_FILE, IDC_FROM_FIRST + 5, IDC_TO_FIRST + 2})
        EXPECT_EQ(SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0), BST_CHECKED) << "control " << id;

    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(program.WaitForExit(), 0);
}

// Something named like a satellite that can't be loaded is passed over for the program's own dialog.
TEST_F(ProgramTest, AnUnloadableSatelliteIsPassedOver) {
    struct Case {
        const char* name;
        bool folder;
    };
    for (const Case& c : {Case{"a text file", false}, Case{"a folder", true}}) {
        SCOPED_TRACE(c.name);
        std::wstring satellite = exe_ + L".mui";
        if (c.folder)
            ASSERT_TRUE(CreateDirectoryW(satellite.c_str(), nullptr));
        else
            WriteFileBytes(satellite, "not a module");
        Program program(exe_);
        HWND dialog = program.WaitForDialog();
        ASSERT_NE(dialog, nullptr) << "no dialog appeared";
        EXPECT_EQ(WindowText(dialog), kChineseCaption);
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(program.WaitForExit(), 0);
        RemoveTree(satellite);
    }
}

TEST_F(ProgramTest, ASatelliteWithoutDialogOneEndsItAtOnceWithCodeZero) {
    PlaceSatellite(QTX_NO_DIALOG_SATELLITE_PATH);
    ASSERT_EQ(TemplateCaption(exe_ + L".mui"), L"(no dialog 1)");
    Program program(exe_);
    EXPECT_EQ(program.WaitForExit(), 0);
}

}  // namespace
