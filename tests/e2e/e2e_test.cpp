// Quorvel.exe end to end, against the recording fake provider: every way out of a
// Generate run, the smaller commands, the start and the end.
#include "test_support.h"

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <vector>

namespace {

const std::string Warning = "WARNING|Random Number Generation execution time\nis dependent upon number of RNs "
                            "generated.\nPress OK to begin generation or Cancel to quit.\n";
const std::string MinMessage = "ERROR|Dec. Min. Must be between 0 and 255!";
const std::string NoFile = "<none>";
const std::vector<std::string> NoBoxes;  // a press that opened none

// The text of count values from the fake provider's default bytes 00 01 02 ... ff.
std::string Sequence(int count, int span, const char* delimiter)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += (i ? delimiter : "") + std::to_string(i % 256 % span);
    return text;
}
std::string Calls(int count) { return "acquire 0\ngen " + std::to_string(count) + "\nrelease\n"; }
const std::string EarlierFile = Sequence(100, 11, "") + '\0';
const std::string TooLong = "ERROR|Number of Zintars too large for that Numeric Base and Delimiter!";
const std::string NoMemory = "ERROR|Not enough memory for that Number of Zintars!";
const bool SixtyFourBit = sizeof(void*) == 8;  // a 64-bit Quorvel, with the address space for the longest text

// What the output box shows for a failure: the system's own text for the code, passed on
// as it is, or where the system has none, Quorvel's own words, which start with the code.
std::string Shown(HRESULT code)
{
    char text[512] = {};
    return FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, 0, DWORD(code), 0, text, 512, 0)
               ? text : "~Error " + Hex(code) + ": ";
}

// Where the output goes: nowhere; a folder; a pipe; or a file the first run writes (also on a full disk, one with
// room for no other file, made read-only after (one also under another name), at a long path, with files beside it,
// named as a leftover, or another name), unless FullDiskNoFile. From SymbolicLink on file_edges.sh makes and keeps
// them: a symbolic link, one to no file, a file in a folder that takes no new file, one beside a name differing only
// in case, and one that cannot be moved away (a file bound there by a mount).
enum Out { NoPath, Folder, Pipe, File, FullDisk, FullDiskNoFile, FullDiskHardLink, OneFileDisk, ReadOnly, Path259,
           Path248, Neighbours, OwnName, HardLink, ReadOnlyHardLink, SymbolicLink, Dangling, Frozen, Twin, Bound };
using Boxes = std::vector<std::pair<int, std::string>>;
using Files = std::map<std::string, std::string>;  // names and bytes
// Each starts Quorvel, runs once with the defaults (into the file if there is one), sets
// the fields and presses Generate, answering the boxes it opens; then looks at what it left.
struct Scenario {
    const char* name;
    std::vector<std::string> fields;  // count, minimum, maximum, delimiter[, the base list's top item]
    std::string provider;  // hex bytes it serves; "gen!code", "acquire!code": refuses; "missing"; "": 00 01 ...
    Out out;
    Boxes boxes;           // the answer, "caption|text the box contains"
    std::string output;    // "=": as the default run left it; "~x": contains x
    std::string file, calls;
    const char* elapsed;   // "s": whole seconds; "=": as the default run left it
};

// A run that shows its values from 0 (count, 0, maximum, delimiter[, top]), asked about past 10000.
Scenario Shows(const char* name, const std::vector<std::string>& fields, Out out = NoPath)
{
    const int count = std::stoi(fields[0]);
    return {name, fields, "", out, count > 10000 ? Boxes{{IDOK, Warning}} : Boxes{},
            Sequence(count, std::stoi(fields[2]) + 1, fields[3].c_str()), NoFile, Calls(count), "s"};
}
// count values 0..9 to a file, which then holds them (Written), or what the first run left there (Kept).
enum Outcome { Kept, Written };
Scenario ToFile(const char* name, Out out, int count, Outcome outcome)
{
    Scenario row = Shows(name, {std::to_string(count), "0", "9", ""}, out);
    if (outcome == Kept)
        row.boxes.push_back({IDOK, "ERROR|{path}"});
    row.file = outcome == Written ? row.output + '\0' : out < File || out == FullDiskNoFile ? NoFile : EarlierFile;
    return row;
}

