#include "engine/platform/ContentHash.h"

#include <cstring>

namespace dxfkonv {

namespace {

// Odd constants with their bits well spread: multiplying by one is a
// bijection, so no two words give the same lane.
constexpr std::uint64_t kMultiplier1 = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t kMultiplier2 = 0xD6E8FEB86659FD93ull;
constexpr std::uint64_t kMultiplier3 = 0xA0761D6478BD642Full;

constexpr std::uint64_t rotate(std::uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

// One word into a lane. Every step is a bijection of the word for any
// lane, and of the lane for any word: a word changed always changes the
// lane, and a lane changed stays changed through the words after it.
constexpr std::uint64_t mix(std::uint64_t lane, std::uint64_t word)
{
    return rotate(lane ^ (word * kMultiplier1), 29) * kMultiplier2;
}

std::uint64_t load(const unsigned char* p)
{
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Spreads every bit of x over the whole result.
constexpr std::uint64_t avalanche(std::uint64_t x)
{
    x ^= x >> 32;
    x *= kMultiplier3;
    x ^= x >> 29;
    x *= kMultiplier2;
    x ^= x >> 32;
    return x;
}

}  // namespace

ContentHash::ContentHash()
    : lanes_{0x243F6A8885A308D3ull, 0x13198A2E03707344ull, 0xA4093822299F31D0ull, 0x082EFA98EC4E6C89ull}
{
}

void ContentHash::stripe(const unsigned char* p)
{
    // Four lanes without dependencies between them, so the processor
    // works on all four at once.
    lanes_[0] = mix(lanes_[0], load(p));
    lanes_[1] = mix(lanes_[1], load(p + 8));
    lanes_[2] = mix(lanes_[2], load(p + 16));
    lanes_[3] = mix(lanes_[3], load(p + 24));
}

void ContentHash::add(const char* data, std::size_t n)
{
    auto p = reinterpret_cast<const unsigned char*>(data);
    size_ += n;
    if (pendingBytes_ != 0) {
        const std::size_t take = n < kStripe - pendingBytes_ ? n : kStripe - pendingBytes_;
        std::memcpy(pending_ + pendingBytes_, p, take);
        pendingBytes_ += take;
        p += take;
        n -= take;
        if (pendingBytes_ < kStripe)
            return;
        stripe(pending_);
        pendingBytes_ = 0;
    }
    for (; n >= kStripe; p += kStripe, n -= kStripe)
        stripe(p);
    std::memcpy(pending_, p, n);
    pendingBytes_ = n;
}

Content ContentHash::content() const
{
    // The bytes of the last stripe, padded with zeros; the length tells
    // them from zeros that were read.
    unsigned char last[kStripe] = {};
    std::memcpy(last, pending_, pendingBytes_);
    std::uint64_t lanes[4] = {lanes_[0], lanes_[1], lanes_[2], lanes_[3]};
    for (int i = 0; i < 4; ++i)
        lanes[i] = mix(lanes[i], load(last + 8 * i));
    std::uint64_t h = size_ * kMultiplier3;
    for (const std::uint64_t lane : lanes)
        h = mix(h, lane);
    return {size_, avalanche(h)};
}

}  // namespace dxfkonv
