// Block I/O of the component base: reads with deciphering and CRC, writes with enciphering,
// short writes and full disks, stored-entry copies, full-length names, the extra-field walk,
// the next volume of a split zip and the output close.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "archive/qrnBase.h"
#include "archive/qrnCrypt.h"
#include "archive/qrnStreams.h"
#include "platform/volumes.h"

namespace {

struct Probe : TZipCommon {
  explicit Probe(TArcType t = atZip) { FArcType = t; }
  void Archive(const std::string& s) { FArchiveFile = s; }
};

struct Report {
  std::string file, extended, volume;
  int32_t code;
};

struct Errors {
  std::vector<Report> list;
  void Attach(TZipCommon& z) {
    z.OnError = [this](TObject*, const std::string& f, const std::string& e, const std::string& v, int32_t c) {
      list.push_back({f, e, v, c});
    };
  }
};

class TempDir {
 public:
  TempDir() {
    char buf[] = "/tmp/tarvelo-blockio-XXXXXX";
    path_ = mkdtemp(buf);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 131 + i / 7) & 0xFF);
  return v;
}

uint32_t zlibCrc(const std::vector<uint8_t>& v) {
  return static_cast<uint32_t>(crc32(0L, v.data(), static_cast<uInt>(v.size())));
}

void startCrc() { CryptState().Crc32 = 0xFFFFFFFFu; }
uint32_t finalCrc() { return CryptState().Crc32 ^ 0xFFFFFFFFu; }

std::vector<uint8_t> contents(TMemoryStream32& m) {
  return std::vector<uint8_t>(m.Memory(), m.Memory() + m.Size());
}

std::unique_ptr<TMemoryStream32> streamOf(const std::vector<uint8_t>& bytes) {
  auto m = std::make_unique<TMemoryStream32>();
  if (!bytes.empty()) m->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  m->SetPosition(0);
  return m;
}

std::vector<uint8_t> enciphered(const std::vector<uint8_t>& plain, const std::string& password) {
  std::vector<uint8_t> c = plain;
  InitKeys(password);
  EncryptBuffer(c.data(), c.size());
  return c;
}

