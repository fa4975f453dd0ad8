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
// - candidate (formerly "looked"): a code line the rule book's plan says
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
#include "engine/pass/LongLines.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "engine/scan/ByteMasks.h"
#include "engine/rules/ColourRenumbering.h"
#include "engine/IoError.h"
#include "engine/rules/DxfRules.h"
#include "engine/rules/TextRecoding.h"

namespace dxfkonv {

namespace {

using namespace linepass;

// What a pass with these switches converts: a pass that recodes texts
// follows the structure.
PassNeeds needsOf(const ConversionSwitches& switches)
{
    return PassNeeds{switches.recodeTexts, switches.renumberColours()};
}

class Pass {
public:
    Pass(ByteSource& in, ByteSink& out, std::uint64_t size, const ConversionSwitches& switches,
         const ProgressSink& progress, std::size_t longLine)
        : reader_(in, chunkFor(size), needsOf(switches), longLine), longLine_(longLine),
          writer_(out, chunkFor(size)), textOut_(writer_), size_(size),
          switches_(switches), progress_(progress),
          latinToWindows_(switches.textDirection == kLatinToWindows),
          codePageValue_(CodePageValue(latinToWindows_)),
          colourMap_(ColourMapFor(switches.colourDirection, switches.palette16)),
          followsStructure_(switches.recodeTexts),
          tails_(CodeTailsFor(needsOf(switches))),
          needs_(needsOf(switches)),
          progressMark_(size < kMinProgressInput || !progress ? kNever : 0)
    {
    }

    PassReport run()
    {
        refuseUnfitInput();
        while (!reader_.atEndOfInput(report_.lines % 2 == 0)) {
            if (!scanBlock())
                oneLine();
        }
        // A text or colour code on the last line gets its value, empty.
        if (report_.lines % 2 != 0 && !inCodePageRun_ && converts(lastCode_)) {
            ++report_.lines;
            writer_.put(takeValue(lastCode_, {}, report_.lines));
        }
        writer_.flush();
        return std::move(report_);
    }

private:
    // A binary DXF file is refused whatever the switches, and so is a file
    // whose first line is no group code; a file that marks itself as UTF-8
    // is refused when its texts are to be recoded. All before anything is
    // written. The first line is taken here.
    void refuseUnfitInput()
    {
        const std::string_view head = reader_.head(kBinarySentinel.size());
        if (head == kBinarySentinel)
            throw Refusal(kNotAsciiDxf);
        if (head.empty())
            return;  // an empty file stays empty
        // The byte order mark stands in front of the first line, not in it.
        const bool marked = head.substr(0, kUtf8Mark.size()) == kUtf8Mark;
        if (marked)
            reader_.consumeTo(kUtf8Mark.size());
        bool atCode;
        const std::string_view line = nextLine(atCode);
        if (!reader_.lineGoesOn()) {
            refuseFirstLine(line, marked);
            writer_.put(line);
        } else {
            // Spaces around a group code, held as they are counted.
            LineShape shape(kLongestFirstCode);
            eachPiece(line, true, [&](std::string_view piece) { shape.add(piece); });
            refuseFirstLine(shape.coreKept() ? shape.core() : std::string_view("\x01"), marked);
            lastCode_ = ClassifyCode(shape.core(), tails_);
            writer_.putRepeated(' ', shape.leading());
            writer_.putRaw(shape.core().data(), shape.core().size());
            writer_.putRepeated(' ', shape.trailing());
            writer_.putRaw("\r\n", 2);
        }
        reportProgress();
    }

    // Refuses the input for its first line (the byte order mark taken off),
    // else writes the mark back.
    void refuseFirstLine(std::string_view line, bool marked)
    {
        if (!IsGroupCode(Trimmed(line)))
            throw Refusal(kNotAsciiDxf);
        if (switches_.recodeTexts && marked)
            throw Refusal(kTextsInUtf8);
        if (marked)
            writer_.putRaw(kUtf8Mark.data(), kUtf8Mark.size());
    }

    // A group code as written: an optional minus and decimal digits.
    static bool IsGroupCode(std::string_view s)
    {
        if (!s.empty() && s.front() == '-')
            s.remove_prefix(1);
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    }

