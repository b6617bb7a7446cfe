#include "output_file.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

// One write of the whole image; a short write gives no reason of its own.
DWORD WriteAll(HANDLE file, const void* data, DWORD size)
{
    DWORD written = 0;
    if (!WriteFile(file, data, size, &written, nullptr))
        return GetLastError();
    return written == size ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

// Closes the handle after what was done with it; the first failure is the one told.
DWORD CloseAfter(HANDLE file, DWORD error)
{
    if (!CloseHandle(file) && error == ERROR_SUCCESS)
        return GetLastError();
    return error;
}

// The chosen file written where it is, as the plain write did, but never emptied first: a text
// longer than the file's has the part past the old end written first, and a disk too full for it
// leaves the file as it was. A file made anew (CREATE_NEW) is removed again on failure.
DWORD WriteInPlace(const char* path, const char* data, DWORD size, DWORD disposition)
{
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    LARGE_INTEGER old = {}, start = {}, end = {};
    end.QuadPart = size;
    DWORD error = GetFileSizeEx(file, &old) ? ERROR_SUCCESS : GetLastError();
    const DWORD over = old.QuadPart < end.QuadPart ? static_cast<DWORD>(old.QuadPart) : size;  // old bytes
    if (error == ERROR_SUCCESS && over < size) {
        error = SetFilePointerEx(file, old, nullptr, FILE_BEGIN) ? WriteAll(file, data + over, size - over)
                                                                  : GetLastError();
        if (error != ERROR_SUCCESS) {  // back to the old length: the file as it was
            SetFilePointerEx(file, old, nullptr, FILE_BEGIN);
            SetEndOfFile(file);
        }
    }
    if (error == ERROR_SUCCESS)
        error = SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ? WriteAll(file, data, over) : GetLastError();
    if (error == ERROR_SUCCESS && !(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file) &&
                                    FlushFileBuffers(file)))
        error = GetLastError();
    error = CloseAfter(file, error);
    if (error != ERROR_SUCCESS && disposition == CREATE_NEW)
        DeleteFileA(path);
    return error;
}

// A full file name, and the length of its folder up to its last backslash, found character by
// character: the second byte of a double-byte character may be a backslash.
struct FileName {
    char text[MAX_PATH];
    std::size_t folder;
};

bool SetFileName(FileName* name, const char* text)
{
    const std::size_t length = std::strlen(text);
    if (length == 0 || length >= sizeof name->text)
        return false;
    std::memcpy(name->text, text, length + 1);
    name->folder = 0;
    for (const char* c = name->text; *c; c = CharNextA(c))
        if (*c == '\\')
            name->folder = static_cast<std::size_t>(c - name->text) + 1;
    return true;
}

// The name the system knows an open file by, symbolic links followed, as "\\?\C:\..." or
// "\\?\UNC\...". Empty where there is none within the buffer.
void FinalName(HANDLE file, char (&name)[MAX_PATH + 8])
{
    const DWORD length = GetFinalPathNameByHandleA(file, name, sizeof name, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof name)
        name[0] = '\0';
}

bool SameFile(HANDLE file, const char* name)
{
    const HANDLE other = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION a = {}, b = {};
    const bool same = other != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &a) &&
                      GetFileInformationByHandle(other, &b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    if (other != INVALID_HANDLE_VALUE)
        CloseHandle(other);
    return same;
}

// Whether the folder holds the file's name in no other case. A case-sensitive folder may hold
// out.txt and Out.txt under Wine, whose replace, once it has moved the file away, would put the
// new one in the other's place. The name and a star are matched against every name, case ignored
// (a bare name finds just itself); a name so found as long as the file's is the file's in a case.
bool NameHeldOnce(const FileName& name)
{
    char mask[MAX_PATH];
    const std::size_t length = std::strlen(name.text), tail = length - name.folder;
    if (length + 1 >= sizeof mask)
        return false;
    std::memcpy(mask, name.text, length);
    std::memcpy(mask + length, "*", 2);
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(mask, &found);
    int held = 0;
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found) != 0)
        held += std::strlen(found.cFileName) == tail;
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return held == 1;
}

