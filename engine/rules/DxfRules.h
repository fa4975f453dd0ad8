// The DXF rules of a conversion, each written once: which group codes the
// pass looks at, which values are texts where, the structure it follows
// (sections by name, the entities whose own group codes hold texts, the
// OBJECTS section), the header variables and the end-of-file mark. The
// rules of what is read in pieces have files of their own beside this
// one: the code-page run and the declarations the pass writes
// (CodePageRun.h), the start of the input (FirstLine.h), a colour's number
// (ColourNumber.h), a text's escapes (TextRecoding.h).
//
// The line pass asks these functions what a pair means. Its fast path,
// which passes over most pairs without asking, is told by kCandidatePlan
// (made here from the same tables, at compile time) which code lines it
// must stop at; what it may skip is thereby always what the rules ignore.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dxfkonv {

// ---- group codes -----------------------------------------------------------

// What a group-code line means to the rules.
enum class Code : unsigned char {
    Other,
    Zero,    // 0: an entity's or a section's name
    Text,    // 1: a text; also the value of a header variable such as $ACADVER
    Name,    // 2: a section's name, right after 0/SECTION
    Part,    // 3: a part of a long text, in the entities that list it
    Header,  // 9: a header variable's name
    Colour,  // 62: a colour number
};

// The work a pass does, which decides the group codes that matter to it.
struct PassNeeds {
    bool texts = false;    // texts are recoded: the structure is followed
    bool colours = false;  // colours are renumbered
};

// Whose pairs a group code matters to.
enum class Need : unsigned char { Always, Texts, Colours };
// Where it matters: anywhere, or only where the structure has moved to
// (right after 0/SECTION, inside an entity of kEntityTexts).
enum class Where : unsigned char { Anywhere, InPlace };

constexpr bool Needed(Need need, PassNeeds needs)
{
    return need == Need::Always || (need == Need::Texts && needs.texts) || (need == Need::Colours && needs.colours);
}

struct GroupCodeRule {
    std::string_view digits;  // as written, spaces around it allowed
    Code code;
    Need need;
    Where where;
};

inline constexpr std::array kGroupCodes{
    GroupCodeRule{"0", Code::Zero, Need::Always, Where::Anywhere},  // also ends the code-page run
    GroupCodeRule{"1", Code::Text, Need::Texts, Where::Anywhere},
    GroupCodeRule{"2", Code::Name, Need::Always, Where::InPlace},  // names a section, which every pass follows
    GroupCodeRule{"3", Code::Part, Need::Texts, Where::InPlace},
    GroupCodeRule{"9", Code::Header, Need::Always, Where::Anywhere},
    GroupCodeRule{"62", Code::Colour, Need::Colours, Where::Anywhere},
};

// The group code whose values name entities and sections.
inline constexpr Code kNameCode = Code::Zero;
inline constexpr std::string_view kNameCodeDigits = [] {
    for (const GroupCodeRule& rule : kGroupCodes)
        if (rule.code == kNameCode)
            return rule.digits;
    return std::string_view{};
}();

// Entities whose own group codes hold texts besides group 1: MTEXT keeps
// the first parts of a text longer than 250 characters under group 3, an
// ATTDEF the prompt shown when its block is inserted (its tag, group 2,
// is a name and stays).
struct EntityText {
    std::string_view entity;
    Code code;
};
inline constexpr std::array kEntityTexts{
    EntityText{"MTEXT", Code::Part},
    EntityText{"ATTDEF", Code::Part},
};

// Sections: 0/SECTION, 2/NAME ... 0/ENDSEC. Group-1 values in OBJECTS are
// names and data, not texts (OBJECTS right after 0/SECTION). A section is
// named by the first group 2 after 0/SECTION; later group-2 values in it
// (header variables such as $UCSNAME) do not rename it.
inline constexpr std::string_view kSectionStart = "SECTION";
inline constexpr std::string_view kSectionEnd = "ENDSEC";
inline constexpr std::string_view kSectionWithoutTexts = "OBJECTS";
inline constexpr std::string_view kHeaderSection = "HEADER";

// Header variables: the drawing's version (from AC1021 on texts are in
// UTF-8), and its code page, which starts the code-page run below.
inline constexpr std::string_view kVersionVariable = "$ACADVER";
inline constexpr std::string_view kCodePageVariable = "DWGCODEPAGE";
// The code page a converted drawing declares, as the text direction names
// it (see rules/CodePageRun.h).
inline std::string_view CodePageValue(bool latinToWindows) { return latinToWindows ? "ANSI_1250" : "ANSI_852"; }

bool IsUtf8Version(std::string_view trimmedVersion);

