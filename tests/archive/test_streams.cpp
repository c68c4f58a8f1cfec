// The 32-bit stream family: file streams that report a failed open by a negative handle, the
// exact-count reads and writes, the copy loop with its message pump and cancel flag, and the
// memory stream's growth rule.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "archive/qrnStreams.h"
#include "platform/hooks.h"
#include "tests/archive/zip_fixture.h"

namespace {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = std::filesystem::temp_directory_path() / "qrnstreamsXXXXXX";
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Installs a message pump for one test and removes it afterwards.
class PumpGuard {
 public:
  explicit PumpGuard(platform::MessagePump pump) { platform::SetMessagePump(std::move(pump)); }
  ~PumpGuard() { platform::SetMessagePump(nullptr); }
};

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
  return v;
}

std::vector<uint8_t> Contents(TMemoryStream32& m) {
  return std::vector<uint8_t>(m.Memory(), m.Memory() + m.Size());
}

void Fill(TMemoryStream32& m, const std::vector<uint8_t>& bytes) {
  m.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

bool DescriptorOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

// --- file streams --------------------------------------------------------------------------

TEST(FileStream, CreateWriteSeekReadAndTruncate) {
  TempDir dir;
  const auto data = Pattern(100000);
  {
    TFileStream32 f(dir.File("a.bin"), 0xFFFF);
    ASSERT_GE(f.Handle(), 0);
    f.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    EXPECT_EQ(f.Size(), 100000);
    EXPECT_EQ(f.Seek(int32_t{10}, soFromBeginning), 10);
    EXPECT_EQ(f.Seek(int32_t{-4}, soFromEnd), 99996);
    EXPECT_EQ(f.Seek(int32_t{-6}, soFromCurrent), 99990);
    uint8_t tail[10];
    EXPECT_EQ(f.Read(tail, 100), 10);  // a read at the end gives what is there
    EXPECT_EQ(std::memcmp(tail, data.data() + 99990, 10), 0);
    EXPECT_EQ(f.Read(tail, 10), 0);

    f.SetSize(int32_t{500});
    EXPECT_EQ(f.Size(), 500);
    EXPECT_EQ(f.Position(), 500);
  }
  EXPECT_EQ(std::filesystem::file_size(dir.File("a.bin")), 500u);
  // Creating over an existing file truncates it.
  { TFileStream32 f(dir.File("a.bin"), 0xFFFF); }
  EXPECT_EQ(std::filesystem::file_size(dir.File("a.bin")), 0u);
}

TEST(FileStream, FailedOpenGivesNegativeHandleAndNoException) {
  TempDir dir;
  {
    TFileStream32 f(dir.File("missing/folder/x.zip"), 0xFFFF);
    EXPECT_LT(f.Handle(), 0);
    uint8_t b = 0;
    EXPECT_EQ(f.Read(&b, 1), 0);
    EXPECT_EQ(f.Write(&b, 1), 0);
  }  // destroying it closes nothing
  TFileStream32 g(dir.File("absent.zip"), 0x20);
  EXPECT_LT(g.Handle(), 0);
  THandleStream32 h(dir.File("absent.zip"), 0x40);
  EXPECT_LT(h.Handle(), 0);
}

TEST(FileStream, OnlyTheFileStreamClosesItsDescriptor) {
  TempDir dir;
  { TFileStream32 make(dir.File("f"), 0xFFFF); }
  int fd = -1;
  {
    TFileStream32 f(dir.File("f"), 0x40);
    fd = f.Handle();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(f.ShareMode(), 0x40);
  }
  EXPECT_FALSE(DescriptorOpen(fd));
  {
    THandleStream32 h(dir.File("f"), 0x20);
    fd = h.Handle();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(h.ShareMode(), 0x20);
  }
  EXPECT_TRUE(DescriptorOpen(fd));
  close(fd);
}

TEST(FileStream, ShortCountsRaiseTheStreamErrors) {
  TempDir dir;
  const auto data = Pattern(10);
  { TFileStream32 f(dir.File("ten"), 0xFFFF); f.WriteBuffer(data.data(), 10); }
  TFileStream32 f(dir.File("ten"), 0x20);  // read only
  ASSERT_GE(f.Handle(), 0);
  std::vector<uint8_t> buf(11);
  try {
    f.ReadBuffer(buf.data(), 11);
    FAIL() << "a short read must raise";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  try {
    f.WriteBuffer(data.data(), 10);
    FAIL() << "a failed write must raise";
  } catch (const EWriteError& e) {
    EXPECT_STREQ(e.what(), "Stream write error");
  }
  // Truncating a file opened for reading fails, and that failure is not swallowed.
  EXPECT_THROW(f.SetSize(int64_t{2}), EInOutError);
  f.SetPosition(0);
  f.ReadBuffer(buf.data(), 0);  // nothing asked, nothing raised
  f.ReadBuffer(buf.data(), 10);
  EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 10), data);
}