const Scenario Scenarios[] = {
    {"Defaults", {}, "", NoPath, {}, Sequence(100, 11, ""), NoFile, Calls(100), "s"},
    {"WorkedExampleReplacesTheFile", {"5", "0", "10", ","}, "000BFF0580", File, {}, "0,0,2,5,7",
     std::string("0,0,2,5,7\0", 10), Calls(5), "s"},
    {"BaseIsTheTopItemNotTheSelection", {"3", "0", "255", " ", "14"}, "FF05AB", NoPath, {}, "ff 5 ab", NoFile,
     Calls(3), "s"},
    {"FieldsAreReadByNineCharacters", {"0000000030", "+0", "  0255xyz", "abcdefghijkl"}, "", NoPath, {},
     "0abcdefghi1abcdefghi2", NoFile, Calls(3), "s"},
    {"WarningDeclined", {"10001", "0", "10", ""}, "", File, {{IDCANCEL, Warning}}, "", EarlierFile, "", "Cancelled"},
    Shows("WarningAccepted", {"10001", "0", "255", "\n"}),
    Shows("TenThousandRunsWithoutAsking", {"10000", "0", "10", "\n"}),
    Shows("MoreThanTheBoxsDefaultLimitArrivesWhole", {"40000", "0", "1", "", "0"}),
    {"MinimumOutOfRange", {"100", "256", "10", ""}, "", File, {{IDOK, MinMessage}}, "=", EarlierFile, "", "="},
    {"BothBoundsBadOnlyTheMinimumIsTold", {"100", "300", "-1", ""}, "", NoPath, {{IDOK, MinMessage}}, "=", NoFile,
     "", "="},
    {"MaximumBelowMinimum", {"100", "11", "10", ""}, "", NoPath,
     {{IDOK, "ERROR|Dec. Max. Must not be less than Dec. Min.!"}}, "=", NoFile, "", "="},
    {"BoundErrorAfterAConfirmedWarning", {"10001", "300", "10", ""}, "", NoPath, {{IDOK, Warning}, {IDOK, MinMessage}},
     "", NoFile, "", ""},
    {"CountBelowOne", {"-5", "0", "10", ""}, "", NoPath, {{IDOK, "ERROR|Number of Zintars Must be at least 1!"}}, "=",
     NoFile, "", "="},
    {"TextTooLongToHold", {"999999999", "0", "255", ","}, "", File, {{IDOK, Warning}, {IDOK, TooLong}}, "",
     EarlierFile, "", ""},
    // A run's buffers take at most 2 GiB: 536870911 values of three characters fit, one more does
    // not. Only a 64-bit process has room for the largest; its request is refused here.
    {"LargestRunIsRequestedWhereItFits", {"536870911", "0", "255", ""}, "gen!" + Hex(NTE_DEVICE_NOT_READY), File,
     SixtyFourBit ? Boxes{{IDOK, Warning}} : Boxes{{IDOK, Warning}, {IDOK, NoMemory}},
     SixtyFourBit ? Shown(NTE_DEVICE_NOT_READY) : "", NoFile, SixtyFourBit ? Calls(536870911) : "", SixtyFourBit ? "s" : ""},
    {"OneValueMoreIsRefused", {"536870912", "0", "255", ""}, "", File, {{IDOK, Warning}, {IDOK, NoMemory}}, "",
     EarlierFile, "", ""},
    {"NineDigitsOfTheDefaultsAreRefused", {"999999999"}, "", File, {{IDOK, Warning}, {IDOK, NoMemory}}, "",
     EarlierFile, "", ""},
    {"RequestRefused", {}, "gen!" + Hex(NTE_DEVICE_NOT_READY), File, {}, Shown(NTE_DEVICE_NOT_READY), NoFile,
     Calls(100), "s"},
    {"AcquireRefused", {}, "acquire!" + Hex(ERROR_ACCESS_DENIED), File, {}, Shown(ERROR_ACCESS_DENIED), NoFile,
     "acquire 0\n", "s"},
    {"ProviderMissing", {}, "missing", File, {}, Shown(NTE_KEYSET_NOT_DEF), NoFile, "", "s"},
    ToFile("UnwritableFileIsToldAndTheRunStands", Folder, 3, Kept),
    // The file is replaced all or nothing, or, where no new file can be made beside it, written in place.
    ToFile("AFullDiskKeepsTheEarlierText", FullDisk, 2000000, Kept),
    ToFile("AFullDiskMakesNoFileWhereThereWasNone", FullDiskNoFile, 2000000, Kept),
    ToFile("WhatFitsReplacesTheEarlierText", FullDisk, 500000, Written),
    ToFile("AReadOnlyFileIsRefusedAndKept", ReadOnly, 5, Kept),
    ToFile("APipeIsWrittenDirectly", Pipe, 12, Written),
    ToFile("APathOf259CharactersIsWrittenInPlace", Path259, 500, Written),
    ToFile("APathOf248CharactersIsReplaced", Path248, 5, Written),
    ToFile("FilesBesideKeepTheirBytesButAnEndedRunsLeftover", Neighbours, 5, Written),
    ToFile("AFileInAFolderThatTakesNoNewFileIsWritten", Frozen, 5, Written),
    ToFile("AHardLinkedFileShowsTheTextUnderBothNames", HardLink, 500, Written),
    ToFile("AHardLinkedFileOnAFullDiskKeepsTheEarlierText", FullDiskHardLink, 2000000, Kept),
    ToFile("AReadOnlyHardLinkedFileIsRefusedAndKept", ReadOnlyHardLink, 5, Kept),
    ToFile("AFileOnADiskWithRoomForNoOtherIsWrittenInPlace", OneFileDisk, 5, Written),
    ToFile("ASymbolicLinksFileIsWrittenAndTheLinkKept", SymbolicLink, 5, Written),
    ToFile("ASymbolicLinkToNoFileMakesThatFile", Dangling, 5, Written),
    ToFile("AFileNamedAsALeftoverIsReplacedNotRemoved", OwnName, 5, Written),
    ToFile("AFileBesideItsNameInAnotherCaseIsWrittenAndThatKept", Twin, 5, Written),
    ToFile("AFileThatCannotBeMovedAwayIsWrittenInPlace", Bound, 5, Written),
    // Texts the output box once took as one paragraph, for minutes to hours under Wine.
    Shows("ACarriageReturn", {"100000", "0", "255", "\r"}),
    Shows("OtherControlCharactersBetweenLetters", {"100000", "0", "255", "a\v\f\x1b" "b"}),
    // Run by e2e.double_byte_code_page, in the Japanese code page.
    Shows("DoubleByteCodePageNoDelimiter", {"100000", "0", "255", ""}),
    Shows("DoubleByteCodePageSpace", {"100000", "0", "255", " "}),
    Shows("DoubleByteCodePageTwoByteDelimiter", {"1000", "0", "255", "\x81\x41"}),
    {"DoubleByteCodePageTwoByteDelimiterPastWhatTheBoxLaysOutIsTold", {"100000", "0", "255", "\x81\x41"}, "", NoPath,
     {{IDOK, Warning}, {IDOK, "ERROR|The output box cannot show these 100000 numbers"}}, "", NoFile, Calls(100000), "s"},
};

