// Quorvel.exe where it meets the rest of the system: the output file replaced all or nothing,
// the clipboard while another program holds it, names typed into the Save dialog.
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string NoFile = "<none>";
const std::string EarlierText = std::string("the text of an earlier run, ok.") + '\0';
const std::string FileError = "ERROR|The output file could not be written:";
const std::string Warning = "WARNING|Random Number Generation";

// The values 0 to 9 of the fake provider's bytes 00 01 02 ..., a character each.
std::string Digits(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += char('0' + i % 256 % 10);
    return text + '\0';
}

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

// The files in folder whose names end so.
int Leftovers(const std::string& folder, const char* ending = "*.Quorvel.tmp")
{
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + ending).c_str(), &found);
    int count = 0;
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        ++count;
    FindClose(search);
    return count;
}

class Commands : public ::testing::Test {  // the fake provider as the hardware
protected:
    void SetUp() override
    {
        SetEnvironmentVariableA("FAKECSP_LOG", nullptr);
        ASSERT_TRUE(RegisterProvider(Beside("fakecsp.dll")) && Start(&app_));
        SetField(app_, IDC_DEC_MAX, "9");
    }
    void TearDown() override { Stop(&app_); }
    App app_;
};

enum class Before { None, Earlier, ReadOnly };
struct FileRow {
    const char* name;
    const char* folder;  // beside the programs; "small-disk\\" is a file system of 1 MiB
    Before before;
    int count;
    bool replaced;       // the new text whole; else what the file held, and the failure told
};
class OutputFile : public Commands, public ::testing::WithParamInterface<FileRow> {};

TEST_P(OutputFile, HoldsTheOldTextOrTheNewOneWhole)
{
    const FileRow& row = GetParam();
    const std::string folder = Beside(row.folder), path = folder + "output.txt";
    ULARGE_INTEGER size = {};
    if (*row.folder && !(GetDiskFreeSpaceExA(folder.c_str(), nullptr, &size, nullptr) && size.QuadPart <= (2u << 20)))
        GTEST_SKIP() << "no small file system mounted at " << folder;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
    if (row.before != Before::None) {
        const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        row.before == Before::ReadOnly ? FILE_ATTRIBUTE_READONLY : 0, nullptr);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file, EarlierText.data(), DWORD(EarlierText.size()), &written, nullptr) && CloseHandle(file));
    }
    SetField(app_, IDC_OUTPUT_PATH, path.c_str());
    SetField(app_, IDC_COUNT, std::to_string(row.count).c_str());
    std::vector<std::string> expected;  // the warning of a large run, and the failure told
    if (row.count > 10000)
        expected.push_back(Warning);
    if (!row.replaced)
        expected.push_back(FileError + "\n" + path);
    const std::vector<std::string> seen = Press(app_, IDOK, std::vector<int>(expected.size(), IDOK));
    ASSERT_EQ(seen.size(), expected.size()) << seen.back();
    for (std::size_t i = 0; i < seen.size(); ++i)
        EXPECT_TRUE(StartsWith(seen[i], expected[i])) << seen[i];
    const std::string before = row.before == Before::None ? NoFile : EarlierText;
    EXPECT_TRUE(FileBytes(path) == (row.replaced ? Digits(row.count) : before)) << FileBytes(path).substr(0, 100);
    EXPECT_EQ(Field(app_, IDC_OUTPUT).size(), std::size_t(row.count)) << "the numbers are not shown";
    EXPECT_EQ(Leftovers(folder), 0) << "a temporary file left in " << folder;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

const FileRow FileRows[] = {
    {"AFullDiskKeepsTheEarlierText", "small-disk\\", Before::Earlier, 2000000, false},
    {"AFullDiskLeavesNoFileWhereThereWasNone", "small-disk\\", Before::None, 2000000, false},
    {"WhatFitsReplacesTheEarlierText", "small-disk\\", Before::Earlier, 500000, true},
    {"AReadOnlyFileIsRefusedAndKept", "", Before::ReadOnly, 5, false},
};
INSTANTIATE_TEST_SUITE_P(Rows, OutputFile, ::testing::ValuesIn(FileRows), [](const auto& row) { return row.param.name; });

// A path that names a pipe rather than a file is written directly, as a file once was.
struct PipeReader {
    HANDLE pipe;
    std::string received;
};
DWORD WINAPI ReadPipe(void* reader)
{
    PipeReader& r = *static_cast<PipeReader*>(reader);
    char buffer[4096];
    DWORD read = 0;
    ConnectNamedPipe(r.pipe, nullptr);
    while (ReadFile(r.pipe, buffer, sizeof buffer, &read, nullptr) && read)
        r.received.append(buffer, read);
    return 0;
}
TEST_F(Commands, APipeIsWrittenDirectly)
{
    const char Name[] = "\\\\.\\pipe\\quorvel-output-test";
    PipeReader reader{CreateNamedPipeA(Name, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 65536, 0, nullptr), {}};
    ASSERT_NE(reader.pipe, INVALID_HANDLE_VALUE);
    const HANDLE thread = CreateThread(nullptr, 0, ReadPipe, &reader, 0, nullptr);
    SetField(app_, IDC_OUTPUT_PATH, Name);
    SetField(app_, IDC_COUNT, "12");
    EXPECT_TRUE(Press(app_, IDOK).empty());
    EXPECT_EQ(WaitForSingleObject(thread, WaitMs), WAIT_OBJECT_0);
    EXPECT_EQ(reader.received, Digits(12));
    CloseHandle(thread);
    CloseHandle(reader.pipe);
}

