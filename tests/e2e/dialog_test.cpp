// Quorvel.exe starts, shows its dialog exactly as laid out with its defaults, and ends
// with exit code 0; its resources are what Windows expects of it.
#include "harness.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int Unaddressed = 0xFFFF;
constexpr DWORD ChildVisible = WS_CHILD | WS_VISIBLE;

struct ControlLayout {
    int id;
    const char* className;
    const char* caption;
    short x, y, cx, cy;
    DWORD style;  // without WS_CHILD | WS_VISIBLE
};

// The layout: in tab order, with the styles that carry behaviour.
const ControlLayout Layout[] = {
    {IDOK, "Button", "Generate", 190, 17, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP},
    {IDCANCEL, "Button", "Exit", 190, 33, 50, 14, BS_PUSHBUTTON | WS_TABSTOP},
    {IDHELP, "Button", "Help", 190, 49, 50, 14, BS_PUSHBUTTON | WS_TABSTOP},
    {IDC_DEC_MIN, "Edit", "", 38, 26, 23, 12, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
    {IDC_DEC_MAX, "Edit", "", 38, 44, 24, 12, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
    {IDC_BASE_LIST, "ListBox", "", 121, 26, 54, 14, LBS_NOTIFY | WS_BORDER | WS_VSCROLL | WS_TABSTOP},
    {IDC_DELIMITER, "Edit", "", 120, 44, 26, 12, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
    {IDC_TAB, "Button", "Tab", 145, 45, 16, 12, BS_PUSHBUTTON | WS_TABSTOP},
    {IDC_CRLF, "Button", "Crlf", 161, 45, 16, 12, BS_PUSHBUTTON | WS_TABSTOP},
    {IDC_COUNT, "Edit", "", 118, 68, 54, 14, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
    {IDC_BROWSE, "Button", "Browse...", 12, 109, 39, 14, BS_PUSHBUTTON | WS_TABSTOP},
    {IDC_OUTPUT_PATH, "Edit", "", 51, 110, 191, 13, ES_AUTOHSCROLL | ES_READONLY | WS_BORDER},
    {IDC_OUTPUT, "Edit", "", 14, 154, 229, 56, ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VSCROLL | WS_TABSTOP},
    {IDC_COPY, "Button", "Copy to Clipboard", 173, 137, 74, 9, BS_PUSHBUTTON | WS_TABSTOP},
    {Unaddressed, "Button", "Output File", 7, 96, 242, 37, BS_GROUPBOX},
    {Unaddressed, "Button", "Output Settings", 8, 13, 176, 77, BS_GROUPBOX},
    {Unaddressed, "Button", "Output", 7, 144, 242, 71, BS_GROUPBOX},
    {Unaddressed, "Static", "Dec. Min:", 14, 24, 22, 16, SS_RIGHT},
    {Unaddressed, "Static", "", 14, 62, 160, 1, SS_ETCHEDHORZ},
    {Unaddressed, "Static", "Number of Zintars to Generate:", 14, 70, 98, 9, SS_RIGHT},
    {IDC_STATUS, "Edit", "", 2, 223, 187, 12, ES_READONLY},
    {Unaddressed, "Static", "", 0, 220, 254, 1, SS_ETCHEDHORZ},
    {Unaddressed, "Static", "", 192, 222, 1, 13, SS_ETCHEDVERT},
    {IDC_ELAPSED, "Edit", "", 197, 223, 50, 12, ES_AUTOHSCROLL | ES_READONLY},
    {Unaddressed, "Static", "Numeric\nBase:", 88, 22, 30, 18, SS_LEFT},
    {Unaddressed, "Static", "Dec. Max:", 14, 42, 22, 16, SS_RIGHT},
    {Unaddressed, "Static", "Delimiter:", 86, 46, 30, 10, SS_LEFT},
    {Unaddressed, "Static", "0\n|\n255", 64, 30, 14, 26, SS_LEFT},
};

// Reads the classic DIALOG template out of the executable.
class Template {
public:
    explicit Template(const BYTE* data) : p_(data) {}
    DWORD Dword() { DWORD v; std::memcpy(&v, p_, 4); p_ += 4; return v; }
    WORD Word() { WORD v; std::memcpy(&v, p_, 2); p_ += 2; return v; }
    short Short() { return static_cast<short>(Word()); }
    // A string, or an ordinal given as "#n".
    std::string NameOrOrdinal()
    {
        if (Word() == 0xFFFF)
            return "#" + std::to_string(Word());
        p_ -= 2;
        return String();
    }
    std::string String()
    {
        std::string s;
        for (WORD c; (c = Word()) != 0;)
            s += static_cast<char>(c);
        return s;
    }
    void AlignDword() { p_ = reinterpret_cast<const BYTE*>((reinterpret_cast<ULONG_PTR>(p_) + 3) & ~3u); }

private:
    const BYTE* p_;
};

// A template names a predefined class by atom or by name; either is fine.
std::string ClassName(const std::string& nameOrOrdinal)
{
    if (nameOrOrdinal == "#128") return "Button";
    if (nameOrOrdinal == "#129") return "Edit";
    if (nameOrOrdinal == "#130") return "Static";
    if (nameOrOrdinal == "#131") return "ListBox";
    return nameOrOrdinal;
}

class QuorvelExe : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExA(BesideThisProgram("Quorvel.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr);
    }
    void TearDown() override { FreeLibrary(module_); }
    const BYTE* Resource(LPCSTR type, int id, DWORD* size = nullptr)
    {
        HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(id), type);
        if (!found)
            return nullptr;
        if (size)
            *size = SizeofResource(module_, found);
        return static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
    }
    HMODULE module_ = nullptr;
};

TEST_F(QuorvelExe, DialogTemplateMatchesTheLayout)
{
    const BYTE* data = Resource(RT_DIALOG, IDD_MAIN);
    ASSERT_NE(data, nullptr);
    Template t(data);
    EXPECT_EQ(t.Dword(), static_cast<DWORD>(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU))
        << "frame: pop-up, caption, system menu, modal frame; no min/max box; not visible";
    EXPECT_EQ(t.Dword(), 0u);
    const WORD count = t.Word();
    EXPECT_EQ(t.Short(), 0);
    EXPECT_EQ(t.Short(), 0);
    EXPECT_EQ(t.Short(), 254);
    EXPECT_EQ(t.Short(), 235);
    EXPECT_EQ(t.NameOrOrdinal(), "") << "no menu";
    EXPECT_EQ(t.NameOrOrdinal(), "") << "the standard dialog class";
    EXPECT_EQ(t.String(), "Quorvel");
    EXPECT_EQ(t.Word(), 8);
    EXPECT_EQ(t.String(), "MS Sans Serif");
    ASSERT_EQ(count, std::size(Layout));
    for (const ControlLayout& control : Layout) {
        t.AlignDword();
        const DWORD style = t.Dword();
        t.Dword();
        const short x = t.Short(), y = t.Short(), cx = t.Short(), cy = t.Short();
        const WORD id = t.Word();
        const std::string className = ClassName(t.NameOrOrdinal());
        const std::string caption = t.NameOrOrdinal();
        const WORD extra = t.Word();
        SCOPED_TRACE(std::string("control \"") + control.caption + "\" " + std::to_string(control.id));
        EXPECT_EQ(id, control.id);
        EXPECT_EQ(lstrcmpiA(className.c_str(), control.className), 0) << className;
        EXPECT_EQ(caption, control.caption);
        EXPECT_EQ(style, control.style | ChildVisible);
        EXPECT_EQ((std::vector<short>{x, y, cx, cy}), (std::vector<short>{control.x, control.y, control.cx, control.cy}));
        EXPECT_EQ(extra, 0);
    }
}

TEST_F(QuorvelExe, IconIsOne32By32ImageIn16Colours)
{
    DWORD size = 0;
    const BYTE* group = Resource(RT_GROUP_ICON, IDI_MAIN, &size);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(size, 6u + 14u);
    WORD entries = 0;
    std::memcpy(&entries, group + 4, 2);
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(group[6], 32);  // width
    EXPECT_EQ(group[7], 32);  // height
    EXPECT_EQ(group[8], 16);  // colours
    WORD bits = 0, iconId = 0;
    std::memcpy(&bits, group + 6 + 6, 2);
    std::memcpy(&iconId, group + 6 + 12, 2);
    EXPECT_EQ(bits, 4);
    const BYTE* image = Resource(RT_ICON, iconId);
    ASSERT_NE(image, nullptr);
    BITMAPINFOHEADER header;
    std::memcpy(&header, image, sizeof header);
    EXPECT_EQ(header.biWidth, 32);
    EXPECT_EQ(header.biHeight, 64);  // the image and its mask
    EXPECT_EQ(header.biBitCount, 4);
}

TEST_F(QuorvelExe, VersionRecord)
{
    const std::string path = BesideThisProgram("Quorvel.exe");
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04B0);
    const std::pair<const char*, const char*> strings[] = {
        {"ProductName", "Quorvel"},     {"InternalName", "Quorvel"},          {"FileDescription", "Quorvel"},
        {"Comments", "Quorvel"},        {"OriginalFilename", "Quorvel.exe"},
    };
    for (const auto& [name, expected] : strings) {
        char* value = nullptr;
        const std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
        ASSERT_TRUE(VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) << name;
        EXPECT_STREQ(value, expected) << name;
    }
}

class Dialog : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Start(&app_)); }
    void TearDown() override { Stop(&app_); }
    App app_;
};

