#include "uiglean/front/casefold.h"

#include <gtest/gtest.h>

namespace uiglean {
namespace {

TEST(CaseFold, EqualityIgnoresAsciiCaseOnly) {
  EXPECT_TRUE(equalsIgnoringCase("Edit", "edit"));
  EXPECT_TRUE(equalsIgnoringCase("Edit", "EDIT"));
  EXPECT_TRUE(equalsIgnoringCase("", ""));
  EXPECT_FALSE(equalsIgnoringCase("Edit", "Edi"));
  EXPECT_FALSE(equalsIgnoringCase("Edit", " Edit"));
  EXPECT_FALSE(equalsIgnoringCase("Edit", "Edit "));
  EXPECT_FALSE(equalsIgnoringCase("Edit", ""));
  EXPECT_FALSE(equalsIgnoringCase("a-b", "a_b"));
}

TEST(CaseFold, EqualityFoldsNonAsciiLetters) {
  EXPECT_TRUE(equalsIgnoringCase("Ärger", "ärger"));
  EXPECT_TRUE(equalsIgnoringCase("ÄRGER", "ärger"));
  EXPECT_FALSE(equalsIgnoringCase("Ärger", "arger"));  // no accent stripping
  // Greek: both small sigmas fold to the same letter as the capital.
  EXPECT_TRUE(equalsIgnoringCase("ΟΔΟΣ", "οδος"));
  EXPECT_TRUE(equalsIgnoringCase("ΟΔΟΣ", "οδοσ"));
  EXPECT_TRUE(equalsIgnoringCase("ς", "Σ"));
  EXPECT_TRUE(equalsIgnoringCase("Ωμέγα", "ΩΜΈΓΑ"));
  // Cyrillic.
  EXPECT_TRUE(equalsIgnoringCase("Правка", "ПРАВКА"));
  EXPECT_TRUE(equalsIgnoringCase("ёлка", "ЁЛКА"));
  EXPECT_FALSE(equalsIgnoringCase("Правка", "Правк"));
  // Full folding: sharp s is "ss", and the capital sharp s folds the same way.
  EXPECT_TRUE(equalsIgnoringCase("Straße", "STRASSE"));
  EXPECT_TRUE(equalsIgnoringCase("Straße", "strasse"));
  EXPECT_TRUE(equalsIgnoringCase("STRAẞE", "straße"));
  EXPECT_TRUE(equalsIgnoringCase("ﬁle", "FILE"));  // the fi ligature
  // Letters outside the Basic Multilingual Plane (Deseret).
  EXPECT_TRUE(equalsIgnoringCase("\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"));
  // Dotted capital I folds to i plus a combining dot, not to a plain i.
  EXPECT_FALSE(equalsIgnoringCase("İ", "i"));
  EXPECT_TRUE(equalsIgnoringCase("İ", "i\xCC\x87"));
}

TEST(CaseFold, InvalidUtf8MatchesOnlyItself) {
  EXPECT_TRUE(equalsIgnoringCase("A\xFF", "a\xFF"));
  EXPECT_FALSE(equalsIgnoringCase("A\xFF", "a\xFE"));
  EXPECT_FALSE(equalsIgnoringCase("\xC3", "\xC3\xA4"));  // truncated sequence is not ä
  EXPECT_TRUE(containsIgnoringCase("x\xC3y", "\xC3Y"));
  EXPECT_FALSE(containsIgnoringCase("\xC3\xA4", "\xC3"));
}

TEST(CaseFold, ContainmentFindsAnyOccurrence) {
  EXPECT_TRUE(containsIgnoringCase("Quarterly Report", "report"));
  EXPECT_TRUE(containsIgnoringCase("Quarterly Report", "RLY R"));
  EXPECT_TRUE(containsIgnoringCase("Notes", "Notes"));
  EXPECT_FALSE(containsIgnoringCase("Notes", "Notes "));
  EXPECT_FALSE(containsIgnoringCase("Note", "Notes"));
  EXPECT_FALSE(containsIgnoringCase("", "a"));
}

TEST(CaseFold, EmptyNeedleIsContainedInNothing) {
  EXPECT_FALSE(containsIgnoringCase("anything", ""));
  EXPECT_FALSE(containsIgnoringCase("", ""));
}

TEST(CaseFold, ContainmentFoldsNonAsciiAndKeepsCharacterBoundaries) {
  EXPECT_TRUE(containsIgnoringCase("Übersicht ÄNDERN", "änd"));
  EXPECT_TRUE(containsIgnoringCase("Документ ОТЧЁТ", "отчёт"));
  EXPECT_TRUE(containsIgnoringCase("ΛΟΓΟΣ", "γος"));
  EXPECT_TRUE(containsIgnoringCase("λογος", "ΓΟΣ"));
  EXPECT_TRUE(containsIgnoringCase("Große Datei", "GROSSE"));
  EXPECT_TRUE(containsIgnoringCase("GROSSE", "ß"));
  // Half of the folding of one character is no match.
  EXPECT_FALSE(containsIgnoringCase("Große", "gros"));
  EXPECT_TRUE(containsIgnoringCase("Große", "GROSS"));
  EXPECT_FALSE(containsIgnoringCase("ß", "s"));
  EXPECT_FALSE(containsIgnoringCase("aßb", "as"));
  EXPECT_TRUE(containsIgnoringCase("aßb", "assb"));
}

TEST(CaseFold, LowercaseUsesFullMapping) {
  EXPECT_EQ(lowercaseFull("S"), "s");
  EXPECT_EQ(lowercaseFull("Ä"), "ä");
  EXPECT_EQ(lowercaseFull("Σ"), "σ");
  EXPECT_EQ(lowercaseFull("Ж"), "ж");
  EXPECT_EQ(lowercaseFull("İ"), "i\xCC\x87");
  EXPECT_EQ(lowercaseFull("ß"), "ß");  // lower case, not folding
  EXPECT_EQ(lowercaseFull("+ 1"), "+ 1");
  EXPECT_EQ(lowercaseFull("A\xFF"), "a\xFF");
}

}  // namespace
}  // namespace uiglean
