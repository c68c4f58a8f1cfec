// Hand-built streams for every path of the block decoder, each fed whole, one byte per call and
// in odd-sized chunks, with the result and output it must give.
#include <gtest/gtest.h>

#include <functional>

#include "tests/archive/inflate_test_util.h"

using namespace inflate_test;

namespace {

// Fixed code of block type 1.
void FixedSym(TBitWriter& W, uint32_t Sym) {
  if (Sym < 144) W.Code(0x30 + Sym, 8);
  else if (Sym < 256) W.Code(0x190 + Sym - 144, 9);
  else if (Sym < 280) W.Code(Sym - 256, 7);
  else W.Code(0xc0 + Sym - 280, 8);
}

void FixedHeader(TBitWriter& W, bool Last) { W.Put(Last ? 1 : 0, 1).Put(1, 2); }

// Lengths of a complete code-length code: symbols 0-12 four bits, 13-18 five bits.
std::vector<uint8_t> CodeLengthLens() {
  std::vector<uint8_t> l(19, 4);
  for (int i = 13; i < 19; ++i) l[i] = 5;
  return l;
}

constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A dynamic block header: HLIT/HDIST as sent, the code-length code lengths (natural order) and
// the code-length symbols with the value of their extra bits.
struct TClSym {
  uint32_t Sym;
  uint32_t Extra;
};
void DynamicHeader(TBitWriter& W, bool Last, uint32_t Hlit, uint32_t Hdist, const std::vector<uint8_t>& ClLens,
                   const std::vector<TClSym>& Syms) {
  W.Put(Last ? 1 : 0, 1).Put(2, 2).Put(Hlit, 5).Put(Hdist, 5).Put(15, 4);
  for (uint8_t s : kOrder) W.Put(ClLens[s], 3);
  const std::vector<uint32_t> codes = CanonicalCodes(ClLens);
  for (const TClSym& s : Syms) {
    W.Code(codes[s.Sym], ClLens[s.Sym]);
    if (s.Sym == 16) W.Put(s.Extra, 2);
    if (s.Sym == 17) W.Put(s.Extra, 3);
    if (s.Sym == 18) W.Put(s.Extra, 7);
  }
}

// Code-length symbols that spell Lens out one by one.
std::vector<TClSym> Spell(const std::vector<uint8_t>& Lens) {
  std::vector<TClSym> v;
  for (uint8_t l : Lens) v.push_back({l, 0});
  return v;
}

// A small valid dynamic code: literals 'a' 'b' and end of block at 2 bits, length code 257 at 2
// bits; distance codes 0 and 1 at one bit each.
std::vector<uint8_t> SmallLitLens() {
  std::vector<uint8_t> l(258, 0);
  l['a'] = 2;
  l['b'] = 2;
  l[256] = 2;
  l[257] = 2;
  return l;
}

struct TCase {
  const char* What;
  std::function<Bytes()> Make;
  int32_t Code;
  Bytes Out;
};

std::vector<TCase> Cases() {
  std::vector<TCase> v;
  v.push_back({"empty stored last block", [] { TBitWriter w; w.Put(1, 1).Put(0, 2).Align().Put(0, 16).Put(0xffff, 16); return w.Finish(); }, siStreamEnd, {}});
  v.push_back({"stored block then fixed block",
               [] {
                 TBitWriter w;
                 w.Put(0, 1).Put(0, 2).Align().Put(3, 16).Put(0xfffc, 16).Byte('a').Byte('b').Byte('c');
                 FixedHeader(w, true);
                 FixedSym(w, 'd');
                 FixedSym(w, 256);
                 return w.Finish();
               },
               siStreamEnd, Str("abcd")});
  v.push_back({"stored length and complement disagree", [] { TBitWriter w; w.Put(1, 1).Put(0, 2).Align().Put(3, 16).Put(0xfffd, 16).Byte('a').Byte('b').Byte('c'); return w.Finish(); }, siDataError, {}});
  v.push_back({"reserved block type", [] { TBitWriter w; w.Put(1, 1).Put(3, 2); return w.Finish(); }, siDataError, {}});
  v.push_back({"fixed literals and an overlapping match",
               [] {
                 TBitWriter w;
                 FixedHeader(w, true);
                 FixedSym(w, 'x');
                 FixedSym(w, 'y');
                 FixedSym(w, 266);  // length 13 + 1 extra bit
                 w.Put(1, 1);
                 w.Code(1, 5);  // distance 2
                 FixedSym(w, 256);
                 return w.Finish();
               },
               siStreamEnd, Str("xyxyxyxyxyxyxyxy")});
  v.push_back({"fixed length code 286", [] { TBitWriter w; FixedHeader(w, true); FixedSym(w, 'a'); FixedSym(w, 286); return w.Finish(); }, siDataError, Str("a")});
  v.push_back({"fixed distance code 30",
               [] { TBitWriter w; FixedHeader(w, true); FixedSym(w, 'a'); FixedSym(w, 257); w.Code(30, 5); FixedSym(w, 256); return w.Finish(); },
               siDataError, Str("a")});
  v.push_back({"distance before the stream start reads zeros",
               [] { TBitWriter w; FixedHeader(w, true); FixedSym(w, 'a'); FixedSym(w, 257); w.Code(4, 5); w.Put(0, 1); FixedSym(w, 256); return w.Finish(); },
               siStreamEnd, Bytes{'a', 0, 0, 0}});
  v.push_back({"maximum length 258 at distance 1",
               [] { TBitWriter w; FixedHeader(w, true); FixedSym(w, 'z'); FixedSym(w, 285); w.Code(0, 5); FixedSym(w, 256); return w.Finish(); },
               siStreamEnd, Bytes(259, 'z')});
  v.push_back({"last block missing", [] { TBitWriter w; FixedHeader(w, false); FixedSym(w, 'q'); FixedSym(w, 256); return w.Finish(); }, siBufError, Str("q")});
  v.push_back({"block cut in the middle", [] { TBitWriter w; FixedHeader(w, true); FixedSym(w, 'q'); FixedSym(w, 'r'); return w.Finish(); }, siBufError, Str("qr")});

  auto dyn = [](uint32_t Hlit, uint32_t Hdist, std::vector<uint8_t> Cl, std::vector<TClSym> Syms, bool Body) {
    return [=] {
      TBitWriter w;
      DynamicHeader(w, true, Hlit, Hdist, Cl, Syms);
      if (Body) {
        // 'a' 'b', a match of 3 at distance 2, end of block (codes from SmallLitLens).
        const auto lc = CanonicalCodes(SmallLitLens());
        w.Code(lc['a'], 2).Code(lc['b'], 2).Code(lc[257], 2).Code(1, 1).Code(lc[256], 2);
      }
      return w.Finish();
    };
  };
  std::vector<uint8_t> lens = SmallLitLens();
  lens.push_back(1);
  lens.push_back(1);
  v.push_back({"dynamic block", dyn(1, 1, CodeLengthLens(), Spell(lens), true), siStreamEnd, Str("ababa")});
  {
    // The same literal/length lengths through repeat codes 17 and 18, and four two-bit distance
    // codes through 16.
    std::vector<TClSym> s = {{18, 97 - 11}, {2, 0}, {2, 0}, {18, 127}, {17, 7}, {17, 6}, {2, 0}, {2, 0}, {2, 0}};
    auto body = [](TBitWriter& w) {
      const auto lc = CanonicalCodes(SmallLitLens());
      w.Code(lc['a'], 2).Code(lc['b'], 2).Code(lc[257], 2).Code(1, 2).Code(lc[256], 2);
    };
    auto make = [body](std::vector<TClSym> Syms) {
      return [=] {
        TBitWriter w;
        DynamicHeader(w, true, 1, 3, CodeLengthLens(), Syms);
        body(w);
        return w.Finish();
      };
    };
    s.push_back({16, 0});
    v.push_back({"dynamic block built with repeat codes", make(s), siStreamEnd, Str("ababa")});
    s.back() = {16, 1};
    v.push_back({"repeat past the last length", make(s), siDataError, {}});
  }
  v.push_back({"HLIT of 30", dyn(30, 1, CodeLengthLens(), {}, false), siDataError, {}});
  v.push_back({"HDIST of 31", dyn(1, 31, CodeLengthLens(), {}, false), siDataError, {}});
  {
    std::vector<uint8_t> cl = CodeLengthLens();
    cl[0] = 3;
    v.push_back({"over-subscribed code-length code", dyn(1, 1, cl, {}, false), siDataError, {}});
    cl = CodeLengthLens();
    cl[18] = 0;
    v.push_back({"incomplete code-length code", dyn(1, 1, cl, {}, false), siDataError, {}});
    cl.assign(19, 0);
    cl[8] = 1;
    v.push_back({"code-length code of a single one-bit code", dyn(1, 1, cl, {}, false), siDataError, {}});
    cl.assign(19, 0);
    v.push_back({"code-length code without codes", dyn(1, 1, cl, {}, false), siDataError, {}});
  }
  v.push_back({"repeat of the previous length first", dyn(1, 1, CodeLengthLens(), {{16, 0}}, false), siDataError, {}});
  {
    std::vector<uint8_t> l = lens;
    l['c'] = 2;
    v.push_back({"over-subscribed literal/length code", dyn(1, 1, CodeLengthLens(), Spell(l), false), siDataError, {}});
    l = lens;
    l['b'] = 3;
    v.push_back({"incomplete literal/length code", dyn(1, 1, CodeLengthLens(), Spell(l), false), siDataError, {}});
    l = lens;
    l[256] = 0;
    l['c'] = 2;
    v.push_back({"no end-of-block code", dyn(1, 1, CodeLengthLens(), Spell(l), false), siDataError, {}});
  }
  {
    // Literal/length lengths complete, distance code of two codes where one is missing: 1 and 2.
    std::vector<uint8_t> l = SmallLitLens();
    l.push_back(1);
    l.push_back(2);
    v.push_back({"incomplete distance code", dyn(1, 1, CodeLengthLens(), Spell(l), false), siDataError, {}});
    l.pop_back();
    l.pop_back();
    l.push_back(1);
    l.push_back(0);
    // Accepted, but the body then sends the missing half as its distance code.
    v.push_back({"a lone one-bit distance code and its missing half", dyn(1, 1, CodeLengthLens(), Spell(l), true), siDataError, Str("ab")});
    l.pop_back();
    l.pop_back();
    l.push_back(0);
    l.push_back(0);
    v.push_back({"no distance code although length codes are listed", dyn(1, 1, CodeLengthLens(), Spell(l), false), siDataError, {}});
  }
  {
    // 286 literal/length codes all 15 bits long: their root table alone takes 32768 entries.
    std::vector<uint8_t> l(286, 15);
    l.push_back(1);
    v.push_back({"code lengths that need more than the table area", dyn(29, 0, CodeLengthLens(), Spell(l), false), siMemError, {}});
  }
  v.push_back({"literals only, no distance code",
               [] {
                 std::vector<uint8_t> l(257, 0);
                 l['k'] = 1;
                 l[256] = 1;
                 l.push_back(0);
                 TBitWriter w;
                 DynamicHeader(w, true, 0, 0, CodeLengthLens(), Spell(l));
                 w.Code(0, 1).Code(0, 1).Code(1, 1);
                 return w.Finish();
               },
               siStreamEnd, Str("kk")});
  v.push_back({"the empty half of a lone one-bit code is an invalid code",
               [] {
                 std::vector<uint8_t> l(257, 0);
                 l[256] = 1;
                 l.push_back(0);
                 TBitWriter w;
                 DynamicHeader(w, true, 0, 0, CodeLengthLens(), Spell(l));
                 w.Code(1, 1);
                 return w.Finish();
               },
               siDataError, {}});
  return v;
}

TEST(InflateStreams, EveryCaseInEveryStepSize) {
  for (const TCase& c : Cases()) {
    const Bytes in = c.Make();
    for (size_t step : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{7}}) {
      SCOPED_TRACE(std::string(c.What) + ", step " + std::to_string(step));
      const TDecodeResult r = Decode(in, -15, step, step);
      EXPECT_EQ(r.Code, c.Code);
      EXPECT_EQ(r.Out, c.Out);
      if (c.Code == siStreamEnd) {
        EXPECT_EQ(r.TotalIn, in.size());
      }
    }
  }
}

