// Writes random bytes drawn through CryptoAPI from the registered hardware provider to
// a file, for statistical tests outside Windows. Usage: rng_dump <file> <bytes>
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const DWORD total = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, "Intel Hardware Cryptographic Service Provider", 22, 0)) {
        std::fprintf(stderr, "acquire failed: 0x%08lx\n", GetLastError());
        return 1;
    }
    std::vector<BYTE> data(total);
    const bool ok = CryptGenRandom(provider, total, data.data());
    CryptReleaseContext(provider, 0);
    std::FILE* file = std::fopen(argv[1], "wb");
    if (!ok || !file || std::fwrite(data.data(), 1, total, file) != total) {
        std::fprintf(stderr, "could not draw or write %lu bytes\n", static_cast<unsigned long>(total));
        return 1;
    }
    return std::fclose(file) == 0 ? 0 : 1;
}
