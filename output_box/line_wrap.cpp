#include "line_wrap.h"

#include <algorithm>
#include <cerrno>
#include <new>

int AdvanceAt(const CharAdvances& advances, unsigned char c, int x)
{
    return c == '\t' ? advances.tabStop - x % advances.tabStop : advances.of[c];
}

bool WrapLines(const char* text, std::size_t length, const std::vector<bool>& soft, const CharAdvances& advances,
               int width, const FitRefiner* refiner, std::vector<std::uint32_t>* starts)
{
    try {
        starts->clear();
        for (std::size_t from = 0;;) {
            const std::size_t most = std::min(length, from + MaxLineChars);
            std::size_t fit = from;  // the characters from `from` up to here fit, `x` wide
            int x = 0, over = x;     // `over`: with the character after them, where there is one
            for (; fit < most; ++fit) {
                over = x + AdvanceAt(advances, static_cast<unsigned char>(text[fit]), x);
                if (over > width)
                    break;
                x = over;
            }
            const bool nearTheEdge = x > width - (refiner ? refiner->margin : 0) ||
                                     (fit < most && over <= width + (refiner ? refiner->margin : 0));
            if (refiner && nearTheEdge)
                fit = from + std::min(refiner->fit(refiner->context, from, fit - from), most - from);
            if (std::max(fit, from + 1) >= length)
                return true;  // the rest is the last line; a line holds at least one character
            std::size_t end = fit;
            while (end > from && !soft[end])
                --end;
            const std::size_t lineStart = from;
            from = end > from ? end : std::max(fit, from + 1);
            // The box would take a carriage return and the line feed after it as one line end.
            while (from > lineStart + 1 && text[from - 1] == '\r')
                --from;
            starts->push_back(static_cast<std::uint32_t>(from));
        }
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
}