TEST(FileStream, PositionsPast2GiBNeedThe64BitForm) {
  TempDir dir;
  TFileStream32 f(dir.File("sparse"), 0xFFFF);
  ASSERT_GE(f.Handle(), 0);
  const int64_t big = (int64_t{5} << 30) + 3;
  f.SetSize(big);  // sparse: takes no space
  EXPECT_EQ(f.Seek(int64_t{0}, soEnd), big);
  EXPECT_EQ(f.Size(), big);
  // The 32-bit result cannot hold this position: it must not come back cut short.
  EXPECT_THROW(f.Seek(int32_t{0}, soFromCurrent), ERangeError);
  EXPECT_EQ(f.Seek(int64_t{-3}, soCurrent), int64_t{5} << 30);
  f.SetSize(int32_t{0});
}

// A file opened for reading alone is read through blocks kept in memory. Guards against a read
// that crosses a block's edge, a region read again after the other one displaced it, or the
// short last block giving wrong bytes, a wrong count or a wrong position: a zip header can sit
// anywhere, and a reader walks the directory at the end and the local headers at the start in
// turn.
TEST(FileStream, ReadOnlyFilesReadTheSameThroughTheirBlocks) {
  TempDir dir;
  constexpr int32_t kBlock = THandleStream32::kReadBlockSize;
  const auto data = Pattern(3 * kBlock + 4321);
  const auto size = static_cast<int64_t>(data.size());
  {
    TFileStream32 w(dir.File("data"), 0xFFFF);
    w.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
  }
  TFileStream32 f(dir.File("data"), 0x20);
  ASSERT_GE(f.Handle(), 0);
  EXPECT_EQ(f.Size(), size);
  auto expectAt = [&](int64_t pos, int32_t count) {
    SCOPED_TRACE("read of " + std::to_string(count) + " at " + std::to_string(pos));
    ASSERT_EQ(f.Seek(pos, soBeginning), pos);
    std::vector<uint8_t> got(static_cast<size_t>(count) + 1, 0xEE);
    const int32_t n = f.Read(got.data(), count);
    const int32_t expected = static_cast<int32_t>(std::clamp<int64_t>(size - pos, 0, count));
    ASSERT_EQ(n, expected);
    EXPECT_EQ(f.Position(), pos + n);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + n, data.begin() + pos));
    EXPECT_EQ(got[static_cast<size_t>(n)], 0xEE);  // nothing written past what was read
  };
  // Headers across the first and the last block edges, in turn with reads far away.
  for (int32_t len : {1, 30, 46, 300}) {
    for (int64_t edge : {int64_t{kBlock}, int64_t{3} * kBlock}) {
      for (int64_t back = 1; back <= len; back += std::max(1, len / 3)) {
        expectAt(edge - back, len);
        expectAt(size - 10 - back, 46);
        expectAt(kBlock / 2 + back, len);
      }
    }
  }
  // Long reads that start in a kept block and go on past it, and ones that start in none.
  expectAt(kBlock - 5, 32768);
  expectAt(2 * kBlock + 7, kBlock + 100);
  expectAt(kBlock - 5, 3 * kBlock);
  // The short last block: reads that reach, straddle and pass the end of the file.
  expectAt(size - 46, 46);
  expectAt(size - 20, 46);
  expectAt(size, 10);
  expectAt(size + 5000, 10);
  expectAt(3 * kBlock - 1, 2);
  // Sequential small reads without seeks, the way a directory is walked.
  ASSERT_EQ(f.Seek(int64_t{kBlock - 100}, soBeginning), kBlock - 100);
  std::vector<uint8_t> walked;
  uint8_t piece[46];
  for (int32_t n; (n = f.Read(piece, 46)) > 0;) walked.insert(walked.end(), piece, piece + n);
  EXPECT_TRUE(std::equal(walked.begin(), walked.end(), data.begin() + (kBlock - 100), data.end()));
  EXPECT_EQ(static_cast<int64_t>(walked.size()), size - (kBlock - 100));
  // A position before the start is refused and the stream stays where it was.
  EXPECT_EQ(f.Seek(int64_t{-1}, soBeginning), -1);
  EXPECT_EQ(f.Position(), size);
}

// --- the copy loop -------------------------------------------------------------------------

TEST(CopyFrom, CountZeroCopiesTheWholeSourceFromItsBeginning) {
  TMemoryStream32 src;
  const auto data = Pattern(150000);
  Fill(src, data);
  src.SetPosition(12345);
  TMemoryStream32 dst;
  EXPECT_EQ(dst.CopyFrom(&src, 0), 150000);
  EXPECT_EQ(Contents(dst), data);

  // A non-zero count copies from where the source stands.
  src.SetPosition(100);
  TMemoryStream32 part;
  EXPECT_EQ(part.CopyFrom(&src, 1000), 1000);
  EXPECT_EQ(Contents(part), std::vector<uint8_t>(data.begin() + 100, data.begin() + 1100));
  EXPECT_EQ(src.Position(), 1100);
}

