// The main dialog run from its real template and procedure, driven from a second thread.

#include <gtest/gtest.h>

#include <vector>

#include "dialog_driver.h"
#include "dialog_test_files.h"
#include "main_dialog.h"
#include "resource.h"

namespace {

const std::vector<std::vector<int>> kRadioSets = {
    {IDC_MODE_FILE, IDC_MODE_FOLDER},
    {20, 21, 22, 23, 24, 25},
    {30, 31, 32, 33, 34, 35},
};

class MainDialogTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(driver_.dialog(), nullptr); }

    // A GB2312 file with an old time stamp, ready to be converted or to show that it was not touched.
    std::wstring MakeGb2312File(const std::wstring& path) {
        WriteFileBytes(path, kGb2312Text);
        MakeOld(path);
        return path;
    }

    void ExpectUntouched(const std::wstring& path, const FILETIME& before) {
        EXPECT_EQ(Hex(ReadFileBytes(path)), Hex(kGb2312Text));
        EXPECT_TRUE(SameTime(LastWriteTime(path), before)) << "the file was rewritten";
    }

    // The one radio button that is on in each set, 0 where none or several are on.
    std::vector<int> RadiosOn() {
        std::vector<int> on;
        for (const auto& set : kRadioSets) {
            int found = 0, count = 0;
            for (int id : set) {
                if (driver_.IsChecked(id)) {
                    found = id;
                    ++count;
                }
            }
            on.push_back(count == 1 ? found : 0);
        }
        return on;
    }

    TempDir temp_;
    DialogDriver driver_{GetModuleHandleW(nullptr), IDD_MAIN, MainDialogProc};
};

TEST_F(MainDialogTest, OpensInFileModeFromGb2312ToBig5WithAnEmptyPath) {
    EXPECT_EQ(WindowText(driver_.dialog()), L"中文檔案格式轉換");
    EXPECT_EQ(RadiosOn(), (std::vector<int>{IDC_MODE_FILE, 25, 32}));
    EXPECT_EQ(driver_.Text(IDC_PATH), L"");
    HICON icon = reinterpret_cast<HICON>(SendMessageW(driver_.dialog(), WM_GETICON, ICON_BIG, 0));
    EXPECT_NE(icon, nullptr);
    EXPECT_EQ(icon, LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP)));
}

TEST_F(MainDialogTest, EachRadioSetKeepsExactlyOneOn) {
    std::vector<int> expected = {IDC_MODE_FILE, 25, 32};
    for (size_t set = 0; set < kRadioSets.size(); ++set) {
        std::vector<int> order = kRadioSets[set];
        order.insert(order.end(), kRadioSets[set].rbegin(), kRadioSets[set].rend());
        for (int id : order) {
            driver_.Click(id);
            expected[set] = id;
            EXPECT_EQ(RadiosOn(), expected) << "after clicking " << id;
        }
    }
}

TEST_F(MainDialogTest, ConvertRightAfterStartMapsGb2312ToBig5) {
    std::wstring file = MakeGb2312File(temp_ / L"簡體.txt");
    driver_.SetText(IDC_PATH, file);
    driver_.Click(IDC_CONVERT);
    EXPECT_EQ(Hex(ReadFileBytes(file)), Hex(kBig5Text));
}

