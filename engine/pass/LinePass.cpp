// The line loop of a pass. Most pairs of a drawing are nothing to the
// rules, so the loop has a fast path that passes over them in bulk and a
// slow path that takes one line at a time; both give the rules the same
// pairs. The words used here for the fast path, as simdjson's stage-1
// structural index has them:
//
// - stretch: 64 bytes of a block and their bitmasks (line ends, CRs, other
//   control characters, letters, and the candidates), made on the reading
//   thread or here; a prefix XOR of the line ends tells code lines from
//   value lines.
// - candidate: a code line the rule book's plan says
//   may matter (see kCandidatePlan); the fast path stops at each.
// - odd: a byte that needs the slow path whatever the rules say (a lone
//   CR, an LF without CR, a control character, a letter in a code line).
// - leap: the fast path itself: passing over every pair between two
//   candidates or odd bytes in one step, written out as one run of bytes.
// - walk: the slow path, line by line through the same rules, where the
//   fast path may not go (a section header, an entity with texts of its
//   own, odd bytes) or has just failed; the walk grows each time the leap
//   fails so that a drawing it never suits costs little.
// - sieve, tails: the candidates' plan as the masks apply it (the code
//   lines' last characters, the first letters of names).
#include "engine/pass/LinePass.h"
#include "engine/pass/PassState.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "engine/scan/ByteMasks.h"

namespace dxfkonv {

namespace {

using namespace linepass;
using scan::countBits;
using scan::kMaskReadsBefore;
using scan::LineEndCursor;
using scan::makeStretches;
using scan::Stretch;
using scan::upToLowest;

class Pass : PassState {
public:
    using PassState::PassState;

    PassReport run()
    {
        refuseUnfitInput();
        while (!reader_.atEndOfInput(report_.lines % 2 == 0)) {
            if (!scanBlock())
                oneLine();
        }
        return finish();
    }

private:

    // The stretches the leap looks at, made 64 at a time (4 KiB of the
    // block): the masks come out of the vector instructions faster so.
    static constexpr std::size_t kStretches = 64;
    struct Stretches {
        std::size_t base = 0;   // of the first
        std::size_t count = 0;  // made
        bool valueOpen = false;  // the last line in them is an unfinished value line
        std::array<Stretch, kStretches> of;
    };

    // Where the block scan is: the pairs before `pos` are taken, and the
    // bytes from `runStart` to `pos` go out as they came, not yet written.
    struct Scan {
        const char* data;
        std::size_t end;
        std::uint64_t offset;  // of the block in the input
        std::size_t pos;
        std::size_t runStart;
        std::uint64_t lines;       // taken so far
        const Stretch* marks;      // the block's stretches, made on the reading thread
        Stretches stretches;       // else the ones the leap made last
    };

    // Takes the lines of the current block in place: lines that end in
    // CR LF and stay as they are go out as one run of bytes. Stops before
    // anything that needs a closer look (a line running past the block, a
    // lone CR, the end-of-file mark, the code-page header) and leaves it to
    // oneLine(). Returns whether it took any line.
    bool scanBlock()
    {
        static const bool countsBitsAtOnce = processorCountsBitsAtOnce();
        return countsBitsAtOnce ? scanBlockCountingBitsAtOnce() : scanBlockAnywhere();
    }

    // The scan made twice, the second for processors that count the bits
    // of a word in one instruction (the leap counts the lines it passes).
#if defined(__x86_64__)
    [[gnu::target("popcnt")]]
#endif
    bool scanBlockCountingBitsAtOnce()
    {
        return scanBlockHere<true>();
    }

    bool scanBlockAnywhere() { return scanBlockHere<false>(); }

    static bool processorCountsBitsAtOnce()
    {
#if defined(__x86_64__)
        __builtin_cpu_init();
        return __builtin_cpu_supports("popcnt");
#else
        return false;
#endif
    }

    template <bool countBitsAtOnce>
    [[gnu::always_inline]] bool scanBlockHere()
    {
        if (report_.lines % 2 != 0)
            return false;  // a block that starts in a value's place: that line the slow way
        const std::size_t first = reader_.begin();
        Scan scan{reader_.data(), reader_.end(),    reader_.offset(),    first,
                  first,          report_.lines,    reader_.stretches(), {}};
        // A code line and its value line a round: leapt over where the
        // sieve lets it, else walked. Where the leap cannot start, the
        // walk goes on for a while before it is tried again, each time
        // twice as long while it fails (a drawing with LF line ends is
        // walked all through).
        LineEndCursor cursor(scan.data, scan.pos, scan.end);
        bool cursorBehind = false;  // the leap took pairs since the cursor was made
        std::size_t walkTo = 0;
        std::size_t walkFor = kFirstWalk;
        while (scan.pos < scan.end && !EndsInput(scan.data + scan.pos)) {
            if (scan.pos >= walkTo && mayLeap(scan.pos)) {
                const Leapt leapt = leap<countBitsAtOnce>(scan);
                if (leapt == Leapt::Stopped)
                    break;
                if (leapt == Leapt::Moved) {
                    cursorBehind = true;
                    walkFor = kFirstWalk;
                    continue;
                }
                walkTo = scan.pos + walkFor;
                walkFor = std::min(2 * walkFor, kLongestWalk);
            }
            if (cursorBehind) {
                cursor = LineEndCursor(scan.data, scan.pos, scan.end);
                cursorBehind = false;
            }
            const std::size_t codeEnd = cursor.next();
            if (codeEnd >= scan.end)
                break;
            const bool codeCrLf = cursor.lastWasCrLf();
            const std::size_t valueEnd = cursor.next();
            if (valueEnd >= scan.end)
                break;
            if (!takePair(scan, codeEnd, codeCrLf, valueEnd, cursor.lastWasCrLf()))
                break;
        }
        // The scan leaves lastCode_ alone where it ends after a value line:
        // a code line comes next, and oneLine() classifies it.
        report_.lines = scan.lines;
        writer_.putRaw(scan.data + scan.runStart, scan.pos - scan.runStart);
        reader_.consumeTo(scan.pos);
        return scan.pos != first;
    }