TEST(CopyFrom, EmptySourceCopiesNothing) {
  TMemoryStream32 src, dst;
  int pumped = 0;
  PumpGuard guard([&] { ++pumped; });
  EXPECT_EQ(dst.CopyFrom(&src, 0), 0);
  EXPECT_EQ(dst.Size(), 0);
  EXPECT_EQ(pumped, 0);
}

TEST(CopyFrom, PumpsBeforeEveryBlockOf61440) {
  TMemoryStream32 src;
  Fill(src, Pattern(3 * 61440 + 1));
  std::vector<int64_t> positionsAtPump;
  PumpGuard guard([&] { positionsAtPump.push_back(src.Position()); });
  TMemoryStream32 dst;
  dst.CopyFrom(&src, 0);
  EXPECT_EQ(positionsAtPump, (std::vector<int64_t>{0, 61440, 122880, 184320}));
  EXPECT_EQ(dst.Size(), 3 * 61440 + 1);
}

TEST(CopyFrom, CancelSetWhileMessagesRunStopsBeforeTheNextBlock) {
  TMemoryStream32 src;
  Fill(src, Pattern(200000));
  bool cancel = false;
  int pumped = 0;
  PumpGuard guard([&] {
    if (++pumped == 2) cancel = true;  // the user presses Cancel during the second pump
  });
  TMemoryStream32 dst;
  dst.CancelFlag = &cancel;
  EXPECT_EQ(dst.CopyFrom(&src, 0), 200000);  // the requested count, even after the stop
  EXPECT_EQ(dst.Size(), 61440);
  EXPECT_EQ(src.Position(), 61440);  // the next block was not read
  EXPECT_EQ(pumped, 2);

  // A flag that is already set copies nothing and pumps nothing.
  pumped = 0;
  TMemoryStream32 none;
  none.CancelFlag = &cancel;
  EXPECT_EQ(none.CopyFrom(&src, 5000), 5000);
  EXPECT_EQ(none.Size(), 0);
  EXPECT_EQ(pumped, 0);
}

TEST(CopyFrom, ShortSourceRaisesReadError) {
  TMemoryStream32 src;
  Fill(src, Pattern(100));
  src.SetPosition(0);
  TMemoryStream32 dst;
  EXPECT_THROW(dst.CopyFrom(&src, 101), EReadError);
}

TEST(CopyFrom, ProgressHandlerBecomesActiveAndDoProgressCallsTheSendersHandler) {
  TMemoryStream32 src, dst;
  Fill(src, Pattern(10));
  int calls = 0;
  TObject* seen = nullptr;
  dst.ProgressHandler = [&](TObject* s) { ++calls; seen = s; };
  EXPECT_FALSE(dst.ActiveProgressHandler);
  dst.CopyFrom(&src, 0);
  EXPECT_EQ(calls, 0);  // the copy loop itself fires nothing
  ASSERT_TRUE(dst.ActiveProgressHandler);
  src.DoProgress(&dst);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen, &dst);
  dst.DoProgress(&src);  // src has no active handler
  EXPECT_EQ(calls, 1);
}

// --- memory streams ------------------------------------------------------------------------

TEST(MemoryStream, GrowsInStepsOf8192) {
  TMemoryStream32 m;
  uint8_t b = 0x5A;
  EXPECT_EQ(m.Write(&b, 1), 1);
  EXPECT_EQ(m.Capacity(), 8192);
  EXPECT_EQ(m.Size(), 1);

  const auto data = Pattern(40000);
  TMemoryStream32 pieces;
  for (size_t at = 0; at < data.size(); at += 1000) {
    pieces.WriteBuffer(data.data() + at, 1000);
    EXPECT_EQ(pieces.Capacity() % 8192, 0);
    EXPECT_GE(pieces.Capacity(), pieces.Size());
    EXPECT_LT(pieces.Capacity() - pieces.Size(), 8192);
  }
  EXPECT_EQ(Contents(pieces), data);  // growth keeps what was written

  TMemoryStream32 exact;
  const auto block = Pattern(8192);
  Fill(exact, block);
  EXPECT_EQ(exact.Capacity(), 8192);
  exact.WriteBuffer(block.data(), 1);
  EXPECT_EQ(exact.Capacity(), 16384);
}

