// Hand-built Deflate64 streams: the format's own extensions (length 285, distances 30/31 up to
// the whole window), code sets at their limits, every kind of damage (which must end the entry
// quietly with what was decoded written), refused writes, cancel and enciphered input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/qrnGbls.h"
#include "deflate64_fixture.h"

namespace {

using d64::FixedDist;
using d64::FixedLit;
using d64::TBitWriter;
using d64::TCodes;

void FixedHeader(TBitWriter& W, bool Last) {
  W.Put(Last ? 1 : 0, 1);
  W.Put(1, 2);
}

void Literals(TBitWriter& W, const TCodes& Lit, const std::string& Text) {
  for (unsigned char ch : Text) Lit.Emit(W, ch);
}

// A stored block of Data (at most 65535 bytes).
void Stored(TBitWriter& W, const std::vector<uint8_t>& Data, bool Last) {
  W.Put(Last ? 1 : 0, 1);
  W.Put(0, 2);
  W.Align();
  const auto n = static_cast<uint32_t>(Data.size());
  W.Put(n, 16);
  W.Put(~n & 0xFFFFu, 16);
  for (uint8_t b : Data) W.Byte(b);
}

// The header of a last dynamic block with Lit and Dist codes, sending the code-length code's
// lengths Cl for the first Sent symbols of the fixed order.
void DynamicHeader(TBitWriter& W, uint32_t Lit, uint32_t Dist, const std::vector<uint8_t>& Cl, uint32_t Sent) {
  static const uint8_t kOrder[] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  W.Put(1, 1);
  W.Put(2, 2);
  W.Put(Lit - 257, 5);
  W.Put(Dist - 1, 5);
  W.Put(Sent - 4, 4);
  for (uint32_t i = 0; i < Sent; ++i) W.Put(Cl[kOrder[i]], 3);
}

std::vector<uint8_t> Repeat(uint8_t B, size_t N) { return std::vector<uint8_t>(N, B); }

// Decodes in whole, one byte at a time and in odd pieces; all three must agree.
std::vector<uint8_t> InflateAllWays(const std::vector<uint8_t>& Packed) {
  const auto whole = d64::Inflate(Packed);
  EXPECT_EQ(d64::Inflate(Packed, 1), whole);
  EXPECT_EQ(d64::Inflate(Packed, 5), whole);
  return whole;
}

TEST(Deflate64Streams, LengthCode285TakesSixteenExtraBitsAndCrossesWindowEnds) {
  TBitWriter w;
  FixedHeader(w, true);
  Literals(w, FixedLit(), "a");
  FixedLit().Emit(w, 285);
  w.Put(0xFFFF, 16);  // 3 + 65535 = 65538
  FixedDist().Emit(w, 0);
  Literals(w, FixedLit(), "b");
  FixedLit().Emit(w, 256);
  d64::TCollector c;
  const auto out = d64::Inflate(w.Bytes(), 65536, &c);
  std::vector<uint8_t> want = Repeat('a', 65539);
  want.push_back('b');
  EXPECT_EQ(out, want);
  EXPECT_EQ(c.Writes, 2);  // one full window, then the rest
  EXPECT_EQ(c.MaxWrite, 65536);
  EXPECT_EQ(InflateAllWays(w.Bytes()), want);
}

TEST(Deflate64Streams, DistanceCode31ReachesTheWholeWindow) {
  std::vector<uint8_t> first(65535), second = {0xAB};
  for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  TBitWriter w;
  Stored(w, first, false);
  Stored(w, second, false);
  FixedHeader(w, true);
  FixedLit().Emit(w, 257 + 1);  // length 4
  FixedDist().Emit(w, 31);
  w.Put(0x3FFF, 14);  // 49153 + 16383 = 65536
  FixedLit().Emit(w, 256);
  std::vector<uint8_t> want = first;
  want.insert(want.end(), second.begin(), second.end());
  want.insert(want.end(), first.begin(), first.begin() + 4);
  EXPECT_EQ(InflateAllWays(w.Bytes()), want);

  // Distance code 30 at its top (49152) is a Deflate64-only distance as well.
  TBitWriter v;
  Stored(v, first, false);
  FixedHeader(v, true);
  FixedLit().Emit(v, 257);  // length 3
  FixedDist().Emit(v, 30);
  v.Put(0x3FFF, 14);  // 32769 + 16383 = 49152
  FixedLit().Emit(v, 256);
  auto want2 = first;
  const size_t at = first.size() - 49152;
  want2.insert(want2.end(), first.begin() + static_cast<std::ptrdiff_t>(at),
               first.begin() + static_cast<std::ptrdiff_t>(at + 3));
  EXPECT_EQ(InflateAllWays(v.Bytes()), want2);
}

// A dynamic block with every literal/length code (HLIT 31) and every distance code (HDIST 31).
std::vector<uint8_t> FullDynamicBlock(TBitWriter& W, bool Last) {
  std::vector<uint8_t> lit(288, 8);
  std::fill(lit.begin() + 224, lit.end(), 9);  // 224/256 + 64/512: complete
  std::vector<uint8_t> dist(32, 5);
  W.Put(Last ? 1 : 0, 1);
  W.Put(2, 2);
  W.Put(31, 5);
  W.Put(31, 5);
  // Code-length code: 8 -> 1 bit, 9 and 5 -> 2 bits. Sent in the fixed order up to symbol 5.
  std::vector<uint8_t> cl(19, 0);
  cl[8] = 1;
  cl[9] = 2;
  cl[5] = 2;
  const uint8_t order[] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5};
  W.Put(10 - 4, 4);
  for (uint8_t s : order) W.Put(cl[s], 3);
  const TCodes clc(cl);
  for (uint8_t l : lit) clc.Emit(W, l);
  for (uint8_t l : dist) clc.Emit(W, l);
  const TCodes lc(lit), dc(dist);
  Literals(W, lc, "xyz");
  lc.Emit(W, 285);
  W.Put(1000 - 3, 16);  // length 1000
  dc.Emit(W, 2);        // distance 3
  lc.Emit(W, 256);
  std::vector<uint8_t> out;
  for (int i = 0; i < 1003; ++i) out.push_back(static_cast<uint8_t>("xyz"[i % 3]));
  return out;
}

