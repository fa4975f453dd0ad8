// The state of a line pass (its reader and writer, the structure, the
// report, the gauge) and its slow path: one line at a time, every pair
// shown to the rules, long lines in pieces handed to the rules' readers,
// the code-page run. The fast path (pass/LinePass.cpp) is built on it: it
// passes over the pairs the rules leave alone and hands the others to
// convertPairInBlock() and oneLine(). Part of the line pass; included by
// pass/LinePass.cpp only.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "engine/IoError.h"
#include "engine/pass/LongLines.h"
#include "engine/rules/CodePageRun.h"
#include "engine/rules/ColourNumber.h"
#include "engine/rules/DxfRules.h"
#include "engine/rules/FirstLine.h"
#include "engine/rules/TextRecoding.h"

namespace dxfkonv::linepass {

// What a pass with these switches converts: a pass that recodes texts
// follows the structure.
inline PassNeeds needsOf(const ConversionSwitches& switches)
{
    return PassNeeds{switches.recodeTexts, switches.renumberColours()};
}

// The gauge value for `done` of `total`: round(100 done / total), halves to
// even.
inline int ProgressPercent(std::uint64_t done, std::uint64_t total)
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

class PassState {
public:
    PassState(ByteSource& in, ByteSink& out, std::uint64_t size, const ConversionSwitches& switches,
               const ProgressSink& progress, std::size_t longLine)
        : reader_(in, chunkFor(size), needsOf(switches), longLine), longLine_(longLine),
          writer_(out, chunkFor(size)), textOut_(writer_), size_(size),
          switches_(switches), progress_(progress),
          latinToWindows_(switches.textDirection == kLatinToWindows),
          codePageValue_(CodePageValue(latinToWindows_)),
          colourMap_(ColourMapFor(switches.colourDirection, switches.palette16)),
          tails_(CodeTailsFor(needsOf(switches))),
          needs_(needsOf(switches)),
          structure_(switches.recodeTexts, latinToWindows_),
          progressMark_(size < kMinProgressInput || !progress ? kNever : 0)
    {
    }

protected:
    // After the last line: a text or colour code on the last line gets its
    // value, empty; then everything goes out.
    PassReport finish()
    {
        if (heldZero_)
            releaseZero(BeforeZero::Nothing);  // the input's last line: nothing to declare before it
        if (report_.lines % 2 != 0 && !inCodePageRun_ && converts(lastCode_)) {
            ++report_.lines;
            writer_.put(takeValue(lastCode_, {}, report_.lines));
        }
        if (sectionHeld_)
            settleFirstSection();  // unnamed at the end: nothing goes before it
        writer_.flush();
        report_.alreadyConverted = declared_ && AlreadyConverted(*declared_, latinToWindows_, dosEscapeRecoded_);
        return std::move(report_);
    }

    // The start of the input, read before anything is written (see
    // rules/FirstLine.h): refused, or the byte order mark written back and
    // the first line taken.
    void refuseUnfitInput()
    {
        const InputStart start = ReadInputStart(reader_.head(kBinarySentinel.size()));
        if (start == InputStart::Binary)
            throw Refusal(kNotAsciiDxf);
        if (start == InputStart::Empty)
            return;  // an empty file stays empty
        const bool marked = start == InputStart::Marked;
        if (marked)
            reader_.consumeTo(kUtf8Mark.size());
        bool atCode;
        const std::string_view line = nextLine(atCode);
        FirstLineReader first(longLine_);
        eachPiece(line, true, [&](std::string_view piece) { first.add(piece); });
        if (!first.groupCode())
            throw Refusal(kNotAsciiDxf);
        if (switches_.recodeTexts && marked)
            structure_.startInUtf8();
        if (marked)
            writer_.putRaw(kUtf8Mark.data(), kUtf8Mark.size());
        // Spaces around a group code, held as they are counted.
        const LineShape& shape = first.shape();
        lastCode_ = ClassifyCode(shape.core(), tails_);
        if (zeroWaitsForValue()) {
            HeldLine& held = holdZero();
            held.addRepeated(' ', shape.leading());
            held.add(shape.core());
            held.addRepeated(' ', shape.trailing());
        } else {
            writer_.putRepeated(' ', shape.leading());
            writer_.putRaw(shape.core().data(), shape.core().size());
            writer_.putRepeated(' ', shape.trailing());
            writer_.putRaw("\r\n", 2);
        }
        reportProgress();
    }

