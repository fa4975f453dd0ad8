// The slow path of a line pass, one line at a time (see pass/PassState.h):
// the input's start, the pairs the fast path hands over, long lines in
// pieces, the code-page run and the code page declared where it is
// missing, the texts and colours, the gauge.
#include "engine/pass/PassState.h"

#include <algorithm>
#include <utility>

#include "engine/IoError.h"
#include "engine/rules/FirstLine.h"
#include "engine/rules/LineShape.h"

namespace dxfkonv::linepass {

namespace {

// What a pass with these switches converts: a pass that recodes texts
// follows the structure.
PassNeeds needsOf(const ConversionSwitches& switches)
{
    return PassNeeds{switches.recodeTexts, switches.renumberColours()};
}

// The gauge value for `done` of `total`: round(100 done / total), halves to
// even.
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

}  // namespace

PassState::PassState(ByteSource& in, ByteSink& out, std::uint64_t size, const ConversionSwitches& switches,
                     const ProgressSink& progress, std::size_t longLine)
    : reader_(in, chunkFor(size), needsOf(switches), longLine), longLine_(longLine), writer_(out, chunkFor(size)),
      textOut_(writer_), size_(size), switches_(switches), progress_(progress),
      latinToWindows_(switches.textDirection == kLatinToWindows), codePageValue_(CodePageValue(latinToWindows_)),
      colourMap_(ColourMapFor(switches.colourDirection, switches.palette16)),
      tails_(CodeTailsFor(needsOf(switches))), needs_(needsOf(switches)),
      structure_(switches.recodeTexts, latinToWindows_),
      progressMark_(size < kMinProgressInput || !progress ? kNever : 0)
{
}

[[gnu::always_inline]] inline std::string_view PassState::takeValue(Code code, std::string_view value,
                                                                    std::uint64_t line)
{
    const bool isText = isTextValue(code);
    follow(code, value);
    if (isText)
        return recodeText(value, line);
    if (code == Code::Colour && switches_.renumberColours())
        return renumberColour(value);
    return value;
}

PassReport PassState::finish()
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

void PassState::refuseUnfitInput()
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

PassState::PairTaken PassState::convertPairInBlock(const char* data, std::size_t runStart, std::size_t codeStart,
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

void PassState::oneLine()
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

void PassState::putBeforeZero(BeforeZero before)
{
    if (before == BeforeZero::CodePage) {
        declareCodePage();
    } else if (before == BeforeZero::HoldBack) {
        writer_.holdBack();
        sectionHeld_ = true;
    }
}

void PassState::releaseZero(BeforeZero before)
{
    putBeforeZero(before);
    heldZero_->writeTo(writer_);
    writer_.putRaw("\r\n", 2);
    heldZero_.reset();
}

void PassState::declareCodePage()
{
    for (const std::string_view line : CodePageDeclaration(latinToWindows_))
        writer_.put(line);
    ++report_.codePagesSet;
}

void PassState::settleFirstSection()
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

void PassState::codePageRun()
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

bool PassState::runLine(std::string_view head, bool atCode, std::uint64_t start)
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

bool PassState::runLineReplacedAhead(bool atCode, std::uint64_t offset)
{
    CodePageRunLine ahead(atCode, runCodeDeclares_);
    ReadLineAhead(reader_, offset, [&](std::string_view piece) {
        ahead.add(piece);
        return !ahead.endMarked();
    });
    return ahead.end(tails_).replaced;
}

void PassState::longLine(std::string_view head, bool atCode)
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

void PassState::longText(Code code, std::string_view head, bool goesOn, std::uint64_t line)
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

void PassState::longColour(std::string_view head)
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

inline std::string_view PassState::nextLine(bool& atCode)
{
    atCode = report_.lines % 2 == 0;
    const std::string_view line = reader_.readLine();
    ++report_.lines;
    if (atCode)
        lastCode_ = ClassifyCode(line, tails_);
    return line;
}

inline bool PassState::converts(Code code) const
{
    return isTextValue(code) || (code == Code::Colour && switches_.renumberColours());
}

inline std::string_view PassState::recodeText(std::string_view value, std::uint64_t line)
{
    scratch_.clear();
    const RecodedText recoded = RecodeTextInto(latinToWindows_, textBytes(), value, scratch_);
    dosEscapeRecoded_ = dosEscapeRecoded_ || recoded.dosEscape;
    countText(recoded.lost, scratch_ != value, line);
    return scratch_;
}

inline void PassState::countText(std::size_t lost, bool changed, std::uint64_t line)
{
    if (lost != 0) {
        report_.charsLost += lost;
        if (report_.lostCharLines.size() < PassReport::kMaxLostLines)
            report_.lostCharLines.push_back(line);
    }
    report_.textsRecoded += changed;
}

inline std::string_view PassState::renumberColour(std::string_view value)
{
    const ColourLine colour = RenumberColourLine(value, colourMap_, colourText_);
    if (colour.number.empty())
        return value;
    report_.coloursRenumbered += colour.renumbered;
    return colour.number;
}

inline void PassState::reportProgress()
{
    progressAt(reader_.consumed());
}

inline void PassState::noteProgress(std::size_t position)
{
    progressAt(reader_.offset() + position);
}

inline void PassState::progressAt(std::uint64_t consumed)
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

std::uint64_t PassState::lastBytesAt(int percent) const
{
    const std::uint64_t halfUp = (2 * static_cast<std::uint64_t>(percent) + 1) * size_;
    const std::uint64_t first = (halfUp + 199) / 200;  // the least n with 200 n >= halfUp
    const bool tie = first * 200 == halfUp;
    return tie && percent % 2 == 0 ? first : first - 1;
}

}  // namespace dxfkonv::linepass
