// The stretches of a block: each 64 bytes with their bitmasks and the
// candidates of the rule book's plan, made on the reading thread or by
// the fast path itself, and the cursor over line ends. The line pass
// reads its blocks through these (see the glossary in
// pass/LinePass.cpp). What the pass's inner loop calls for every few
// bytes stays here, to be inlined; the rest is in scan/Stretches.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/Blocks.h"
#include "engine/rules/DxfRules.h"
#include "engine/scan/ByteMasks.h"

namespace dxfkonv::scan {

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

// The room a block's buffer needs past its data, which the block scan
// reads past.
constexpr std::size_t kScanPadding = 64 + kMaskReadsPast;

// How the line ends of the 64 bytes at `base` in a block of `end` bytes
// stand, given their LFs and CRs (those to look at): the LFs that end a
// CR LF, and the CRs that are lone, with no LF right after them (in these
// 64 bytes, or in the byte after them if it lies in the block).
struct CrLfs {
    std::uint64_t ends;
    std::uint64_t loneCrs;
};

inline CrLfs crLfsAt(const char* data, std::size_t base, std::size_t end, std::uint64_t lf, std::uint64_t cr)
{
    const bool crBefore = base > 0 && data[base - 1] == '\r';
    const bool lfAfter = end - base > 64 && data[base + 64] == '\n';
    return {lf & ((cr << 1) | std::uint64_t{crBefore}), cr & ~((lf >> 1) | (std::uint64_t{lfAfter} << 63))};
}

// The one line splitter of the pass: walks the line ends (LF) of a block
// in order, 64 bytes at a time, and stops short of any CR that is not part
// of a CR LF. Reads up to 64 bytes past the end.
class LineEndCursor {
public:
    LineEndCursor(const char* data, std::size_t from, std::size_t end)
        : data_(data), end_(end), base_(from & ~std::size_t{63})
    {
        load(~std::uint64_t{0} << (from - base_));
    }

    // Position of the next LF; end when the block has none left, or when a
    // lone CR comes before it.
    [[gnu::always_inline]] std::size_t next()
    {
        while (lf_ == 0) {
            if (blocked_)
                return end_;
            base_ += 64;
            if (base_ >= end_)
                return end_;
            load(~std::uint64_t{0});
        }
        const std::uint64_t bit = lf_ & (~lf_ + 1);
        lastCrLf_ = (crLfEnds_ & bit) != 0;
        lf_ ^= bit;
        return base_ + static_cast<std::size_t>(__builtin_ctzll(bit));
    }

    // Whether the LF that next() found ends a CR LF.
    bool lastWasCrLf() const { return lastCrLf_; }

    // Once next() has given the end: where the lone CR is that stopped
    // it, or the end when the block had no more line ends. `from` as
    // given to the constructor.
    std::size_t stop(std::size_t from) const
    {
        if (!blocked_)
            return end_;
        std::size_t i = std::max(from, base_);
        while (data_[i] != '\r' || (i + 1 < end_ && data_[i + 1] == '\n'))
            ++i;
        return i;
    }

private:
    // The LFs of the 64 bytes at base_ among `keep`, up to the first lone CR.
    void load(std::uint64_t keep)
    {
        const LineEnds bytes = MaskLineEnds(data_ + base_);
        const std::size_t valid = end_ - base_;
        if (valid < 64)
            keep &= (std::uint64_t{1} << valid) - 1;
        const std::uint64_t lf = bytes.lf & keep;
        const CrLfs crLfs = crLfsAt(data_, base_, end_, lf, bytes.cr & keep);
        crLfEnds_ = crLfs.ends;
        // The LFs past a lone CR are not handed out.
        const std::uint64_t loneCr = crLfs.loneCrs;
        blocked_ = loneCr != 0;
        lf_ = blocked_ ? lf & ((loneCr & (~loneCr + 1)) - 1) : lf;
    }

    const char* data_;
    std::size_t end_;
    std::size_t base_;
    std::uint64_t lf_ = 0;
    std::uint64_t crLfEnds_ = 0;  // the LFs that have a CR before them
    bool blocked_ = false;        // a lone CR comes after the LFs in lf_
    bool lastCrLf_ = false;
};

// 64 bytes of a block as the leap of the block scan sees them (see the
// leap in pass/LinePass.cpp), bit i for byte i.
struct Stretch {
    std::uint64_t valueEnds = 0;  // the LFs that end value lines
    std::uint64_t candidates = 0; // the LFs of code lines the sieve lets through
    // Bytes that need the walk: a lone CR, an LF without a CR before it,
    // any other control character, a letter in a code line.
    std::uint64_t odd = 0;
};

// Makes `count` stretches of a block of `end` bytes from `base` on, the
// first from its byte `first` on, where a code line starts or a value line
// goes on (`valueOpen`); every other LF from there ends a code line.
// Returns whether a value line is still open after them.
bool makeStretches(const char* data, std::size_t end, std::size_t base, std::size_t first, bool valueOpen,
                   PassNeeds needs, Stretch* out, std::size_t count);

// Makes the stretches of each block as it is read, on the reading thread
// where the source has one, and puts them in the block's buffer behind
// the bytes: a stamp, then the stretches. A line is a code line where an
// even number of LFs come before it in the input, as each line taken ends
// in one LF.
class StretchMaker final : public BlockJob {
public:
    struct Stamp {
        std::uint64_t read;   // the how-manieth read filled the buffer, from 1
        std::uint64_t bytes;  // it gave
    };

    StretchMaker(PassNeeds needs, std::size_t at) : needs_(needs), at_(at) {}

    // Where the stretches go in a buffer, and how many bytes they need for
    // a block of `bytes`.
    static std::size_t placeAfter(std::size_t bytes) { return (bytes + 63) / 64 * 64; }
    static std::size_t room(std::size_t bytes) { return sizeof(Stamp) + ((bytes + 63) / 64) * sizeof(Stretch); }

    void run(char* buffer, std::size_t n, std::size_t size) override;

    // The stretches of the block of `bytes` in `buffer` that the `read`th
    // read filled; none unless they were made for just that.
    const Stretch* stretchesOf(char* buffer, std::uint64_t read, std::size_t bytes) const;

private:
    Stretch* stretchesIn(char* buffer) const { return reinterpret_cast<Stretch*>(buffer + at_ + sizeof(Stamp)); }

    const PassNeeds needs_;
    const std::size_t at_;  // where the stamp goes in a buffer
    std::uint64_t reads_ = 0;
    bool valueOpen_ = false;  // after the blocks so far
};

}  // namespace dxfkonv::scan
