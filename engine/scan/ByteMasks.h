// Sixty-four bytes in a row as bitmasks, bit i for byte i: what the block
// scan of the line pass needs to know of them. The masks are made with the
// widest vector instructions the processor has; every way gives the same.
//
// The candidates are the LFs that may end a code line the fast path must
// stop at, told by the bytes around each LF as kCandidatePlan describes
// them: the last two before its CR LF, and the first two of the value.
// A filter in front of ClassifyCode(), it may let through more code lines
// than matter ("162", a name such as ENDBLK), never fewer. A code line
// with a space at its end is always a candidate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/rules/DxfRules.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dxfkonv::scan {

struct ByteMasks {
    std::uint64_t lf = 0;
    std::uint64_t cr = 0;
    std::uint64_t control = 0;  // below 0x20
    std::uint64_t letter = 0;   // from 'A' (0x41) up
    std::uint64_t candidates = 0;  // the bytes that would end a code line that matters if they were LFs
};

// How far MaskBytes reads before and past the bytes it masks.
constexpr std::size_t kMaskReadsBefore = 3;
constexpr std::size_t kMaskReadsPast = 3;

// The masks of `count` times 64 bytes from p on, into out[0] to
// out[count - 1]. Reads from p[-kMaskReadsBefore] to
// p[64 * count + kMaskReadsPast - 1].
void MaskBytes(const char* p, std::size_t count, PassNeeds needs, ByteMasks* out);

// The LFs and CRs alone of the 64 bytes at p (all read), for walking
// line by line.
struct LineEnds {
    std::uint64_t lf = 0;
    std::uint64_t cr = 0;
};
inline LineEnds MaskLineEnds(const char* p)
{
    LineEnds m;
#if defined(__SSE2__)
    const __m128i lfs = _mm_set1_epi8('\n');
    const __m128i crs = _mm_set1_epi8('\r');
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        m.lf |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lfs)))} << (16 * i);
        m.cr |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, crs)))} << (16 * i);
    }
#else
    for (unsigned i = 0; i < 64; ++i) {
        m.lf |= std::uint64_t{p[i] == '\n'} << i;
        m.cr |= std::uint64_t{p[i] == '\r'} << i;
    }
#endif
    return m;
}

// Every way of making the masks this processor can run, the plainest
// first, MaskBytes's own last.
using ByteMasker = void (*)(const char*, std::size_t, PassNeeds, ByteMasks*);
std::vector<ByteMasker> ByteMaskers();

}  // namespace dxfkonv::scan