void put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void put64(std::vector<uint8_t>& v, uint64_t x) {
  for (int i = 0; i < 8; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

}  // namespace

TEST(BlockRead, DeciphersZipDataAndRunsTheCrcOverThePlainBytes) {
  const auto plain = pattern(5000);
  auto in = streamOf(enciphered(plain, "secret"));
  Probe zip;
  std::vector<uint8_t> buf(6000);
  EXPECT_EQ(zip.ReadBlock(*in, 0, 32, true, buf.data()), 0);
  InitKeys("secret");
  startCrc();
  ASSERT_EQ(zip.ReadBlock(*in, 6000, 32, true, buf.data()), 5000);
  buf.resize(5000);
  EXPECT_EQ(buf, plain);
  EXPECT_EQ(finalCrc(), zlibCrc(plain));
  // At the end of the data a read gives 0 and leaves the CRC as it is.
  EXPECT_EQ(zip.ReadBlock(*in, 10, 32, true, buf.data()), 0);
  EXPECT_EQ(finalCrc(), zlibCrc(plain));
}

// The password position must carry over from block to block.
TEST(BlockRead, ArjGarblingKeepsThePasswordPositionAcrossBlocks) {
  const std::vector<uint8_t> plain = {1, 2, 3, 4, 5, 6, 7};
  const std::string pw = "abc";
  std::vector<uint8_t> garbled = plain;
  for (size_t i = 0; i < garbled.size(); ++i) garbled[i] ^= static_cast<uint8_t>(pw[i % 3]);
  auto in = streamOf(garbled);
  Probe arj(atArj);
  arj.SetPassword(pw);
  std::vector<uint8_t> out(7);
  ASSERT_EQ(arj.ReadBlock(*in, 2, 0, true, out.data()), 2);
  ASSERT_EQ(arj.ReadBlock(*in, 5, 0, true, out.data() + 2), 5);
  EXPECT_EQ(out, plain);

  // Other kinds are not deciphered at all.
  Probe tar(atTar);
  auto in2 = streamOf(garbled);
  ASSERT_EQ(tar.ReadBlock(*in2, 7, 0, true, out.data()), 7);
  EXPECT_EQ(out, garbled);
}

TEST(BlockWrite, EnciphersForZipWithTheCrcOfThePlainDataAndDecipheringRestoresIt) {
  const auto plain = pattern(3000);
  Probe zip;
  TMemoryStream32 out;
  auto buf = plain;
  InitKeys("pw");
  startCrc();
  ASSERT_EQ(zip.WriteEncrypted(&out, buf.data(), 1, 3000, 32, true), 3000);
  EXPECT_EQ(finalCrc(), zlibCrc(plain));
  const auto cipher = contents(out);
  EXPECT_EQ(cipher, enciphered(plain, "pw"));

  TMemoryStream32 back;
  auto cbuf = cipher;
  InitKeys("pw");
  startCrc();
  ASSERT_EQ(zip.WriteDecrypted(&back, cbuf.data(), 1, 3000, 32, true), 3000);
  EXPECT_EQ(contents(back), plain);
  EXPECT_EQ(finalCrc(), zlibCrc(plain));

  // Without the CRC flag, or for a kind without the zip cipher, the bytes go out as they are.
  Probe arj(atArj);
  TMemoryStream32 raw;
  auto pbuf = plain;
  ASSERT_EQ(arj.WriteEncrypted(&raw, pbuf.data(), 1, 3000, 16, true), 3000);
  EXPECT_EQ(contents(raw), plain);
}

TEST(BlockWrite, ShortWriteIsReportedAndCountedOffButDoesNotRaise) {
  Probe zip;
  Errors errors;
  errors.Attach(zip);
  zip.Archive("/a/set.zip");
  zip.OutputMode = 3;
  std::vector<uint8_t> block(4, 0);
  zip.MemoryOutput = block;
  zip.FilesDone = 5;
  auto data = pattern(10);
  startCrc();
  int32_t n = -1;
  EXPECT_NO_THROW(n = zip.WriteBlock(nullptr, data.data(), 1, 10, 32));
  EXPECT_EQ(n, 4);
  EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.end()), std::vector<uint8_t>(data.begin(), data.begin() + 4));
  EXPECT_EQ(zip.FilesDone, 4);
  ASSERT_EQ(errors.list.size(), 1u);
  EXPECT_EQ(errors.list[0].code, 25136);
  EXPECT_EQ(errors.list[0].file, "/a/set.zip");
  EXPECT_EQ(finalCrc(), 0u);  // nothing counted for a failed block
  // The block's end is never passed, also by later writes.
  EXPECT_EQ(zip.WriteBlock(nullptr, data.data(), 1, 10, 32), 0);
  EXPECT_EQ(zip.FilesDone, 3);

  zip.OutputMode = 7;
  EXPECT_EQ(zip.WriteBlock(nullptr, data.data(), 1, 10, 32), 0);
  EXPECT_EQ(zip.WriteBlock(nullptr, data.data(), 1, 0, 32), 0);
  EXPECT_EQ(errors.list.size(), 2u);
}

TEST(BlockWrite, FullDiskRaisesDiskFullUnlessTheRunIsCancelled) {
  TempDir dir;
  platform::SimulatedDrive drive(dir.path() + "/floppy", 1000, "DATA", 7);
  auto data = pattern(1500);
  {
    Probe zip;
    Errors errors;
    errors.Attach(zip);
    zip.FilesDone = 3;
    TFileStream32 out(drive.Path() + "/a.bin", 0xFFFF);
    ASSERT_GE(out.Handle(), 0);
    EXPECT_THROW(zip.WriteBlock(&out, data.data(), 1, 1500, 32), E_RAISE);
    EXPECT_EQ(zip.FilesDone, 0);
    ASSERT_EQ(errors.list.size(), 1u);
    EXPECT_EQ(errors.list[0].code, 25160);
  }
  {
    Probe zip;
    Errors errors;
    errors.Attach(zip);
    zip.Canceled = true;
    TFileStream32 out(drive.Path() + "/a.bin", 0xFFFF);
    int32_t n = -1;
    EXPECT_NO_THROW(n = zip.WriteBlock(&out, data.data(), 1, 1500, 32));
    EXPECT_EQ(n, 1000);
    ASSERT_EQ(errors.list.size(), 1u);
    EXPECT_EQ(errors.list[0].code, 25443);
  }
}

