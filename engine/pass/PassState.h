// The state of a line pass (its reader and writer, the structure, the
// report, the gauge) and its slow path: one line at a time, every pair
// shown to the rules, long lines in pieces handed to the rules' readers,
// the code-page run. The fast path (pass/LinePass.cpp) is built on it: it
// passes over the pairs the rules leave alone and hands the others to
// convertPairInBlock() and oneLine(). Part of the line pass; the slow path
// is in pass/PassState.cpp, and what the fast path calls for every pair it
// takes (follow()) stays inline here. The members declared inline but not
// defined here are the slow path's per-line steps, defined inline in
// pass/PassState.cpp, the only file that calls them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/pass/LineIo.h"
#include "engine/pass/LinePass.h"
#include "engine/pass/LongLines.h"
#include "engine/rules/CodePageRun.h"
#include "engine/rules/ColourNumber.h"
#include "engine/rules/ColourRenumbering.h"
#include "engine/rules/DxfRules.h"
#include "engine/rules/TextRecoding.h"

namespace dxfkonv::linepass {

class PassState {
public:
    PassState(ByteSource& in, ByteSink& out, std::uint64_t size, const ConversionSwitches& switches,
              const ProgressSink& progress, std::size_t longLine);

protected:
    // After the last line: a text or colour code on the last line gets its
    // value, empty; then everything goes out.
    PassReport finish();

    // The start of the input, read before anything is written (see
    // rules/FirstLine.h): refused, or the byte order mark written back and
    // the first line taken.
    void refuseUnfitInput();

    struct PairTaken {
        std::size_t runStart;  // of the unchanged bytes not yet written
        bool valueLeft;        // only the code line was taken
    };

    // A pair that is not one of the common ones, converted in place in the
    // block, as oneLine() takes it: the code line, then the value line,
    // unless that starts the code-page header. A line whose output differs
    // from its bytes ends the run of unchanged bytes before it. `lines`
    // were taken before the pair. Out of line, so that the loop over the
    // common pairs keeps its registers.
    [[gnu::noinline]] PairTaken convertPairInBlock(const char* data, std::size_t runStart, std::size_t codeStart,
                                                   std::size_t valueStart, bool codeCrLf, std::size_t valueEnd,
                                                   bool valueCrLf, Code kind, std::uint64_t lines);

    // One line the slow way: whatever the block scan leaves. Out of line,
    // like convertPairInBlock().
    [[gnu::noinline]] void oneLine();

    // ---- the code page declared where it is missing --------------------------

    // Whether the code line just read may be the group code 0 that ends a
    // HEADER section without a code page, or starts the drawing's first
    // section: its value decides what goes before it.
    bool zeroWaitsForValue() const { return lastCode_ == kNameCode && structure_.zeroDecides(); }

    void putBeforeZero(BeforeZero before);

    HeldLine& holdZero() { return heldZero_.emplace(); }

    // Writes the group code 0 held back, after what goes before it.
    void releaseZero(BeforeZero before);

    void declareCodePage();

    // The first section is named or has ended unnamed: what was kept back
    // since its start goes out, after a HEADER section declaring the code
    // page where it is not one. Where too much was kept back to hold, it
    // went out already, and nothing goes before it.
    void settleFirstSection();

    // The code-page header after the line that starts it: its value lines
    // up to the next "$" line, or up to the group code 0 that ends the
    // header when it is the last variable there. That line goes out as it
    // is, though the structure sees it. The run stays open when the input
    // ends in it.
    void codePageRun();

    // A line of the code-page run (its first bytes in `head`; it starts at
    // `start` in the input), written; returns whether it ends the run. It
    // is held back until a "$" says it stays or its end says what goes
    // out; a line too varied to hold (see HeldLine) is read ahead to its
    // end first. Where the line then read differs from the line read
    // ahead, the input changed meanwhile, and the pass fails. A group code
    // 0 that ends the run may start the first section: it is then held
    // until its value is read.
    bool runLine(std::string_view head, bool atCode, std::uint64_t start);

    // Whether a line of the run that is too varied to hold goes out
    // replaced, read ahead from its start (at `offset` in the input).
    bool runLineReplacedAhead(bool atCode, std::uint64_t offset);

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
    void longLine(std::string_view head, bool atCode);

    // A text value too long to hold, recoded piece by piece as it goes
    // out; `line` is its line number. The structure sees it after.
    void longText(Code code, std::string_view head, bool goesOn, std::uint64_t line);

    // A colour value too long to hold: held back while it may still be a
    // number, written as it goes by once it stays.
    void longColour(std::string_view head);

    // The next line the slow way, counted; a code line is classified.
    inline std::string_view nextLine(bool& atCode);

    // The value line of a pair as it goes out: a text recoded, a colour
    // renumbered, anything else as it is. The structure sees every pair.
    // `line` is its line number.
    [[gnu::always_inline]] inline std::string_view takeValue(Code code, std::string_view value, std::uint64_t line);

    // Whether the pass rewrites the values of a group code.
    inline bool converts(Code code) const;

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

    inline std::string_view recodeText(std::string_view value, std::uint64_t line);

    TextBytes textBytes() const { return structure_.textsInUtf8() ? TextBytes::Utf8 : TextBytes::Cp1250; }

    inline void countText(std::size_t lost, bool changed, std::uint64_t line);

    inline std::string_view renumberColour(std::string_view value);

    inline void reportProgress();

    // After the block scan took the bytes up to `position` in the block.
    inline void noteProgress(std::size_t position);

    // The gauge shows the share of the input consumed, in whole percent.
    inline void progressAt(std::uint64_t consumed);

    // The most bytes consumed that still show `percent` (below 100): the
    // next one would round up, 100 n / size reaching percent + 1/2, or
    // passing it when the half rounds down to an even percent.
    std::uint64_t lastBytesAt(int percent) const;


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
