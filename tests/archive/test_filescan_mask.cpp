// The wildcard matcher: the cases the writer's and the reader's filters depend on, agreement
// with a plain backtracking matcher over every short mask and name, and bounded work on masks
// with many stars.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/qrnFileScan.h"

namespace {

// Straightforward backtracking over a stack of alternatives, ASCII only: the reference the
// fast matcher must agree with.
bool ReferenceMatch(std::string name, const std::string& mask) {
  struct El {
    bool star;
    bool any;
    char ch;
  };
  auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  std::vector<El> el;
  bool pending = false;
  for (char c : mask) {
    if (c == '*') {
      pending = true;
    } else if (c == '?') {
      if (!pending) el.push_back({false, true, 0});
    } else {
      el.push_back({pending, false, up(c)});
      pending = false;
    }
  }
  el.push_back({pending, false, 0});
  if (!mask.empty() && mask.back() == '.' && name.find('.') == std::string::npos) name += '.';
  auto at = [&](size_t p) { return p < name.size() ? up(name[p]) : '\0'; };
  std::vector<std::pair<size_t, size_t>> stack{{0, 0}};
  while (!stack.empty()) {
    auto [p, i] = stack.back();
    stack.pop_back();
    for (;;) {
      const El& e = el[i];
      if (e.star) {
        while (p < name.size() && at(p) != e.ch) ++p;
        if (p < name.size()) stack.push_back({p + 1, i});
      }
      const bool ok = e.any ? p < name.size() : at(p) == e.ch;
      if (!ok) break;
      if (i + 1 == el.size()) return true;
      ++p, ++i;
    }
  }
  return false;
}

void AllStrings(const std::string& alphabet, size_t maxLen, std::string& cur, std::vector<std::string>& out) {
  out.push_back(cur);
  if (cur.size() == maxLen) return;
  for (char c : alphabet) {
    cur.push_back(c);
    AllStrings(alphabet, maxLen, cur, out);
    cur.pop_back();
  }
}

std::vector<std::string> AllStrings(const std::string& alphabet, size_t maxLen) {
  std::vector<std::string> out;
  std::string cur;
  AllStrings(alphabet, maxLen, cur, out);
  return out;
}

TEST(FileScanMask, ExtensionsDotsAndStars) {
  EXPECT_TRUE(IsMaskMatch("README", "*."));
  EXPECT_FALSE(IsMaskMatch("a.txt", "*."));
  EXPECT_TRUE(IsMaskMatch("a", "a*?"));  // "*?" compiles as "*"
  EXPECT_FALSE(IsMaskMatch("", "?"));
  EXPECT_TRUE(IsMaskMatch("", "*"));
  EXPECT_TRUE(IsMaskMatch("README", "*"));
  EXPECT_FALSE(IsMaskMatch("README", "*.*"));
  EXPECT_TRUE(IsMaskMatch("a.tar.gz", "*.*"));
  EXPECT_TRUE(IsMaskMatch("a.tar.gz", "*.gz"));
  EXPECT_FALSE(IsMaskMatch("a.tar.gz", "*.tar"));
  EXPECT_TRUE(IsMaskMatch("", ""));
  EXPECT_FALSE(IsMaskMatch("a", ""));
  EXPECT_TRUE(IsMaskMatch("ab", "a?"));
  EXPECT_FALSE(IsMaskMatch("abc", "a?"));
  EXPECT_TRUE(IsMaskMatch("x1y2", "x?y?"));
}

TEST(FileScanMask, AsciiLettersIgnoreCaseBracketsAreLiterals) {
  EXPECT_TRUE(IsMaskMatch("notes.txt", "*.TXT"));
  EXPECT_TRUE(IsMaskMatch("NOTES.TXT", "notes.*"));
  EXPECT_TRUE(IsMaskMatch("[a].log", "[A].log"));
  EXPECT_FALSE(IsMaskMatch("a.log", "[a].log"));
  EXPECT_FALSE(IsMaskMatch("b.log", "[ab].log"));
}

TEST(FileScanMask, CyrillicComparedExactlyOneLetterPerQuestionMark) {
  // Only ASCII letters fold: an upper-case Cyrillic mask does not take a lower-case name.
  EXPECT_FALSE(IsMaskMatch("отчёт.txt", "ОТЧЁТ.txt"));
  EXPECT_TRUE(IsMaskMatch("отчёт.TXT", "отчёт.txt"));
  EXPECT_TRUE(IsMaskMatch("Отчёт за май.doc", "Отч*май.*"));
  // '?' is one letter, not one byte of its UTF-8 form.
  EXPECT_TRUE(IsMaskMatch("я.txt", "?.txt"));
  EXPECT_FALSE(IsMaskMatch("я.txt", "??.txt"));
  EXPECT_TRUE(IsMaskMatch("ёж", "??"));
  EXPECT_TRUE(IsMaskMatch("жёлудь", "*ё*"));
  EXPECT_FALSE(IsMaskMatch("жолудь", "*ё*"));
}

TEST(FileScanMask, BytesThatAreNotUtf8MatchOnlyThemselves) {
  const std::string bad = "a\xff" "b";  // a name in a foreign code page
  EXPECT_TRUE(IsMaskMatch(bad, "a?b"));
  EXPECT_TRUE(IsMaskMatch(bad, "a\xff" "b"));
  EXPECT_FALSE(IsMaskMatch(bad, "a\xfe" "b"));
  EXPECT_TRUE(IsMaskMatch(bad, "*\xff*"));
  // A truncated sequence at the end is a character of its own, never read past.
  EXPECT_TRUE(IsMaskMatch("x\xd0", "x?"));
  EXPECT_FALSE(IsMaskMatch("x\xd0", "x"));
}

TEST(FileScanMask, CompiledFormKeepsStarsAndDropsQuestionMarksAfterThem) {
  const TInternalMask m("*?a?*.");
  ASSERT_EQ(m.Count(), 4);
  EXPECT_TRUE(m.Elements()[0].StarBefore);
  EXPECT_EQ(m.Elements()[0].Kind, TInternalMask::ekLiteral);
  EXPECT_EQ(m.Elements()[0].Ch, U'A');
  EXPECT_EQ(m.Elements()[1].Kind, TInternalMask::ekAnyChar);
  EXPECT_FALSE(m.Elements()[1].StarBefore);
  EXPECT_TRUE(m.Elements()[2].StarBefore);
  EXPECT_EQ(m.Elements()[2].Ch, U'.');
  EXPECT_EQ(m.Elements()[3].Ch, U'\0');
  EXPECT_TRUE(m.EndsWithDot());
  EXPECT_TRUE(m.Match("XAB"));  // no dot in the name: one is added for the trailing-dot mask
}

TEST(FileScanMask, AgreesWithBacktrackingOnEveryShortMaskAndName) {
  const auto masks = AllStrings("a*?.", 5);
  const auto names = AllStrings("aAb.", 5);
  size_t checked = 0;
  for (const auto& mask : masks) {
    const TInternalMask compiled(mask);
    for (const auto& name : names) {
      ASSERT_EQ(compiled.Match(name), ReferenceMatch(name, mask)) << "name '" << name << "' mask '" << mask << "'";
      ++checked;
    }
  }
  EXPECT_GT(checked, 100000u);
}

TEST(FileScanMask, ManyStarsOnALongNameDoNotBacktrackWithoutEnd) {
  // Backtracking through every split of the name would take C(250,12) steps here; a name from
  // an archive must not be able to hang the filter.
  const std::string name(250, 'a');
  EXPECT_FALSE(IsMaskMatch(name, "*a*a*a*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_TRUE(IsMaskMatch(name + "b", "*a*a*a*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_FALSE(IsMaskMatch(name, "*?*?*?*?*?*?*?*?*?*?*?*.x"));
}

}  // namespace