TEST(Deflate64Streams, FullDynamicHeaderAndFixedBlocksAroundIt) {
  TBitWriter w;
  FixedHeader(w, false);
  Literals(w, FixedLit(), "one ");
  FixedLit().Emit(w, 256);
  auto want = std::vector<uint8_t>{'o', 'n', 'e', ' '};
  const auto mid = FullDynamicBlock(w, false);
  want.insert(want.end(), mid.begin(), mid.end());
  FixedHeader(w, true);  // the fixed tables again, after the dynamic block freed its own
  Literals(w, FixedLit(), " two\xff");
  FixedLit().Emit(w, 257 + 7);  // length 10
  FixedDist().Emit(w, 4);
  w.Put(1, 1);  // distance 6
  FixedLit().Emit(w, 256);
  const std::string tail = " two\xff";
  want.insert(want.end(), tail.begin(), tail.end());
  for (int i = 0; i < 10; ++i) want.push_back(want[want.size() - 6]);
  EXPECT_EQ(InflateAllWays(w.Bytes()), want);
}

// Encoders give a block with a single distance one code of length 1, an incomplete set that
// must still decode.
TEST(Deflate64Streams, SingleDistanceCodeOfLengthOneIsAccepted) {
  std::vector<uint8_t> lit(259, 8);
  lit[254] = lit[255] = 0;
  lit[256] = lit[257] = 9;  // 254/256 + 2/512 + 1/256: complete
  std::vector<uint8_t> cl(19, 0);
  cl[0] = cl[1] = cl[8] = cl[9] = 2;
  TBitWriter w;
  DynamicHeader(w, 259, 1, cl, 18);
  const TCodes clc(cl);
  for (uint8_t l : lit) clc.Emit(w, l);
  clc.Emit(w, 1);
  const TCodes lc(lit);
  Literals(w, lc, "a");
  lc.Emit(w, 257);  // length 3
  w.PutCode(0, 1);  // distance code 0: distance 1
  lc.Emit(w, 256);
  EXPECT_EQ(InflateAllWays(w.Bytes()), std::vector<uint8_t>(4, 'a'));
}

// A code-length repeat (16) before any length repeats a length of 0, so a header that starts
// with one still decodes.
TEST(Deflate64Streams, RepeatBeforeAnyLengthRepeatsZero) {
  std::vector<uint8_t> cl(19, 0);
  cl[16] = cl[18] = cl[0] = cl[1] = 2;
  TBitWriter w;
  DynamicHeader(w, 257, 1, cl, 18);
  const TCodes clc(cl);
  clc.Emit(w, 16);
  w.Put(0, 2);  // three lengths 0: symbols 0-2
  clc.Emit(w, 18);
  w.Put(94 - 11, 7);  // symbols 3-96
  clc.Emit(w, 1);     // 'a'
  clc.Emit(w, 18);
  w.Put(127, 7);  // symbols 98-235
  clc.Emit(w, 18);
  w.Put(20 - 11, 7);  // symbols 236-255
  clc.Emit(w, 1);     // end of block
  clc.Emit(w, 0);     // no distance
  w.PutCode(0, 1);
  w.PutCode(0, 1);
  w.PutCode(1, 1);
  EXPECT_EQ(InflateAllWays(w.Bytes()), Repeat('a', 2));
}

