// The output file, replaced all or nothing.
#pragma once

#include "output_text.h"

// Puts exactly the image's bytes in the file at `path`. A file on a disk is replaced
// only once the new bytes are whole on the medium: on any failure it keeps what it held (or
// stays absent), and nothing of the attempt is left beside it. A device or a pipe (NUL, CON,
// \\.\pipe\...) is written directly. False, with the last-error code saying why, on failure.
bool WriteOutputFile(const char* path, const FileImage& image);
