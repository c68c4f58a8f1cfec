// Hand-made streams for the corner cases and every error path of the older-method decoders,
// each fed whole and in one-byte and three-byte refills: they never crash, never hang, and
// report the engine's error code.
#include <gtest/gtest.h>

#include "inflate_test_util.h"
#include "test_oldmethods_fixture.h"

namespace {

using inflate_test::Bytes;
using inflate_test::TBitWriter;
using oldtest::DecodeBytes;
using oldtest::TCollector;

struct TResult {
  bool Ok = false;
  std::string Out;
  std::vector<int32_t> Errors;
};

// The same stream in three piece sizes must give the same result.
TResult Decode(const Bytes& Packed, uint16_t Method, uint16_t Flags, int64_t Unpacked) {
  TResult first;
  for (int32_t piece : {32768, 1, 3}) {
    TCollector zip;
    zip.Piece = piece;
    TResult r;
    r.Ok = DecodeBytes(zip, Packed, Method, Flags, Unpacked);
    r.Out.assign(zip.Out.begin(), zip.Out.end());
    r.Errors = zip.Errors;
    if (piece == 32768) {
      first = r;
    } else {
      EXPECT_EQ(r.Ok, first.Ok) << piece;
      EXPECT_EQ(r.Out, first.Out) << piece;
      EXPECT_EQ(r.Errors, first.Errors) << piece;
    }
  }
  return first;
}

// --- unshrink --------------------------------------------------------------------------------

Bytes Codes(std::initializer_list<std::pair<uint32_t, uint32_t>> CodeAndSize) {
  TBitWriter w;
  for (auto [c, n] : CodeAndSize) w.Put(c, n);
  return w.Finish();
}

TEST(OldMethodsUnshrink, KwKwKCodeIsPreviousStringPlusItsFirstByte) {
  // A B 257(AB) 259: 259 is being defined by this step, so it is "AB" + "A".
  auto r = Decode(Codes({{'A', 9}, {'B', 9}, {257, 9}, {259, 9}}), 1, 0, 7);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Out, "ABABABA");
  // Any code not yet defined stands for the previous string plus its first byte.
  auto any = Decode(Codes({{'A', 9}, {'B', 9}, {300, 9}}), 1, 0, 4);
  EXPECT_TRUE(any.Ok);
  EXPECT_EQ(any.Out, "ABBB");
}

TEST(OldMethodsUnshrink, CodeSizeGrowsToThirteenBitsAndNoFurther) {
  Bytes grow = Codes({{'A', 9}, {256, 9}, {1, 9}, {'B', 10}, {256, 10}, {1, 10}, {257, 11}, {256, 11}, {1, 11},
                      {'C', 12}, {256, 12}, {1, 12}, {258, 13}});
  auto r = Decode(grow, 1, 0, 7);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Out, "ABABCBA");
  // A fifth increase would need codes above 8191.
  auto bad = Decode(Codes({{'A', 9}, {256, 9}, {1, 9}, {256, 10}, {1, 10}, {256, 11}, {1, 11}, {256, 12}, {1, 12},
                        {256, 13}, {1, 13}, {'B', 14}}),
                 1, 0, 2);
  EXPECT_FALSE(bad.Ok);
  EXPECT_EQ(bad.Out, "A");
  EXPECT_EQ(bad.Errors, std::vector<int32_t>{E_BAD_BLOCK});
}

TEST(OldMethodsUnshrink, PartialClearingReassignsTheLowestFreedCodeFirst) {
  // A B(257=AB) C(258=BC) clear: 257 and 258 are leaves and freed; D takes 257 = "CD".
  auto r = Decode(Codes({{'A', 9}, {'B', 9}, {'C', 9}, {256, 9}, {2, 9}, {'D', 9}, {257, 9}}), 1, 0, 6);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Out, "ABCDCD");
  // Codes in use as prefixes survive: 257=AB is the prefix of 259=ABA, so only 258 and 259 go.
  auto keep = Decode(Codes({{'A', 9}, {'B', 9}, {257, 9}, {'C', 9}, {256, 9}, {2, 9}, {257, 9}, {258, 9}}), 1, 0, 9);
  EXPECT_TRUE(keep.Ok);
  EXPECT_EQ(keep.Out, "ABABCABCA");
}

