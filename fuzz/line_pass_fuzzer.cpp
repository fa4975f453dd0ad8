// A whole conversion pass on in-memory input.
//
// Input layout: byte 0 picks the switches (bit 0 recode texts, bit 1 text
// direction "wl", bit 2 the 16-colour palette, bit 3 the 256-colour
// palette, bit 4 colour direction "as", bit 5 an unknown text direction
// string), byte 1 how the input is cut into reads, the rest is the file.
//
// Checked for every input:
// - a binary DXF file (the 22-byte mark at its start), and a file whose
//   first line (after a UTF-8 byte order mark, CRs dropped) is not spaces
//   around an optional minus and digits, is refused whatever the
//   switches; a file starting with the UTF-8 byte order mark is otherwise
//   refused when texts are recoded into escapes ("wl"); texts in UTF-8 are
//   never a reason to refuse with recoding off or decoded "lw"; nothing
//   else is refused, and a refusal does not depend on how the input
//   arrives.
// For every input not refused:
// - every output line ends with CR LF, and no other CR or LF is written
//   (an escape that decodes to one becomes a space);
// - the number of lines stays, but for a group code on the last line
//   (a text's or colour's missing value is written), for a Ctrl-Z (which
//   may cut the input short), and for the four lines of each code page
//   declared where a header lacks one, which only a pass recoding texts
//   writes and counts as a code page set;
// - with recoding and renumbering off, no Ctrl-Z and no "DWGCODEPAGE",
//   the output is the input with its line ends made CR LF;
// - the output, the report and the progress do not depend on how the
//   input arrives (one piece, or reads of 1, 2, 3 ... bytes), nor on
//   whether lines are taken in pieces from a few bytes on, as lines too
//   long to hold are;
// - progress runs strictly upwards within 0..100, none for an input under
//   128 bytes, and ends at 100 when the whole input was read.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/pass/BackgroundIo.h"
#include "engine/IoError.h"
#include "engine/pass/LinePass.h"
#include "engine/rules/Switches.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace dxfkonv;

ConversionSwitches switchesFrom(unsigned bits)
{
    ConversionSwitches s;
    s.recodeTexts = (bits & 1) != 0;
    s.textDirection = (bits & 32) != 0 ? "Lw" : (bits & 2) != 0 ? kWindowsToLatin : kLatinToWindows;
    s.palette16 = (bits & 4) != 0;
    s.palette256 = (bits & 8) != 0;
    s.colourDirection = (bits & 16) != 0 ? kAutocadToTarnix : kTarnixToAutocad;
    s.keepBackup = false;
    return s;
}

class PiecewiseSource : public ByteSource {
public:
    PiecewiseSource(std::string_view data, unsigned pattern) : all_(data), data_(data), pattern_(pattern) {}
    std::size_t read(char* buffer, std::size_t n) override
    {
        std::size_t piece = data_.size();
        if (pattern_ != 0)
            piece = 1 + (pattern_ * (++calls_) + pattern_ / 3) % (pattern_ % 13 + 2);
        piece = std::min({piece, n, data_.size()});
        std::memcpy(buffer, data_.data(), piece);
        data_.remove_prefix(piece);
        return piece;
    }
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) override
    {
        const std::string_view rest = all_.substr(std::min<std::uint64_t>(offset, all_.size()));
        n = std::min(n, rest.size());
        std::memcpy(buffer, rest.data(), n);
        return n;
    }

private:
    const std::string_view all_;
    std::string_view data_;
    unsigned pattern_;
    unsigned calls_ = 0;
};

class StringSink : public ByteSink {
public:
    void write(const char* data, std::size_t n) override { out.append(data, n); }
    std::string out;
};

bool containsUpper(std::string_view s, std::string_view upperNeedle)
{
    std::string up(s);
    for (char& c : up)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return up.find(upperNeedle) != std::string::npos;
}

// The input's lines as the reader splits them: at each LF, plus a last
// one when bytes (even only CRs) follow the last LF.
std::vector<std::string_view> inputLines(std::string_view s)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\n') {
            lines.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start < s.size())
        lines.push_back(s.substr(start));
    return lines;
}

std::string normalised(std::string_view s)
{
    std::string r;
    for (std::string_view line : inputLines(s)) {
        for (char c : line)
            if (c != '\r')
                r += c;
        r += "\r\n";
    }
    return r;
}