    struct PairTaken {
        std::size_t runStart;  // of the unchanged bytes not yet written
        bool valueLeft;        // only the code line was taken
    };

    // A pair that is not one of the common ones, converted in place in the block, as
    // oneLine() takes it: the code line, then the value line, unless that
    // starts the code-page header. A line whose output differs from its
    // bytes ends the run of unchanged bytes before it. `lines` were taken
    // before the pair. Out of line, so that the loop over the common pairs
    // keeps its registers.
    [[gnu::noinline]] PairTaken convertPairInBlock(const char* data, std::size_t runStart, std::size_t codeStart,
                                                std::size_t valueStart, bool codeCrLf, std::size_t valueEnd,
                                                bool valueCrLf, Code kind, std::uint64_t lines)
    {
        auto replace = [&](std::size_t start, std::size_t next, std::string_view output) {
            writer_.putRaw(data + runStart, start - runStart);
            writer_.put(output);
            runStart = next;
        };
        const std::uint64_t offset = reader_.offset();
        const std::string_view value(data + valueStart, valueEnd - valueCrLf - valueStart);
        if (const BeforeZero before = kind == kNameCode ? WhatGoesBeforeZero(structure_, value) : BeforeZero::Nothing;
            before != BeforeZero::Nothing) {
            writer_.putRaw(data + runStart, codeStart - runStart);
            runStart = codeStart;
            putBeforeZero(before);
        }
        if (!codeCrLf)
            replace(codeStart, valueStart, std::string_view(data + codeStart, valueStart - 1 - codeStart));
        if (offset + valueStart > progressMark_)
            noteProgress(valueStart);
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
    // like convertPairInBlock().
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
        if (atCode && zeroWaitsForValue()) {
            // Held until its value says whether it ends the header or
            // starts the first section; the gauge moves as if it were
            // written.
            holdZero().add(line);
            reportProgress();
            return;
        }
        if (heldZero_)
            releaseZero(WhatGoesBeforeZero(structure_, line));
        writer_.put(atCode ? line : takeValue(lastCode_, line, report_.lines));
        reportProgress();
    }

    // ---- the code page declared where it is missing --------------------------

    // Whether the code line just read may be the group code 0 that ends a
    // HEADER section without a code page, or starts the drawing's first
    // section: its value decides what goes before it.
    bool zeroWaitsForValue() const { return lastCode_ == kNameCode && structure_.zeroDecides(); }

    void putBeforeZero(BeforeZero before)
    {
        if (before == BeforeZero::CodePage) {
            declareCodePage();
        } else if (before == BeforeZero::HoldBack) {
            writer_.holdBack();
            sectionHeld_ = true;
        }
    }

    HeldLine& holdZero() { return heldZero_.emplace(); }

    // Writes the group code 0 held back, after what goes before it.
    void releaseZero(BeforeZero before)
    {
        putBeforeZero(before);
        heldZero_->writeTo(writer_);
        writer_.putRaw("\r\n", 2);
        heldZero_.reset();
    }

    void declareCodePage()
    {
        for (const std::string_view line : CodePageDeclaration(latinToWindows_))
            writer_.put(line);
        ++report_.codePagesSet;
    }

    // The first section is named or has ended unnamed: what was kept back
    // since its start goes out, after a HEADER section declaring the code
    // page where it is not one. Where too much was kept back to hold, it
    // went out already, and nothing goes before it.
    void settleFirstSection()
    {
        sectionHeld_ = false;
        const bool kept = writer_.holdingBack();
        const std::string held = writer_.takeHeldBack();
        if (kept && structure_.headerMissing()) {
            for (const std::string_view line : HeaderDeclaration(latinToWindows_))
                writer_.put(line);
            ++report_.codePagesSet;
        }
        structure_.firstSectionSettled();
        writer_.putRaw(held.data(), held.size());
    }

