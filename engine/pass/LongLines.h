// Lines too long to hold, taken in pieces: read ahead where what goes out
// of a line's start depends on its end, and held back as runs of bytes.
// The rules read the pieces (rules/LineShape.h and the readers beside
// it). Part of the line pass; included by pass/LinePass.cpp only.
#pragma once

#include "engine/pass/LineIo.h"
#include "engine/rules/LineShape.h"

namespace dxfkonv::linepass {

// A line too long to hold, read ahead from its start (at `offset` in the
// input) to its end as the reader splits lines: a line ends at LF, and a
// CR is no part of it. Its pieces go to `take` while it returns true.
template <typename Take>
void ReadLineAhead(LineReader& reader, std::uint64_t offset, Take&& take)
{
    constexpr std::size_t kAheadChunk = 256 << 10;
    const std::unique_ptr<char[]> buffer(new char[kAheadChunk]);
    bool ended = false;
    bool more = true;
    while (!ended && more) {
        const std::size_t got = reader.readAt(offset, buffer.get(), kAheadChunk);
        if (got == 0)
            break;
        offset += got;
        std::string_view rest(buffer.get(), got);
        if (const std::size_t lf = rest.find('\n'); lf != std::string_view::npos) {
            rest = rest.substr(0, lf);
            ended = true;
        }
        while (!rest.empty() && more) {
            const std::string_view piece = rest.substr(0, rest.find('\r'));
            more = take(piece);
            rest.remove_prefix(std::min(rest.size(), piece.size() + 1));
        }
    }
}

// A line held back until the pass knows what to write for it, as runs of
// equal bytes: a line of spaces or of zero bytes costs next to nothing,
// and only a line of more than kMostRuns runs cannot be held.
class HeldLine {
public:
    static constexpr std::size_t kMostRuns = std::size_t{1} << 17;

    // Takes bytes from the start of s while it can hold them; returns how
    // many it took.
    std::size_t add(std::string_view s)
    {
        std::size_t i = 0;
        while (i < s.size()) {
            const auto c = static_cast<unsigned char>(s[i]);
            std::size_t n = runOf(s.data() + i, s.size() - i, s[i]);
            if (!runs_.empty() && runs_.back().byte == c) {
                const std::size_t more = std::min<std::size_t>(n, kLongestRun - runs_.back().count);
                runs_.back().count += static_cast<std::uint32_t>(more);
                i += more;
                n -= more;
                if (n == 0)
                    continue;
            }
            if (runs_.size() == kMostRuns)
                break;
            const std::size_t now = std::min<std::size_t>(n, kLongestRun);
            runs_.push_back({static_cast<std::uint32_t>(now), c});
            i += now;
        }
        return i;
    }

    // n times the byte c; a run of one byte costs next to nothing.
    void addRepeated(char c, std::uint64_t n)
    {
        const std::array<char, 4096> bytes = [c] {
            std::array<char, 4096> b;
            b.fill(c);
            return b;
        }();
        while (n != 0) {
            const std::size_t now = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes.size()));
            add({bytes.data(), now});
            n -= now;
        }
    }

    void writeTo(LineWriter& writer) const
    {
        for (const Run& run : runs_)
            writer.putRepeated(static_cast<char>(run.byte), run.count);
    }

private:
    static constexpr std::size_t kLongestRun = ~std::uint32_t{0};
    struct Run {
        std::uint32_t count;
        unsigned char byte;
    };
    std::vector<Run> runs_;
};

}  // namespace dxfkonv::linepass