// The final code of a raw stream may end exactly at the end of its input, with fewer bits left
// than the lookup width: no extra byte may be needed to finish.
TEST(InflateStreams, FinalShortCodeEndsTheInput) {
  TBitWriter w;
  FixedHeader(w, true);
  FixedSym(w, 'a');
  FixedSym(w, 256);  // 3 + 8 + 7 = 18 bits: 2 bits in the last byte
  const Bytes in = w.Finish();
  ASSERT_EQ(in.size(), 3u);
  for (size_t step : {size_t{0}, size_t{1}}) {
    const TDecodeResult r = Decode(in, -15, step, step);
    EXPECT_EQ(r.Code, siStreamEnd);
    EXPECT_EQ(r.Out, Str("a"));
  }
}

TEST(InflateStreams, DistanceBeyondASmallWindow) {
  // 600 literals, then a match at distance 513, which a 512-byte window cannot hold.
  auto make = [](uint32_t DistCode, uint32_t Extra, uint32_t ExtraBits) {
    TBitWriter w;
    FixedHeader(w, true);
    for (int i = 0; i < 600; ++i) FixedSym(w, 'a' + i % 26);
    FixedSym(w, 257);
    w.Code(DistCode, 5).Put(Extra, ExtraBits);
    // Input left after the match, so that the fast loop meets it as well as the careful one.
    for (int i = 0; i < 100; ++i) FixedSym(w, '0' + i % 10);
    FixedSym(w, 256);
    return w.Finish();
  };
  const Bytes far = make(18, 0, 8);     // distance 513
  const Bytes edge = make(17, 127, 7);  // distance 385 + 127 = 512
  EXPECT_EQ(Decode(far, -9).Code, siDataError);
  EXPECT_EQ(Decode(far, -9, 1, 1).Code, siDataError);
  const TDecodeResult ok = Decode(far, -10);
  ASSERT_EQ(ok.Code, siStreamEnd);
  EXPECT_EQ(ok.Out.size(), 703u);
  EXPECT_EQ(ok.Out[600], ok.Out[600 - 513]);
  const TDecodeResult e9 = Decode(edge, -9, 5, 3);
  ASSERT_EQ(e9.Code, siStreamEnd);
  EXPECT_EQ(e9.Out.size(), 703u);
  EXPECT_EQ(e9.Out[602], e9.Out[602 - 512]);
}