// The file a replace puts the new text in is the file itself, found through any symbolic link:
// replacing the link would turn it into a copy and leave the file it names as it was.
bool ReplacedName(HANDLE file, FileName* name)
{
    char resolved[MAX_PATH + 8];
    FinalName(file, resolved);
    const bool unc = std::strncmp(resolved, "\\\\?\\UNC\\", 8) == 0;
    if (unc)
        resolved[6] = '\\';
    const char* plain = std::strncmp(resolved, "\\\\?\\", 4) == 0 ? resolved + (unc ? 6 : 4) : "";
    return SetFileName(name, plain) && SameFile(file, name->text) && NameHeldOnce(*name);
}

// The new text's file beside the one it replaces is made under a name no file has: Quorvel's own
// pattern, short enough to fit wherever a file name does, with the next number while one is taken.
const char OwnPattern[] = "QUOR%04X.TMP";
const std::size_t OwnNameLength = sizeof "QUOR0000.TMP" - 1;

bool IsOwnName(const char* name)
{
    return std::strlen(name) == OwnNameLength && std::strncmp(name, "QUOR", 4) == 0 &&
           std::strspn(name + 4, "0123456789ABCDEF") == 4 && std::strcmp(name + 8, ".TMP") == 0;
}

DWORD CreateBeside(const FileName& replaced, char (&name)[MAX_PATH], HANDLE* made)
{
    *made = INVALID_HANDLE_VALUE;
    if (replaced.folder + OwnNameLength >= sizeof name)
        return ERROR_FILENAME_EXCED_RANGE;
    std::memcpy(name, replaced.text, replaced.folder);
    const unsigned first = GetCurrentProcessId() * 40503u + GetTickCount();
    for (unsigned i = 0; i <= 0xFFFF; ++i) {
        std::snprintf(name + replaced.folder, OwnNameLength + 1, OwnPattern, (first + i) & 0xFFFF);
        *made = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (*made != INVALID_HANDLE_VALUE)
            return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        // A name being deleted is refused as access denied too: only where no file has the name
        // does that say the folder takes no new file.
        const bool taken = error == ERROR_FILE_EXISTS ||
                           (error == ERROR_ACCESS_DENIED && GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES);
        if (!taken)
            return error;
    }
    return ERROR_FILE_EXISTS;
}

