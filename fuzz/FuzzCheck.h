// Property checks inside the fuzz targets: a broken property prints what
// was expected and aborts, so libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace dxfkonv::fuzz {

inline std::string printable(std::string_view s, std::size_t limit = 200)
{
    std::string r;
    for (std::size_t i = 0; i < s.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 32 && c < 127 && c != '\\') {
            r += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            r += hex;
        }
    }
    if (s.size() > limit)
        r += "...";
    return r;
}

[[noreturn]] inline void propertyBroken(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "\n*** property broken at %s:%d: %s\n", file, line, what);
    std::abort();
}

}  // namespace dxfkonv::fuzz

#define FUZZ_CHECK(cond)                                                       \
    do {                                                                       \
        if (!(cond))                                                           \
            ::dxfkonv::fuzz::propertyBroken(#cond, __FILE__, __LINE__);        \
    } while (0)

// Same, with the two strings that should have matched.
#define FUZZ_CHECK_EQ_STR(a, b)                                                \
    do {                                                                       \
        if ((a) != (b)) {                                                      \
            std::fprintf(stderr, "\n  left:  \"%s\"\n  right: \"%s\"\n",       \
                         ::dxfkonv::fuzz::printable(a).c_str(),                \
                         ::dxfkonv::fuzz::printable(b).c_str());               \
            ::dxfkonv::fuzz::propertyBroken(#a " == " #b, __FILE__, __LINE__); \
        }                                                                      \
    } while (0)
