// The decompress stream: what the reader gets out of an entry's deflated bytes.
#include <gtest/gtest.h>

#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "archive/qrnCrypt.h"
#include "archive/qrnFilters.h"
#include "archive/qrnStreams.h"

namespace {

std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& in, int level = 6) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&z, in.size()) + 16);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::vector<uint8_t> Sample(size_t n) {
  std::mt19937 rng(7);
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = (i % 3000 < 1500) ? static_cast<uint8_t>("backup "[i % 7]) : static_cast<uint8_t>(rng());
  return v;
}

void Fill(TMemoryStream32& s, const std::vector<uint8_t>& bytes) {
  s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  s.SetPosition(0);
}

// Reads the whole entry as the reader does, in pieces of 32768 bytes.
std::vector<uint8_t> ReadAll(TDecompressStream& d, int32_t* lastResult = nullptr) {
  std::vector<uint8_t> out;
  uint8_t buf[32768];
  for (;;) {
    int32_t r = d.Read(buf, sizeof buf);
    if (lastResult) *lastResult = r;
    if (r < 0) break;
    out.insert(out.end(), buf, buf + (sizeof buf - d.OutputSpaceLeft()));
    if (d.State.EndOfStream) break;
  }
  return out;
}

TEST(DecompressStream, InflatesAnEntryAndLeavesTheSourceRightAfterIt) {
  const auto plain = Sample(300000);
  auto packed = RawDeflate(plain);
  const size_t packedSize = packed.size();
  packed.insert(packed.end(), {'P', 'K', 1, 2, 9, 9, 9});  // the next record follows the data
  TMemoryStream32 src;
  Fill(src, packed);
  {
    TDecompressStream d(&src, -15);
    EXPECT_EQ(ReadAll(d), plain);
    EXPECT_TRUE(d.State.EndOfStream);
    // After the end, reading produces nothing more and keeps saying so.
    uint8_t buf[16];
    EXPECT_EQ(d.Read(buf, 16), 16);
    EXPECT_EQ(d.OutputSpaceLeft(), 16u);
  }
  EXPECT_EQ(src.Position(), static_cast<int64_t>(packedSize));
}

TEST(DecompressStream, DeciphersEncryptedEntries) {
  const auto plain = Sample(70000);
  auto packed = RawDeflate(plain, 9);
  InitKeys("geheim");
  EncryptBuffer(packed.data(), packed.size());
  TMemoryStream32 src;
  Fill(src, packed);
  InitKeys("geheim");
  TDecompressStream d(&src, -15);
  d.State.Encrypted = true;
  EXPECT_EQ(ReadAll(d), plain);
}

TEST(DecompressStream, DataCutShortIsABufferErrorAndDamageADataError) {
  const auto plain = Sample(100000);
  auto packed = RawDeflate(plain);
  {
    TMemoryStream32 src;
    Fill(src, std::vector<uint8_t>(packed.begin(), packed.begin() + static_cast<long>(packed.size() / 2)));
    TDecompressStream d(&src, -15);
    int32_t last = 0;
    ReadAll(d, &last);
    EXPECT_EQ(last, siBufError);
    EXPECT_FALSE(d.State.EndOfStream);
  }
  {
    std::vector<uint8_t> bad = {0x07, 0xFF, 0xFF};  // block type 3 does not exist
    TMemoryStream32 src;
    Fill(src, bad);
    TDecompressStream d(&src, -15);
    int32_t last = 0;
    ReadAll(d, &last);
    EXPECT_EQ(last, siDataError);
  }
}

TEST(DecompressStream, SeekRestartsFromTheBeginningOrSkipsForward) {
  const auto plain = Sample(50000);
  TMemoryStream32 src;
  Fill(src, RawDeflate(plain));
  TDecompressStream d(&src, -15);
  uint8_t buf[1000];
  d.Read(buf, sizeof buf);
  EXPECT_EQ(d.Seek(int64_t{0}, soCurrent), 1000);
  EXPECT_EQ(d.Seek(int64_t{0}, soBeginning), 0);
  d.Read(buf, sizeof buf);
  EXPECT_TRUE(std::equal(buf, buf + sizeof buf, plain.begin()));
  EXPECT_EQ(d.Seek(int64_t{9000}, soCurrent), 10000);
  EXPECT_EQ(d.Seek(int64_t{20000}, soBeginning), 20000);
  d.Read(buf, sizeof buf);
  EXPECT_TRUE(std::equal(buf, buf + sizeof buf, plain.begin() + 20000));
  EXPECT_EQ(d.Seek(int64_t{5}, soBeginning), 21000);  // backwards: nothing changes
  EXPECT_THROW(d.Seek(int64_t{1} << 33, soCurrent), ERangeError);
  EXPECT_EQ(d.Write(buf, 1), -1);
}

}  // namespace