// The tail of a code line: its last byte, which only some group codes
// (and any code with spaces after it) end with. A quick test in front of
// ClassifyCode().
using CodeTails = std::array<bool, 256>;
const CodeTails& CodeTailsFor(PassNeeds needs);

// Group codes stand right-aligned ("  1", " 62"), spaces around them allowed.
[[gnu::always_inline]] inline Code ClassifyCode(std::string_view line, const CodeTails& tails);

// ---- the structure ---------------------------------------------------------

// The drawing's structure as far as the rules need it, followed pair by
// pair: its sections (where the code page is declared) in every pass, the
// entities with texts of their own in a pass that recodes texts. Names are
// compared trimmed of spaces, as written (upper case). Once the version is
// read or the first section has ended, the version is no longer looked for.
class Structure {
public:
    // `texts`: texts are recoded, so entities are followed too.
    // `latinToWindows`: texts in UTF-8 are recoded as such; else a drawing
    // with them is refused when texts are recoded.
    explicit Structure(bool texts = true, bool latinToWindows = true)
        : entities_(texts), utf8Refused_(texts && !latinToWindows)
    {
    }

    // Throws Refusal(kTextsInUtf8) at a version that writes texts in UTF-8
    // where they are refused.
    [[gnu::always_inline]] void follow(Code code, std::string_view value);

    // A drawing marked as UTF-8 at its start (see kUtf8Mark).
    void startInUtf8();
    // Whether the texts from here on are in UTF-8.
    bool textsInUtf8() const { return utf8_; }

    // A code-page run starts here.
    void codePageRunStarts() { runInHeader_ = runInHeader_ || section_ == Section::Header; }
    // Whether the pair of the group code 0 ending the HEADER section here
    // would end it without a code-page run having started in it: the pass
    // then declares the code page before that pair (see
    // rules/CodePageRun.h), so it must not pass over a group code 0 unseen.
    bool codePageDue() const { return section_ == Section::Header && !runInHeader_; }

    // A drawing whose first section is no HEADER gets one declaring the
    // code page, in front of that section: from its 0/SECTION pair on, the
    // pass keeps the output back until the section's first group 2 names
    // it or the next group 0 comes first (then nothing goes before it).
    // Whether no section has started yet.
    bool firstSectionDue() const { return firstSection_ == FirstSection::Due; }
    // Whether the first section has started and is not named yet.
    bool firstSectionOpen() const { return firstSection_ == FirstSection::Open; }
    // Whether the first section was named, and not HEADER.
    bool headerMissing() const { return firstSection_ == FirstSection::WithoutHeader; }
    // The pass has written what the first section's name called for.
    void firstSectionSettled() { firstSection_ = FirstSection::Settled; }

    // Whether what goes out before a group code 0 here depends on its
    // value: its code line is held back until that is read.
    bool zeroDecides() const { return codePageDue() || firstSectionDue(); }

    // Whether the next pair matters whatever its group code.
    bool awaiting() const { return awaited_ != Awaited::Nothing; }

    // Whether only the group codes that matter anywhere matter here: no
    // pair is awaited, and the entity has no text codes of its own. The
    // fast path may start only then.
    bool plainGround() const
    {
        return awaited_ == Awaited::Nothing && entity_ == kNoEntity && section_ != Section::Unnamed && !codePageDue();
    }

    // Whether the value of a group code is a text to recode here.
    bool isText(Code code) const;

private:
    enum class Awaited : unsigned char { Nothing, SectionName, Version };
    enum class FirstSection : unsigned char { Due, Open, WithoutHeader, Settled };
    // The section as its name makes it: none, named later, HEADER, another.
    enum class Section : unsigned char { None, Unnamed, Header, Other };
    static constexpr unsigned char kNoEntity = 0xFF;

    void note(Code code, std::string_view value);

    Awaited awaited_ = Awaited::Nothing;
    unsigned char entity_ = kNoEntity;  // index in kEntityTexts
    bool withoutTexts_ = false;         // in the OBJECTS section
    bool versionDue_ = true;
    Section section_ = Section::None;
    bool runInHeader_ = false;  // a code-page run started in this HEADER section
    FirstSection firstSection_ = FirstSection::Due;
    const bool entities_;  // entities with texts of their own are followed
    const bool utf8Refused_;
    bool utf8_ = false;
};

// ---- a second conversion ----------------------------------------------------

// The drawing's declared code page: the first line the first code-page
// run replaces, trimmed of spaces and upper-cased (ASCII letters only).
std::string DeclaredCodePage(std::string_view runLine);
// Whether a drawing is already converted and refused (unless forced): it
// declares the code page the pass writes, and it is not still in the DOS
// convention, which a text recoded "lw" shows with an escape with digits
// of a byte of 128 or more (only the colours were converted before, or
// the drawing was mislabelled).
inline bool AlreadyConverted(std::string_view declared, bool latinToWindows, bool dosEscapeRecoded)
{
    return declared == CodePageValue(latinToWindows) && !(latinToWindows && dosEscapeRecoded);
}