    // Takes the pair at scan.pos, whose code line ends at the LF at
    // `codeEnd` and value line at `valueEnd`, both in the block. Returns
    // false where the code-page header starts, having taken the code line
    // at most.
    [[gnu::always_inline]] bool takePair(Scan& scan, std::size_t codeEnd, bool codeCrLf, std::size_t valueEnd,
                                         bool valueCrLf)
    {
        const char* const data = scan.data;
        const std::string_view code(data + scan.pos, codeEnd - codeCrLf - scan.pos);
        if (StartsCodePageRun(true, Code::Other, code))
            return false;
        const std::size_t valueStart = codeEnd + 1;
        const Code kind = ClassifyCode(code, tails_);
        // The common pairs: both lines stay as they are, and the gauge
        // stays where it is. A group code 0 (a new entity, a section's
        // start or end) only tells the structure where the drawing is.
        const bool plain =
            kind == Code::Other ? !structure_.awaiting() : kind == kNameCode && !structure_.zeroDecides();
        if (plain && codeCrLf && valueCrLf && scan.offset + valueEnd + 1 <= progressMark_) {
            if (kind == kNameCode)
                follow(kind, std::string_view(data + valueStart, valueEnd - 1 - valueStart));
            scan.lines += 2;
            scan.pos = valueEnd + 1;
            return true;
        }
        const PairTaken taken = convertPairInBlock(data, scan.runStart, scan.pos, valueStart, codeCrLf, valueEnd,
                                                valueCrLf, kind, scan.lines);
        scan.runStart = taken.runStart;
        if (taken.valueLeft) {
            ++scan.lines;
            scan.pos = valueStart;
            return false;
        }
        scan.lines += 2;
        scan.pos = valueEnd + 1;
        return true;
    }

    // Whether the pairs from `pos` on may be leapt over: the structure
    // waits for no particular pair and is outside MTEXT, and the byte
    // before `pos` (an LF) and two more lie in the block.
    bool mayLeap(std::size_t pos) const { return pos >= kMaskReadsBefore && structure_.plainGround(); }

    enum class Leapt { Nothing, Moved, Stopped };

    // How far the walk goes, in bytes, before the leap is tried again.
    static constexpr std::size_t kFirstWalk = 64;
    static constexpr std::size_t kLongestWalk = 64 << 10;

    // Passes over the pairs from scan.pos (a pair's start) on that the
    // rules leave as they are: both lines end in CR LF and have no other
    // control character, the code line has no letter, and the look passes
    // it over. Takes the pairs the look stops at when they are like that
    // and lie whole in the block and in the next 64 bytes. Leaves the rest
    // to the walk, and stops at the end of the block and where the gauge
    // would move. Stopped where the code-page header starts.
    template <bool countBitsAtOnce>
    [[gnu::always_inline]] Leapt leap(Scan& scan)
    {
        const std::size_t start = scan.pos;
        for (;;) {
            const std::size_t limit = progressMark_ - scan.offset < scan.end
                                          ? static_cast<std::size_t>(progressMark_ - scan.offset)
                                          : scan.end;
            if (limit <= scan.pos)
                break;
            std::size_t base = scan.pos & ~std::size_t{63};
            std::uint64_t from = ~std::uint64_t{0} << (scan.pos - base);
            const Stretch* stretch = &stretchAt(scan, base);
            // On to the first byte that needs a look.
            std::uint64_t stops;
            for (;;) {
                stops = (stretch->candidates | stretch->odd) & from;
                const std::size_t room = limit - base;
                if (room < 64)
                    stops |= std::uint64_t{1} << room;
                const std::uint64_t before = stops != 0 ? (stops & (~stops + 1)) - 1 : ~std::uint64_t{0};
                const std::uint64_t passed = stretch->valueEnds & from & before;
                if (passed != 0) {
                    scan.lines += 2 * countBits<countBitsAtOnce>(passed);
                    scan.pos = base + 64 - static_cast<std::size_t>(__builtin_clzll(passed));
                }
                if (stops != 0)
                    break;
                if (room == 64)
                    return scan.pos != start ? Leapt::Moved : Leapt::Nothing;
                base += 64;
                from = ~std::uint64_t{0};
                stretch = &stretchAt(scan, base);
            }
            // A code line the sieve lets through, in a pair of plain lines?
            const int at = __builtin_ctzll(stops);
            const std::uint64_t bit = std::uint64_t{1} << at;
            if ((stretch->candidates & ~stretch->odd & bit) == 0 || base + at >= limit)
                break;
            const std::uint64_t after = ~std::uint64_t{1} << at;
            std::size_t valueEnd;
            // The first LF after a code line's ends its value.
            if (const std::uint64_t lfs = stretch->valueEnds & after; lfs != 0) {
                if ((stretch->odd & after & upToLowest(lfs)) != 0)
                    break;
                valueEnd = base + static_cast<std::size_t>(__builtin_ctzll(lfs));
            } else {
                // The value goes on into the next 64 bytes, and must end there.
                if ((stretch->odd & after) != 0 || base + 64 >= scan.end)
                    break;
                const Stretch& next = stretchAt(scan, base + 64);
                if (next.valueEnds == 0 || (next.odd & upToLowest(next.valueEnds)) != 0)
                    break;
                valueEnd = base + 64 + static_cast<std::size_t>(__builtin_ctzll(next.valueEnds));
            }
            if (!takePair(scan, base + static_cast<std::size_t>(at), true, valueEnd, true))
                return Leapt::Stopped;
            if (!mayLeap(scan.pos))
                return Leapt::Moved;
        }
        return scan.pos != start ? Leapt::Moved : Leapt::Nothing;
    }