// What Convert must leave alone: each case arranges the dialog, then Convert is pressed.
TEST_F(MainDialogTest, ConvertTouchesNothingWithoutSomethingToDo) {
    struct Case {
        const char* name;
        std::vector<int> clicks;  // radios clicked before Convert
        bool fillPath;
    };
    const Case cases[] = {
        {"same format on both sides (Big5)", {22}, true},
        {"same format on both sides (Unicode)", {20, 30}, true},
        {"empty path", {}, false},
        {"empty path in Folder mode", {IDC_MODE_FOLDER}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring file = MakeGb2312File(temp_ / L"a.txt");
        FILETIME before = LastWriteTime(file);
        driver_.Click(IDC_MODE_FILE);
        driver_.Click(25);
        driver_.Click(32);
        for (int id : c.clicks)
            driver_.Click(id);
        driver_.SetText(IDC_PATH, c.fillPath ? file : L"");
        driver_.Click(IDC_CONVERT);
        ExpectUntouched(file, before);
    }
}

// What Convert takes from the box: a path of at most 259 characters (cut to fit, a longer text could name
// another real file) and, between double quotes as Explorer's "Copy as path" writes it, the path inside,
// the quotes not counted. The box keeps what was typed.
TEST_F(MainDialogTest, ConvertTakesThePathTheBoxNames) {
    const std::wstring longest = PathOfLength(temp_.path(), 259);
    ASSERT_EQ(longest.size(), 259u);
    const std::wstring folder = temp_ / L"copied path";
    const std::wstring file = folder + L"\\簡 體.txt";
    const struct {
        const char* name;
        bool folderMode;
        std::wstring box;
        const std::wstring& target;  // the file that converts, or stays untouched
        bool converts;
    } cases[] = {
        {"260 characters", false, longest + L"x", longest, false},
        {"260 characters between quotes", false, L"\"" + longest + L"x\"", longest, false},
        {"259 characters", false, longest, longest, true},
        {"259 characters between quotes", false, L"\"" + longest + L"\"", longest, true},
        {"a quoted file", false, L"\"" + file + L"\"", file, true},
        {"a quoted folder in Folder mode", true, L"\"" + folder + L"\"", file, true},
        {"a quoted pattern", false, L"\"" + folder + L"\\*.txt\"", file, true},
        {"spaces and tabs around the quotes", false, L" \t\"" + file + L"\"\t ", file, true},
        {"a lone quote", false, L"\"" + file, file, false},
        {"quotes inside the text", false, folder + L"\\\"簡 體.txt\"", file, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MakeGb2312File(c.target);
        const FILETIME before = LastWriteTime(c.target);
        driver_.Click(c.folderMode ? IDC_MODE_FOLDER : IDC_MODE_FILE);
        driver_.SetText(IDC_PATH, c.box);
        driver_.Click(IDC_CONVERT);
        if (c.converts)
            EXPECT_EQ(Hex(ReadFileBytes(c.target)), Hex(kBig5Text));
        else
            ExpectUntouched(c.target, before);
        EXPECT_EQ(driver_.Text(IDC_PATH), c.box);
    }
}

// Only clicks count: the same identifier with another notification code does nothing.
TEST_F(MainDialogTest, CommandsCountOnlyWithNotificationCodeZero) {
    std::wstring file = MakeGb2312File(temp_ / L"a.txt");
    FILETIME before = LastWriteTime(file);
    driver_.SetText(IDC_PATH, file);
    for (WORD code : {WORD{1}, WORD{BN_DOUBLECLICKED}, WORD{EN_CHANGE}}) {
        SendMessageW(driver_.dialog(), WM_COMMAND, MAKEWPARAM(IDC_CONVERT, code), 0);
        SendMessageW(driver_.dialog(), WM_COMMAND, MAKEWPARAM(IDCANCEL, code), 0);
    }
    ExpectUntouched(file, before);
    EXPECT_FALSE(driver_.WaitForEnd(0)) << "Cancel with a notification code ended the dialog";
    SendMessageW(driver_.dialog(), WM_COMMAND, MAKEWPARAM(IDC_CONVERT, BN_CLICKED), 0);
    EXPECT_EQ(Hex(ReadFileBytes(file)), Hex(kBig5Text));
}

TEST_F(MainDialogTest, EnterInThePathBoxDoesNothing) {
    std::wstring file = MakeGb2312File(temp_ / L"a.txt");
    FILETIME before = LastWriteTime(file);
    driver_.SetText(IDC_PATH, file);
    driver_.Focus(IDC_PATH);
    driver_.PressKey(VK_RETURN);
    ExpectUntouched(file, before);
    EXPECT_FALSE(driver_.WaitForEnd(0)) << "Enter ended the dialog";
    EXPECT_EQ(driver_.Text(IDC_PATH), file);
}

// Alt and a letter through the dialog's own loop, as the keyboard delivers them.
TEST_F(MainDialogTest, MnemonicsSwitchTheModeAndConvert) {
    std::wstring file = MakeGb2312File(temp_ / L"a.txt");
    driver_.SetText(IDC_PATH, file);
    driver_.Focus(IDC_PATH);

    driver_.PressKey('D', true);
    EXPECT_EQ(RadiosOn(), (std::vector<int>{IDC_MODE_FOLDER, 25, 32})) << "Alt+D";
    driver_.PressKey('F', true);
    EXPECT_EQ(RadiosOn(), (std::vector<int>{IDC_MODE_FILE, 25, 32})) << "Alt+F";
    driver_.PressKey('C', true);
    EXPECT_EQ(Hex(ReadFileBytes(file)), Hex(kBig5Text)) << "Alt+C";
    EXPECT_EQ(driver_.Text(IDC_PATH), file);
}

TEST_F(MainDialogTest, AltBOpensThePicker) {
    driver_.Focus(IDC_PATH);
    driver_.PressKey('B', true);
    HWND picker = driver_.WaitForPicker();
    ASSERT_NE(picker, nullptr);
    PostMessageW(picker, WM_COMMAND, IDCANCEL, 0);
    driver_.Settle();
    EXPECT_EQ(driver_.FindPicker(), nullptr);
}

TEST_F(MainDialogTest, EscEndsTheDialog) {
    driver_.Focus(IDC_PATH);
    driver_.PressKey(VK_ESCAPE);
    ASSERT_TRUE(driver_.WaitForEnd());
    EXPECT_EQ(driver_.result(), 0);
}

TEST_F(MainDialogTest, TheCloseBoxEndsTheDialog) {
    PostMessageW(driver_.dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(driver_.WaitForEnd());
    EXPECT_EQ(driver_.result(), 0);
}

// A translation supplies only the template: the icon still comes from the program's own module.
TEST(MainDialogFromASatellite, TakesTheTemplateFromItAndTheIconFromTheProgram) {
    const std::wstring satellite = FromUnixPath(QTX_EN_SATELLITE_PATH);
    ASSERT_FALSE(HasIcon(satellite)) << "the satellite has an icon of its own: the test could not tell";
    HMODULE module = LoadLibraryExW(satellite.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    {
        DialogDriver driver(module, IDD_MAIN, MainDialogProc);
        ASSERT_NE(driver.dialog(), nullptr);
        EXPECT_EQ(WindowText(driver.dialog()), TemplateCaption(satellite));
        EXPECT_NE(WindowText(driver.dialog()), L"中文檔案格式轉換");
        HICON icon = reinterpret_cast<HICON>(SendMessageW(driver.dialog(), WM_GETICON, ICON_BIG, 0));
        EXPECT_NE(icon, nullptr);
        EXPECT_EQ(icon, LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP)));
        for (int id : {IDC_MODE_FILE, IDC_FROM_FIRST + 5, IDC_TO_FIRST + 2})
            EXPECT_TRUE(driver.IsChecked(id)) << "control " << id;
    }
    FreeLibrary(module);
}

}  // namespace