TEST(StoredCopy, EncipheredEntryIsDecipheredOnceWithProgressAndCrc) {
  const auto plain = pattern(70000);  // three blocks
  auto in = streamOf(enciphered(plain, "k"));
  Probe zip;
  std::vector<uint8_t> byFile;
  zip.OnProgress = [&](TObject*, uint8_t f, uint8_t) { byFile.push_back(f); };
  zip.ArchiveTotal = zip.BytesLeft = 70000;
  TMemoryStream32 out;
  InitKeys("k");
  startCrc();
  EXPECT_EQ(zip.CopyStoredData(*in, &out, 70000, 0x0001, 32), 0);
  EXPECT_EQ(contents(out), plain);
  EXPECT_EQ(finalCrc(), zlibCrc(plain));
  EXPECT_EQ(zip.BytesLeft, 0);
  ASSERT_EQ(byFile.size(), 3u);
  EXPECT_EQ(byFile.back(), 100);

  // A truncated entry leaves the missing bytes uncopied.
  auto shortIn = streamOf(pattern(1000));
  TMemoryStream32 out2;
  EXPECT_EQ(zip.CopyStoredData(*shortIn, &out2, 5000, 0, 32), 4000);
  EXPECT_EQ(out2.Size(), 1000);
}

TEST(StoredCopy, CancelAndShortOutputStopTheCopy) {
  auto in = streamOf(pattern(100000));
  Probe zip;
  zip.OnProgress = [&](TObject*, uint8_t, uint8_t) { zip.SetCancel(true); };
  TMemoryStream32 out;
  EXPECT_EQ(zip.CopyStoredData(*in, &out, 100000, 0, 0), 100000 - 32768);

  auto in2 = streamOf(pattern(100000));
  Probe mem;
  std::vector<uint8_t> block(100);
  mem.OutputMode = 3;
  mem.MemoryOutput = block;
  EXPECT_EQ(mem.CopyStoredData(*in2, nullptr, 100000, 0, 0), 100000 - 32768);
}

// Names were once cut at 255 bytes; deep folders need the whole stored length.
TEST(EntryName, ReadAtItsFullStoredLength) {
  Probe zip;
  std::string name;
  const std::string longName = std::string(150, 'a') + "/" + std::string(149, 'b');
  std::vector<uint8_t> bytes(longName.begin(), longName.end());
  bytes.push_back('X');
  auto in = streamOf(bytes);
  EXPECT_EQ(zip.ReadName(*in, name, 300), 300);
  EXPECT_EQ(name, longName);
  uint8_t next = 0;
  EXPECT_EQ(in->Read(&next, 1), 1);
  EXPECT_EQ(next, 'X');

  auto big = streamOf(std::vector<uint8_t>(70000, 'n'));
  EXPECT_EQ(zip.ReadName(*big, name, 70000), 65535);
  EXPECT_EQ(name.size(), 65535u);
  auto shortIn = streamOf({'a', 'b'});
  EXPECT_EQ(zip.ReadName(*shortIn, name, 10), 2);
  EXPECT_EQ(name, "ab");
  EXPECT_EQ(zip.ReadName(*shortIn, name, 0), 0);
  EXPECT_EQ(name, "");
}

