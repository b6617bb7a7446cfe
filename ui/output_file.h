// The output file, replaced all or nothing where it can be.
#pragma once

#include "output_text.h"

#include <windows.h>

// Puts exactly the image's bytes in the file at `path`, refusing before anything is written what a
// plain write refuses. A file on a disk is replaced only once the new bytes are whole on the
// medium: on any failure to write them it keeps what it held (or stays absent), and nothing of the
// attempt is left beside it. Where no new file can be made beside it (a folder that takes none, a
// path with no room for one's name), the new one cannot be put in its place, or the file has other
// names, it is written in place, never emptied first. A device or a pipe (NUL, CON, \\.\pipe\...)
// is written directly. ERROR_SUCCESS, or why it could not be written.
DWORD WriteOutputFile(const char* path, const FileImage& image);
