// CRC-32 and CRC-16/ARC: the published check values, and the block routine's agreement with the
// one-byte step it replaces (a fast path that differs on odd lengths or alignments would
// corrupt every entry's check without anyone noticing until extraction).
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "archive/qrnCrypt.h"

namespace {

uint32_t ByteStepCrc(const uint8_t* p, size_t n, uint32_t crc) {
  for (size_t i = 0; i < n; ++i) crc = Crc32Step(p[i], crc);
  return crc;
}

TEST(Crc, CheckValuesOfAbc) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  uint32_t crc = 0xFFFFFFFFu;
  Crc32Update(abc, 3, crc);
  EXPECT_EQ(crc ^ 0xFFFFFFFFu, 0x352441C2u);

  uint32_t crc16 = 0;
  const uint8_t* after = Crc16Update(abc, 3, crc16);
  EXPECT_EQ(crc16, 0x9738u);
  EXPECT_EQ(after, abc + 3);
  // "123456789" is the catalogue check string of both algorithms.
  const char* digits = "123456789";
  crc = 0xFFFFFFFFu;
  Crc32Update(digits, 9, crc);
  EXPECT_EQ(crc ^ 0xFFFFFFFFu, 0xCBF43926u);
  crc16 = 0;
  Crc16Update(digits, 9, crc16);
  EXPECT_EQ(crc16, 0xBB3Du);
}

TEST(Crc, TableIsTheReflectedPolynomialTable) {
  EXPECT_EQ(Crc32Table[0], 0u);
  EXPECT_EQ(Crc32Table[1], 0x77073096u);
  EXPECT_EQ(Crc32Table[128], 0xEDB88320u);
  EXPECT_EQ(Crc32Table[255], 0x2D02EF8Du);
  EXPECT_EQ(Crc16Table[1], 0xC0C1u);
  EXPECT_EQ(Crc16Table[255], 0x4040u);
}

TEST(Crc, EmptyBlockLeavesRegisterAlone) {
  uint32_t crc = 0x12345678u;
  Crc32Update(nullptr, 0, crc);
  EXPECT_EQ(crc, 0x12345678u);
  uint32_t crc16 = 0xBEEFu;
  Crc16Update(nullptr, 0, crc16);
  EXPECT_EQ(crc16, 0xBEEFu);
}

TEST(Crc, BlockRoutineEqualsByteStepAtEveryLengthAndAlignment) {
  std::mt19937 rng(20261208);
  std::vector<uint8_t> data(70000);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  const size_t lengths[] = {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 63, 64, 65, 255, 256, 1023, 4097, 65537, 69990};
  for (size_t offset = 0; offset < 9; ++offset) {
    for (size_t n : lengths) {
      // Start from a register that is not the usual one: the routine must not assume it.
      const uint32_t start = static_cast<uint32_t>(rng());
      uint32_t crc = start;
      Crc32Update(data.data() + offset, n, crc);
      ASSERT_EQ(crc, ByteStepCrc(data.data() + offset, n, start)) << "offset " << offset << " length " << n;
    }
  }
}

TEST(Crc, SplitBlocksChainLikeOneBlock) {
  std::mt19937 rng(7);
  std::vector<uint8_t> data(10007);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  uint32_t whole = 0xFFFFFFFFu;
  Crc32Update(data.data(), data.size(), whole);
  uint32_t pieces = 0xFFFFFFFFu;
  for (size_t at = 0; at < data.size();) {
    size_t n = std::min<size_t>(1 + rng() % 999, data.size() - at);
    Crc32Update(data.data() + at, n, pieces);
    at += n;
  }
  EXPECT_EQ(whole, pieces);
  // Against zlib, which keeps its register complemented.
  EXPECT_EQ(whole ^ 0xFFFFFFFFu, crc32(0, data.data(), static_cast<uInt>(data.size())));

  uint32_t crc16Whole = 0;
  Crc16Update(data.data(), data.size(), crc16Whole);
  uint32_t crc16Pieces = 0;
  const uint8_t* p = data.data();
  p = Crc16Update(p, 5000, crc16Pieces);
  Crc16Update(p, data.size() - 5000, crc16Pieces);
  EXPECT_EQ(crc16Whole, crc16Pieces);
  EXPECT_LE(crc16Whole, 0xFFFFu);
}

}  // namespace
