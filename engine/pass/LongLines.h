// Lines too long to hold, taken in pieces: read ahead where what goes out
// of a line's start depends on its end, and held back as runs of bytes.
// The rules read the pieces (rules/LineShape.h and the readers beside
// it). Part of the line pass (pass/PassState.h); the code is in
// pass/LongLines.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "engine/pass/LineIo.h"

namespace dxfkonv::linepass {

// A line too long to hold, read ahead from its start (at `offset` in the
// input) to its end as the reader splits lines: a line ends at LF, and a
// CR is no part of it. Its pieces go to `take` while it returns true.
void ReadLineAhead(LineReader& reader, std::uint64_t offset, const std::function<bool(std::string_view)>& take);

// A line held back until the pass knows what to write for it, as runs of
// equal bytes: a line of spaces or of zero bytes costs next to nothing,
// and only a line of more than kMostRuns runs cannot be held.
class HeldLine {
public:
    static constexpr std::size_t kMostRuns = std::size_t{1} << 17;

    // Takes bytes from the start of s while it can hold them; returns how
    // many it took.
    std::size_t add(std::string_view s);

    // n times the byte c; a run of one byte costs next to nothing.
    void addRepeated(char c, std::uint64_t n);

    void writeTo(LineWriter& writer) const;

private:
    static constexpr std::size_t kLongestRun = ~std::uint32_t{0};
    struct Run {
        std::uint32_t count;
        unsigned char byte;
    };
    std::vector<Run> runs_;
};

}  // namespace dxfkonv::linepass