TEST(OldMethodsUnshrink, BadBlocks) {
  struct {
    const char* What;
    Bytes Packed;
    const char* Out;
  } cases[] = {
      {"no first code", {}, ""},
      {"first code cut short", {0x41}, ""},
      {"first code is no literal", Codes({{300, 9}}), ""},
      {"control code other than 1 and 2", Codes({{'A', 9}, {256, 9}, {3, 9}, {'B', 9}}), "A"},
      // 257 is re-added after the clearing with the freed 258 as its prefix.
      {"free code inside a chain",
       Codes({{'A', 9}, {'B', 9}, {'C', 9}, {258, 9}, {256, 9}, {2, 9}, {'D', 9}, {257, 9}}), "ABCBCD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    auto r = Decode(c.Packed, 1, 0, 10);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Out, c.Out);
    EXPECT_EQ(r.Errors, std::vector<int32_t>{E_BAD_BLOCK});
  }
}

TEST(OldMethodsUnshrink, CyclicCodeOverflowsTheStackInsteadOfLooping) {
  // After the clearing the previous code 257 is free, so the next code added, 257, becomes its
  // own prefix. Decoding it must stop at the stack limit; what came before is flushed.
  auto r = Decode(Codes({{'A', 9}, {257, 9}, {256, 9}, {2, 9}, {'B', 9}, {257, 9}}), 1, 0, 100);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Out, "AAAB");
  EXPECT_EQ(r.Errors, std::vector<int32_t>{E_STACK_OVERFLOW});
}

// --- unreduce --------------------------------------------------------------------------------

// Follower sets (given ones for the bytes listed, empty for the rest) then 8-bit bytes.
TBitWriter Reduced(const std::vector<std::pair<uint8_t, Bytes>>& Sets) {
  TBitWriter w;
  for (int x = 255; x >= 0; --x) {
    const Bytes* set = nullptr;
    for (const auto& s : Sets)
      if (s.first == x) set = &s.second;
    w.Put(set ? static_cast<uint32_t>(set->size()) : 0, 6);
    if (set)
      for (uint8_t b : *set) w.Put(b, 8);
  }
  return w;
}

TEST(OldMethodsUnreduce, EscapeMatchesAndWindowBeforeTheStart) {
  TBitWriter w = Reduced({});
  // A B, DLE 0 (a literal 144), then DLE V=1 and distance byte 2: 1+3 bytes from 3 back.
  for (uint8_t b : {uint8_t{'A'}, uint8_t{'B'}, uint8_t{144}, uint8_t{0}, uint8_t{144}, uint8_t{1}, uint8_t{2}})
    w.Put(b, 8);
  auto r = Decode(w.Finish(), 2, 0, 7);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Out, std::string("AB\x90") + "AB\x90" "A");

  // Factor 4: length 0x0F escapes to the next byte; a distance before the start reads zeros.
  TBitWriter z = Reduced({});
  for (uint8_t b : {uint8_t{144}, uint8_t{0x1F}, uint8_t{2}, uint8_t{0x40}}) z.Put(b, 8);
  auto zr = Decode(z.Finish(), 5, 0, 20);
  EXPECT_TRUE(zr.Ok);
  EXPECT_EQ(zr.Out, std::string(20, '\0'));
}