// Another program's thread: it reads a pipe to its end, or holds the clipboard open a while.
struct Other { HANDLE handle, ready; DWORD ms; std::string read; };
DWORD WINAPI ReadPipe(void* other)
{
    Other& o = *static_cast<Other*>(other);
    char buffer[4096];
    for (DWORD n = ConnectNamedPipe(o.handle, nullptr); ReadFile(o.handle, buffer, sizeof buffer, &n, nullptr) && n;)
        o.read.append(buffer, n);
    return 0;
}
DWORD WINAPI HoldClipboard(void* other)
{
    const Other& o = *static_cast<Other*>(other);
    return OpenClipboard(nullptr) ? SetEvent(o.ready), Sleep(o.ms), CloseClipboard(), 0 : 1;
}

class Quorvel : public ::testing::Test {  // the fake provider as its hardware, its calls logged
protected:
    void SetUp() override
    {
        DeleteFileA(file_.c_str());
        SetEnvironmentVariableA("FAKECSP_LOG", log_.c_str());
        ASSERT_TRUE(RegisterProvider(Beside("fakecsp.dll")));
    }
    void TearDown() override { Stop(&app_); }
    const std::string log_ = Beside("calls.log"), file_ = Beside("output.txt");
    App app_;
};

class Generate : public Quorvel, public ::testing::WithParamInterface<Scenario> {};
void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }

// The folder of each kind of output file, beside the programs; "" where there is none.
std::string FolderOf(Out out)
{
    const std::size_t length = out == Path259 ? 259 : 248;  // the padded folder's name makes the path so long
    if (out == Path259 || out == Path248)
        return Beside("") + std::string(length - Beside("").size() - std::strlen("\\output.txt"), 'L') + "\\";
    const bool full = out == FullDisk || out == FullDiskNoFile || out == FullDiskHardLink;
    const char* const made[] = {"linked-folder\\", "dangling-folder\\", "frozen-folder\\", "twin-folder\\", "bound-folder\\"};
    const char* const name = out >= SymbolicLink ? made[out - SymbolicLink] : out == OneFileDisk
                             ? "small-disk-one-file\\" : full ? "small-disk\\" : "output-folder\\";
    return out < File ? "" : Beside(name);
}
// A folder's files and their bytes, but those named and what Wine's replace leaves where it fails (rfXXXX.tmp).
Files Listing(const std::string& folder, std::set<std::string> but = {"output.txt", "other-name.txt", "QUOR0ACE.TMP"})
{
    Files files;
    WIN32_FIND_DATAA found;
    const HANDLE search = folder.empty() ? INVALID_HANDLE_VALUE : FindFirstFileA((folder + "*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !but.count(found.cFileName) &&
            std::strncmp(found.cFileName, "rf", 2))
            files[found.cFileName] = FileBytes(folder + found.cFileName);
    FindClose(search);
    return files;
}
// Beside the chosen file for Neighbours, holding their names, last written in 2001 (true) or now: only a
// file of Quorvel's own pattern long unwritten is a leftover of Quorvel's, not the new text's earlier name.
const std::vector<std::pair<const char*, bool>> Neighbourhood = {{"output.txt.Quorvel.tmp", true},
    {"QUOR1234.TMP", false}, {"QUOR12345.TMP", true}, {"QUORXYZW.TMP", true}, {"QUOR0BAD.TMP", true}};

TEST_P(Generate, EndsAsExpected)
{
    const Scenario& s = GetParam();
    const bool hardLink = s.out == HardLink || s.out == FullDiskHardLink || s.out == ReadOnlyHardLink;
    const bool links = hardLink || s.out == SymbolicLink || s.out == Dangling;
    const std::string folder = FolderOf(s.out), other = links ? folder + "other-name.txt" : "";
    const bool full = folder.find("small-disk") != folder.npos, pipe = s.out == Pipe, made = s.out >= SymbolicLink;
    const std::string target = pipe ? "\\\\.\\pipe\\quorvel-output" : folder.empty() ? file_
                               : folder + (s.out == OwnName ? "QUOR0ACE.TMP" : "output.txt");
    const std::string &provider = s.provider, path = s.out == Folder ? Beside("") : target;
    ULARGE_INTEGER size = {};
    if (full && !(GetDiskFreeSpaceExA(folder.c_str(), nullptr, &size, nullptr) && size.QuadPart <= (2u << 20)))
        GTEST_SKIP() << "no small file system mounted at " << folder;
    if (made && GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "file_edges.sh made no " << folder << " (chattr +i needs root and ext2/3/4)";
    ASSERT_TRUE(!std::strstr(s.name, "DoubleByte") || GetACP() == 932) << "not in the Japanese code page";
    CreateDirectoryA(folder.c_str(), nullptr);
    DeleteFileA(made ? "" : target.c_str());
    const bool hex = provider.find_first_not_of("0123456789ABCDEF") == std::string::npos;
    SetEnvironmentVariableA("FAKECSP_BYTES", hex ? provider.c_str() : "");
    SetEnvironmentVariableA("FAKECSP_GEN_ERROR", provider.rfind("gen!", 0) ? nullptr : provider.c_str() + 4);
    SetEnvironmentVariableA("FAKECSP_ACQUIRE_ERROR", provider.rfind("acquire!", 0) ? nullptr : provider.c_str() + 8);
    if (provider == "missing")
        RemoveProvider();
    ASSERT_TRUE(Start(&app_));
    SetField(app_, IDC_OUTPUT_PATH, s.out >= File && s.out != FullDiskNoFile ? path.c_str() : "");
    ASSERT_EQ(Press(app_, IDOK), NoBoxes) << "the first run told a failure";
    if (s.out == ReadOnly || s.out == ReadOnlyHardLink)
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    if (hardLink)
        CreateHardLinkA(other.c_str(), target.c_str(), nullptr);
    const FILETIME y2001 = {0xC89DC000, 0x01C07385};
    const decltype(Neighbourhood) none, own = {{"QUOR0ACE.TMP", true}};  // the chosen file long unwritten
    for (const auto& [name, longAgo] : s.out == Neighbours ? Neighbourhood : s.out == OwnName ? own : none) {
        std::ofstream(folder + name, std::ios::binary) << name;
        const HANDLE file = CreateFileA((folder + name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, 0);
        SetFileTime(file, nullptr, nullptr, longAgo ? &y2001 : nullptr);
        CloseHandle(file);
    }
    Files listing = Listing(folder);
    listing.erase("QUOR0BAD.TMP");
    Other reader{pipe ? CreateNamedPipeA(path.c_str(), PIPE_ACCESS_INBOUND, 0, 1, 0, 65536, 0, nullptr) : nullptr, {}, 0, {}};
    const HANDLE pipeThread = pipe ? CreateThread(nullptr, 0, ReadPipe, &reader, 0, nullptr) : nullptr;
    SetField(app_, IDC_OUTPUT_PATH, s.out == NoPath ? "" : path.c_str());
    DeleteFileA(log_.c_str());
    const std::string output = Field(app_, IDC_OUTPUT), elapsed = Field(app_, IDC_ELAPSED);
    const int ids[] = {IDC_COUNT, IDC_DEC_MIN, IDC_DEC_MAX, IDC_DELIMITER};
    for (std::size_t i = 0; i < s.fields.size() && i < 4; ++i)
        SetField(app_, ids[i], s.fields[i].c_str());
    // Base 2 selected: a row that scrolls another base to the top shows which one counts.
    SendDlgItemMessageA(app_.dialog, IDC_BASE_LIST, LB_SETCURSEL, 0, 0);
    SendDlgItemMessageA(app_.dialog, IDC_BASE_LIST, LB_SETTOPINDEX, s.fields.size() > 4 ? atoi(s.fields[4].c_str()) : 8, 0);
    std::vector<int> answers;
    for (const auto& box : s.boxes)
        answers.push_back(box.first);
    const std::vector<std::string> seen = Press(app_, IDOK, answers);
    ASSERT_EQ(seen.size(), s.boxes.size()) << seen.back();
    for (std::size_t i = 0; i < seen.size(); ++i) {  // the caption, and the text within the box's
        const std::string& box = s.boxes[i].second, caption = box.substr(0, box.find('|') + 1);
        const std::string text = box == "ERROR|{path}" ? path : box.substr(caption.size());
        EXPECT_TRUE(seen[i].rfind(caption, 0) == 0 && seen[i].find(text) != std::string::npos) << seen[i];
    }
    const std::string shown = Field(app_, IDC_OUTPUT), shownElapsed = Field(app_, IDC_ELAPSED);
    EXPECT_TRUE(s.output[0] == '~' ? shown.find(s.output.substr(1)) != std::string::npos
                                   : shown == (s.output == "=" ? output : s.output))
        << shown.size() << ": " << shown.substr(0, 200);
    const std::string written = pipe ? (WaitForSingleObject(pipeThread, WaitMs), reader.read) : FileBytes(target);
    EXPECT_TRUE(written == s.file) << written.substr(0, 200);
    EXPECT_EQ(Listing(folder), listing) << "the folder holds what it held, the chosen file aside";
    EXPECT_TRUE(!links || FileBytes(other) == s.file) << "the file under its other name";
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    for (const auto& [name, bytes] : Listing(made ? "" : folder, {}))  // a folder of the test's own goes
        DeleteFileA((folder + name).c_str());
    RemoveDirectoryA(folder.c_str());
    CloseHandle(pipeThread);
    CloseHandle(reader.handle);
    EXPECT_EQ(FileBytes(log_), s.calls.empty() ? NoFile : s.calls);
    EXPECT_EQ(Field(app_, IDC_STATUS), "Ready");
    const std::string seconds = std::to_string(std::atoi(shownElapsed.c_str())) + " Seconds", said = s.elapsed;
    EXPECT_EQ(shownElapsed, said == "s" ? seconds : said == "=" ? elapsed : said);
}

INSTANTIATE_TEST_SUITE_P(Run, Generate, ::testing::ValuesIn(Scenarios), [](const auto& row) { return row.param.name; });

// Past what the output box takes under Wine, the run stands, the box stays empty, Quorvel says so and
// where the numbers went, and the file holds them all: past 1 GiB for the text and its layout, and
// past what another program could read of the box in one message (in every build alike). Base 2,
// maximum 1, no delimiter: a character a value.
TEST_F(Quorvel, NumbersPastWhatTheBoxTakesAreToldAndWritten)
{
    for (const char* count : {"220000000", "130000000"}) {  // over the budget; over one read of the box
        Stop(&app_);  // each in a Quorvel of its own, whose address space no earlier run has cut up
        ASSERT_TRUE(Start(&app_));
        SetField(app_, IDC_OUTPUT_PATH, file_.c_str());
        SetField(app_, IDC_DEC_MAX, "1");
        SendDlgItemMessageA(app_.dialog, IDC_BASE_LIST, LB_SETTOPINDEX, 0, 0);
        SetField(app_, IDC_COUNT, count);
        const std::vector<std::string> seen = Press(app_, IDOK, {IDOK, IDOK});
        ASSERT_EQ(seen.size(), 2u) << count << ": " << seen.back();
        EXPECT_EQ(seen[0], Warning);
        EXPECT_TRUE(seen[1].rfind(std::string("ERROR|The output box cannot show these ") + count + " numbers", 0) == 0 &&
                    seen[1].find(file_) != std::string::npos) << seen[1];
        EXPECT_EQ(Field(app_, IDC_OUTPUT), "");
        EXPECT_EQ(Field(app_, IDC_STATUS), "Ready");
        std::ifstream file(file_, std::ios::binary | std::ios::ate);
        const long long size = file.tellg();
        std::string head(8, '-'), tail(3, '-');
        file.seekg(0).read(head.data(), 8).seekg(size - 3).read(tail.data(), 3);
        EXPECT_EQ(size, std::atoll(count) + 1);
        EXPECT_EQ(head + "|" + tail, "01010101|01" + std::string(1, '\0')) << "the values 0, 1, 0, 1 ... and the zero byte";
    }
}

// Another program reads a window of Quorvel's with a buffer far larger than its text, within what the
// box takes: the text comes back and Quorvel lives on (under Wine 10 the buffer goes onto Quorvel's stack).
TEST_F(Quorvel, AnotherProgramsLargeReadLeavesQuorvelRunning)
{
    ASSERT_TRUE(Start(&app_));
    ASSERT_EQ(Press(app_, IDOK), NoBoxes);
    std::vector<char> buffer(std::size_t{32} << 20);
    for (const HWND window : {GetDlgItem(app_.dialog, IDC_OUTPUT), GetDlgItem(app_.dialog, IDC_COUNT), app_.dialog}) {
        DWORD_PTR length = 0;
        const std::string text = Text(window);
        buffer[0] = '\0';
        const bool answered = SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), LPARAM(buffer.data()),
                                                  SMTO_NORMAL, WaitMs, &length);
        EXPECT_TRUE(answered && buffer.data() == text) << "read " << length << ": " << std::string(buffer.data()).substr(0, 80);
        ASSERT_EQ(WaitForSingleObject(app_.process.hProcess, 0), DWORD(WAIT_TIMEOUT)) << "Quorvel ended on reading " << text;
    }
    EXPECT_EQ(Field(app_, IDC_STATUS), "Ready");
}

TEST_F(Quorvel, TheCloseBoxEndsWithCodeZeroAsExitDoes)
{
    ASSERT_TRUE(Start(&app_) && PostMessageA(app_.dialog, WM_SYSCOMMAND, SC_CLOSE, 0));
    EXPECT_EQ(WaitForExit(app_), 0u);
}

TEST_F(Quorvel, CopyTakesWhatTheBoxShowsUpToTheLastRunsLength)
{
    const auto copy = [&] {
        EXPECT_TRUE(OpenClipboard(nullptr) && EmptyClipboard() && CloseClipboard());
        EXPECT_EQ(Press(app_, IDC_COPY), NoBoxes);
        return Clipboard();
    };
    ASSERT_TRUE(Start(&app_) && copy().empty()) << "before any run";
    SetField(app_, IDC_DELIMITER, "\n");
    SetField(app_, IDC_COUNT, "4");
    ASSERT_EQ(Press(app_, IDOK), NoBoxes);
    EXPECT_EQ(copy(), "0\n1\n2\n3");
    // Another program holds the clipboard: a moment is waited out; longer is told, the clipboard kept.
    // So with the button and with the box's own copy (WM_COPY, as Ctrl+C sends it) of all it shows.
    const HWND box = GetDlgItem(app_.dialog, IDC_OUTPUT);
    const auto copyBy = [&](bool byBox, std::vector<int> answers) {
        if (!byBox)
            return Press(app_, IDC_COPY, std::move(answers));
        SendMessageA(box, EM_SETSEL, 0, -1);
        return Send(app_, box, WM_COPY, 0, 0, std::move(answers));
    };
    for (const auto& [byBox, heldMs, copied] : {std::tuple{false, 150u, true}, std::tuple{false, 2000u, false},
                                                std::tuple{true, 150u, true}, std::tuple{true, 2000u, false}}) {
        const HGLOBAL earlier = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8);
        lstrcpyA(static_cast<char*>(GlobalLock(earlier)), "earlier"), GlobalUnlock(earlier);
        ASSERT_TRUE(OpenClipboard(nullptr) && EmptyClipboard() && SetClipboardData(CF_TEXT, earlier) && CloseClipboard());
        Other holder{nullptr, CreateEventA(nullptr, TRUE, FALSE, nullptr), heldMs, {}};
        const HANDLE thread = CreateThread(nullptr, 0, HoldClipboard, &holder, 0, nullptr);
        ASSERT_EQ(WaitForSingleObject(holder.ready, WaitMs), WAIT_OBJECT_0);
        const std::vector<std::string> seen = copyBy(byBox, copied ? std::vector<int>{} : std::vector<int>{IDOK});
        EXPECT_EQ(WaitForSingleObject(thread, WaitMs), WAIT_OBJECT_0);
        EXPECT_TRUE(copied ? seen.empty() : seen.size() == 1 && !seen[0].rfind("ERROR|The output could not be copied", 0))
            << ::testing::PrintToString(seen);
        EXPECT_EQ(Clipboard(), copied ? "0\n1\n2\n3" : "earlier") << (byBox ? "the box's copy" : "the button") << ", held for "
                                                                << heldMs << " ms";
        CloseHandle(thread);
        CloseHandle(holder.ready);
    }
    RemoveProvider();
    ASSERT_EQ(Press(app_, IDOK), NoBoxes);
    EXPECT_EQ(copy(), Field(app_, IDC_OUTPUT).substr(0, 7)) << "the error text, cut to the last run's length";
}