// ---- the input as a whole --------------------------------------------------

// Where a group code is due, a line starting with the DOS end-of-file mark
// ends the input; anywhere else it is an ordinary byte.
inline constexpr char kEndOfFileMark = 0x1A;
inline bool EndsInput(const char* codeLine) { return *codeLine == kEndOfFileMark; }

// A group code, trimmed of spaces: an optional minus and decimal digits
// (what the first line must be: see rules/FirstLine.h).
bool IsGroupCode(std::string_view trimmedLine);

// ---- small text helpers the rules share ------------------------------------

// Without leading and trailing spaces (byte 32 only: tabs stay).
std::string_view Trimmed(std::string_view s);
// The same in place.
void TrimSpaces(std::string& s);
// Whether `line`, its ASCII letters upper-cased, contains `upperNeedle`.
bool ContainsUpper(std::string_view line, std::string_view upperNeedle);

// ---- what the fast path must stop at ---------------------------------------

// A code line the fast path stops at, told by the bytes around the LF that
// ends it: the last digit, the one before it (0 for a one-digit code,
// which has a space or the line start before it), and whether only values
// that start like a name in kCandidatePlan.prefixes count.
struct CandidateCode {
    char prior;
    char last;
    Need need;
    bool named;
};

// The first two bytes of the names the structure acts on; a space stands
// for a name written after spaces. Two tell the names apart from most
// others at half the cost of three; the few others that start alike
// (SEQEND, ATTRIB) are let through to the rules, which pass over them.
using NamePrefix = std::array<char, 2>;

namespace detail {

constexpr std::size_t anywhereCodes()
{
    std::size_t n = 0;
    for (const GroupCodeRule& rule : kGroupCodes)
        n += rule.where == Where::Anywhere;
    return n;
}

// The names the structure acts on, as values of kNameCode.
inline constexpr std::array kStructureNames = [] {
    std::array<std::string_view, kEntityTexts.size() + 2> names{};
    for (std::size_t i = 0; i < kEntityTexts.size(); ++i)
        names[i] = kEntityTexts[i].entity;
    names[kEntityTexts.size()] = kSectionStart;
    names[kEntityTexts.size() + 1] = kSectionEnd;
    return names;
}();

constexpr bool samePrefix(std::string_view a, std::string_view b) { return a[0] == b[0] && a[1] == b[1]; }

// How many names start differently: each prefix costs the fast path a
// comparison of every byte.
constexpr std::size_t distinctPrefixes()
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < kStructureNames.size(); ++i) {
        bool seen = false;
        for (std::size_t j = 0; j < i; ++j)
            seen = seen || samePrefix(kStructureNames[j], kStructureNames[i]);
        n += !seen;
    }
    return n;
}

}  // namespace detail

struct CandidatePlan {
    std::array<CandidateCode, detail::anywhereCodes()> codes;
    std::array<NamePrefix, detail::distinctPrefixes() + 1> prefixes;
};

// The fast path need not stop where a group code matters only in place:
// the structure is then off plain ground (see Structure::plainGround), and
// the fast path does not run. Every other code of kGroupCodes is a
// candidate, a name code with the names' prefixes.
inline constexpr CandidatePlan kCandidatePlan = [] {
    CandidatePlan plan{};
    std::size_t n = 0;
    for (const GroupCodeRule& rule : kGroupCodes) {
        if (rule.where != Where::Anywhere)
            continue;
        const bool two = rule.digits.size() == 2;
        plan.codes[n++] = {two ? rule.digits[0] : '\0', rule.digits.back(), rule.need, rule.code == kNameCode};
    }
    std::size_t p = 0;
    for (std::size_t i = 0; i < detail::kStructureNames.size(); ++i) {
        const std::string_view name = detail::kStructureNames[i];
        bool seen = false;
        for (std::size_t j = 0; j < i; ++j)
            seen = seen || detail::samePrefix(detail::kStructureNames[j], name);
        if (!seen)
            plan.prefixes[p++] = {name[0], name[1]};
    }
    plan.prefixes[p] = {' ', ' '};  // a space alone: see CandidateCode
    return plan;
}();

// The candidates can tell only one- and two-digit codes and names of two
// letters or more apart (the bytes read around an LF).
static_assert([] {
    for (const GroupCodeRule& rule : kGroupCodes)
        if (rule.digits.empty() || rule.digits.size() > 2)
            return false;
    for (const std::string_view name : detail::kStructureNames)
        if (name.size() < 2)
            return false;
    return true;
}());