// Names typed into the Save dialog: whatever the user types, Quorvel lives on, and a name
// that names an existing file lands in the output-path field as its whole path. A drive and a
// name stand for that name in the folder the dialog shows.
struct TypedName {
    const char* name;
    const char* typed;
    std::string chosen;  // the existing file it names; "": the dialog refuses it and is cancelled
};
class SaveDialog : public Commands, public ::testing::WithParamInterface<TypedName> {};
TEST_P(SaveDialog, ANameTypedNeverEndsQuorvel)
{
    const TypedName& row = GetParam();
    // A run into the programs' folder: the dialog then opens there.
    SetField(app_, IDC_OUTPUT_PATH, Beside("browse-start.txt").c_str());
    ASSERT_TRUE(Press(app_, IDOK).empty());
    if (!row.chosen.empty())
        CloseHandle(CreateFileA(row.chosen.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const std::vector<std::string> seen = Press(app_, IDC_BROWSE, {row.chosen.empty() ? IDCANCEL : IDOK}, row.typed);
    EXPECT_TRUE(WaitForSingleObject(app_.process.hProcess, 0) == WAIT_TIMEOUT && Field(app_, IDC_COUNT) == "100")
        << "Quorvel ended: " << (seen.empty() ? "" : seen.back());
    EXPECT_EQ(Field(app_, IDC_OUTPUT_PATH), row.chosen);
    DeleteFileA(row.chosen.c_str());
    DeleteFileA(Beside("browse-start.txt").c_str());
}
const TypedName TypedNames[] = {
    {"ADriveAndAName", "Z:quorvel-typed.txt", Beside("quorvel-typed.txt")},
    {"ADriveAndANameInAFolder", "Z:.\\quorvel-typed.txt", Beside("quorvel-typed.txt")},
    {"AFullPath", "Z:\\tmp\\quorvel-typed.txt", "Z:\\tmp\\quorvel-typed.txt"},
    {"ANameWithATabAndALineFeed", "quorvel\ttyped\n.txt", ""},
    {"ADriveAndANameWithATab", "Z:quorvel\ttyped.txt", ""},
};
INSTANTIATE_TEST_SUITE_P(Names, SaveDialog, ::testing::ValuesIn(TypedNames), [](const auto& row) { return row.param.name; });

// Copy to Clipboard while another program holds the clipboard open: a moment's hold is
// waited out; a longer one is told, and the clipboard keeps what it had.
struct Holding {
    HANDLE held;
    DWORD ms;
};
DWORD WINAPI HoldClipboard(void* holding)
{
    const Holding& h = *static_cast<Holding*>(holding);
    if (!OpenClipboard(nullptr))
        return 1;
    SetEvent(h.held);
    Sleep(h.ms);
    return CloseClipboard(), 0;
}
struct ClipboardRow {
    const char* name;
    DWORD heldMs;
    bool copied;
};
class BusyClipboard : public Commands, public ::testing::WithParamInterface<ClipboardRow> {};
TEST_P(BusyClipboard, IsWaitedForOrTold)
{
    const ClipboardRow& row = GetParam();
    SetField(app_, IDC_COUNT, "4");
    SetField(app_, IDC_DELIMITER, "\n");
    ASSERT_TRUE(Press(app_, IDOK).empty());
    const HGLOBAL earlier = GlobalAlloc(GMEM_MOVEABLE, 8);
    lstrcpyA(static_cast<char*>(GlobalLock(earlier)), "earlier");
    GlobalUnlock(earlier);
    ASSERT_TRUE(OpenClipboard(nullptr) && EmptyClipboard() && SetClipboardData(CF_TEXT, earlier) && CloseClipboard());
    Holding holding{CreateEventA(nullptr, TRUE, FALSE, nullptr), row.heldMs};
    const HANDLE holder = CreateThread(nullptr, 0, HoldClipboard, &holding, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(holding.held, WaitMs), WAIT_OBJECT_0);
    const std::vector<std::string> seen = Press(app_, IDC_COPY, row.copied ? std::vector<int>{} : std::vector<int>{IDOK});
    EXPECT_EQ(WaitForSingleObject(holder, WaitMs), WAIT_OBJECT_0);
    ASSERT_EQ(seen.size(), row.copied ? 0u : 1u) << seen.back();
    EXPECT_TRUE(row.copied || StartsWith(seen[0], "ERROR|The output could not be copied to the clipboard:\n\n")) << seen[0];
    EXPECT_EQ(Clipboard(), row.copied ? "0\n1\n2\n3" : "earlier");
    CloseHandle(holder);
    CloseHandle(holding.held);
}
const ClipboardRow ClipboardRows[] = {
    {"HeldForAMomentIsCopied", 150, true},
    {"HeldThroughoutIsToldAndKept", 2000, false},
};
INSTANTIATE_TEST_SUITE_P(Rows, BusyClipboard, ::testing::ValuesIn(ClipboardRows), [](const auto& row) { return row.param.name; });

}  // namespace