TEST_F(Dialog, LiveControlsMatchTheLayoutInTabOrder)
{
    HWND child = GetWindow(app_.dialog, GW_CHILD);
    for (const ControlLayout& control : Layout) {
        SCOPED_TRACE(std::string("control \"") + control.caption + "\" " + std::to_string(control.id));
        ASSERT_NE(child, nullptr);
        char className[32] = {};
        GetClassNameA(child, className, sizeof className);
        EXPECT_EQ(lstrcmpiA(className, control.className), 0) << className;
        EXPECT_EQ(GetDlgCtrlID(child), control.id);
        const DWORD style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
        EXPECT_EQ(style & WS_TABSTOP, control.style & WS_TABSTOP);
        EXPECT_TRUE(style & WS_VISIBLE);
        if (std::strcmp(control.className, "Edit") == 0) {
            EXPECT_EQ(style & (ES_READONLY | ES_MULTILINE | ES_AUTOHSCROLL | WS_VSCROLL),
                      control.style & (ES_READONLY | ES_MULTILINE | ES_AUTOHSCROLL | WS_VSCROLL));
        }
        if (std::strcmp(control.className, "ListBox") == 0) {
            EXPECT_EQ(style & (LBS_NOTIFY | LBS_SORT | WS_VSCROLL), static_cast<DWORD>(LBS_NOTIFY | WS_VSCROLL));
        }
        if (std::strcmp(control.className, "Edit") != 0 && std::strcmp(control.className, "ListBox") != 0) {
            EXPECT_EQ(Text(child), control.caption);
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "no control beyond the layout";

    const DWORD frame = static_cast<DWORD>(GetWindowLongA(app_.dialog, GWL_STYLE));
    EXPECT_TRUE(frame & WS_CAPTION);
    EXPECT_TRUE(frame & WS_SYSMENU);
    EXPECT_FALSE(frame & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_EQ(GetMenu(app_.dialog), nullptr);
    RECT frameRect = {};
    GetWindowRect(app_.dialog, &frameRect);
    EXPECT_EQ(frameRect.left, 0);
    EXPECT_EQ(frameRect.top, 0);
}

TEST_F(Dialog, StartsWithTheDefaults)
{
    EXPECT_EQ(Text(app_.dialog), "Quorvel");
    EXPECT_EQ(FieldText(app_, IDC_COUNT), "100");
    EXPECT_EQ(FieldText(app_, IDC_DEC_MIN), "0");
    EXPECT_EQ(FieldText(app_, IDC_DEC_MAX), "10");
    EXPECT_EQ(FieldText(app_, IDC_DELIMITER), "");
    EXPECT_EQ(FieldText(app_, IDC_STATUS), "Ready");
    EXPECT_EQ(FieldText(app_, IDC_OUTPUT), "");
    EXPECT_EQ(FieldText(app_, IDC_OUTPUT_PATH), "");
    EXPECT_EQ(FieldText(app_, IDC_ELAPSED), "");

    const HWND list = Control(app_, IDC_BASE_LIST);
    ASSERT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 35);
    for (int item = 0; item < 35; ++item) {
        // Across processes Wine hands list-box text back in UTF-16 whatever the call, so ask for that.
        wchar_t text[16] = {};
        ASSERT_LT(SendMessageW(list, LB_GETTEXTLEN, item, 0), 15);
        SendMessageW(list, LB_GETTEXT, item, reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(std::wstring(text), std::to_wstring(item + 2));
    }
    EXPECT_EQ(SendMessageA(list, LB_GETTOPINDEX, 0, 0), 8);
    EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), LB_ERR) << "nothing selected";

    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    ASSERT_TRUE(GetGUIThreadInfo(app_.process.dwThreadId, &gui));
    EXPECT_EQ(gui.hwndFocus, Control(app_, IDOK)) << "the first tab stop has the focus";
}

TEST_F(Dialog, BaseListScrollsLikeASpinner)
{
    const HWND list = Control(app_, IDC_BASE_LIST);
    SendMessageA(list, WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
    const LRESULT bottom = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
    EXPECT_EQ(bottom, 34) << "36 at the top";
    SendMessageA(list, WM_VSCROLL, MAKEWPARAM(SB_TOP, 0), 0);
    EXPECT_EQ(SendMessageA(list, LB_GETTOPINDEX, 0, 0), 0) << "2 at the top";
    SendMessageA(list, WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 0), 0);
    EXPECT_EQ(SendMessageA(list, LB_GETTOPINDEX, 0, 0), 1) << "one line per step: 3 at the top";
}

TEST_F(Dialog, OutputPathCannotBeTypedInto)
{
    const HWND path = Control(app_, IDC_OUTPUT_PATH);
    SendMessageA(path, WM_CHAR, 'x', 0);
    SendMessageA(path, WM_PASTE, 0, 0);
    EXPECT_EQ(FieldText(app_, IDC_OUTPUT_PATH), "");
}

TEST_F(Dialog, UnknownCommandChangesNothing)
{
    std::vector<std::string> before;
    for (const ControlLayout& control : Layout)
        if (control.id != Unaddressed)
            before.push_back(FieldText(app_, control.id));
    // A notification from the count field, and an identifier nobody has.
    SendMessageA(app_.dialog, WM_COMMAND, MAKEWPARAM(IDC_COUNT, EN_CHANGE), reinterpret_cast<LPARAM>(Control(app_, IDC_COUNT)));
    SendMessageA(app_.dialog, WM_COMMAND, MAKEWPARAM(4242, 0), 0);
    std::vector<std::string> after;
    for (const ControlLayout& control : Layout)
        if (control.id != Unaddressed)
            after.push_back(FieldText(app_, control.id));
    EXPECT_EQ(after, before);
    EXPECT_TRUE(IsRunning(app_));
    EXPECT_EQ(WaitForBox(app_, 300), nullptr) << "no box opened";
}

TEST_F(Dialog, ExitEndsWithCodeZero)
{
    ASSERT_TRUE(PressAndWait(app_, IDCANCEL));
    EXPECT_EQ(WaitForExit(&app_), 0u);
}

TEST_F(Dialog, CloseBoxEndsWithCodeZero)
{
    PostMessageA(app_.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(WaitForExit(&app_), 0u);
}

}  // namespace