TEST(Deflate64Streams, EncipheredInputIsAskedForDecipheringAndReadToTheLastByte) {
  TBitWriter w;
  FixedHeader(w, true);
  Literals(w, FixedLit(), "secret");
  FixedLit().Emit(w, 256);
  auto packed = w.Bytes();
  for (auto& b : packed) b ^= 0x5C;
  d64::TCollector c;
  c.XorKey = 0x5C;
  TCustomMemoryStream32 in;
  in.SetPointer(packed.data(), static_cast<int32_t>(packed.size()));
  TMemberHeader h;
  h.PackedSize = packed.size();
  h.Flags = 1;
  c.Piece = 2;
  EXPECT_TRUE(InflateMember(c, in, nullptr, h));
  EXPECT_EQ(std::string(c.Out.begin(), c.Out.end()), "secret");
  EXPECT_EQ(c.DecipherReads, c.Reads);
  EXPECT_EQ(InflateMemberPackedLeft(), 0u);
  EXPECT_EQ(in.Position(), static_cast<int64_t>(packed.size()));
}

TEST(Deflate64Streams, ReadingStopsAtThePackedSize) {
  TBitWriter w;
  FixedHeader(w, true);
  Literals(w, FixedLit(), "abc");
  FixedLit().Emit(w, 256);
  auto packed = w.Bytes();
  const size_t size = packed.size();
  packed.insert(packed.end(), 100, 0xEE);  // the next entry's bytes
  d64::TCollector c;
  TCustomMemoryStream32 in;
  in.SetPointer(packed.data(), static_cast<int32_t>(packed.size()));
  TMemberHeader h;
  h.PackedSize = size;
  InflateMember(c, in, nullptr, h);
  EXPECT_EQ(std::string(c.Out.begin(), c.Out.end()), "abc");
  EXPECT_EQ(in.Position(), static_cast<int64_t>(size));
}