// A match that reaches the full 32768 bytes back, both through the fast loop and byte by byte.
TEST(InflateStreams, DistanceOfTheWholeWindow) {
  TBitWriter w;
  w.Put(0, 1).Put(0, 2).Align();
  Bytes data;
  for (int blk = 0; blk < 2; ++blk) {
    w.Put(16384, 16).Put(0xffff - 16384, 16);
    for (int i = 0; i < 16384; ++i) {
      const uint8_t b = static_cast<uint8_t>(i * 7 + blk * 3 + (i >> 8));
      w.Byte(b);
      data.push_back(b);
    }
    if (blk == 0) w.Put(0, 1).Put(0, 2).Align();
  }
  FixedHeader(w, true);
  // Distances of the whole window and just short of it, where bytes stored past a match would be
  // read back by the next one.
  for (int i = 0; i < 40; ++i) {
    const uint32_t extra = i % 2 == 0 ? 8191 : 8188 + i % 3;
    FixedSym(w, 285);
    w.Code(29, 5).Put(extra, 13);  // distance 24577 + extra
    for (int k = 0; k < 258; ++k) data.push_back(data[data.size() - 24577 - extra]);
  }
  FixedSym(w, 256);
  const Bytes in = w.Finish();
  for (int wbits : {15, -15}) {
    const TDecodeResult whole = Decode(in, wbits > 0 ? -wbits : wbits);
    ASSERT_EQ(whole.Code, siStreamEnd);
    EXPECT_EQ(whole.Out, data);
  }
  const TDecodeResult bytes = Decode(in, -15, 1, 1);
  ASSERT_EQ(bytes.Code, siStreamEnd);
  EXPECT_EQ(bytes.Out, data);
}

}  // namespace
