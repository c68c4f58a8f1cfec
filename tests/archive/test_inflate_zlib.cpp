// The decoder against zlib's own streams: every level, strategy, memory level and window size,
// random and compressible data, fed whole, in odd chunks and one byte per call.
#include <gtest/gtest.h>

#include <random>

#include "tests/archive/inflate_test_util.h"

using namespace inflate_test;

namespace {

Bytes MakeData(std::mt19937& Rng, size_t Size, int Kind) {
  Bytes b(Size);
  static const char* const words[] = {"alpha ", "beta ", "gamma\n", "delta, ", "backup ", "{ return 0; }\n"};
  size_t i = 0;
  while (i < Size) {
    switch (Kind) {
      case 0:  // incompressible
        b[i++] = static_cast<uint8_t>(Rng());
        break;
      case 1: {  // text-like
        for (const char* w = words[Rng() % 6]; *w && i < Size; ++w) b[i++] = static_cast<uint8_t>(*w);
        break;
      }
      case 2: {  // runs and short periods, for distances below the word size
        const size_t run = 1 + Rng() % 300;
        const size_t period = 1 + Rng() % 9;
        for (size_t k = 0; k < run && i < Size; ++k, ++i) b[i] = static_cast<uint8_t>(k % period);
        break;
      }
      default: {  // small alphabet with far repeats
        if (i > 40000 && Rng() % 4 == 0) {
          const size_t from = i - 32768 + Rng() % 200;
          for (size_t k = 0; k < 100 && i < Size; ++k) b[i++] = b[from + k];
        } else {
          b[i++] = static_cast<uint8_t>('a' + Rng() % 5);
        }
      }
    }
  }
  return b;
}

// Decoding with the stream's own window and with the largest one, whole and in pieces.
void CheckStream(const Bytes& Data, const Bytes& Packed, int WBits, std::mt19937& Rng, bool ByteSteps) {
  const TDecodeResult whole = Decode(Packed, -WBits);
  ASSERT_EQ(whole.Code, siStreamEnd);
  ASSERT_EQ(whole.Out, Data);
  EXPECT_EQ(whole.TotalIn, Packed.size());
  EXPECT_EQ(whole.TotalOut, Data.size());
  if (WBits != 15) {
    ASSERT_EQ(Decode(Packed, -15).Out, Data);
  }
  const TDecodeResult chunks = Decode(Packed, -WBits, 1 + Rng() % 97, 1 + Rng() % 331);
  ASSERT_EQ(chunks.Code, siStreamEnd);
  ASSERT_EQ(chunks.Out, Data);
  if (ByteSteps) {
    const TDecodeResult bytes = Decode(Packed, -WBits, 1, 1);
    ASSERT_EQ(bytes.Code, siStreamEnd);
    ASSERT_EQ(bytes.Out, Data);
  }
}

TEST(InflateZlib, ManySmallStreamsOfEveryKind) {
  std::mt19937 rng(12345);
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  int streams = 0;
  for (int level = 0; level <= 9; ++level) {
    for (int strategy : strategies) {
      for (int round = 0; round < 40; ++round) {
        const int wbits = 9 + static_cast<int>(rng() % 7);
        const int memLevel = 1 + static_cast<int>(rng() % 9);
        const size_t size = round < 3 ? round : static_cast<size_t>(rng() % (round % 4 == 0 ? 70000 : 3000));
        const Bytes data = MakeData(rng, size, static_cast<int>(rng() % 4));
        const Bytes packed = ZlibDeflate(data, level, -wbits, memLevel, strategy);
        ASSERT_FALSE(packed.empty());
        SCOPED_TRACE("level " + std::to_string(level) + " strategy " + std::to_string(strategy) + " wbits " +
                     std::to_string(wbits) + " size " + std::to_string(size));
        CheckStream(data, packed, wbits, rng, size < 1500);
        ++streams;
      }
    }
  }
  EXPECT_EQ(streams, 2000);
}

TEST(InflateZlib, LargeStreams) {
  std::mt19937 rng(99);
  for (int kind = 0; kind < 4; ++kind) {
    const Bytes data = MakeData(rng, (3u << 20) / 2 + rng() % 5000, kind);
    for (int level : {1, 6, 9}) {
      const Bytes packed = ZlibDeflate(data, level, -15, 8, Z_DEFAULT_STRATEGY);
      SCOPED_TRACE("kind " + std::to_string(kind) + " level " + std::to_string(level));
      const TDecodeResult whole = Decode(packed, -15);
      ASSERT_EQ(whole.Code, siStreamEnd);
      ASSERT_EQ(whole.Out, data);
      // Small odd output pieces keep the window partly undelivered while decoding goes on.
      const TDecodeResult pieces = Decode(packed, -15, 4093, 777);
      ASSERT_EQ(pieces.Code, siStreamEnd);
      ASSERT_EQ(pieces.Out, data);
    }
  }
}

TEST(InflateZlib, WrappedStreamsCarryTheirAdler32) {
  std::mt19937 rng(5);
  for (int round = 0; round < 60; ++round) {
    const int wbits = 9 + round % 7;
    const Bytes data = MakeData(rng, rng() % 20000, round % 4);
    Bytes packed = ZlibDeflate(data, round % 10, wbits, 8, Z_DEFAULT_STRATEGY);
    const uint32_t adler = static_cast<uint32_t>(adler32(adler32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size())));
    for (size_t chunk : {size_t{0}, size_t{1}, size_t{13}}) {
      const TDecodeResult good = Decode(packed, wbits, chunk, chunk ? chunk + 2 : 0);
      ASSERT_EQ(good.Code, siStreamEnd);
      ASSERT_EQ(good.Out, data);
      EXPECT_EQ(good.Check, adler);
      EXPECT_EQ(good.TotalIn, packed.size());
    }
    // A window smaller than the header asks for is refused at the header.
    if (wbits > 9) {
      EXPECT_EQ(Decode(packed, wbits - 1).Code, siDataError);
    }
    // A wrong check value fails only after every byte of data was delivered.
    packed[packed.size() - 1 - round % 4] ^= static_cast<uint8_t>(1 + round % 255);
    for (size_t chunk : {size_t{0}, size_t{1}}) {
      const TDecodeResult bad = Decode(packed, wbits, chunk, chunk);
      EXPECT_EQ(bad.Code, siDataError);
      EXPECT_EQ(bad.Out, data);
    }
  }
}

}  // namespace
