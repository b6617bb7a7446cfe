// The Save dialog that chooses the output file.
#pragma once

#include <windows.h>
#include <commdlg.h>

// GetSaveFileNameA with the record as it stands, where a name given as a drive and a name
// ("Z:out.txt") is taken as the whole path it stands for in the folder the dialog shows.
// Wine's dialog otherwise ends the process over such a name. Nonzero as GetSaveFileNameA.
BOOL ChooseOutputFile(OPENFILENAMEA* record);
