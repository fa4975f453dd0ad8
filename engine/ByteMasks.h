// Sixty-four bytes in a row as bitmasks, bit i for byte i: what the block
// scan of the line pass needs to know of them. The masks are made with the
// widest vector instructions the processor has; every way gives the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dxfkonv {

// Which code lines matter to a pass, told by the bytes around the LF at
// the end of a code line: the last two before its CR LF, and the first
// three of the value. A one-digit code stands alone or after a space.
// Whatever the switches, 9 (the header variables) and a code with a space
// after it matter; to a pass that recodes texts, 1, and 0 before a name
// starting as MTEXT, SECTION or ENDSEC do, or before spaces or nothing; to
// one that renumbers colours, 62. A sieve: a code line like "162" or a
// name like ENDBLK passes too.
struct CodeSieve {
    bool texts = false;
    bool colours = false;
};

struct ByteMasks {
    std::uint64_t lf = 0;
    std::uint64_t cr = 0;
    std::uint64_t control = 0;  // below 0x20
    std::uint64_t letter = 0;   // from 'A' (0x41) up
    std::uint64_t looked = 0;   // the bytes that would end a code line that matters if they were LFs
};

// How far MaskBytes reads before and past the bytes it masks.
constexpr std::size_t kMaskReadsBefore = 3;
constexpr std::size_t kMaskReadsPast = 3;

// The masks of `count` times 64 bytes from p on, into out[0] to
// out[count - 1]. Reads from p[-kMaskReadsBefore] to
// p[64 * count + kMaskReadsPast - 1].
void MaskBytes(const char* p, std::size_t count, CodeSieve sieve, ByteMasks* out);

// Every way of making the masks this processor can run, the plainest
// first, MaskBytes's own last.
using ByteMasker = void (*)(const char*, std::size_t, CodeSieve, ByteMasks*);
std::vector<ByteMasker> ByteMaskers();

}  // namespace dxfkonv