TEST(ExtraField, Zip64BlocksFillOnlyTheSaturatedFields) {
  Probe zip;
  // Local header: both sizes saturated; a foreign block first.
  std::vector<uint8_t> f;
  put16(f, 0x5455);
  put16(f, 5);
  f.insert(f.end(), 5, 0xEE);
  put16(f, 1);
  put16(f, 16);
  put64(f, 0x0000000123456789ull);  // unpacked
  put64(f, 0x00000002ABCDEF01ull);  // packed
  auto in = streamOf(f);
  TExtraHigh r;
  TExtraSizes s{0xFFFFFFFFu, 0xFFFFFFFFu, 0};
  EXPECT_TRUE(zip.ReadExtraField(*in, static_cast<int32_t>(f.size()), r, 0, s));
  EXPECT_EQ(s.UnpackedSize, 0x23456789u);
  EXPECT_EQ(r.UnpackedHigh, 1);
  EXPECT_EQ(s.PackedSize, 0xABCDEF01u);
  EXPECT_EQ(r.PackedHigh, 2);
  EXPECT_EQ(r.OffsetHigh, 0);

  // Central header: only the packed size and the offset are saturated, so the block holds them
  // in that order.
  std::vector<uint8_t> c;
  put16(c, 1);
  put16(c, 16);
  put64(c, 0x0000000500000010ull);
  put64(c, 0x0000000700000020ull);
  auto in2 = streamOf(c);
  TExtraSizes s2{0xFFFFFFFFu, 1234, 0xFFFFFFFFu};
  EXPECT_TRUE(zip.ReadExtraField(*in2, static_cast<int32_t>(c.size()), r, 1, s2));
  EXPECT_EQ(s2.UnpackedSize, 1234u);
  EXPECT_EQ(s2.PackedSize, 0x10u);
  EXPECT_EQ(r.PackedHigh, 5);
  EXPECT_EQ(s2.LocalHeaderOffset, 0x20u);
  EXPECT_EQ(r.OffsetHigh, 7);
  EXPECT_EQ(r.UnpackedHigh, 0);
}

TEST(ExtraField, Tag100HighWordsOfLocalAndCentralForm) {
  Probe zip;
  std::vector<uint8_t> f;
  put16(f, 100);
  put16(f, 6);
  put16(f, 0x11);
  put16(f, 0x22);
  put16(f, 0x33);
  TExtraHigh r;
  TExtraSizes s;
  auto central = streamOf(f);
  EXPECT_TRUE(zip.ReadExtraField(*central, 10, r, 1, s));
  EXPECT_EQ(r.Tag, 100);
  EXPECT_EQ(r.PackedHigh, 0x11);
  EXPECT_EQ(r.UnpackedHigh, 0x22);
  EXPECT_EQ(r.OffsetHigh, 0x33);
  auto local = streamOf(f);
  EXPECT_TRUE(zip.ReadExtraField(*local, 10, r, 0, s));
  EXPECT_EQ(r.OffsetHigh, 0);
  EXPECT_EQ(r.UnpackedHigh, 0x22);
}

