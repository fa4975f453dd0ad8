// Lines too long to hold, taken in pieces: what a code line, a colour and
// a line of the code-page run need of them, in a bounded window. Part of
// the line pass; included by pass/LinePass.cpp only.
#pragma once

#include "engine/pass/LineIo.h"

namespace dxfkonv::linepass {

// The bits set in x: by the processor's own instruction where the caller
// is made for one that has it, else without a call to a library.
template <bool oneInstruction>
[[gnu::always_inline]] inline std::uint64_t countBits(std::uint64_t x)
{
    if constexpr (oneInstruction) {
        return static_cast<std::uint64_t>(__builtin_popcountll(x));
    } else {
        x -= (x >> 1) & 0x5555555555555555;
        x = (x & 0x3333333333333333) + ((x >> 2) & 0x3333333333333333);
        x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0F;
        return (x * 0x0101010101010101) >> 56;
    }
}

// The bits up to and with the lowest set bit of x (not 0).
inline std::uint64_t upToLowest(std::uint64_t x)
{
    return x ^ (x - 1);
}

// How many bytes from p on, of n, are the byte c.
inline std::size_t runOf(const char* p, std::size_t n, char c)
{
    const std::uint64_t all = std::uint64_t{0x0101010101010101} * static_cast<unsigned char>(c);
    std::size_t i = 0;
    for (std::uint64_t word; i + 8 <= n; i += 8) {
        std::memcpy(&word, p + i, 8);
        if (word != all)
            break;
    }
    while (i < n && p[i] == c)
        ++i;
    return i;
}

// Whether s, its ASCII letters upper-cased, contains `upperNeedle`, which
// starts with a letter: looked for where its first letter stands.
inline bool findUpper(std::string_view s, std::string_view upperNeedle)
{
    if (s.size() < upperNeedle.size())
        return false;
    const std::size_t last = s.size() - upperNeedle.size();
    for (const char first : {upperNeedle[0], static_cast<char>(upperNeedle[0] | 0x20)}) {
        for (std::size_t i = 0; i <= last; ++i) {
            const void* at = std::memchr(s.data() + i, first, last + 1 - i);
            if (at == nullptr)
                break;
            i = static_cast<std::size_t>(static_cast<const char*>(at) - s.data());
            if (ContainsUpper(s.substr(i, upperNeedle.size()), upperNeedle))
                return true;
        }
    }
    return false;
}

// A line too long to hold, seen as it goes by in pieces: whether it
// contains a word, in any case, across the cuts between pieces too.
class WordWatch {
public:
    explicit WordWatch(std::string_view upperWord) : word_(upperWord) {}

    void add(std::string_view s)
    {
        if (found_ || s.empty())
            return;
        const std::size_t overlap = word_.size() - 1;
        seam_.append(s.substr(0, std::min(s.size(), overlap)));
        found_ = findUpper(seam_, word_) || findUpper(s, word_);
        if (s.size() >= overlap)
            seam_.assign(s.substr(s.size() - overlap));
        else if (seam_.size() > overlap)
            seam_.erase(0, seam_.size() - overlap);
    }

    bool found() const { return found_; }

private:
    const std::string_view word_;
    std::string seam_;  // the last bytes before the next piece
    bool found_ = false;
};

// What a line too long to hold holds, read ahead from its start (at
// `offset` in the input) to its end as the reader splits lines: a line
// ends at LF, and a CR is no part of it. Whether it has the byte `stop`,
// and whether it contains `upperWord` in any case; the line is read no
// further than its first `stop`.
struct LineMarks {
    bool stop = false;
    bool word = false;
};
inline LineMarks ReadLineAhead(LineReader& reader, std::uint64_t offset, char stop, std::string_view upperWord)
{
    constexpr std::size_t kAheadChunk = 256 << 10;
    const std::unique_ptr<char[]> buffer(new char[kAheadChunk]);
    WordWatch watch(upperWord);
    LineMarks marks;
    bool ended = false;
    while (!ended && !marks.stop) {
        const std::size_t got = reader.readAt(offset, buffer.get(), kAheadChunk);
        if (got == 0)
            break;
        offset += got;
        std::string_view rest(buffer.get(), got);
        if (const std::size_t lf = rest.find('\n'); lf != std::string_view::npos) {
            rest = rest.substr(0, lf);
            ended = true;
        }
        while (!rest.empty() && !marks.stop) {
            const std::string_view piece = rest.substr(0, rest.find('\r'));
            watch.add(piece);
            marks.stop = piece.find(stop) != std::string_view::npos;
            rest.remove_prefix(std::min(rest.size(), piece.size() + 1));
        }
    }
    marks.word = watch.found();
    return marks;
}

// A line too long to hold as the rules see it: spaces, a core from the
// first byte that is not a space to the last, and spaces. The core is kept
// while it is at most `longest` bytes long; a line with a longer one is no
// group code and none of the names the pass looks for.
class LineShape {
public:
    explicit LineShape(std::size_t longest) : longest_(longest) {}

    void add(std::string_view s)
    {
        std::size_t i = 0;
        while (i < s.size() && !long_) {
            if (const std::size_t spaces = runOf(s.data() + i, s.size() - i, ' '); spaces != 0) {
                (core_.empty() ? leading_ : trailing_) += spaces;
                i += spaces;
                continue;
            }
            // The spaces counted as trailing were inside the core.
            if (core_.size() + trailing_ >= longest_) {
                long_ = true;
                break;
            }
            core_.append(static_cast<std::size_t>(trailing_), ' ');
            trailing_ = 0;
            core_ += s[i++];
        }
    }

    bool coreKept() const { return !long_; }
    // Whether the line may still trim to `word` (the line so far is
    // spaces and a start of it, or the word and spaces).
    bool mayTrimTo(std::string_view word) const
    {
        return !long_ && word.starts_with(core_) && (trailing_ == 0 || core_ == word);
    }
    std::string_view core() const { return core_; }
    std::uint64_t leading() const { return leading_; }
    std::uint64_t trailing() const { return trailing_; }

    // What the rules for group codes and names make of the line: its core,
    // or, where that is too long, a line that is none of them.
    std::string_view standIn() const { return long_ ? std::string_view("\x01") : std::string_view(core_); }

private:
    const std::size_t longest_;
    std::string core_;
    std::uint64_t leading_ = 0;
    std::uint64_t trailing_ = 0;  // spaces after the core so far
    bool long_ = false;
};

// The longest core a LineShape keeps for the rules of the pass: longer
// than any group code or name it looks for.
constexpr std::size_t kShortCore = 16;

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
