// The blocks the pass reads and writes. Their alignment: the pass makes
// its buffers so, and the platform hands a block so aligned straight to the
// disk. And the work a source may do on each block it reads, which the
// scan does. Shared by them all, below each.
#pragma once

#include <cstddef>

namespace dxfkonv {

inline constexpr std::size_t kBlockAlign = 4096;

// Work on every block a source reads, done before the source hands the
// block out: run(buffer, n, size) with the bytes read and the buffer's
// size. Blocks come to it in the order of the input. The scan makes its
// stretches this way on the reading thread.
class BlockJob {
public:
    virtual void run(char* buffer, std::size_t n, std::size_t size) = 0;

protected:
    ~BlockJob() = default;
};

}  // namespace dxfkonv