    // The 64 bytes at `base`, at or after scan.pos and before the end of
    // the block: as made on the reading thread, or made here with the next
    // ones when not made yet: after the last made, or from scan.pos on,
    // where a code line starts. The scan takes whole pairs, so a line is a
    // code line where an even number of LFs lie between it and scan.pos.
    //
    // The leap stops at the code lines the sieve lets through, a sieve in
    // front of ClassifyCode(): it may stop at more code lines than matter,
    // never at fewer. While the pass leaps it awaits no pair and is not in
    // MTEXT.
    const Stretch& stretchAt(Scan& scan, std::size_t base) const
    {
        if (scan.marks)
            return scan.marks[base / 64];
        Stretches& made = scan.stretches;
        const std::size_t index = (base - made.base) / 64;
        if (base >= made.base && index < made.count)
            return made.of[index];
        const bool goesOn = made.count != 0 && index == made.count;
        const std::size_t first = goesOn ? 0 : scan.pos - base;
        made.count = std::min(kStretches, (scan.end - base + 63) / 64);
        made.base = base;
        made.valueOpen = makeStretches(scan.data, scan.end, base, first, goesOn && made.valueOpen, needs_,
                                       made.of.data(), made.count);
        return made.of[0];
    }
};
class StringSource : public ByteSource {
public:
    explicit StringSource(std::string_view data) : all_(data), data_(data) {}
    std::size_t read(char* buffer, std::size_t n) override
    {
        n = std::min(n, data_.size());
        std::memcpy(buffer, data_.data(), n);
        data_.remove_prefix(n);
        return n;
    }
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) override
    {
        if (offset >= all_.size())
            return 0;
        n = std::min<std::size_t>(n, all_.size() - offset);
        std::memcpy(buffer, all_.data() + offset, n);
        return n;
    }

private:
    const std::string_view all_;
    std::string_view data_;  // not read yet
};

class StringSink : public ByteSink {
public:
    explicit StringSink(std::string& out) : out_(out) {}
    void write(const char* data, std::size_t n) override { out_.append(data, n); }

private:
    std::string& out_;
};

}  // namespace

void BlockDelete::operator()(char* p) const
{
    ::operator delete[](p, std::align_val_t{kBlockAlign});
}

Block NewBlock(std::size_t size)
{
    Block block(static_cast<char*>(::operator new[](size, std::align_val_t{kBlockAlign})));
    std::memset(block.get(), 0, size);
    return block;
}

PassReport ConvertStream(ByteSource& in, ByteSink& out, std::uint64_t inputSize,
                         const ConversionSwitches& switches, const ProgressSink& progress)
{
    return ConvertStreamInPieces(in, out, inputSize, switches, kLongLine, progress);
}

PassReport ConvertStreamInPieces(ByteSource& in, ByteSink& out, std::uint64_t inputSize,
                                 const ConversionSwitches& switches, std::size_t longLine,
                                 const ProgressSink& progress)
{
    return Pass(in, out, inputSize, switches, progress, std::max<std::size_t>(longLine, 1)).run();
}

std::string ConvertBuffer(std::string_view input, const ConversionSwitches& switches, PassReport* report,
                          const ProgressSink& progress)
{
    std::string output;
    StringSource source(input);
    StringSink sink(output);
    PassReport r = ConvertStream(source, sink, input.size(), switches, progress);
    if (report)
        *report = std::move(r);
    return output;
}

}  // namespace dxfkonv
