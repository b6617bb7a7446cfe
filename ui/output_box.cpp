// How a text reaches the output box. Everywhere in one call, except where Wine's edit
// control would take cubic time over it: Wine lays out each wrapped line by analysing the
// whole rest of its paragraph, and without a delimiter that paragraph is the whole text.
// Appended piece by piece, each layout ends at the current end of the text, and the box
// ends with the same lines as one call gives it.
#include "main_dialog.h"

#include "resource.h"

#include <cstring>

namespace {

// Each append costs a walk over all lines so far, and the layout of its own lines grows
// with the cube of its length: under Wine 8, 384 characters came out fastest for 10^3 to
// 10^5 values.
constexpr std::size_t PieceSize = 384;

bool RunningOnWine()
{
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// Digits only, as without a delimiter in bases up to 10: no line can break among them,
// and Wine analyses them as one run however long. Letters would start a run at every
// change between letter and digit, and past 255 runs Wine estimates the line's end
// instead, which it does differently for a shorter paragraph.
bool DigitsOnly(const char* text, std::size_t length)
{
    return std::strspn(text, "0123456789") == length;
}

void AppendInPieces(HWND box, const char* text, std::size_t length)
{
    SetWindowTextA(box, "");
    // EM_REPLACESEL keeps to the text limit, which one WM_SETTEXT ignores.
    const LRESULT limit = SendMessageA(box, EM_GETLIMITTEXT, 0, 0);
    SendMessageA(box, EM_SETLIMITTEXT, 0, 0);
    char piece[PieceSize + 1];
    for (std::size_t at = 0; at < length; at += PieceSize) {
        const std::size_t n = length - at < PieceSize ? length - at : PieceSize;
        std::memcpy(piece, text + at, n);
        piece[n] = '\0';
        SendMessageA(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece));
    }
    // Leave the box as one WM_SETTEXT would: caret and view at the start, nothing changed
    // by the user, nothing to undo.
    SendMessageA(box, EM_SETLIMITTEXT, static_cast<WPARAM>(limit), 0);
    SendMessageA(box, EM_SETSEL, 0, 0);
    SendMessageA(box, EM_SETMODIFY, FALSE, 0);
    SendMessageA(box, EM_EMPTYUNDOBUFFER, 0, 0);
}

}  // namespace

void ShowOutput(HWND dialog, const char* text)
{
    // Hidden while it takes the text, the box neither scrolls nor repaints on the way.
    const HWND box = GetDlgItem(dialog, IDC_OUTPUT);
    ShowWindow(box, SW_HIDE);
    const std::size_t length = std::strlen(text);
    if (RunningOnWine() && length > PieceSize && DigitsOnly(text, length))
        AppendInPieces(box, text, length);
    else
        SetDlgItemTextA(dialog, IDC_OUTPUT, text);
    ShowWindow(box, SW_SHOW);
}