// `out` less the code-page declaration a pass inserted where the input
// declared none: `lines` lines of it, the variable and its value (4) at
// the end of a HEADER, or a HEADER section of their own (10), which comes
// after a byte order mark.
std::string withoutDeclaration(const std::string& out, std::size_t lines)
{
    const std::string mark = "\xEF\xBB\xBF";
    const std::size_t first = out.compare(0, mark.size(), mark) == 0 ? mark.size() : 0;
    std::vector<std::string> all;
    for (std::size_t start = first, end; (end = out.find("\r\n", start)) != std::string::npos; start = end + 2)
        all.push_back(out.substr(start, end - start));
    const auto variable = std::find(all.begin(), all.end(), "$DWGCODEPAGE");
    if (variable == all.end())
        return out;
    const std::size_t i = static_cast<std::size_t>(variable - all.begin());
    const std::size_t before = lines == 10 ? 5 : 1;
    if (i < before || i - before + lines > all.size())
        return out;
    all.erase(all.begin() + static_cast<std::ptrdiff_t>(i - before),
              all.begin() + static_cast<std::ptrdiff_t>(i - before + lines));
    std::string r = out.substr(0, first);
    for (const std::string& line : all)
        r.append(line).append("\r\n");
    return r;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

std::size_t countCrLf(std::string_view s)
{
    std::size_t n = 0;
    for (std::size_t p = s.find("\r\n"); p != std::string_view::npos; p = s.find("\r\n", p + 2))
        ++n;
    return n;
}

void checkLineEnds(std::string_view out)
{
    FUZZ_CHECK(out.empty() || (out.size() >= 2 && out.substr(out.size() - 2) == "\r\n"));
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\r')
            FUZZ_CHECK(i + 1 < out.size() && out[i + 1] == '\n');
        if (out[i] == '\n')
            FUZZ_CHECK(i > 0 && out[i - 1] == '\r');
    }
}

struct Run {
    std::string out;
    PassReport report;
    std::vector<int> progress;
};

Run runWhole(std::string_view input, const ConversionSwitches& s)
{
    Run r;
    r.out = ConvertBuffer(input, s, &r.report, [&](int p) { r.progress.push_back(p); });
    return r;
}

Run runFrom(ByteSource& source, std::string_view input, const ConversionSwitches& s)
{
    Run r;
    StringSink sink;
    r.report = ConvertStream(source, sink, input.size(), s, [&](int p) { r.progress.push_back(p); });
    r.out = std::move(sink.out);
    return r;
}

Run runPiecewise(std::string_view input, const ConversionSwitches& s, unsigned pattern)
{
    PiecewiseSource source(input, pattern);
    return runFrom(source, input, s);
}

// The same, read ahead on a thread that marks each piece as it comes.
Run runReadAhead(std::string_view input, const ConversionSwitches& s, unsigned pattern)
{
    PiecewiseSource file(input, pattern);
    ReadAheadSource source(file);
    return runFrom(source, input, s);
}

// The same, with lines taken in pieces from `longLine` bytes on.
Run runInPieces(std::string_view input, const ConversionSwitches& s, unsigned pattern, std::size_t longLine)
{
    PiecewiseSource source(input, pattern);
    Run r;
    StringSink sink;
    r.report = ConvertStreamInPieces(source, sink, input.size(), s, longLine,
                                     [&](int p) { r.progress.push_back(p); });
    r.out = std::move(sink.out);
    return r;
}

// Whether the first line, read as the pass reads it, is a group code:
// spaces, an optional minus, digits, spaces.
bool startsWithGroupCode(std::string_view input)
{
    if (input.substr(0, 3) == "\xEF\xBB\xBF")
        input.remove_prefix(3);
    std::string first(input.substr(0, input.find('\n')));
    first.erase(std::remove(first.begin(), first.end(), '\r'), first.end());
    std::string_view code = trimmed(first);
    if (!code.empty() && code.front() == '-')
        code.remove_prefix(1);
    return !code.empty() && code.find_first_not_of("0123456789") == std::string_view::npos;
}

// The error number a pass refuses the input with, 0 when it takes it.
template <typename Pass>
int refusal(Pass&& pass)
{
    try {
        pass();
        return 0;
    } catch (const Refusal& e) {
        return e.code();
    }
}