    // The longest group code a first line too long to hold may have.
    static constexpr std::size_t kLongestFirstCode = 64 << 10;

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
        const bool plain = kind == Code::Other ? !structure_.awaiting() : kind == kNameCode;
        if (plain && codeCrLf && valueCrLf && scan.offset + valueEnd + 1 <= progressMark_) {
            if (kind == kNameCode)
                follow(kind, std::string_view(data + valueStart, valueEnd - 1 - valueStart));
            scan.lines += 2;
            scan.pos = valueEnd + 1;
            return true;
        }
        const PairTaken taken = takePairInPlace(data, scan.runStart, scan.pos, valueStart, codeCrLf, valueEnd,
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
                stops = (stretch->looked | stretch->odd) & from;
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
            if ((stretch->looked & ~stretch->odd & bit) == 0 || base + at >= limit)
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

    struct PairTaken {
        std::size_t runStart;  // of the unchanged bytes not yet written
        bool valueLeft;        // only the code line was taken
    };

    // A pair that is not one of the common ones, in place in the block, as
    // oneLine() takes it: the code line, then the value line, unless that
    // starts the code-page header. A line whose output differs from its
    // bytes ends the run of unchanged bytes before it. `lines` were taken
    // before the pair. Out of line, so that the loop over the common pairs
    // keeps its registers.
    [[gnu::noinline]] PairTaken takePairInPlace(const char* data, std::size_t runStart, std::size_t codeStart,
                                                std::size_t valueStart, bool codeCrLf, std::size_t valueEnd,
                                                bool valueCrLf, Code kind, std::uint64_t lines)
    {
        auto replace = [&](std::size_t start, std::size_t next, std::string_view output) {
            writer_.putRaw(data + runStart, start - runStart);
            writer_.put(output);
            runStart = next;
        };
        const std::uint64_t offset = reader_.offset();
        if (!codeCrLf)
            replace(codeStart, valueStart, std::string_view(data + codeStart, valueStart - 1 - codeStart));
        if (offset + valueStart > progressMark_)
            noteProgress(valueStart);
        const std::string_view value(data + valueStart, valueEnd - valueCrLf - valueStart);
        if (StartsCodePageRun(false, kind, value)) {
            lastCode_ = kind;  // the value's code, for oneLine()
            return {runStart, true};
        }
        if (value.size() > longLine_ && isTextValue(kind)) {
            // Recoded as it goes out, not put together first.
            writer_.putRaw(data + runStart, valueStart - runStart);
            longText(kind, value, false, lines + 2);
            runStart = valueEnd + 1;
        } else if (const std::string_view result = takeValue(kind, value, lines + 2);
                   !valueCrLf || result != value) {
            replace(valueStart, valueEnd + 1, result);
        }
        if (offset + valueEnd + 1 > progressMark_)
            noteProgress(valueEnd + 1);
        return {runStart, false};
    }

    // One line the slow way: whatever the block scan leaves. Out of line,
    // like takePairInPlace().
    [[gnu::noinline]] void oneLine()
    {
        bool atCode;
        const std::string_view line = nextLine(atCode);
        if (reader_.lineGoesOn() || line.size() > longLine_) {
            longLine(line, atCode);
            return;
        }
        if (StartsCodePageRun(atCode, lastCode_, line)) {
            writer_.put(line);
            codePageRun();
            return;
        }
        writer_.put(atCode ? line : takeValue(lastCode_, line, report_.lines));
        reportProgress();
    }

    // The code-page header after the line that starts it: its value lines
    // up to the next "$" line, or up to the group code 0 that ends the
    // header when it is the last variable there. That line goes out as it
    // is, though the structure sees it. The run stays open when the input
    // ends in it.
    void codePageRun()
    {
        inCodePageRun_ = true;
        for (;;) {
            if (reader_.physicalEnd()) {
                reportProgress();
                return;
            }
            bool atCode;
            const std::string_view line = nextLine(atCode);
            if (reader_.lineGoesOn() ? longRunLine(line, atCode) : runLine(line, atCode))
                break;
        }
        inCodePageRun_ = false;
        reportProgress();
    }

    // A line of the code-page run, written; returns whether it ends the run.
    bool runLine(std::string_view line, bool atCode)
    {
        if (EndsCodePageRun(atCode, lastCode_, line)) {
            if (!atCode)
                follow(lastCode_, line);
            writer_.put(line);
            return true;
        }
        putRunValue(IsCodePageValue(line), [&] { writer_.put(line); });
        return false;
    }

    // A line of the run that mentions ANSI is replaced by the code-page
    // value; any other goes out as `asItIs` writes it.
    template <typename AsItIs>
    void putRunValue(bool replaced, AsItIs&& asItIs)
    {
        if (replaced) {
            writer_.put(codePageValue_);
            ++report_.codePagesSet;
        } else {
            asItIs();
        }
    }

    // runLine() for a line too long to hold (its first bytes in `head`).
    // It is held back until a "$" says it stays or its end says what goes
    // out; a line too varied to hold (see HeldLine) is decided there by
    // what came of it so far.
    bool longRunLine(std::string_view head, bool atCode)
    {
        LineShape shape(kShortCore);
        WordWatch ansi(kCodePageValueMark);
        HeldLine held;
        bool dollar = false;
        enum class Out { Held, AsItIs, Replaced } out = Out::Held;
        eachPiece(head, true, [&](std::string_view piece) {
            shape.add(piece);
            ansi.add(piece);
            dollar = dollar || std::memchr(piece.data(), kRunEndMark, piece.size()) != nullptr;
            if (out == Out::Held) {
                const std::size_t taken = dollar ? 0 : held.add(piece);
                if (taken == piece.size())
                    return;
                out = !dollar && ansi.found() ? Out::Replaced : Out::AsItIs;
                if (out == Out::Replaced)
                    return;
                held.writeTo(writer_);
                piece.remove_prefix(taken);
            }
            if (out == Out::AsItIs)
                writer_.putRaw(piece.data(), piece.size());
        });
        if (atCode)
            lastCode_ = ClassifyCode(shape.standIn(), tails_);
        const bool ends = dollar || EndsCodePageRun(atCode, lastCode_, {});
        if (ends && !atCode)
            follow(lastCode_, shape.standIn());
        const bool stillHeld = out == Out::Held;
        if (stillHeld)
            out = !dollar && ansi.found() ? Out::Replaced : Out::AsItIs;
        putRunValue(out == Out::Replaced, [&] {
            if (stillHeld)
                held.writeTo(writer_);
            writer_.putRaw("\r\n", 2);
        });
        return ends;
    }

    // Hands `take` the line that `head` starts, piece by piece: head, then,
    // where the line goes on, the rest as the reader gives it.
    template <typename Take>
    void eachPiece(std::string_view head, bool goesOn, Take&& take)
    {
        take(head);
        if (!goesOn || !reader_.lineGoesOn())
            return;
        std::string_view piece;
        bool ended;
        do {
            ended = reader_.readPiece(piece);
            take(piece);
        } while (!ended);
    }

    // oneLine() for a line longer than the pass takes whole (its first
    // bytes in `head`): written as it goes by, but for a text, recoded as it
    // goes by, and a colour, held back no longer than its number needs.
    void longLine(std::string_view head, bool atCode)
    {
        const Code code = lastCode_;  // the value's code
        if (!atCode && isTextValue(code)) {
            longText(code, head, true, report_.lines);
        } else if (!atCode && code == Code::Colour && switches_.renumberColours()) {
            longColour(head);
        } else {
            LineShape shape(kShortCore);
            WordWatch codePage(kCodePageVariable);
            eachPiece(head, true, [&](std::string_view piece) {
                writer_.putRaw(piece.data(), piece.size());
                shape.add(piece);
                codePage.add(piece);
            });
            writer_.putRaw("\r\n", 2);
            if (atCode)
                lastCode_ = ClassifyCode(shape.standIn(), tails_);
            if (codePage.found() && (atCode || code == Code::Header)) {
                codePageRun();
                return;
            }
            if (!atCode)
                follow(code, shape.standIn());
        }
        reportProgress();
    }

    // A text value too long to hold, recoded piece by piece as it goes
    // out; `line` is its line number. The structure sees it after.
    void longText(Code code, std::string_view head, bool goesOn, std::uint64_t line)
    {
        LineShape shape(kShortCore);
        PiecewiseRecoding recoding(latinToWindows_, textOut_);
        eachPiece(head, goesOn, [&](std::string_view piece) {
            shape.add(piece);
            recoding.add(piece);
        });
        recoding.finish();
        writer_.putRaw("\r\n", 2);
        follow(code, shape.standIn());
        countText(recoding.lost(), recoding.changed(), line);
    }

    // A colour value too long to hold: held back while it may still be a
    // number, written as it goes by once it stays.
    void longColour(std::string_view head)
    {
        ColourReading reading;
        HeldLine held;
        bool writing = false;
        eachPiece(head, true, [&](std::string_view piece) {
            if (writing) {
                writer_.putRaw(piece.data(), piece.size());
                return;
            }
            const bool open = reading.verdict() == ColourReading::Verdict::Open;
            reading.add(piece);
            if (reading.verdict() == ColourReading::Verdict::Stays) {
                held.writeTo(writer_);
                writer_.putRaw(piece.data(), piece.size());
                writing = true;
            } else if (open) {
                held.add(piece);  // spaces, a sign or prefix, zeros and three digits at most
            }
        });
        follow(Code::Colour, "\x01");
        if (writing) {
            writer_.putRaw("\r\n", 2);
            return;
        }
        bool renumbered = false;
        writer_.put(reading.number(colourMap_, colourText_, renumbered));
        report_.coloursRenumbered += renumbered;
    }

    // The next line the slow way, counted; a code line is classified.
    std::string_view nextLine(bool& atCode)
    {
        atCode = report_.lines % 2 == 0;
        const std::string_view line = reader_.readLine();
        ++report_.lines;
        if (atCode)
            lastCode_ = ClassifyCode(line, tails_);
        return line;
    }

    // The value line of a pair as it goes out: a text recoded, a colour
    // renumbered, anything else as it is. The structure sees every pair.
    // `line` is its line number.
    [[gnu::always_inline]] std::string_view takeValue(Code code, std::string_view value, std::uint64_t line)
    {
        const bool isText = isTextValue(code);
        follow(code, value);
        if (isText)
            return recodeText(value, line);
        if (code == Code::Colour && switches_.renumberColours())
            return renumberColour(value);
        return value;
    }

    // Whether the pass rewrites the values of a group code.
    bool converts(Code code) const
    {
        return isTextValue(code) || (code == Code::Colour && switches_.renumberColours());
    }

    // Whether the value of a group code is a text to recode.
    bool isTextValue(Code code) const { return switches_.recodeTexts && structure_.isText(code); }

    // Both paths show the structure every pair they take, but for the
    // plain ones (none of the codes it looks at) while it awaits nothing.
    [[gnu::always_inline]] void follow(Code code, std::string_view value)
    {
        if (followsStructure_)
            structure_.follow(code, value);
    }

    std::string_view recodeText(std::string_view value, std::uint64_t line)
    {
        scratch_.clear();
        const std::size_t lost = ConvertTextInto(latinToWindows_, value, scratch_);
        countText(lost, scratch_ != value, line);
        return scratch_;
    }

    void countText(std::size_t lost, bool changed, std::uint64_t line)
    {
        if (lost != 0) {
            report_.charsLost += lost;
            if (report_.lostCharLines.size() < PassReport::kMaxLostLines)
                report_.lostCharLines.push_back(line);
        }
        report_.textsRecoded += changed;
    }

    std::string_view renumberColour(std::string_view value)
    {
        bool renumbered = false;
        const std::string_view number = renumberColourLine(value, colourMap_, colourText_, renumbered);
        if (number.empty())
            return value;
        report_.coloursRenumbered += renumbered;
        return number;
    }

    void reportProgress() { progressAt(reader_.consumed()); }

    // After the block scan took the bytes up to `position` in the block.
    void noteProgress(std::size_t position) { progressAt(reader_.offset() + position); }

    // The gauge shows the share of the input consumed, in whole percent.
    void progressAt(std::uint64_t consumed)
    {
        if (consumed <= progressMark_)
            return;
        const int percent = ProgressPercent(std::min(consumed, size_), size_);
        if (percent != lastPercent_) {
            lastPercent_ = percent;
            progress_(percent);
        }
        progressMark_ = percent == 100 ? kNever : lastBytesAt(percent);
    }

    // The most bytes consumed that still show `percent` (below 100): the
    // next one would round up, 100 n / size reaching percent + 1/2, or
    // passing it when the half rounds down to an even percent.
    std::uint64_t lastBytesAt(int percent) const
    {
        const std::uint64_t halfUp = (2 * static_cast<std::uint64_t>(percent) + 1) * size_;
        const std::uint64_t first = (halfUp + 199) / 200;  // the least n with 200 n >= halfUp
        const bool tie = first * 200 == halfUp;
        return tie && percent % 2 == 0 ? first : first - 1;
    }

    LineReader reader_;
    const std::size_t longLine_;  // a line longer than this goes through in pieces
    LineWriter writer_;
    // Where a text recoded piece by piece goes.
    struct TextOut final : PiecewiseRecoding::Out {
        explicit TextOut(LineWriter& w) : writer(w) {}
        void write(const char* data, std::size_t n) override { writer.putRaw(data, n); }
        LineWriter& writer;
    } textOut_;
    const std::uint64_t size_;
    const ConversionSwitches& switches_;
    const ProgressSink& progress_;
    const bool latinToWindows_;
    const std::string_view codePageValue_;
    const ColourMap& colourMap_;
    const bool followsStructure_;  // only the text rules need it
    const CodeTails& tails_;
    const PassNeeds needs_;  // the code lines the leap stops at
    Structure structure_;
    PassReport report_;
    bool inCodePageRun_ = false;  // the lines taken last were those of the code-page run
    Code lastCode_ = Code::Other;  // of the last code line taken
    static constexpr std::uint64_t kNever = ~std::uint64_t{0};
    // The gauge cannot move before the pass has consumed more bytes than this.
    std::uint64_t progressMark_;
    int lastPercent_ = -1;
    std::string scratch_;
    ColourText colourText_;
};

class StringSource : public ByteSource {
public:
    explicit StringSource(std::string_view data) : data_(data) {}
    std::size_t read(char* buffer, std::size_t n) override
    {
        n = std::min(n, data_.size());
        std::memcpy(buffer, data_.data(), n);
        data_.remove_prefix(n);
        return n;
    }

private:
    std::string_view data_;
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

void TrimSpaces(std::string& s)
{
    const std::string_view t = Trimmed(s);
    if (t.size() != s.size())
        s = std::string(t);
}

bool RenumberColourLine(std::string_view line, const ConversionSwitches& switches, std::string& out,
                        bool& renumbered)
{
    ColourText text;
    const std::string_view number =
        renumberColourLine(line, ColourMapFor(switches.colourDirection, switches.palette16), text, renumbered);
    if (number.empty())
        return false;
    out.assign(number);
    return true;
}

namespace linepass {

// The number that goes out in `text`; empty where the line stays.
std::string_view renumberColourLine(std::string_view line, const ColourMap& map, ColourText& text, bool& renumbered)
{
    const std::size_t n = line.size();
    std::size_t i = 0;
    while (i < n && line[i] == ' ')
        ++i;
    bool negative = false;
    bool hasSign = false;
    if (i < n && (line[i] == '+' || line[i] == '-')) {
        negative = line[i] == '-';
        hasSign = true;
        ++i;
    }
    unsigned base = 10;
    if (!hasSign && i < n) {
        if (line[i] == '$' || line[i] == 'x' || line[i] == 'X') {
            base = 16;
            ++i;
        } else if (line[i] == '0' && i + 1 < n && (line[i + 1] == 'x' || line[i + 1] == 'X')) {
            base = 16;
            i += 2;
        }
    }
    std::uint64_t magnitude = 0;
    for (; i < n; ++i) {
        const char c = line[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        // Past 255 the exact value no longer matters: such a line stays.
        magnitude = std::min<std::uint64_t>(magnitude * base + digit, 1u << 16);
    }
    if (magnitude > 255)
        return {};
    // Trailing spaces end the number like the end of the line does; any
    // other character after the digits drops the sign.
    const bool cleanEnd = Trimmed(line.substr(i)).empty();
    return colourNumber(static_cast<unsigned>(magnitude), negative && cleanEnd, map, text, renumbered);
}

std::string_view colourNumber(unsigned magnitude, bool signKept, const ColourMap& map, ColourText& text,
                              bool& renumbered)
{
    const bool keepSign = signKept && magnitude != 0;
    unsigned colour = map[magnitude];
    renumbered = colour != magnitude;
    char* const end = text.data() + text.size();
    char* d = end;
    do {
        *--d = static_cast<char>('0' + colour % 10);
        colour /= 10;
    } while (colour != 0);
    if (keepSign)
        *--d = '-';
    return {d, static_cast<std::size_t>(end - d)};
}

}  // namespace

int ProgressPercent(std::uint64_t done, std::uint64_t total)
{
    if (total == 0)
        return 0;
    const std::uint64_t scaled = 100 * done;
    std::uint64_t q = scaled / total;
    const std::uint64_t r = scaled % total;
    if (2 * r > total || (2 * r == total && q % 2 == 1))
        ++q;
    return static_cast<int>(std::min<std::uint64_t>(q, 100));
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