// A block that claims more than the field holds must not make the walk read what follows.
TEST(ExtraField, OverlongOrTruncatedBlocksEndTheWalkAtTheFieldsEnd) {
  Probe zip;
  TExtraHigh r;
  TExtraSizes s{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
  std::vector<uint8_t> f;
  put16(f, 0x7875);
  put16(f, 400);
  f.insert(f.end(), {1, 2, 3});
  f.push_back('N');  // the byte after the field (the next name, say)
  auto in = streamOf(f);
  EXPECT_FALSE(zip.ReadExtraField(*in, 7, r, 1, s));
  EXPECT_EQ(in->Position(), 7);
  EXPECT_EQ(r.Tag, 0);

  // A Zip64 block that runs past the field is not read either.
  std::vector<uint8_t> z;
  put16(z, 1);
  put16(z, 24);
  put64(z, 0x0000000900000001ull);
  z.push_back('N');
  auto in2 = streamOf(z);
  EXPECT_FALSE(zip.ReadExtraField(*in2, 12, r, 1, s));
  EXPECT_EQ(s.UnpackedSize, 0xFFFFFFFFu);
  EXPECT_EQ(in2->Position(), 12);

  // Fewer than four bytes left for a block header, and a field longer than the stream.
  auto in3 = streamOf({9, 0});
  EXPECT_FALSE(zip.ReadExtraField(*in3, 2, r, 0, s));
  auto in4 = streamOf({9, 0, 0, 0});
  EXPECT_FALSE(zip.ReadExtraField(*in4, 20, r, 0, s));
  auto in5 = streamOf({});
  EXPECT_TRUE(zip.ReadExtraField(*in5, 0, r, 0, s));
}

TEST(SplitVolumes, MissingHandlerAndCancelEndWithTheirReports) {
  Probe zip;
  Errors errors;
  errors.Attach(zip);
  zip.VolumeFileName = "/v/set.zip";
  std::unique_ptr<TStream32> stream = streamOf({1});
  EXPECT_FALSE(zip.NextVolume(stream, 1, 2));
  ASSERT_GE(errors.list.size(), 1u);
  EXPECT_EQ(errors.list[0].code, 25270);
  EXPECT_EQ(errors.list[0].extended, "OnNextVolume");
  EXPECT_EQ(errors.list[0].volume, "2");
  EXPECT_TRUE(zip.GetCancel());

  Probe asked;
  Errors e2;
  e2.Attach(asked);
  asked.VolumeFileName = "/v/set.zip";
  int calls = 0;
  asked.OnNextVolume = [&](TObject*, std::string& name, const std::string& id, bool exists, bool& cancel) {
    ++calls;
    EXPECT_EQ(name, "/v/set.z02");
    EXPECT_EQ(id, "2");
    EXPECT_FALSE(exists);
    cancel = true;
  };
  EXPECT_FALSE(asked.NextVolume(stream, 1, 2));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(stream, nullptr);
  ASSERT_EQ(e2.list.size(), 1u);
  EXPECT_EQ(e2.list[0].code, 25443);
  EXPECT_EQ(e2.list[0].file, "/v/set.z02");
}

TEST(SplitVolumes, HandlerIsAskedUntilTheVolumeExistsThenItIsOpened) {
  TempDir dir;
  const std::string archive = dir.path() + "/set.zip";
  Probe zip;
  zip.Archive(archive);
  zip.VolumeFileName = archive;
  int calls = 0;
  zip.OnNextVolume = [&](TObject*, std::string& name, const std::string&, bool exists, bool&) {
    if (++calls == 2) {
      EXPECT_FALSE(exists);
      std::ofstream(name) << "volume two";  // the user fetched it
    }
  };
  std::unique_ptr<TStream32> stream;
  ASSERT_TRUE(zip.NextVolume(stream, 1, 2));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(zip.VolumeFileName, dir.path() + "/set.z02");
  EXPECT_EQ(zip.VolumeNumber, 2);
  EXPECT_EQ(zip.VolumeSize, 10);
  ASSERT_NE(stream, nullptr);
  char buf[6] = {};
  EXPECT_EQ(stream->Read(buf, 6), 6);
  EXPECT_EQ(std::string(buf, 6), "volume");

  // Found through a local header only: the set's end is unknown, so the volume after the
  // second one is numbered, not the archive's own name.
  zip.DirectoryFlags = hfLocal;
  zip.VolumeFileName = archive;
  std::ofstream(dir.path() + "/set.z03") << "3";
  std::string seenId;
  zip.OnNextVolume = [&](TObject*, std::string&, const std::string& id, bool, bool& cancel) {
    seenId = id;
    cancel = !seenId.empty() && seenId != "3";  // never wait for a volume that is not there
  };
  ASSERT_TRUE(zip.NextVolume(stream, 2, 2));
  EXPECT_EQ(seenId, "3");
  EXPECT_EQ(zip.VolumeFileName, dir.path() + "/set.z03");
  EXPECT_EQ(zip.VolumeNumber, 3);
}

TEST(Output, CloseFreesOnlyFileOutputs) {
  Probe zip;
  std::unique_ptr<TStream32> out = streamOf({1, 2});
  EXPECT_TRUE(zip.IsFileOutput());
  EXPECT_TRUE(zip.CloseOutput(out));
  EXPECT_EQ(out, nullptr);
  out = streamOf({1});
  zip.OutputMode = 2;
  EXPECT_FALSE(zip.IsFileOutput());
  EXPECT_TRUE(zip.CloseOutput(out));
  EXPECT_NE(out, nullptr);
  zip.OutputMode = 9;
  EXPECT_FALSE(zip.CloseOutput(out));
  EXPECT_FALSE(TZipCommon::IsKnownArcType(atUnknown));
  EXPECT_TRUE(TZipCommon::IsKnownArcType(atZipMV));
}
