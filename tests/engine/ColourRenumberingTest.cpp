// Colour numbers between the two numberings.
#include <gtest/gtest.h>

#include "engine/rules/ColourRenumbering.h"

using namespace dxfkonv;

namespace {

int sa16(int c) { return ConvertColor("sa", c, true); }
int as16(int c) { return ConvertColor("as", c, true); }
int sa256(int c) { return ConvertColor("sa", c, false); }
int as256(int c) { return ConvertColor("as", c, false); }

}  // namespace

TEST(ColourTables, ListedEntries)
{
    const int t16sa[][2] = {{1, 11}, {3, 91}, {4, 131}, {5, 171}, {6, 211}, {9, 1},
                            {10, 32}, {11, 3}, {12, 4}, {13, 5}, {14, 6}, {15, 9}};
    const int t256sa[][2] = {{1, 7}, {2, 1}, {3, 3}, {4, 5}, {5, 4}, {6, 6}, {7, 32}, {8, 9},
                             {9, 8}, {10, 11}, {11, 91}, {12, 171}, {13, 131}, {14, 211}, {15, 2}, {16, 16}};
    const int t256as[][2] = {{1, 2}, {2, 15}, {3, 3}, {4, 5}, {5, 4}, {6, 6}, {7, 1}, {8, 9},
                             {9, 8}, {11, 10}, {16, 16}, {32, 7}, {91, 11}, {131, 13}, {171, 12}, {211, 14}};
    for (const auto& e : t16sa) {
        EXPECT_EQ(sa16(e[0]), e[1]) << e[0];
        EXPECT_EQ(as16(e[1]), e[0]) << e[1];  // the 16-colour tables undo each other
    }
    for (const auto& e : t256sa)
        EXPECT_EQ(sa256(e[0]), e[1]) << e[0];
    for (const auto& e : t256as)
        EXPECT_EQ(as256(e[0]), e[1]) << e[0];
}

TEST(ColourTables, UnlistedNumbersPass)
{
    for (int c : {0, 17, 100, 250, 255}) {
        EXPECT_EQ(sa16(c), c);
        EXPECT_EQ(as16(c), c);
        EXPECT_EQ(sa256(c), c);
        EXPECT_EQ(as256(c), c);
    }
    for (int c : {2, 7, 8})
        EXPECT_EQ(sa16(c), c);
    EXPECT_EQ(sa16(10), 32);
    EXPECT_EQ(as256(10), 10);
    EXPECT_EQ(sa256(10), 11);
    for (int c : {10, 12, 13, 14, 15})
        EXPECT_EQ(as16(c), c);
    for (int c : {32, 91, 131, 171, 211})
        EXPECT_EQ(sa256(c), c);
    EXPECT_EQ(ConvertColor("sa", 300, false), 300);
    EXPECT_EQ(ConvertColor("sa", -1, false), -1);
}

TEST(ColourTables, TwoFiftySixRoundTripsOnItsListedNumbers)
{
    for (int c = 1; c <= 16; ++c)
        EXPECT_EQ(as256(sa256(c)), c) << c;
    for (int c : {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 16, 32, 91, 131, 171, 211})
        EXPECT_EQ(sa256(as256(c)), c) << c;
}
