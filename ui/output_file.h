// The output file, replaced all or nothing where it can be.
#pragma once

#include "output_text.h"

// Puts exactly the image's bytes in the file at `path`, refusing before anything is written what
// a plain write refuses. A file on a disk is replaced only once the new bytes are whole on the
// medium: on any failure it keeps what it held (or stays absent), and nothing of the attempt is
// left beside it. Where no new file can be made beside it (a folder that takes none, a path with
// no room for one's name) or the file has other names, it is written in place, never emptied
// first. A device or a pipe (NUL, CON, \\.\pipe\...) is written directly. False, with the
// last-error code saying why, on failure.
bool WriteOutputFile(const char* path, const FileImage& image);
