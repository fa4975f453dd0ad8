// A line as the rules see it when it comes in pieces: the spaces around
// its core, the core while it is short enough to matter, and whether a
// word stands in it. The readers of the code-page run, of the first line
// and of a group code 0's value are made of these, and so is every line
// the pass takes whole (one piece).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace dxfkonv {

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

// A line seen as it goes by in pieces: spaces, a core from the first byte
// that is not a space to the last, and spaces. The core is kept while it
// is at most `longest` bytes long; a line with a longer one is no group
// code and none of the names the rules look for.
class LineShape {
public:
    explicit LineShape(std::size_t longest) : longest_(longest) {}

    void add(std::string_view s);

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
// than any group code or name they look for.
constexpr std::size_t kShortCore = 16;

// A line seen as it goes by in pieces: whether it contains a word, in any
// case, across the cuts between pieces too.
class WordWatch {
public:
    // `upperWord` starts with a letter.
    explicit WordWatch(std::string_view upperWord) : word_(upperWord) {}

    void add(std::string_view s);

    bool found() const { return found_; }

private:
    const std::string_view word_;
    std::string seam_;  // the last bytes before the next piece
    bool found_ = false;
};

}  // namespace dxfkonv
