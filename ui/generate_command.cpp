// Generate: read the settings, confirm a large run, check the bounds, take one block
// from the hardware random source, show and write the text, report the time taken.
#include "main_dialog.h"

#include "generation_settings.h"
#include "hardware_random_source.h"
#include "output_box.h"
#include "output_file.h"
#include "output_text.h"
#include "resource.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

const char WarningText[] =
    "Random Number Generation execution time\n"
    "is dependent upon number of RNs generated.\n"
    "Press OK to begin generation or Cancel to quit.\n";

// Why a run's buffers could not be reserved, by the engine's errno.
const char* ReserveFailureText(int error)
{
    switch (error) {
    case EOVERFLOW: return "Number of Zintars too large for that Numeric Base and Delimiter!";
    case EINVAL: return "Numeric Base Must be between 2 and 36!";
    default: return "Not enough memory for that Number of Zintars!";
    }
}

// Room for a field of nine characters with space to spare.
constexpr int FieldScratchSize = 15;

int32_t ReadFieldInteger(HWND dialog, int id)
{
    char scratch[FieldScratchSize] = {};
    GetDlgItemTextA(dialog, id, scratch, FieldTextLimit);
    return ParseFieldInteger(scratch);
}

// The base is whatever item stands at the top of the one-line list, selected or not.
int32_t ReadTopBase(HWND dialog)
{
    const LRESULT top = SendDlgItemMessageA(dialog, IDC_BASE_LIST, LB_GETTOPINDEX, 0, 0);
    const LRESULT length = SendDlgItemMessageA(dialog, IDC_BASE_LIST, LB_GETTEXTLEN, top, 0);
    if (length < 0 || length >= FieldTextLimit)
        return 0;
    char scratch[FieldScratchSize] = {};
    SendDlgItemMessageA(dialog, IDC_BASE_LIST, LB_GETTEXT, top, reinterpret_cast<LPARAM>(scratch));
    return ParseFieldInteger(scratch);
}

// Shows a settings message and ends the run; false when there was none.
bool RejectSetting(HWND dialog, const char* message)
{
    if (!message)
        return false;
    ShowError(dialog, message);
    SetDlgItemTextA(dialog, IDC_STATUS, "Ready");
    return true;
}

// A message nobody sends Quorvel: looking for it finds the queue empty.
constexpr UINT NoMessage = WM_APP + 0x3FFF;

// The dialog painted whole, with no remains of the warning and "Processing..." in its status,
// and put on the screen (where the system shows what was painted only once the program has
// looked at its queue and found it empty) before the long part of a large run, which takes
// no messages.
void ShowBeforeTheLongPart(HWND dialog)
{
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    MSG none;
    PeekMessageA(&none, nullptr, NoMessage, NoMessage, PM_NOREMOVE);
}

// The run's numbers are too many for the output box to show: say so, and where they are.
void ReportBoxError(HWND dialog, std::size_t count, const char* path, bool written)
{
    char reason[ErrorTextSize];
    DescribeLastError(reason);
    char text[PathBufferSize + ErrorTextSize + 160];
    std::snprintf(text, sizeof text, "The output box cannot show these %zu numbers:\n%s\n\n%s%s", count, reason,
                  written ? "They were written to the output file:\n" : "Choose an output file to keep them.",
                  written ? path : "");
    ShowError(dialog, text);
}

void ReportFileError(HWND dialog, const char* path)
{
    char what[PathBufferSize + 64];
    std::snprintf(what, sizeof what, "The output file could not be written:\n%s", path);
    ShowLastError(dialog, what);
}

}  // namespace

void OnGenerate(HWND dialog, MainDialogState& state)
{
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    SetDlgItemTextA(dialog, IDC_STATUS, "");

    GenerationSettings settings;
    settings.count = ReadFieldInteger(dialog, IDC_COUNT);
    if (NeedsConfirmation(settings.count)) {
        SetDlgItemTextA(dialog, IDC_STATUS, "Processing...");
        SetDlgItemTextA(dialog, IDC_ELAPSED, "");
        SetDlgItemTextA(dialog, IDC_OUTPUT, "");
        if (MessageBoxA(dialog, WarningText, "WARNING", MB_OKCANCEL) != IDOK) {
            SetDlgItemTextA(dialog, IDC_STATUS, "Ready");
            SetDlgItemTextA(dialog, IDC_ELAPSED, "Cancelled");
            return;
        }
        ShowBeforeTheLongPart(dialog);
    }
    // A count below 1 has nothing to generate, and a maximum below the minimum has no
    // mapping: both are refused rather than run.
    if (RejectSetting(dialog, CheckCount(settings.count)))
        return;
    settings.minimum = ReadFieldInteger(dialog, IDC_DEC_MIN);
    if (RejectSetting(dialog, CheckMinimum(settings.minimum)))
        return;
    settings.maximum = ReadFieldInteger(dialog, IDC_DEC_MAX);
    if (RejectSetting(dialog, CheckMaximum(settings.maximum)) ||
        RejectSetting(dialog, CheckBoundOrder(settings.minimum, settings.maximum)))
        return;
    settings.base = ReadTopBase(dialog);
    char delimiter[FieldTextLimit] = {};
    GetDlgItemTextA(dialog, IDC_DELIMITER, delimiter, FieldTextLimit);
    SetDelimiter(settings, delimiter);

    // Every buffer of the run is reserved before the hardware is asked for anything.
    RandomBlock block;
    OutputText text;
    if (!ReserveRunBuffers(settings, &block, &text)) {
        RejectSetting(dialog, ReserveFailureText(errno));
        return;
    }

    const std::time_t start = std::time(nullptr);
    bool fileFailed = false, boxFailed = false;
    DWORD fileError = ERROR_SUCCESS, boxError = ERROR_SUCCESS;
    if (FillRandomBytes(static_cast<DWORD>(block.count), block.bytes.get())) {
        BuildOutputText(settings, block, &text);
        // Where the box cannot take the text, the run still stands and the file is written.
        if (!ShowOutput(dialog, text.text.get(), text.length)) {
            boxFailed = true;
            boxError = GetLastError();
        }
        state.recordedLength = RecordedLength(text);
        GetDlgItemTextA(dialog, IDC_OUTPUT_PATH, state.pathBuffer, PathBufferSize);
        if (state.pathBuffer[0] != '\0' && !WriteOutputFile(state.pathBuffer, OutputFileImage(text))) {
            fileFailed = true;
            fileError = GetLastError();
        }
    } else {
        char errorText[ErrorTextSize];
        DescribeLastError(errorText);
        ShowOutput(dialog, errorText, std::strlen(errorText));
    }
    const std::time_t end = std::time(nullptr);

    char elapsed[20];
    std::snprintf(elapsed, sizeof elapsed, "%lld Seconds", static_cast<long long>(end - start));
    SetDlgItemTextA(dialog, IDC_ELAPSED, elapsed);
    SetDlgItemTextA(dialog, IDC_STATUS, "Ready");
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));

    // Told after the run, so the time shown is the run's and not the reader's.
    if (boxFailed) {
        SetLastError(boxError);
        ReportBoxError(dialog, block.count, state.pathBuffer, state.pathBuffer[0] != '\0' && !fileFailed);
    }
    if (fileFailed) {
        SetLastError(fileError);
        ReportFileError(dialog, state.pathBuffer);
    }
}
