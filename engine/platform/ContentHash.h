// A fast 64-bit hash of a stream of bytes, to tell whether a file still
// holds what was read of it before. Not for secrets: a change by chance
// (another program saving the drawing) goes unnoticed with odds of one in
// 2^64, and any change within one 8-byte word always shows. The result
// does not depend on how the bytes are cut into pieces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dxfkonv {

// How many bytes were read, and their hash.
struct Content {
    std::uint64_t size = 0;
    std::uint64_t hash = 0;
    bool operator==(const Content&) const = default;
};

class ContentHash {
public:
    ContentHash();
    // The next n bytes.
    void add(const char* data, std::size_t n);
    // Of all bytes added so far; more may be added after.
    Content content() const;

private:
    static constexpr std::size_t kStripe = 32;  // four words, one to each lane

    void stripe(const unsigned char* p);

    std::uint64_t lanes_[4];
    std::uint64_t size_ = 0;
    unsigned char pending_[kStripe];  // the start of a stripe not yet complete
    std::size_t pendingBytes_ = 0;
};

}  // namespace dxfkonv
