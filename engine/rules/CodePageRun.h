// The code page a drawing declares, and where the pass declares it
// itself. Each line is read in pieces: a line held whole is one piece.
//
// A line mentioning DWGCODEPAGE, in any case, starts the code-page run,
// unless it is the value of a group other than 9 (a text, a layer name).
// The run's lines that mention ANSI become the code page the text
// direction names (CodePageValue()), and so does its value of group 3, the
// code page the drawing declares, whatever it holds ("dos852",
// "UNDEFINED", nothing): a converted drawing always declares the code page
// of its texts. The run ends at the next line with a "$" (the next header
// variable), which stays as it is, or at the group code 0 that ends the
// header.
//
// Where a pass ends a HEADER section in which no code-page run started
// (see Structure::codePageDue), the code page is declared: four lines go
// out before the group code 0 whose value ends the section, unless that
// code line is the input's last. A drawing whose first section is named,
// and not HEADER, gets a HEADER section with only that declaration in
// front of it (see Structure::headerMissing). Either counts as one
// code-page value set, is no input lines, and never declares the
// drawing's code page (see DeclaredCodePage()).
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "engine/rules/DxfRules.h"
#include "engine/rules/LineShape.h"

namespace dxfkonv {

inline constexpr std::string_view kCodePageValueMark = "ANSI";
inline constexpr std::string_view kCodePageCode = "3";
inline constexpr char kRunEndMark = '$';

// Whether a line starts the run (`lastCode`: the group code of a value
// line). Checked on every code line the fast path stops at: most are too
// short.
inline bool StartsCodePageRun(bool atCode, Code lastCode, std::string_view line)
{
    return (atCode || lastCode == Code::Header) && line.size() >= kCodePageVariable.size()
           && ContainsUpper(line, kCodePageVariable);
}

// A line of the run after the one that starts it.
class CodePageRunLine {
public:
    // `atCode`: the line stands where a group code is due. `afterCodePage`:
    // the run's last code line was that of the declared code page, so a
    // value line here is its value.
    CodePageRunLine(bool atCode, bool afterCodePage) : atCode_(atCode), afterCodePage_(afterCodePage) {}

    void add(std::string_view piece);

    // Whether a "$" came: the line ends the run and stays as written,
    // whatever follows.
    bool endMarked() const { return endMarked_; }

    struct Verdict {
        Code code = Code::Other;  // of a code line, as `tails` classify it
        bool ends = false;        // the line ends the run
        bool replaced = false;    // it goes out as the code-page value
        bool codePage = false;    // a code line of the declared code page: the value after it is replaced
    };
    // At the end of the line.
    Verdict end(const CodeTails& tails) const;

    // The line as the rules of names and group codes see it (see
    // LineShape::standIn); where the line is replaced, DeclaredCodePage()
    // of it is what the drawing declares.
    std::string_view standIn() const { return shape_.standIn(); }

private:
    const bool atCode_;
    const bool afterCodePage_;
    bool endMarked_ = false;
    LineShape shape_{kShortCore};
    WordWatch value_{kCodePageValueMark};
};

// What goes out before a group code 0 where the structure waits for its
// value (Structure::zeroDecides): the code page declared at the end of a
// header without it, or, at the first section's start, nothing yet: the
// output is kept back until the section's name says whether a header goes
// before it.
enum class BeforeZero : unsigned char { Nothing, CodePage, HoldBack };

// The value of such a group code 0, read in pieces.
class ZeroValueReader {
public:
    void add(std::string_view piece) { shape_.add(piece); }

    // Whether the value read so far may still be one that decides: the
    // pair is held back meanwhile.
    bool mayDecide() const { return shape_.mayTrimTo(kSectionEnd) || shape_.mayTrimTo(kSectionStart); }

    // At the end of the value.
    BeforeZero end(const Structure& structure) const;

    // The value as the rules of names see it (see LineShape::standIn).
    std::string_view standIn() const { return shape_.standIn(); }

private:
    LineShape shape_{kShortCore};
};

// The same for a value held whole; at once where the structure waits for
// no group code 0.
inline BeforeZero WhatGoesBeforeZero(const Structure& structure, std::string_view value)
{
    if (!structure.zeroDecides())
        return BeforeZero::Nothing;
    ZeroValueReader reader;
    reader.add(value);
    return reader.end(structure);
}

// The lines that declare the code page, before the group code 0 that
// ends a header without it.
using CodePageLines = std::array<std::string_view, 4>;
CodePageLines CodePageDeclaration(bool latinToWindows);
// A HEADER section that only declares the code page.
using HeaderLines = std::array<std::string_view, 10>;
HeaderLines HeaderDeclaration(bool latinToWindows);

}  // namespace dxfkonv
