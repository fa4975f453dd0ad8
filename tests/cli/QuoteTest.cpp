// How the command line writes file names: as GNU ls --quoting-style=shell-escape
// does (coreutils 9.1, in a UTF-8 locale), byte for byte; every expected
// string below is what that ls printed for the name.
#include <gtest/gtest.h>

#include <string>

#include "cli/Quote.h"

using dxfkonv::cli::QuoteName;

TEST(QuoteName, AsGnuLsWritesIt)
{
    const struct {
        const char* name;
        const char* quoted;
        const char* what;
    } cases[] = {
        {"plain.dxf", "plain.dxf", "plain letters, digits and dots"},
        {"PLAN-2_v1.5,final+%:@]x.DXF", "PLAN-2_v1.5,final+%:@]x.DXF", "harmless punctuation"},
        {"Příliš.dxf", "Příliš.dxf", "Czech letters"},
        {"Příliš žluťoučký kůň.dxf", "'Příliš žluťoučký kůň.dxf'", "Czech letters and spaces"},
        {"a b.dxf", "'a b.dxf'", "a space"},
        {"it's.dxf", "\"it's.dxf\"", "a single quote"},
        {"a'b c.dxf", "\"a'b c.dxf\"", "a single quote and a space"},
        {"it's_č.dxf", "\"it's_č.dxf\"", "a single quote and a Czech letter"},
        {"it's$x.dxf", "'it'\\''s$x.dxf'", "a single quote and a dollar"},
        {"it's#x.dxf", "'it'\\''s#x.dxf'", "a single quote and a hash inside"},
        {"~it's.dxf", "\"~it's.dxf\"", "a single quote and a tilde in front"},
        {"it's\\.dxf", "'it'\\''s\\.dxf'", "a single quote and a backslash"},
        {"q\"uote.dxf", "'q\"uote.dxf'", "a double quote"},
        {"back\\slash.dxf", "'back\\slash.dxf'", "a backslash"},
        {"$HOME.dxf", "'$HOME.dxf'", "a dollar"},
        {"*.dxf", "'*.dxf'", "a star"},
        {"a;b&c|d.dxf", "'a;b&c|d.dxf'", "command separators"},
        {"a(b)c.dxf", "'a(b)c.dxf'", "parentheses"},
        {"a<b>c.dxf", "'a<b>c.dxf'", "redirections"},
        {"a=b.dxf", "'a=b.dxf'", "an equals sign"},
        {"a^b.dxf", "'a^b.dxf'", "a caret"},
        {"a`b`.dxf", "'a`b`.dxf'", "backquotes"},
        {"a!b.dxf", "'a!b.dxf'", "an exclamation mark"},
        {"a?b.dxf", "'a?b.dxf'", "a question mark"},
        {"a[1].dxf", "'a[1].dxf'", "brackets"},
        {"#1.dxf", "'#1.dxf'", "a hash in front"},
        {"x#1.dxf", "x#1.dxf", "a hash inside"},
        {"~plan.dxf", "'~plan.dxf'", "a tilde in front"},
        {"plan~.dxf", "plan~.dxf", "a tilde behind"},
        {"{", "'{'", "a lone brace"},
        {"{a}.dxf", "{a}.dxf", "braces in a name"},
        {"-plan.dxf", "-plan.dxf", "a dash in front"},
        {"t\x1b]0;pwned\a.dxf", "'t'$'\\033'']0;pwned'$'\\a''.dxf'", "a title sequence"},
        {"c\x1b[2J\x1b[H.dxf", "'c'$'\\033''[2J'$'\\033''[H.dxf'", "screen-clearing sequences"},
        {"nl\nFAKE.dxf: recoded 9 texts.dxf", "'nl'$'\\n''FAKE.dxf: recoded 9 texts.dxf'", "a newline forging a report line"},
        {"tab\there.dxf", "'tab'$'\\t''here.dxf'", "a tab"},
        {"cr\r.dxf", "'cr'$'\\r''.dxf'", "a carriage return"},
        {"\x01\x02x.dxf", "''$'\\001\\002''x.dxf'", "a run of control characters in front"},
        {"\b\v\f.dxf", "''$'\\b\\v\\f''.dxf'", "backspace, vertical tab, form feed"},
        {"del\x7f.dxf", "'del'$'\\177''.dxf'", "DEL"},
        {"end\x1b", "'end'$'\\033'", "an escape at the end"},
        {"it's\nx.dxf", "'it'\\''s'$'\\n''x.dxf'", "a single quote and a newline"},
        {"nl\n'x.dxf", "'nl'$'\\n'\\''x.dxf'", "a single quote right after a newline"},
        {"bad\xff" "byte.dxf", "'bad'$'\\377''byte.dxf'", "a byte that is no UTF-8"},
        {"cut\xc3", "'cut'$'\\303'", "a character cut short at the end"},
        {"cut\xe2\x80x.dxf", "'cut'$'\\342\\200''x.dxf'", "a character cut short inside"},
        {"\xc0\x80.dxf", "''$'\\300\\200''.dxf'", "an overlong encoding"},
        {"\xed\xa0\x80.dxf", "''$'\\355\\240\\200''.dxf'", "a surrogate"},
        {"\xf4\x90\x80\x80.dxf", "''$'\\364\\220\\200\\200''.dxf'", "beyond U+10FFFF"},
        {"\xc2\x85.dxf", "''$'\\302\\205''.dxf'", "a C1 control character"},
        {"\xe2\x80\xa8.dxf", "''$'\\342\\200\\250''.dxf'", "the line separator"},
        {"\xcd\xb8.dxf", "''$'\\315\\270''.dxf'", "an unassigned character"},
        {"\xc2\xa0.dxf", "\xc2\xa0.dxf", "a no-break space"},
        {"😀.dxf", "😀.dxf", "an emoji"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QuoteName(c.name), c.quoted) << c.what;
}

// A name ls never shows: the empty one, as the user may still type it.
TEST(QuoteName, EmptyNameIsAPairOfQuotes)
{
    EXPECT_EQ(QuoteName(""), "''");
}
