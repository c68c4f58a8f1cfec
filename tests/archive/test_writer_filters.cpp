// The writer's filter streams: deflating through TCompressStream gives raw deflate data that
// zlib inflates back, with the CRC of the input; the store copy moves 102400-byte blocks,
// counts them off the bytes left and reports progress per block, and answers 0 for its position;
// a set cancel flag stops both.
#include <gtest/gtest.h>
#include <zlib.h>

#include "archive/qrnCrypt.h"
#include "archive/qrnFilters.h"
#include "tests/archive/writer_fixture.h"

using namespace writerfixture;

namespace {

std::string Inflate(const uint8_t* data, size_t n) {
  z_stream z{};
  inflateInit2(&z, -15);
  std::string out(1 << 22, '\0');
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(n);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return rc == Z_STREAM_END ? out : "<bad stream>";
}

uint32_t Crc(const std::string& s) {
  uint32_t c = 0xFFFFFFFFu;
  Crc32Update(s.data(), s.size(), c);
  return c ^ 0xFFFFFFFFu;
}

TEST(WriterFilters, DeflateFileRoundTripsAndGivesTheCrc) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{131070 * 3 + 5}}) {
    Folder d;
    const std::string plain = Random(size / 2, 9) + Text(size - size / 2);
    Put(d / "in", plain);
    TFileStream32 in(d / "in", 0x20);
    TMemoryStream32 out;
    int64_t left = static_cast<int64_t>(size);
    bool cancel = false;
    TFilterState st;
    st.BytesLeft = &left;
    st.Cancel = &cancel;
    uint32_t crc = 0xFFFFFFFFu;
    // Every level, pooled deflate states included, gives a valid stream of the same bytes.
    for (TDeflateType t : {dtDeflateF, dtDeflateN, dtDeflateX, dtDeflateN}) {
      out.Clear();
      left = static_cast<int64_t>(size);
      EXPECT_TRUE(DeflateFile(&in, &out, st, crc, t, nullptr, -15));
      EXPECT_EQ(crc, Crc(plain));
      EXPECT_EQ(left, 0);
      EXPECT_EQ(Inflate(out.Memory(), static_cast<size_t>(out.Size())), plain) << size << " " << t;
    }
  }
}

TEST(WriterFilters, StoreCopiesInBlocksCountsDownAndReports) {
  Folder d;
  const std::string plain = Random(250000, 4);
  Put(d / "in", plain);
  TFileStream32 in(d / "in", 0x20);
  TMemoryStream32 out;
  int64_t left = 1000000;
  bool cancel = false;
  TFilterState st;
  st.BytesLeft = &left;
  st.Cancel = &cancel;
  int reports = 0;
  TStoreStream store(&out, 32, st, &cancel, [&](TObject*) { ++reports; });
  store.StoreFrom(&in);
  EXPECT_EQ(reports, 3);
  EXPECT_EQ(left, 750000);
  EXPECT_EQ(store.Crc ^ 0xFFFFFFFFu, Crc(plain));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size())), plain);
}

TEST(WriterFilters, StoreStreamAnswersZeroForItsPositionAndRefusesOtherSeeks) {
  // Callers read a filter stream's position as the input consumed so far; the store stream
  // counts none, so it must answer 0, not an error.
  Folder d;
  Put(d / "in", Random(5000, 6));
  TFileStream32 in(d / "in", 0x20);
  TMemoryStream32 out;
  bool cancel = false;
  TFilterState st;
  TStoreStream store(&out, 32, st, &cancel, nullptr);
  EXPECT_EQ(store.Seek(0, soFromCurrent), 0);
  store.StoreFrom(&in);
  EXPECT_EQ(store.Seek(0, soFromCurrent), 0);
  EXPECT_EQ(store.Seek(int64_t{0}, soCurrent), 0);
  EXPECT_EQ(store.Seek(0, soFromBeginning), -1);
  EXPECT_EQ(store.Seek(10, soFromCurrent), -1);
  EXPECT_EQ(out.Size(), 5000);
}

TEST(WriterFilters, CancelStopsDeflateAndStore) {
  Folder d;
  Put(d / "in", Text(2000000));
  TFileStream32 in(d / "in", 0x20);
  TMemoryStream32 out;
  int64_t left = 0;
  bool cancel = false;
  TFilterState st;
  st.BytesLeft = &left;
  st.Cancel = &cancel;
  uint32_t crc = 0;
  int calls = 0;
  EXPECT_FALSE(DeflateFile(&in, &out, st, crc, dtDeflateN, [&](TObject*) { if (++calls == 2) cancel = true; }, -15));
  EXPECT_LT(-left, 2000000);
  cancel = false;
  TMemoryStream32 out2;
  TStoreStream store(&out2, 32, st, &cancel, [&](TObject*) { cancel = true; });
  store.StoreFrom(&in);
  EXPECT_EQ(out2.Size(), kStoreBlockSize);
}

TEST(WriterFilters, CrcPassNeitherCountsNorReports) {
  Folder d;
  const std::string plain = Text(300000);
  Put(d / "in", plain);
  TFileStream32 in(d / "in", 0x20);
  int64_t left = 5;
  bool cancel = false;
  TFilterState st;
  st.BytesLeft = &left;
  int reports = 0;
  in.ActiveProgressHandler = [&](TObject*) { ++reports; };
  const uint32_t reg = CalcStreamCRC(&in, st, &cancel, [&](TObject*) { ++reports; }, 0);
  EXPECT_EQ(reg ^ 0xFFFFFFFFu, Crc(plain));
  EXPECT_EQ(left, 5);
  EXPECT_EQ(reports, 0);
  EXPECT_EQ(in.Position(), 0);
}

}  // namespace
