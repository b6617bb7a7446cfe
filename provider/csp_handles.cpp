#include "csp_entry.h"
#include "csp_handles.h"
#include "probes.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>

namespace {

constexpr uintptr_t Free = 0, Claimed = 1;  // never handles
struct Entry {
    std::atomic<uintptr_t> handle;     // Free, Claimed while it is filled or emptied, or the handle
    std::atomic<const char*> container;  // the heap's copy of the name, or null for none
};
static_assert(std::atomic<uintptr_t>::is_always_lock_free && std::atomic<const char*>::is_always_lock_free);

// The table grows in segments made by the system and never freed (other modules may still
// call in while the process exits): segment 0 is static, segment k > 0 holds First << (k-1)
// entries, so the first k segments hold First << (k-1) in all. The n-th handle given out
// goes to entry n mod the size the table had then; looked up, each size it ever had is tried.
constexpr uintptr_t First = 256;
constexpr int MaxSegments = sizeof(uintptr_t) * CHAR_BIT - 8;
Entry g_first[First];
std::atomic<Entry*> g_segments[MaxSegments] = {g_first};
std::atomic<int> g_made{1};            // segments made
std::atomic<uintptr_t> g_opened{0};    // handle numbers used so far
std::atomic<uintptr_t> g_open{0};      // handles open now, roughly: a hint for growing

constexpr uintptr_t Odd = uintptr_t(0x9E3779B97F4A7C15u);
constexpr uintptr_t Inverse(uintptr_t odd)  // of an odd number modulo 2^bits, by Newton's steps
{
    uintptr_t inverse = odd;
    for (int i = 0; i < 6; ++i)
        inverse *= 2 - odd * inverse;
    return inverse;
}
static_assert(Odd * Inverse(Odd) == 1);

uintptr_t Base()
{
    return reinterpret_cast<uintptr_t>(&g_first);
}

// Handle number n, spread by an odd multiplier and offset by where this module was loaded: a
// bijection, so small numbers or neighbours of a real handle are not handles.
uintptr_t HandleFor(uintptr_t n)
{
    const uintptr_t spread = n * Odd + Base();
    return spread ^ (spread >> 15);
}

uintptr_t NumberOf(uintptr_t handle)
{
    uintptr_t spread = handle;
    for (unsigned i = 0; i * 15 < sizeof(uintptr_t) * CHAR_BIT; ++i)
        spread = handle ^ (spread >> 15);
    return (spread - Base()) * Inverse(Odd);
}

uintptr_t SizeWith(int segments)
{
    return First << (segments - 1);
}

Entry& At(uintptr_t index)
{
    int segment = 0;
    while (index >= SizeWith(segment + 1))
        ++segment;
    const uintptr_t start = segment ? SizeWith(segment) : 0;
    return g_segments[segment].load(std::memory_order_acquire)[index - start];
}

// Another segment, as large as the table was; false when memory ran out.
bool Grow(int made)
{
    if (made == MaxSegments)
        return false;
    if (!g_segments[made].load(std::memory_order_acquire)) {
        void* memory = VirtualAlloc(nullptr, SizeWith(made) * sizeof(Entry), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (!memory)
            return false;
        Entry* none = nullptr;
        if (!g_segments[made].compare_exchange_strong(none, static_cast<Entry*>(memory)))
            VirtualFree(memory, 0, MEM_RELEASE);  // another thread's came first
    }
    g_made.compare_exchange_strong(made, made + 1);
    return true;
}

Entry* Find(uintptr_t handle)
{
    if (handle == Free || handle == Claimed)
        return nullptr;
    const uintptr_t n = NumberOf(handle);
    ProbeStop(ProbeAt::Lookup);
    for (int segments = g_made.load(std::memory_order_acquire); segments > 0; --segments) {
        Entry& entry = At(n & (SizeWith(segments) - 1));
        if (entry.handle.load(std::memory_order_acquire) == handle)
            return &entry;
    }
    return nullptr;
}

}  // namespace

HCRYPTPROV CspHandleOpen(const char* container)
{
    char* copy = nullptr;
    if (container && *container) {
        const std::size_t size = std::strlen(container) + 1;
        if (!(copy = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size))))
            return 0;
        std::memcpy(copy, container, size);
    }
    for (uintptr_t tries = 0;; ++tries) {
        const int segments = g_made.load(std::memory_order_acquire);
        const uintptr_t size = SizeWith(segments), n = g_opened.fetch_add(1, std::memory_order_relaxed);
        const uintptr_t handle = HandleFor(n);
        uintptr_t expected = Free;
        Entry& entry = At(n & (size - 1));
        if (handle != Free && handle != Claimed && entry.handle.compare_exchange_strong(expected, Claimed)) {
            ProbeStop(ProbeAt::Opening);
            entry.container.store(copy, std::memory_order_relaxed);
            entry.handle.store(handle, std::memory_order_release);
            g_open.fetch_add(1, std::memory_order_relaxed);
            return static_cast<HCRYPTPROV>(handle);
        }
        // Half full, or no free entry met in as many tries as it has: the table grows.
        if (g_open.load(std::memory_order_relaxed) >= size / 2 || tries >= size) {
            if (Grow(segments)) {
                tries = 0;
            } else if (tries >= size) {
                if (copy)
                    HeapFree(GetProcessHeap(), 0, copy);
                return 0;
            }
        }
    }
}

bool CspHandleClose(HCRYPTPROV provider)
{
    Entry* entry = Find(provider);
    uintptr_t expected = provider;
    if (!entry || !entry->handle.compare_exchange_strong(expected, Claimed))
        return false;  // not open, or closed by another thread just now
    const char* copy = entry->container.exchange(nullptr, std::memory_order_relaxed);
    ProbeStop(ProbeAt::Closing);
    entry->handle.store(Free, std::memory_order_release);
    g_open.fetch_sub(1, std::memory_order_relaxed);
    if (copy)
        HeapFree(GetProcessHeap(), 0, const_cast<char*>(copy));
    return true;
}

const char* CspHandleContainer(HCRYPTPROV provider)
{
    const Entry* entry = Find(provider);
    if (!entry)
        return nullptr;
    const char* name = entry->container.load(std::memory_order_relaxed);
    return entry->handle.load(std::memory_order_acquire) == provider ? (name ? name : "") : nullptr;
}

bool CspHandleIsValid(HCRYPTPROV provider)
{
    return Find(provider) != nullptr;
}

BOOL CspFail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}