// Each damaged stream ends quietly, with exactly the bytes decoded before the damage written.
TEST(Deflate64Streams, DamageEndsTheEntryWithWhatWasDecoded) {
  struct TCase {
    const char* What;
    std::vector<uint8_t> Packed;
    std::string Before;
  };
  std::vector<TCase> cases;
  auto fixedPrefix = [](TBitWriter& w) {
    FixedHeader(w, true);
    Literals(w, FixedLit(), "ok");
  };
  {
    TBitWriter w;
    fixedPrefix(w);
    FixedLit().Emit(w, 286);
    cases.push_back({"length code 286", w.Bytes(), "ok"});
  }
  {
    TBitWriter w;
    fixedPrefix(w);
    FixedLit().Emit(w, 287);
    cases.push_back({"length code 287", w.Bytes(), "ok"});
  }
  {
    TBitWriter w;
    fixedPrefix(w);
    FixedLit().Emit(w, 257);
    FixedDist().Emit(w, 1);  // distance 2, only 2 bytes so far: fine
    FixedLit().Emit(w, 257);
    FixedDist().Emit(w, 4);
    w.Put(1, 1);  // distance 6 > 5 bytes decoded
    FixedLit().Emit(w, 256);
    cases.push_back({"distance before the entry's start", w.Bytes(), "okoko"});
  }
  {
    TBitWriter w;
    FixedHeader(w, false);
    Literals(w, FixedLit(), "ok");
    FixedLit().Emit(w, 256);
    w.Put(1, 1);
    w.Put(3, 2);
    cases.push_back({"block type 3", w.Bytes(), "ok"});
  }
  {
    TBitWriter w;
    FixedHeader(w, false);
    Literals(w, FixedLit(), "ok");
    FixedLit().Emit(w, 256);
    w.Put(1, 1);
    w.Put(0, 2);
    w.Align();
    w.Put(5, 16);
    w.Put(0xFFFB, 16);  // should be 0xFFFA
    for (int i = 0; i < 5; ++i) w.Byte('s');
    cases.push_back({"stored length and complement disagree", w.Bytes(), "ok"});
  }
  {
    TBitWriter w;
    Stored(w, {'a', 'b', 'c', 'd'}, true);
    auto b = w.Bytes();
    b.pop_back();
    cases.push_back({"stored block cut short", b, "abc"});
  }
  {
    TBitWriter w;
    fixedPrefix(w);
    Literals(w, FixedLit(), "more");
    auto b = w.Bytes();
    b.pop_back();  // cuts the last literal; the rest is decoded
    cases.push_back({"fixed block without its end", b, "okmor"});
  }
  {
    TBitWriter w;
    fixedPrefix(w);
    FixedLit().Emit(w, 285);
    w.Put(5, 4);  // 16 extra bits wanted, 4 present
    auto b = w.Bytes();
    cases.push_back({"length extra bits cut short", b, "ok"});
  }
  // Dynamic headers: a header writer with a chosen code-length code.
  auto dyn = [](uint32_t hlit, uint32_t hdist, std::vector<uint8_t> cl, std::vector<uint32_t> syms) {
    TBitWriter w;
    w.Put(1, 1);
    w.Put(2, 2);
    w.Put(hlit, 5);
    w.Put(hdist, 5);
    w.Put(15, 4);
    const uint8_t order[] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (uint8_t s : order) w.Put(cl[s], 3);
    const TCodes c(cl);
    for (uint32_t s : syms) {
      if (s >= 1000) {
        w.Put(s - 1000, 7);  // extra bits after 18
      } else if (s >= 100) {
        w.Put(s - 100, 2);  // extra bits after 16
      } else {
        c.Emit(w, s);
      }
    }
    return w.Bytes();
  };
  std::vector<uint8_t> clOk(19, 0);
  clOk[18] = 1;
  clOk[16] = 2;
  clOk[1] = 2;
  {
    std::vector<uint8_t> cl(19, 0);
    cl[1] = 1;
    cl[2] = 2;  // 1/2 + 1/4: incomplete
    cases.push_back({"incomplete code-length code", dyn(0, 0, cl, {1, 1}), ""});
  }
  {
    std::vector<uint8_t> cl(19, 0);
    cl[1] = 1;
    cl[2] = 1;
    cl[3] = 1;  // over-subscribed
    cases.push_back({"over-subscribed code-length code", dyn(0, 0, cl, {1}), ""});
  }
  cases.push_back({"lengths cut short after a repeat", dyn(0, 0, clOk, {16, 100}), ""});
  // 258 lengths: 18 x 127 = 138+138 = 276 > 258.
  cases.push_back({"repeat past the total", dyn(0, 0, clOk, {18, 1127, 18, 1127}), ""});
  // 257 literal lengths 0 except... all zero: no end-of-block code.
  cases.push_back({"no end-of-block code", dyn(0, 0, clOk, {18, 1127, 18, 1108, 1, 1}), ""});
  {
    // 258 codes of length 1: over-subscribed literal/length code.
    std::vector<uint32_t> s;
    s.push_back(1);
    for (int i = 0; i < 43; ++i) {
      s.push_back(16);
      s.push_back(103);  // 6 more
    }
    s.push_back(1);
    cases.push_back({"over-subscribed literal/length code", dyn(0, 0, clOk, s), ""});
  }
  for (const auto& tc : cases) {
    for (int32_t piece : {65536, 1, 3}) {
      d64::TCollector c;
      bool threw = false;
      try {
        d64::Inflate(tc.Packed, piece, &c);
      } catch (...) {
        threw = true;
      }
      EXPECT_FALSE(threw) << tc.What;
      EXPECT_EQ(std::string(c.Out.begin(), c.Out.end()), tc.Before) << tc.What << " piece " << piece;
    }
  }
}

TEST(Deflate64Streams, RefusedWriteRaisesWriteError) {
  TBitWriter w;
  FixedHeader(w, true);
  Literals(w, FixedLit(), "a");
  FixedLit().Emit(w, 285);
  w.Put(0xFFFF, 16);
  FixedDist().Emit(w, 0);
  FixedLit().Emit(w, 256);
  for (int32_t after : {0, 1}) {  // the full window, and the rest at the end
    d64::TCollector c;
    c.RefuseAfter = after;
    int32_t code = 0;
    c.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t ECode) {
      code = ECode;
    };
    EXPECT_THROW(d64::Inflate(w.Bytes(), 65536, &c), E_RAISE) << after;
    EXPECT_EQ(code, 25136);
  }
}

TEST(Deflate64Streams, CancelStopsTheEntryAndStillWritesWhatWasDecoded) {
  TBitWriter w;
  FixedHeader(w, true);
  Literals(w, FixedLit(), "a");
  for (int i = 0; i < 4; ++i) {
    FixedLit().Emit(w, 285);
    w.Put(0xFFFF, 16);
    FixedDist().Emit(w, 0);
  }
  FixedLit().Emit(w, 256);
  d64::TCollector c;
  c.CancelAfterWrites = 1;
  EXPECT_NO_THROW(d64::Inflate(w.Bytes(), 65536, &c));
  EXPECT_GE(c.Out.size(), 65536u);
  EXPECT_LT(c.Out.size(), 4u * 65538u + 1u);
  EXPECT_EQ(c.Writes, 1);  // the cancel came with the full window; nothing was decoded after it
  EXPECT_EQ(c.Out.size(), 65536u);
}

}  // namespace