    // The code-page header after the line that starts it: its value lines
    // up to the next "$" line, or up to the group code 0 that ends the
    // header when it is the last variable there. That line goes out as it
    // is, though the structure sees it. The run stays open when the input
    // ends in it.
    void codePageRun()
    {
        inCodePageRun_ = true;
        ++codePageRuns_;
        runCodeDeclares_ = false;
        structure_.codePageRunStarts();
        for (;;) {
            if (reader_.physicalEnd()) {
                reportProgress();
                return;
            }
            const std::uint64_t start = reader_.consumed();
            bool atCode;
            const std::string_view line = nextLine(atCode);
            if (runLine(line, atCode, start))
                break;
        }
        inCodePageRun_ = false;
        reportProgress();
    }

    // A line of the code-page run (its first bytes in `head`; it starts at
    // `start` in the input), written; returns whether it ends the run. It
    // is held back until a "$" says it stays or its end says what goes
    // out; a line too varied to hold (see HeldLine) is read ahead to its
    // end first. Where the line then read differs from the line read
    // ahead, the input changed meanwhile, and the pass fails. A group code
    // 0 that ends the run may start the first section: it is then held
    // until its value is read.
    bool runLine(std::string_view head, bool atCode, std::uint64_t start)
    {
        CodePageRunLine line(atCode, runCodeDeclares_);
        HeldLine held;
        enum class Out { Held, AsItIs, Replaced } out = Out::Held;
        bool readAhead = false;
        eachPiece(head, true, [&](std::string_view piece) {
            line.add(piece);
            if (out == Out::Held) {
                const std::size_t taken = line.endMarked() ? 0 : held.add(piece);
                if (taken == piece.size())
                    return;
                bool replaced = false;
                if (!line.endMarked()) {
                    replaced = runLineReplacedAhead(atCode, start);
                    readAhead = true;
                }
                out = replaced ? Out::Replaced : Out::AsItIs;
                if (out == Out::Replaced)
                    return;
                held.writeTo(writer_);
                piece.remove_prefix(taken);
            }
            if (out == Out::AsItIs)
                writer_.putRaw(piece.data(), piece.size());
        });
        const CodePageRunLine::Verdict verdict = line.end(tails_);
        if (atCode)
            lastCode_ = verdict.code;
        if (verdict.ends && !atCode)
            follow(lastCode_, line.standIn());
        const bool stillHeld = out == Out::Held;
        if (readAhead && (out == Out::Replaced) != verdict.replaced)
            throw IoError(kChangedMeanwhile, "a line read ahead was another when read");
        if (verdict.ends && stillHeld && atCode && zeroWaitsForValue()) {
            heldZero_ = std::move(held);
            return true;
        }
        if (atCode)
            runCodeDeclares_ = verdict.codePage;
        if (stillHeld)
            out = verdict.replaced ? Out::Replaced : Out::AsItIs;
        if (out == Out::Replaced) {
            // The first line the first run replaces declares the drawing's
            // code page.
            if (codePageRuns_ == 1 && !declared_)
                declared_ = DeclaredCodePage(line.standIn());
            writer_.put(codePageValue_);
            ++report_.codePagesSet;
        } else {
            if (stillHeld)
                held.writeTo(writer_);
            writer_.putRaw("\r\n", 2);
        }
        return verdict.ends;
    }

