// Generate: read the settings, confirm a large run, check the bounds, take one block
// from the hardware random source, show and write the text, report the time taken.
#include "main_dialog.h"

#include "error_text.h"
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

// The warning before a large run, with the output and the time emptied first. False, with the
// run told as cancelled, unless the user pressed OK.
bool ConfirmLargeRun(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_STATUS, "Processing...");
    SetDlgItemTextA(dialog, IDC_ELAPSED, "");
    SetDlgItemTextA(dialog, IDC_OUTPUT, "");
    if (MessageBoxA(dialog, WarningText, "WARNING", MB_OKCANCEL) != IDOK) {
        SetDlgItemTextA(dialog, IDC_STATUS, "Ready");
        SetDlgItemTextA(dialog, IDC_ELAPSED, "Cancelled");
        return false;
    }
    ShowBeforeTheLongPart(dialog);
    return true;
}

// The settings in the order the user is told about them: the count and, above the threshold,
// the warning; then the minimum, the maximum and their order; then the base and the delimiter.
// A count below 1 has nothing to generate, and a maximum below the minimum has no mapping: both
// are refused rather than run. False where the run ends here, the user told why.
bool ReadSettings(HWND dialog, GenerationSettings* settings)
{
    settings->count = ReadFieldInteger(dialog, IDC_COUNT);
    if (NeedsConfirmation(settings->count) && !ConfirmLargeRun(dialog))
        return false;
    if (RejectSetting(dialog, CheckCount(settings->count)))
        return false;
    settings->minimum = ReadFieldInteger(dialog, IDC_DEC_MIN);
    if (RejectSetting(dialog, CheckMinimum(settings->minimum)))
        return false;
    settings->maximum = ReadFieldInteger(dialog, IDC_DEC_MAX);
    if (RejectSetting(dialog, CheckMaximum(settings->maximum)) ||
        RejectSetting(dialog, CheckBoundOrder(settings->minimum, settings->maximum)))
        return false;
    settings->base = ReadTopBase(dialog);
    char delimiter[FieldTextLimit] = {};
    GetDlgItemTextA(dialog, IDC_DELIMITER, delimiter, FieldTextLimit);
    SetDelimiter(*settings, delimiter);
    return true;
}

// What the timed part of a run leaves to be told after it.
struct RunOutcome {
    DWORD boxError = ERROR_SUCCESS;   // why the box cannot show the numbers
    DWORD fileError = ERROR_SUCCESS;  // why the output file could not be written
    bool built = true;                // false: the text could not be made from the block
};

// From the request to the hardware to the file written: the text shown, its length recorded and
// the file written; or the random source's reason shown in its place.
RunOutcome RunGeneration(HWND dialog, MainDialogState& state, const GenerationSettings& settings,
                         const RandomBlock& block, OutputText* text)
{
    RunOutcome outcome;
    const HWND box = GetDlgItem(dialog, IDC_OUTPUT);
    if (!FillRandomBytes(static_cast<DWORD>(block.count), block.bytes.get())) {
        char errorText[ErrorTextSize];
        DescribeLastError(errorText);
        ShowOutputText(box, errorText, std::strlen(errorText));
        return outcome;
    }
    // The buffers were reserved for these settings: a text that cannot be built is a fault of
    // Quorvel's own, shown as such rather than as numbers.
    if (!BuildOutputText(settings, block, text)) {
        outcome.built = false;
        SetDlgItemTextA(dialog, IDC_OUTPUT, "");
        return outcome;
    }
    // Where the box cannot take the text, the run still stands and the file is written.
    outcome.boxError = ShowOutputText(box, text->text.get(), text->length);
    state.recordedLength = RecordedLength(*text);
    GetDlgItemTextA(dialog, IDC_OUTPUT_PATH, state.pathBuffer, PathBufferSize);
    if (state.pathBuffer[0] != '\0')
        outcome.fileError = WriteOutputFile(state.pathBuffer, OutputFileImage(*text));
    return outcome;
}

void ShowElapsed(HWND dialog, std::time_t seconds)
{
    char elapsed[20];
    std::snprintf(elapsed, sizeof elapsed, "%lld Seconds", static_cast<long long>(seconds));
    SetDlgItemTextA(dialog, IDC_ELAPSED, elapsed);
}

// Told after the run, so that the time shown is the run's and not the reader's.
void ReportOutcome(HWND dialog, const MainDialogState& state, std::size_t count, const RunOutcome& outcome)
{
    const bool hasPath = state.pathBuffer[0] != '\0';
    if (!outcome.built)
        ShowError(dialog, "The numbers could not be written out: the run's buffers do not match its settings.");
    if (outcome.boxError != ERROR_SUCCESS) {
        char what[PathBufferSize + 160];
        std::snprintf(what, sizeof what, "The output box cannot show these %zu numbers:", count);
        char reason[ErrorTextSize];
        DescribeError(outcome.boxError, reason);
        char text[sizeof what + ErrorTextSize + PathBufferSize + 64];
        const bool written = hasPath && outcome.fileError == ERROR_SUCCESS;
        std::snprintf(text, sizeof text, "%s\n%s\n\n%s%s", what, reason,
                      written ? "They were written to the output file:\n" : "Choose an output file to keep them.",
                      written ? state.pathBuffer : "");
        ShowError(dialog, text);
    }
    if (outcome.fileError != ERROR_SUCCESS) {
        char what[PathBufferSize + 64];
        std::snprintf(what, sizeof what, "The output file could not be written:\n%s", state.pathBuffer);
        ShowFailure(dialog, what, outcome.fileError);
    }
}

}  // namespace

void OnGenerate(HWND dialog, MainDialogState& state)
{
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    SetDlgItemTextA(dialog, IDC_STATUS, "");
    GenerationSettings settings;
    if (!ReadSettings(dialog, &settings))
        return;
    // Every buffer of the run is reserved before the hardware is asked for anything.
    RandomBlock block;
    OutputText text;
    if (!ReserveRunBuffers(settings, &block, &text)) {
        RejectSetting(dialog, ReserveFailureText(errno));
        return;
    }

    const std::time_t start = std::time(nullptr);
    const RunOutcome outcome = RunGeneration(dialog, state, settings, block, &text);
    const std::time_t end = std::time(nullptr);

    ShowElapsed(dialog, end - start);
    SetDlgItemTextA(dialog, IDC_STATUS, "Ready");
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    ReportOutcome(dialog, state, block.count, outcome);
}