ULONGLONG Ticks(const FILETIME& time) { return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

// Removes what a Quorvel ended mid-write left beside the file: only a file of Quorvel's own name,
// other than the chosen file, that nobody has open (a running Quorvel keeps its file open until it
// closes it to put it in place), with no other name, not a link, and last written at least ten
// minutes before this run made its own, by the clock of the file system that holds both: a running
// Quorvel between closing its file and putting it in place has only just written it.
void RemoveLeftovers(HANDLE own, const char* ownName, const FileName& chosen)
{
    const std::size_t folder = chosen.folder;
    const ULONGLONG TenMinutes = 10ull * 60 * 10000000;
    BY_HANDLE_FILE_INFORMATION ownInfo = {}, info = {};
    char name[MAX_PATH], ownResolved[MAX_PATH + 8], resolved[MAX_PATH + 8];
    FinalName(own, ownResolved);
    char* const ownTail = std::strrchr(ownResolved, '\\');
    if (!ownTail || !GetFileInformationByHandle(own, &ownInfo))
        return;
    std::memcpy(name, ownName, folder);
    std::strcpy(name + folder, "QUOR????.TMP");
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(name, &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found) != 0) {
        const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                               FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_REPARSE_POINT;
        if (!IsOwnName(found.cFileName) || (found.dwFileAttributes & notPlain) ||
            std::strcmp(found.cFileName, chosen.text + folder) == 0)
            continue;
        std::strcpy(name + folder, found.cFileName);
        std::strcpy(ownTail + 1, found.cFileName);
        const HANDLE file = CreateFileA(name, DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        // Through a link the system would delete the file the link names: the open file must be
        // this very name in this folder.
        FinalName(file, resolved);
        FILE_DISPOSITION_INFO remove = {TRUE};
        if (std::strcmp(resolved, ownResolved) == 0 && GetFileInformationByHandle(file, &info) &&
            info.nNumberOfLinks == 1 && !(info.dwFileAttributes & notPlain) &&
            Ticks(info.ftLastWriteTime) + TenMinutes <= Ticks(ownInfo.ftLastWriteTime))
            SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof remove);
        CloseHandle(file);
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

// Puts the new file in the chosen one's place in one step. An existing file keeps its
// attributes and security. Where the system's replace moved the old file away but could not
// move the new one in, the new one is moved in by name: the file then holds the new text whole.
DWORD PutInPlace(const char* temporary, const char* path, bool existed)
{
    if (existed && ReplaceFileA(path, temporary, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return ERROR_SUCCESS;
    if (existed && GetLastError() != ERROR_UNABLE_TO_MOVE_REPLACEMENT)
        return GetLastError();
    return MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? ERROR_SUCCESS
                                                                                           : GetLastError();
}

}  // namespace

DWORD WriteOutputFile(const char* path, const FileImage& image)
{
    if (image.size > MAXDWORD)
        return ERROR_FILE_TOO_LARGE;
    const DWORD bytes = static_cast<DWORD>(image.size);
    // Opening the chosen file as today's write would (for writing, not shared) refuses what
    // that refused, a read-only file, a folder or a file in use, before anything is written,
    // and tells a disk file from a device.
    const HANDLE target = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool existed = target != INVALID_HANDLE_VALUE;
    if (!existed && GetLastError() != ERROR_FILE_NOT_FOUND)
        return GetLastError();
    if (existed && GetFileType(target) != FILE_TYPE_DISK)
        return CloseAfter(target, WriteAll(target, image.data, bytes));
    // A file of more than one name (hard links) is written in place, so that every name keeps
    // showing it; so is one whose own full name cannot be had within MAX_PATH, or whose folder
    // holds its name in another case too.
    FileName replaced;
    BY_HANDLE_FILE_INFORMATION info = {};
    bool beside = false, taken = false;
    if (existed) {
        const bool known = GetFileInformationByHandle(target, &info) != 0;
        // Windows refuses a read-only file to the plain write, whoever runs it; Wine lets root
        // through, and the file then went in place wherever it is written there.
        const DWORD opened = !known                                            ? GetLastError()
                             : info.dwFileAttributes & FILE_ATTRIBUTE_READONLY ? ERROR_ACCESS_DENIED
                                                                               : ERROR_SUCCESS;
        beside = known && info.nNumberOfLinks == 1 && ReplacedName(target, &replaced);
        if (const DWORD error = CloseAfter(target, opened))
            return error;
    } else {
        // A name no file was found under may still be taken: Wine shows a symbolic link to no file
        // to nothing but a create, which makes the file it names, as the plain write did; a move
        // would put the new file in the link's place. A free name is left free.
        const HANDLE probe = CreateFileA(path, DELETE, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        taken = probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
        if (probe != INVALID_HANDLE_VALUE)
            CloseHandle(probe);
        char full[MAX_PATH];
        const DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
        beside = !taken && length > 0 && length < sizeof full && SetFileName(&replaced, full);
    }
    const DWORD inPlace = existed ? OPEN_EXISTING : taken ? OPEN_ALWAYS : CREATE_NEW;
    if (!beside)
        return WriteInPlace(path, image.data, bytes, inPlace);
    char temporary[MAX_PATH];
    HANDLE file = INVALID_HANDLE_VALUE;
    if (const DWORD error = CreateBeside(replaced, temporary, &file)) {
        // A folder that takes no new file (denied, or a FAT root folder full), a disk with room for
        // no other file (all its inodes used), or no name for one within MAX_PATH: the chosen file
        // is written in place, which needs no new file. Any other failure is told.
        const bool noNewFile = error == ERROR_ACCESS_DENIED || error == ERROR_CANNOT_MAKE ||
                               error == ERROR_DISK_FULL || error == ERROR_FILENAME_EXCED_RANGE;
        return noNewFile ? WriteInPlace(path, image.data, bytes, inPlace) : error;
    }
    RemoveLeftovers(file, temporary, replaced);
    DWORD error = WriteAll(file, image.data, bytes);
    if (error == ERROR_SUCCESS && !FlushFileBuffers(file))
        error = GetLastError();
    error = CloseAfter(file, error);
    const bool whole = error == ERROR_SUCCESS;
    if (whole)
        error = PutInPlace(temporary, replaced.text, existed);
    if (error != ERROR_SUCCESS)
        DeleteFileA(temporary);  // nothing of the attempt left beside the file
    // A whole new file that could not be put in the chosen one's place (a file bound there by a
    // mount, one that may be written but not removed, a replace that took the old file away and
    // stopped): the chosen file is written in place, as the plain write did, made again if gone.
    return whole && error != ERROR_SUCCESS ? WriteInPlace(path, image.data, bytes, OPEN_ALWAYS) : error;
}
