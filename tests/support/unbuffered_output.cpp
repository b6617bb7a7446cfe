// Test programs write unbuffered: one that dies early still shows how far it got.
#include <cstdio>

namespace {

const int g_unbuffered = std::setvbuf(stdout, nullptr, _IONBF, 0);

}  // namespace