TEST(OldMethodsUnreduce, FollowerSetsAndTheirErrors) {
  // The set of byte 0 (the one before the first) holds 'X','Y','Z': a 0 flag and a 2-bit index.
  TBitWriter w = Reduced({{0, {'X', 'Y', 'Z'}}});
  w.Put(0, 1).Put(2, 2);          // 'Z'
  w.Put('Q', 8);                  // the set of 'Z' is empty: plain 8 bits
  auto r = Decode(w.Finish(), 3, 0, 2);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Out, "ZQ");

  TBitWriter past = Reduced({{0, {'X', 'Y', 'Z'}}});
  past.Put(0, 1).Put(3, 2);  // index 3 of a 3-byte set
  auto pr = Decode(past.Finish(), 3, 0, 2);
  EXPECT_FALSE(pr.Ok);
  EXPECT_EQ(pr.Errors, std::vector<int32_t>{E_BAD_BLOCK});

  TBitWriter big;
  big.Put(40, 6);  // more followers than a set holds
  for (int i = 0; i < 40; ++i) big.Put(1, 8);
  auto br = Decode(big.Finish(), 4, 0, 2);
  EXPECT_FALSE(br.Ok);
  EXPECT_EQ(br.Errors, std::vector<int32_t>{E_BAD_BLOCK});
}

// --- explode ---------------------------------------------------------------------------------

// A tree of 64 values of 6 bits each: value v has the code 63 - v.
void FullTree(TBitWriter& W) {
  W.Put(3, 8);
  for (int i = 0; i < 4; ++i) W.Put(0xF5, 8);
}

TEST(OldMethodsExplode, CopiesBeforeTheStartGiveZerosAndLongLengthsExtend) {
  TBitWriter w;
  FullTree(w);  // length
  FullTree(w);  // distance
  w.Put(0, 1).Put(0, 6).Code(63 - 0, 6).Code(63 - 0, 6);  // match: distance 1, length 2
  w.Put(1, 1).Put('A', 8);                                // literal
  w.Put(0, 1).Put(0, 6).Code(63 - 0, 6).Code(63 - 63, 6).Put(5, 8);  // length 63+5+2 from 1 back
  auto r = Decode(w.Finish(), 6, 0, 73);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Out, std::string(2, '\0') + "A" + std::string(70, 'A'));
}

TEST(OldMethodsExplode, AmbiguousTreesWriteNothing) {
  struct {
    const char* What;
    Bytes Description;
  } cases[] = {
      {"three codes of one bit", {0x00, 0x20}},
      {"a code through a leaf", {0x01, 0x00, 0x01}},
      {"more values than the tree takes", {0x04, 0xF5, 0xF5, 0xF5, 0xF5, 0xF5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    TBitWriter w;
    for (uint8_t b : c.Description) w.Put(b, 8);
    FullTree(w);
    w.Put(1, 1).Put('A', 8);
    auto r = Decode(w.Finish(), 6, 0, 1);
    EXPECT_TRUE(r.Ok);  // reported, not raised
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Errors, std::vector<int32_t>{E_AMBIGUOUS_TREE});
  }
}

TEST(OldMethodsExplode, EmptyLinkWhileDecodingRaises) {
  TBitWriter w;
  w.Put(0, 8).Put(0x00, 8);  // length tree: one value with a 1-bit code, the other link empty
  FullTree(w);
  w.Put(1, 1).Put('A', 8);
  w.Put(0, 1).Put(0, 6).Code(63, 6).Put(1, 1);  // distance 0, then the empty link of the length tree
  auto r = Decode(w.Finish(), 6, 0, 10);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Out, "A");
  EXPECT_EQ(r.Errors, std::vector<int32_t>{E_AMBIGUOUS_TREE});
}

TEST(OldMethodsExplode, InputEndingBeforeTheSizeStopsWithoutGarbage) {
  // The stated size is far larger than the data: decoding must end at the data's end, and no
  // byte may come from bits that were never there.
  TBitWriter w;
  FullTree(w);
  FullTree(w);
  w.Put(1, 1).Put('A', 8).Put(1, 1).Put('B', 8);
  auto r = Decode(w.Finish(), 6, 0, 1 << 30);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Out.substr(0, 2), "AB");
  EXPECT_LE(r.Out.size(), 3u);  // the padding bits may hold one short match at most
}

}  // namespace