// Every name the structure acts on is a prefix the fast path stops at.
static_assert([] {
    for (const std::string_view name : detail::kStructureNames) {
        bool found = false;
        for (const NamePrefix& prefix : kCandidatePlan.prefixes)
            found = found || (prefix[0] == name[0] && prefix[1] == name[1]);
        if (!found)
            return false;
    }
    return true;
}());

// Every group code that matters anywhere is a candidate, and the name
// code among them.
static_assert([] {
    for (const GroupCodeRule& rule : kGroupCodes) {
        if (rule.where != Where::Anywhere)
            continue;
        bool found = false;
        for (const CandidateCode& c : kCandidatePlan.codes)
            found = found || (c.last == rule.digits.back() && c.named == (rule.code == kNameCode)
                              && (rule.digits.size() == 1 ? c.prior == '\0' : c.prior == rule.digits[0]));
        if (!found)
            return false;
    }
    return true;
}());

// Every entity with texts of its own keeps the fast path out (its codes
// are in place only), or the fast path would pass over them unseen.
static_assert([] {
    for (const EntityText& entity : kEntityTexts)
        for (const GroupCodeRule& rule : kGroupCodes)
            if (rule.code == entity.code && rule.where != Where::InPlace)
                return false;
    return true;
}());

// ---- inline definitions ----------------------------------------------------

namespace detail {

inline bool onlySpaces(const char* p, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != ' ')
            return false;
    return true;
}

// Bytes that stand before the last digit of a two-digit group code.
inline constexpr std::array<bool, 256> kTensDigits = [] {
    std::array<bool, 256> t{};
    for (const GroupCodeRule& rule : kGroupCodes)
        if (rule.digits.size() == 2)
            t[static_cast<unsigned char>(rule.digits[0])] = true;
    return t;
}();

// The one-digit group codes by their digit.
inline constexpr std::array<Code, 256> kOneDigitCodes = [] {
    std::array<Code, 256> t{};
    for (const GroupCodeRule& rule : kGroupCodes)
        if (rule.digits.size() == 1)
            t[static_cast<unsigned char>(rule.digits[0])] = rule.code;
    return t;
}();

// The first bytes of the structure's names, and a space.
inline constexpr std::array<bool, 256> kNameStarts = [] {
    std::array<bool, 256> t{};
    for (const std::string_view name : kStructureNames)
        t[static_cast<unsigned char>(name[0])] = true;
    t[' '] = true;
    return t;
}();

}  // namespace detail

// A look at the last two characters first lets the many codes the pass
// does not look at (" 10", "330") through at once.
[[gnu::always_inline]] inline Code ClassifyCode(std::string_view line, const CodeTails& tails)
{
    std::size_t n = line.size();
    if (n == 0 || !tails[static_cast<unsigned char>(line[n - 1])])
        return Code::Other;
    if (n >= 2 && line[n - 1] != ' ' && line[n - 2] != ' ' && !detail::kTensDigits[static_cast<unsigned char>(line[n - 2])])
        return Code::Other;
    while (n != 0 && line[n - 1] == ' ')
        --n;
    if (n == 0)
        return Code::Other;
    const char last = line[n - 1];
    const char before = n >= 2 ? line[n - 2] : ' ';
    if (before != ' ') {
        if (!detail::onlySpaces(line.data(), n - 2))
            return Code::Other;
        for (const GroupCodeRule& rule : kGroupCodes)
            if (rule.digits.size() == 2 && rule.digits[0] == before && rule.digits[1] == last)
                return rule.code;
        return Code::Other;
    }
    if (!detail::onlySpaces(line.data(), n - 1))
        return Code::Other;
    return detail::kOneDigitCodes[static_cast<unsigned char>(last)];
}

// Most pairs, texts and colours, are nothing to the structure; nor are most
// entities: only names starting like those it acts on need a closer look.
[[gnu::always_inline]] inline void Structure::follow(Code code, std::string_view value)
{
    if (awaited_ == Awaited::Nothing && code == kNameCode && firstSection_ != FirstSection::Open
        && (value.empty() || !detail::kNameStarts[static_cast<unsigned char>(value[0])])) {
        entity_ = kNoEntity;
        return;
    }
    if (awaited_ != Awaited::Nothing || code == kNameCode || (code == Code::Header && versionDue_)
        || (code == Code::Name && section_ == Section::Unnamed))
        note(code, value);
}

inline bool Structure::isText(Code code) const
{
    if (withoutTexts_)
        return false;
    if (code == Code::Text)
        return true;
    return entity_ != kNoEntity && kEntityTexts[entity_].code == code;
}

}  // namespace dxfkonv
