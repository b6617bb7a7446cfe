#include "output_file.h"

#include <windows.h>

#include <cstring>

namespace {

// One write of the whole image; a short write gives no reason of its own.
bool WriteAll(HANDLE file, const void* data, DWORD size)
{
    DWORD written = 0;
    if (!WriteFile(file, data, size, &written, nullptr))
        return false;
    if (written != size) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return true;
}

// Closes the handle; the first failure is the one told.
bool CloseAfter(HANDLE file, bool ok)
{
    const DWORD error = GetLastError();
    const bool closed = CloseHandle(file) != 0;
    if (!ok)
        SetLastError(error);
    return ok && closed;
}

// The new text's file beside the chosen one, named after it: a run killed mid-write leaves at
// most this one file, plainly Quorvel's, which the next run to the same file replaces.
const char TemporarySuffix[] = ".Quorvel.tmp";

bool TemporaryName(const char* path, char (&name)[MAX_PATH])
{
    const std::size_t length = std::strlen(path);
    if (length + sizeof TemporarySuffix > sizeof name) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::memcpy(name, path, length);
    std::memcpy(name + length, TemporarySuffix, sizeof TemporarySuffix);
    return true;
}

// The whole image in a new file, flushed to the medium before it is closed.
bool WriteTemporary(const char* name, const void* data, DWORD size)
{
    const HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    return CloseAfter(file, WriteAll(file, data, size) && FlushFileBuffers(file));
}

// Puts the new file in the chosen one's place in one step. An existing file keeps its
// attributes and security. Where the system's replace moved the old file away but could not
// move the new one in, the new one is moved in by name: the file then holds the new text whole.
bool PutInPlace(const char* temporary, const char* path, bool existed)
{
    if (existed && ReplaceFileA(path, temporary, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return true;
    if (existed && GetLastError() != ERROR_UNABLE_TO_MOVE_REPLACEMENT)
        return false;
    return MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace

bool WriteOutputFile(const char* path, const FileImage& image)
{
    if (image.size > MAXDWORD) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    const DWORD bytes = static_cast<DWORD>(image.size);
    // Opening the chosen file as today's write would (for writing, not shared) refuses what
    // that refused, a read-only file, a folder or a file in use, before anything is written,
    // and tells a disk file from a device.
    const HANDLE target = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool existed = target != INVALID_HANDLE_VALUE;
    if (!existed && GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    if (existed && GetFileType(target) != FILE_TYPE_DISK)
        return CloseAfter(target, WriteAll(target, image.data, bytes));
    if (existed && !CloseHandle(target))
        return false;

    char temporary[MAX_PATH];
    if (!TemporaryName(path, temporary))
        return false;
    if (WriteTemporary(temporary, image.data, bytes) && PutInPlace(temporary, path, existed))
        return true;
    const DWORD error = GetLastError();
    DeleteFileA(temporary);
    SetLastError(error);
    return false;
}