TEST_F(Quorvel, TabAndCrlfSetTheDelimiter)
{
    ASSERT_TRUE(Start(&app_));
    SetField(app_, IDC_OUTPUT_PATH, file_.c_str());
    SetField(app_, IDC_COUNT, "3");
    for (auto [button, bytes] : {std::pair{IDC_CRLF, "0\n1\n2"}, {IDC_TAB, "0\t1\t2"}}) {
        SetField(app_, IDC_DELIMITER, "abc");
        ASSERT_EQ(Press(app_, button), NoBoxes);
        ASSERT_EQ(Press(app_, IDOK), NoBoxes);
        EXPECT_EQ(FileBytes(file_), std::string(bytes, 6));
    }
}

TEST_F(Quorvel, BrowseSetsAnExistingFileAndCancelClearsIt)
{
    ASSERT_TRUE(Start(&app_));
    CloseHandle(CreateFileA(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (bool choose : {true, false}) {
        EXPECT_EQ(Press(app_, IDC_BROWSE, {choose ? IDOK : IDCANCEL}, file_.c_str()).size(), 1u);
        EXPECT_EQ(Field(app_, IDC_OUTPUT_PATH), choose ? file_ : "");
        ASSERT_TRUE(FileBytes(file_) == (choose ? "" : NoFile) && Press(app_, IDOK).empty()) << "choosing writes nothing";
        EXPECT_EQ(FileBytes(file_), choose ? EarlierFile : NoFile) << "only a chosen file is written";
        DeleteFileA(file_.c_str());
    }
}

// Whatever name is typed into the Save dialog, Quorvel lives on; an existing file's lands in the path field
// whole, a drive and a name standing for that name in the folder the dialog shows (where the last run wrote).
class SaveDialog : public Quorvel, public ::testing::WithParamInterface<std::pair<const char*, std::string>> {};
TEST_P(SaveDialog, ANameTypedNeverEndsQuorvel)
{
    const auto& [typed, chosen] = GetParam();  // chosen: the existing file it names, or "": refused, then cancelled
    ASSERT_TRUE(Start(&app_));
    SetField(app_, IDC_OUTPUT_PATH, file_.c_str());
    ASSERT_EQ(Press(app_, IDOK), NoBoxes);
    CloseHandle(CreateFileA(chosen.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const std::vector<std::string> seen = Press(app_, IDC_BROWSE, {chosen.empty() ? IDCANCEL : IDOK}, typed);
    EXPECT_TRUE(WaitForSingleObject(app_.process.hProcess, 0) == WAIT_TIMEOUT && Field(app_, IDC_COUNT) == "100")
        << "Quorvel ended: " << (seen.empty() ? "" : seen.back());
    EXPECT_EQ(Field(app_, IDC_OUTPUT_PATH), chosen);
    DeleteFileA(chosen.c_str());
}
INSTANTIATE_TEST_SUITE_P(Names, SaveDialog, ::testing::Values(std::pair{"Z:quorvel-typed.txt", Beside("quorvel-typed.txt")},
    std::pair{"Z:\\tmp\\quorvel-typed.txt", std::string("Z:\\tmp\\quorvel-typed.txt")},
    std::pair{"quorvel\ttyped\n.txt", std::string()}, std::pair{"Z:quorvel\ttyped.txt", std::string()}));

// Quorvel.exe's manifest as the system reads it from the built file: the rights of whoever
// starts it (no virtualization), Windows 7 to 11 named, no visual styles, no DPI awareness.
TEST(Release, TheManifestAsksTheInvokersRightsAndNamesWindows7To11)
{
    const std::string exe = Beside("Quorvel.exe");
    ACTCTXA request = {};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = exe.c_str();
    request.lpResourceName = MAKEINTRESOURCEA(1);
    const HANDLE context = CreateActCtxA(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "the system reads no manifest: " << GetLastError();
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
    SIZE_T size = 0;
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &level, sizeof level, &size));
    EXPECT_EQ(level.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
    EXPECT_EQ(level.UiAccess, 0u);
    // As the system lays it out since Windows 10; MinGW's header has the older element, without
    // the last field.
    struct Compatibility {
        DWORD count;
        struct { GUID id; DWORD type; ULONGLONG maxVersionTested; } elements[16];
    } compatibility = {};
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext, &compatibility,
                             sizeof compatibility, &size));
    std::set<std::string> systems;
    for (DWORD i = 0; i < compatibility.count && i < 16; ++i) {
        const GUID& id = compatibility.elements[i].id;
        char text[40];
        wsprintfA(text, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", id.Data1, id.Data2, id.Data3, id.Data4[0],
                  id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
        systems.insert(compatibility.elements[i].type == ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS ? text : "?");
    }
    EXPECT_EQ(systems, (std::set<std::string>{"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",    // Windows 7
                                              "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",    // 8
                                              "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",    // 8.1
                                              "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}));  // 10 and 11
    ReleaseActCtx(context);
    const HMODULE file = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HRSRC resource = FindResourceA(file, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    const std::string text(static_cast<const char*>(LockResource(LoadResource(file, resource))), SizeofResource(file, resource));
    for (const char* absent : {"Common-Controls", "dpiAware"})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;
    FreeLibrary(file);
}

}  // namespace
