// The stretches made 64 at a time, on the reading thread or by the fast
// path: a block's bitmasks turned into value ends, candidates and odd
// bytes (see scan/Stretches.h).
#include "engine/scan/Stretches.h"

#include <array>
#include <cstring>

namespace dxfkonv::scan {

namespace {

// The masks of a block's first 64 bytes, which have nothing before them.
ByteMasks firstMasks(const char* data, PassNeeds needs)
{
    char padded[kMaskReadsBefore + 64 + kMaskReadsPast] = {};
    std::memcpy(padded + kMaskReadsBefore, data, 64 + kMaskReadsPast);
    ByteMasks masks;
    MaskBytes(padded + kMaskReadsBefore, 1, needs, &masks);
    return masks;
}

// Bit i set where an odd number of bits of x are set up to bit i.
std::uint64_t prefixXor(std::uint64_t x)
{
    x ^= x << 1;
    x ^= x << 2;
    x ^= x << 4;
    x ^= x << 8;
    x ^= x << 16;
    x ^= x << 32;
    return x;
}

}  // namespace

// Makes `count` stretches of a block of `end` bytes from `base` on, the
// first from its byte `first` on, where a code line starts or a value line
// goes on (`valueOpen`); every other LF from there ends a code line.
// Returns whether a value line is still open after them.
bool makeStretches(const char* data, std::size_t end, std::size_t base, std::size_t first, bool valueOpen,
                   PassNeeds needs, Stretch* out, std::size_t count)
{
    constexpr std::size_t kAtOnce = 64;
    std::array<ByteMasks, kAtOnce> masks;
    for (std::size_t done = 0; done < count; done += kAtOnce) {
        const std::size_t now = std::min(kAtOnce, count - done);
        // The block's first 64 bytes have nothing before them.
        const std::size_t fromFirst = base == 0 ? 1 : 0;
        if (base == 0)
            masks[0] = firstMasks(data, needs);
        if (now > fromFirst)
            MaskBytes(data + base + 64 * fromFirst, now - fromFirst, needs, masks.data() + fromFirst);
        for (std::size_t i = 0; i < now; ++i, base += 64, first = 0) {
            const ByteMasks& bytes = masks[i];
            std::uint64_t keep = ~std::uint64_t{0} << first;
            if (end - base < 64)
                keep &= (std::uint64_t{1} << (end - base)) - 1;
            const std::uint64_t lf = bytes.lf & keep;
            const CrLfs crLfs = crLfsAt(data, base, end, lf, bytes.cr & keep);
            const std::uint64_t bareLf = lf & ~crLfs.ends;
            const std::uint64_t control = bytes.control & ~bytes.lf & ~bytes.cr & keep;
            const std::uint64_t oddLfs = prefixXor(lf);
            const std::uint64_t open = valueOpen ? ~std::uint64_t{0} : 0;
            const std::uint64_t codeEnds = lf & (oddLfs ^ open);
            const std::uint64_t inCode = ~(oddLfs ^ lf ^ open) & keep;
            Stretch& stretch = out[done + i];
            stretch.valueEnds = lf & ~codeEnds;
            stretch.candidates = bytes.candidates & codeEnds;
            stretch.odd = crLfs.loneCrs | bareLf | control | (bytes.letter & inCode);
            valueOpen = valueOpen != ((oddLfs >> 63) != 0);
        }
    }
    return valueOpen;
}

void StretchMaker::run(char* buffer, std::size_t n, std::size_t size)
{
    const std::uint64_t read = ++reads_;
    if (size < at_ + room(n)) {
        // No room: the lines are only counted.
        valueOpen_ = valueOpen_ != (std::count(buffer, buffer + n, '\n') % 2 != 0);
        return;
    }
    valueOpen_ = makeStretches(buffer, n, 0, 0, valueOpen_, needs_, stretchesIn(buffer), (n + 63) / 64);
    *reinterpret_cast<Stamp*>(buffer + at_) = Stamp{read, n};
}

const Stretch* StretchMaker::stretchesOf(char* buffer, std::uint64_t read, std::size_t bytes) const
{
    const Stamp& stamp = *reinterpret_cast<const Stamp*>(buffer + at_);
    return stamp.read == read && stamp.bytes == bytes ? stretchesIn(buffer) : nullptr;
}

}  // namespace dxfkonv::scan
