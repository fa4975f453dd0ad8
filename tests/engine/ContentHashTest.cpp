// The hash that tells whether a drawing still holds what a pass read.

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/platform/ContentHash.h"

namespace dxfkonv {
namespace {

Content hashOf(const std::string& bytes, std::size_t piece)
{
    ContentHash hash;
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        hash.add(bytes.data() + at, std::min(piece, bytes.size() - at));
    return hash.content();
}

std::string someBytes(std::size_t n)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return bytes;
}

// However the reads cut the file, the hash is the same.
TEST(ContentHash, PiecesDoNotMatter)
{
    const std::string bytes = someBytes(1000);
    const Content whole = hashOf(bytes, bytes.size());
    EXPECT_EQ(whole.size, 1000u);
    for (const std::size_t piece : {1, 3, 7, 8, 31, 32, 33, 64, 999})
        EXPECT_EQ(hashOf(bytes, piece), whole) << piece;
}

// An edit of the same size anywhere, one bit or one word, shows; so do
// bytes added or taken away, zeros too.
TEST(ContentHash, EveryEditShows)
{
    const std::string bytes = someBytes(200);
    const Content before = hashOf(bytes, 64);
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        for (const int bit : {0, 7}) {
            std::string edited = bytes;
            edited[at] = static_cast<char>(edited[at] ^ (1 << bit));
            EXPECT_NE(hashOf(edited, 64).hash, before.hash) << at << " bit " << bit;
        }
    }
    std::string swapped = bytes;  // two words trade places
    std::swap_ranges(swapped.begin(), swapped.begin() + 8, swapped.begin() + 8);
    EXPECT_NE(hashOf(swapped, 64).hash, before.hash);
    const struct {
        const char* name;
        std::string changed;
    } resized[] = {
        {"a zero added", bytes + std::string(1, '\0')},
        {"a stripe of zeros added", bytes + std::string(32, '\0')},
        {"the last byte gone", bytes.substr(0, bytes.size() - 1)},
        {"empty", ""},
    };
    for (const auto& r : resized)
        EXPECT_NE(hashOf(r.changed, 64), before) << r.name;
    EXPECT_NE(hashOf(std::string(1, '\0'), 1).hash, hashOf("", 1).hash);
}

}  // namespace
}  // namespace dxfkonv