TEST(MemoryStream, SetSizeRules) {
  TMemoryStream32 m;
  m.SetSize(int32_t{100});
  EXPECT_EQ(m.Capacity(), 8192);
  EXPECT_EQ(m.Size(), 100);

  // A request equal to the current size is taken exactly, not rounded.
  m.SetSize(int32_t{100});
  EXPECT_EQ(m.Capacity(), 100);
  EXPECT_EQ(m.Size(), 100);

  const auto data = Pattern(5000);
  TMemoryStream32 s;
  Fill(s, data);
  s.SetSize(int32_t{3000});  // position 5000 lies past the new end: moved to the end
  EXPECT_EQ(s.Position(), 3000);
  EXPECT_EQ(Contents(s), std::vector<uint8_t>(data.begin(), data.begin() + 3000));
  s.SetPosition(10);
  s.SetSize(int32_t{4000});  // a position inside stays
  EXPECT_EQ(s.Position(), 10);

  s.SetSize(int32_t{0});
  EXPECT_EQ(s.Capacity(), 0);
  EXPECT_EQ(s.Memory(), nullptr);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.Size(), 0);

  s.SetPosition(7);
  s.Clear();
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.Memory(), nullptr);
}

TEST(MemoryStream, ReadAndSeekAreNotClamped) {
  TMemoryStream32 m;
  Fill(m, Pattern(100));
  uint8_t buf[200];
  EXPECT_EQ(m.Seek(int32_t{90}, soFromBeginning), 90);
  EXPECT_EQ(m.Read(buf, 200), 10);
  EXPECT_EQ(m.Read(buf, 1), 0);
  EXPECT_EQ(m.Seek(int32_t{-10}, soFromEnd), 90);
  EXPECT_EQ(m.Seek(int32_t{20}, soFromCurrent), 110);
  EXPECT_EQ(m.Read(buf, 1), 0);
  EXPECT_EQ(m.Seek(int32_t{-200}, soFromCurrent), -90);
  EXPECT_EQ(m.Read(buf, 1), 0);  // a negative position reads nothing
  EXPECT_EQ(m.Write(buf, 1), 0);  // and writes nothing
  m.SetPosition(0);
  EXPECT_EQ(m.Read(buf, -1), 0);

  // Writing past the end extends the stream; the gap reads as zeros.
  m.Seek(int32_t{200}, soFromBeginning);
  const uint8_t x = 0xEE;
  EXPECT_EQ(m.Write(&x, 1), 1);
  EXPECT_EQ(m.Size(), 201);
  EXPECT_EQ(m.Memory()[150], 0);
  EXPECT_EQ(m.Memory()[200], 0xEE);
}

TEST(MemoryStream, LimitsOf32BitSizesFailCleanly) {
  TMemoryStream32 m;
  const uint8_t x = 1;
  // The end of this write lies past what a 32-bit stream can address: nothing is written.
  m.Seek(std::numeric_limits<int32_t>::max() - 1, soFromBeginning);
  EXPECT_EQ(m.Write(&x, 5), 0);
  EXPECT_EQ(m.Size(), 0);
  EXPECT_THROW(m.WriteBuffer(&x, 5), EWriteError);
  EXPECT_THROW(m.Seek(int32_t{10}, soFromCurrent), ERangeError);
  EXPECT_THROW(m.Seek(int64_t{1} << 32, soBeginning), ERangeError);

  try {
    m.SetSize(std::numeric_limits<int32_t>::max());  // rounds past 2^31 - 1
    FAIL() << "expected a stream error";
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Out of memory while expanding memory stream");
  }
  EXPECT_THROW(m.SetSize(int32_t{-1}), EStreamError);
}

TEST(CustomMemoryStream, ReadsABlockItDoesNotOwnAndRefusesWrites) {
  auto data = Pattern(64);
  TCustomMemoryStream32 c;
  c.SetPointer(data.data(), 64);
  uint8_t buf[64];
  c.ReadBuffer(buf, 64);
  EXPECT_EQ(std::memcmp(buf, data.data(), 64), 0);
  EXPECT_EQ(c.Size(), 64);
  c.SetPosition(0);
  EXPECT_THROW(c.WriteBuffer(buf, 1), EWriteError);

  TMemoryStream32 dst;
  EXPECT_EQ(dst.CopyFrom(&c, 0), 64);
  EXPECT_EQ(Contents(dst), data);
}

TEST(CopyFrom, FileToFileThroughTheStreams) {
  TempDir dir;
  const auto data = Pattern(300001);
  zipfixture::WriteAll(dir.File("in"), data);
  {
    TFileStream32 in(dir.File("in"), 0x40);
    TFileStream32 out(dir.File("out"), 0xFFFF);
    ASSERT_GE(in.Handle(), 0);
    ASSERT_GE(out.Handle(), 0);
    in.SetPosition(77);
    EXPECT_EQ(out.CopyFrom(&in, 0), 300001);
  }
  EXPECT_EQ(zipfixture::ReadAll(dir.File("out")), data);
}

}  // namespace
