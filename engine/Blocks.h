// The alignment of the blocks the pass reads and writes: the pass makes
// its buffers so, and the platform hands a block so aligned straight to the
// disk. Shared by both, below either.
#pragma once

#include <cstddef>

namespace dxfkonv {

inline constexpr std::size_t kBlockAlign = 4096;

}  // namespace dxfkonv