void checkSameRun(const Run& a, const Run& b)
{
    FUZZ_CHECK_EQ_STR(a.out, b.out);
    FUZZ_CHECK(a.report.lines == b.report.lines);
    FUZZ_CHECK(a.report.textsRecoded == b.report.textsRecoded);
    FUZZ_CHECK(a.report.coloursRenumbered == b.report.coloursRenumbered);
    FUZZ_CHECK(a.report.codePagesSet == b.report.codePagesSet);
    FUZZ_CHECK(a.report.charsLost == b.report.charsLost);
    FUZZ_CHECK(a.report.lostCharLines == b.report.lostCharLines);
    FUZZ_CHECK(a.progress == b.progress);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const ConversionSwitches switches = switchesFrom(data[0]);
    const unsigned pattern = data[1];
    const std::string_view input(reinterpret_cast<const char*>(data + 2), size - 2);

    const bool ctrlZ = input.find('\x1A') != std::string_view::npos;
    // A CR is dropped from its line, so "DWGCODEP" CR "AGE" reads as the
    // header name.
    std::string withoutCr(input);
    withoutCr.erase(std::remove(withoutCr.begin(), withoutCr.end(), '\r'), withoutCr.end());

    // Refusals.
    Run whole;
    const int refused = refusal([&] { whole = runWhole(input, switches); });
    {
        const bool binary = input.substr(0, 22) == std::string_view("AutoCAD Binary DXF\r\n\x1A\0", 22);
        const bool notDxf = binary || (!input.empty() && !startsWithGroupCode(input));
        const bool utf8Mark = input.substr(0, 3) == "\xEF\xBB\xBF";
        FUZZ_CHECK(refused == 0 || refused == kNotAsciiDxf || refused == kTextsInUtf8);
        FUZZ_CHECK((refused == kNotAsciiDxf) == notDxf);
        const bool toEscapes = switches.recodeTexts && switches.textDirection != kLatinToWindows;
        if (!toEscapes)
            FUZZ_CHECK(refused != kTextsInUtf8);
        else if (utf8Mark && !notDxf)
            FUZZ_CHECK(refused == kTextsInUtf8);
        if (refused != 0) {
            for (const unsigned p : {pattern == 0 ? 1u : pattern, 1u})
                FUZZ_CHECK(refusal([&] { runPiecewise(input, switches, p); }) == refused);
            return 0;
        }
    }

    // Line ends and line count.
    {
        checkLineEnds(whole.out);
        const std::vector<std::string_view> lines = inputLines(input);
        const std::size_t in = lines.size();
        const std::size_t out = countCrLf(whole.out);
        // Code and value lines alternate from the first line, so the last
        // line is a group code when it is an odd-numbered one (1-based).
        bool lastIsCode = false;
        if (in % 2 == 1) {
            std::string last(lines.back());
            if (in == 1 && last.compare(0, 3, "\xEF\xBB\xBF") == 0)
                last.erase(0, 3);  // the byte order mark is no part of the first line
            last.erase(std::remove(last.begin(), last.end(), '\r'), last.end());
            const std::string_view code = trimmed(last);
            // (a group code 3 is a text inside an MTEXT entity)
            lastIsCode = (switches.recodeTexts && (code == "1" || code == "3"))
                         || (switches.renumberColours() && code == "62");
        }
        // Lines written that were not read: the code page declared, once
        // at most, at the end of a HEADER that has none (4 lines) or in a
        // HEADER of its own before the first section (10 lines).
        FUZZ_CHECK(out >= whole.report.lines);
        const std::uint64_t declared = out - whole.report.lines;
        FUZZ_CHECK(declared == 0 || declared == 4 || declared == 10);
        FUZZ_CHECK(declared == 0 || whole.report.codePagesSet >= 1);
        if (ctrlZ)
            FUZZ_CHECK(whole.report.lines <= in + 1);
        else
            FUZZ_CHECK(whole.report.lines == in || (lastIsCode && whole.report.lines == in + 1));
    }

    // Untouched when nothing is to be converted, but for the code page
    // declared where none is: every line read is written as it was.
    if (!ctrlZ && !containsUpper(withoutCr, "DWGCODEPAGE")) {
        ConversionSwitches off = switches;
        off.recodeTexts = false;
        off.palette16 = false;
        off.palette256 = false;
        const Run plain = runWhole(input, off);
        FUZZ_CHECK(plain.report.textsRecoded == 0 && plain.report.coloursRenumbered == 0);
        FUZZ_CHECK(plain.report.codePagesSet <= 1);
        if (plain.report.codePagesSet == 0)
            FUZZ_CHECK_EQ_STR(plain.out, normalised(input));
        else
            FUZZ_CHECK(withoutDeclaration(plain.out, countCrLf(plain.out) - plain.report.lines)
                       == normalised(input));
    }

    // However the input arrives.
    for (const unsigned p : {pattern == 0 ? 1u : pattern, 1u}) {
        Run piecewise;
        FUZZ_CHECK(refusal([&] { piecewise = runPiecewise(input, switches, p); }) == 0);
        checkSameRun(whole, piecewise);
    }
    // Lines taken in pieces from 1 to 16 bytes on.
    {
        Run inPieces;
        FUZZ_CHECK(refusal([&] { inPieces = runInPieces(input, switches, pattern, 1 + pattern % 16); }) == 0);
        checkSameRun(whole, inPieces);
    }
    // A thread per run costs: one input in three goes that way too.
    if (pattern % 3 == 0) {
        Run readAhead;
        FUZZ_CHECK(refusal([&] { readAhead = runReadAhead(input, switches, pattern); }) == 0);
        checkSameRun(whole, readAhead);
    }

    // Progress.
    for (std::size_t i = 0; i < whole.progress.size(); ++i) {
        FUZZ_CHECK(whole.progress[i] >= 0 && whole.progress[i] <= 100);
        if (i > 0)
            FUZZ_CHECK(whole.progress[i] > whole.progress[i - 1]);
    }
    if (input.size() < 128)
        FUZZ_CHECK(whole.progress.empty());
    else if (!ctrlZ)
        FUZZ_CHECK(!whole.progress.empty() && whole.progress.back() == 100);

    FUZZ_CHECK(whole.report.textsRecoded <= whole.report.lines);
    FUZZ_CHECK(whole.report.coloursRenumbered <= whole.report.lines);
    FUZZ_CHECK(whole.report.codePagesSet <= whole.report.lines);
    FUZZ_CHECK(whole.report.lostCharLines.size() <= PassReport::kMaxLostLines);
    return 0;
}
