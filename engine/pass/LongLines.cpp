// Lines too long to hold (see pass/LongLines.h): read ahead from their
// start, and held back as runs of equal bytes.
#include "engine/pass/LongLines.h"

#include <algorithm>
#include <array>
#include <memory>

#include "engine/rules/LineShape.h"

namespace dxfkonv::linepass {

void ReadLineAhead(LineReader& reader, std::uint64_t offset, const std::function<bool(std::string_view)>& take)
{
    constexpr std::size_t kAheadChunk = 256 << 10;
    const std::unique_ptr<char[]> buffer(new char[kAheadChunk]);
    bool ended = false;
    bool more = true;
    while (!ended && more) {
        const std::size_t got = reader.readAt(offset, buffer.get(), kAheadChunk);
        if (got == 0)
            break;
        offset += got;
        std::string_view rest(buffer.get(), got);
        if (const std::size_t lf = rest.find('\n'); lf != std::string_view::npos) {
            rest = rest.substr(0, lf);
            ended = true;
        }
        while (!rest.empty() && more) {
            const std::string_view piece = rest.substr(0, rest.find('\r'));
            more = take(piece);
            rest.remove_prefix(std::min(rest.size(), piece.size() + 1));
        }
    }
}

std::size_t HeldLine::add(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = runOf(s.data() + i, s.size() - i, s[i]);
        if (!runs_.empty() && runs_.back().byte == c) {
            const std::size_t more = std::min<std::size_t>(n, kLongestRun - runs_.back().count);
            runs_.back().count += static_cast<std::uint32_t>(more);
            i += more;
            n -= more;
            if (n == 0)
                continue;
        }
        if (runs_.size() == kMostRuns)
            break;
        const std::size_t now = std::min<std::size_t>(n, kLongestRun);
        runs_.push_back({static_cast<std::uint32_t>(now), c});
        i += now;
    }
    return i;
}

void HeldLine::addRepeated(char c, std::uint64_t n)
{
    const std::array<char, 4096> bytes = [c] {
        std::array<char, 4096> b;
        b.fill(c);
        return b;
    }();
    while (n != 0) {
        const std::size_t now = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes.size()));
        add({bytes.data(), now});
        n -= now;
    }
}

void HeldLine::writeTo(LineWriter& writer) const
{
    for (const Run& run : runs_)
        writer.putRepeated(static_cast<char>(run.byte), run.count);
}

}  // namespace dxfkonv::linepass