    // Whether a line of the run that is too varied to hold goes out
    // replaced, read ahead from its start (at `offset` in the input).
    bool runLineReplacedAhead(bool atCode, std::uint64_t offset)
    {
        CodePageRunLine ahead(atCode, runCodeDeclares_);
        ReadLineAhead(reader_, offset, [&](std::string_view piece) {
            ahead.add(piece);
            return !ahead.endMarked();
        });
        return ahead.end(tails_).replaced;
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
            // A code line that may be the group code 0 ending a header
            // without its code page or starting the first section, and the
            // value after one, are held back while they may still trim to
            // that code, to ENDSEC or to SECTION.
            bool holding = atCode ? structure_.zeroDecides() : heldZero_.has_value();
            HeldLine held;
            ZeroValueReader zeroValue;
            eachPiece(head, true, [&](std::string_view piece) {
                shape.add(piece);
                codePage.add(piece);
                if (holding) {
                    if (!atCode)
                        zeroValue.add(piece);
                    if (atCode ? shape.mayTrimTo(kNameCodeDigits) : zeroValue.mayDecide()) {
                        held.add(piece);  // spaces and a few letters: a few runs of bytes
                        return;
                    }
                    holding = false;
                    if (!atCode)
                        releaseZero(BeforeZero::Nothing);
                    held.writeTo(writer_);
                }
                writer_.putRaw(piece.data(), piece.size());
            });
            if (atCode)
                lastCode_ = ClassifyCode(shape.standIn(), tails_);
            if (holding) {
                if (atCode && zeroWaitsForValue()) {
                    heldZero_ = std::move(held);
                    reportProgress();
                    return;
                }
                if (!atCode)
                    releaseZero(zeroValue.end(structure_));
                held.writeTo(writer_);
            }
            writer_.putRaw("\r\n", 2);
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
        PiecewiseRecoding recoding(latinToWindows_, textOut_, textBytes());
        eachPiece(head, goesOn, [&](std::string_view piece) {
            shape.add(piece);
            recoding.add(piece);
        });
        recoding.finish();
        dosEscapeRecoded_ = dosEscapeRecoded_ || recoding.dosEscape();
        writer_.putRaw("\r\n", 2);
        follow(code, shape.standIn());
        countText(recoding.lost(), recoding.changed(), line);
    }

    // A colour value too long to hold: held back while it may still be a
    // number, written as it goes by once it stays.
    void longColour(std::string_view head)
    {
        ColourNumberReader reading;
        HeldLine held;
        bool writing = false;
        eachPiece(head, true, [&](std::string_view piece) {
            if (writing) {
                writer_.putRaw(piece.data(), piece.size());
                return;
            }
            const bool open = reading.verdict() == ColourNumberReader::Verdict::Open;
            reading.add(piece);
            if (reading.verdict() == ColourNumberReader::Verdict::Stays) {
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
        const ColourLine colour = reading.end(colourMap_, colourText_);
        writer_.put(colour.number);
        report_.coloursRenumbered += colour.renumbered;
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
    // Where that names the first section or ends it unnamed, what was kept
    // back since its start goes out.
    [[gnu::always_inline]] void follow(Code code, std::string_view value)
    {
        structure_.follow(code, value);
        if (sectionHeld_ && !structure_.firstSectionOpen()) [[unlikely]]
            settleFirstSection();
    }

    std::string_view recodeText(std::string_view value, std::uint64_t line)
    {
        scratch_.clear();
        const RecodedText recoded = RecodeTextInto(latinToWindows_, textBytes(), value, scratch_);
        dosEscapeRecoded_ = dosEscapeRecoded_ || recoded.dosEscape;
        countText(recoded.lost, scratch_ != value, line);
        return scratch_;
    }

    TextBytes textBytes() const { return structure_.textsInUtf8() ? TextBytes::Utf8 : TextBytes::Cp1250; }

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
        const ColourLine colour = RenumberColourLine(value, colourMap_, colourText_);
        if (colour.number.empty())
            return value;
        report_.coloursRenumbered += colour.renumbered;
        return colour.number;
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
    std::optional<HeldLine> heldZero_;  // a group code 0 whose value decides what goes before it
    bool sectionHeld_ = false;          // the output is kept back from the first section's start on
    std::uint64_t codePageRuns_ = 0;    // started so far
    bool runCodeDeclares_ = false;      // the run's last code line is that of the declared code page
    std::optional<std::string> declared_;  // the drawing's code page, as its first run declares it
    bool dosEscapeRecoded_ = false;     // a text recoded "lw" held an escape of a byte of 128 or more
    ColourText colourText_;
};

}  // namespace dxfkonv::linepass
