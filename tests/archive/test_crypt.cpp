// The traditional ZIP cipher and its 12-byte encryption header: round trips, the password check
// and its two check-byte rules, and interoperation with archives that Info-ZIP and 7-Zip made.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive/qrnCrypt.h"
#include "archive/qrnZipRecords.h"
#include "tests/archive/zip_fixture.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

uint32_t ZipCrc(const std::vector<uint8_t>& v) {
  uint32_t c = 0xFFFFFFFFu;
  Crc32Update(v.data(), v.size(), c);
  return c ^ 0xFFFFFFFFu;
}

TEST(Cipher, InitKeysStartsFromThePublishedKeys) {
  InitKeys("");
  EXPECT_EQ(CryptState().Key0, 0x12345678u);
  EXPECT_EQ(CryptState().Key1, 0x23456789u);
  EXPECT_EQ(CryptState().Key2, 0x34567890u);
  // A password is absorbed byte by byte: the keys for "ab" are those of "a" updated with 'b'.
  InitKeys("a");
  UpdateKeys('b');
  const TqrnCryptState byUpdate = CryptState();
  InitKeys("ab");
  EXPECT_EQ(CryptState().Key0, byUpdate.Key0);
  EXPECT_EQ(CryptState().Key1, byUpdate.Key1);
  EXPECT_EQ(CryptState().Key2, byUpdate.Key2);
}

TEST(Cipher, BufferRoundTripAndByteFormAgree) {
  const std::vector<uint8_t> plain = RandomBytes(5000, 1);
  std::vector<uint8_t> cipher = plain;
  InitKeys("Пароль1");  // bytes of any code page are just bytes
  EncryptBuffer(cipher.data(), cipher.size());
  EXPECT_NE(cipher, plain);

  std::vector<uint8_t> byBytes = plain;
  InitKeys("Пароль1");
  for (auto& b : byBytes) b = EncryptByte(b);
  EXPECT_EQ(byBytes, cipher);

  std::vector<uint8_t> back = cipher;
  InitKeys("Пароль1");
  DecryptBuffer(back.data(), back.size());
  EXPECT_EQ(back, plain);

  // Deciphering in pieces continues the key state from piece to piece.
  std::vector<uint8_t> pieces = cipher;
  InitKeys("Пароль1");
  DecryptBuffer(pieces.data(), 1);
  DecryptBuffer(pieces.data() + 1, 2998);
  DecryptBuffer(pieces.data() + 2999, pieces.size() - 2999);
  EXPECT_EQ(pieces, plain);

  std::vector<uint8_t> wrong = cipher;
  InitKeys("Пароль2");
  DecryptBuffer(wrong.data(), wrong.size());
  EXPECT_NE(wrong, plain);
}

TEST(EncryptionHeader, MadeHeaderPassesItsOwnCheckAndKeysContinueIntoTheData) {
  const std::vector<uint8_t> plain = RandomBytes(777, 2);
  const uint32_t crc = ZipCrc(plain);
  const std::string header = MakeEncryptionHeader("secret", crc);
  ASSERT_EQ(header.size(), 12u);
  std::vector<uint8_t> data = plain;
  EncryptBuffer(data.data(), data.size());

  ASSERT_TRUE(CheckEncryptionHeader(header, 0, crc, "secret", 0));
  DecryptBuffer(data.data(), data.size());
  EXPECT_EQ(data, plain);
}

TEST(EncryptionHeader, RandomBytesDifferFromHeaderToHeader) {
  // Two headers for the same password and CRC made at once must not be equal: equal headers
  // would give equal key streams for the data.
  const std::string a = MakeEncryptionHeader("secret", 0xA1B2C3D4u);
  const std::string b = MakeEncryptionHeader("secret", 0xA1B2C3D4u);
  EXPECT_NE(a, b);
}

TEST(EncryptionHeader, WrongPasswordsFailInAllButAboutOneCaseIn256) {
  int accepted = 0;
  const int tries = 2560;
  for (int i = 0; i < tries; ++i) {
    const uint32_t crc = 0x9E3779B9u * static_cast<uint32_t>(i + 1);
    const std::string header = MakeEncryptionHeader("correct horse", crc);
    if (CheckEncryptionHeader(header, 0, crc, "wrong " + std::to_string(i), 0)) ++accepted;
    ASSERT_TRUE(CheckEncryptionHeader(header, 0, crc, "correct horse", 0));
  }
  // About 10 expected; a check that ignored the password would accept all of them.
  EXPECT_LT(accepted, 35);
}

TEST(EncryptionHeader, DataDescriptorFlagComparesWithTheDosTimeHighByte) {
  const uint16_t dosTime = 0x6A21;
  const uint32_t crcWithOtherHighByte = 0x11223344u;
  // The writer side puts bits 24-31 of the check value last: give it the time's high byte.
  const std::string header = MakeEncryptionHeader("pw", uint32_t{0x6A} << 24);
  EXPECT_TRUE(CheckEncryptionHeader(header, kFlagDataDescriptor | kFlagEncrypted, crcWithOtherHighByte, "pw", dosTime));
  EXPECT_FALSE(CheckEncryptionHeader(header, kFlagDataDescriptor, crcWithOtherHighByte, "pw", 0x6B21));
  // Without bit 3 the CRC rules, whatever the time.
  EXPECT_FALSE(CheckEncryptionHeader(header, kFlagEncrypted, crcWithOtherHighByte, "pw", dosTime));
  EXPECT_TRUE(CheckEncryptionHeader(header, kFlagEncrypted, 0x6A000000u, "pw", 0));
}

TEST(EncryptionHeader, EmptyPasswordAndShortHeaderFail) {
  const std::string header = MakeEncryptionHeader("", 0);
  EXPECT_FALSE(CheckEncryptionHeader(header, 0, 0, "", 0));
  const std::string made = MakeEncryptionHeader("x", 0);
  EXPECT_FALSE(CheckEncryptionHeader(made.substr(0, 11), 0, 0, "x", 0));
  EXPECT_FALSE(CheckEncryptionHeader(std::span<const uint8_t>(), 0, 0, "x", 0));
}

// Inflates raw deflate data with zlib; empty on any error.
std::optional<std::vector<uint8_t>> RawInflate(const std::vector<uint8_t>& in, size_t expected) {
  std::vector<uint8_t> out(expected + 1);
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return std::nullopt;
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  const size_t produced = out.size() - z.avail_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return std::nullopt;
  out.resize(produced);
  return out;
}

struct Deciphered {
  std::string name;
  std::vector<uint8_t> plain;
};

// Checks the password against every entry's header, deciphers and decodes the data, and
// compares each entry's CRC and size with its central header. A header has one check byte, so a
// wrong password passes it once in 256: only archives with fixed headers can require every
// wrong password to fail.
std::vector<Deciphered> DecipherAll(const std::string& path, const std::string& password,
                                    bool fixedHeaders = true) {
  const std::vector<uint8_t> zip = zipfixture::ReadAll(path);
  const auto entries = zipfixture::Entries(zip);
  EXPECT_FALSE(entries.empty()) << path;
  std::vector<Deciphered> out;
  for (const auto& e : entries) {
    SCOPED_TRACE(path + " " + e.name);
    if (!e.name.empty() && e.name.back() == '/') continue;  // a folder carries no data
    EXPECT_TRUE(e.central.Flags & kFlagEncrypted);
    EXPECT_GE(e.central.PackedSize, 12u);
    std::span<const uint8_t> header(zip.data() + e.dataOffset, 12);
    const uint16_t time = static_cast<uint16_t>(e.local.DosDateTime & 0xFFFFu);
    if (fixedHeaders) {
      for (const char* wrong : {"Secret", "secret ", "terces"})
        EXPECT_FALSE(CheckEncryptionHeader(header, e.local.Flags, e.central.Crc32, wrong, time)) << wrong;
    }
    EXPECT_FALSE(CheckEncryptionHeader(header, e.local.Flags, e.central.Crc32, "", time));
    if (!CheckEncryptionHeader(header, e.local.Flags, e.central.Crc32, password, time)) {
      ADD_FAILURE() << "password refused";
      continue;
    }
    std::vector<uint8_t> data(zip.begin() + static_cast<ptrdiff_t>(e.dataOffset + 12),
                              zip.begin() + static_cast<ptrdiff_t>(e.dataOffset + e.central.PackedSize));
    DecryptBuffer(data.data(), data.size());
    if (e.central.Method == 8) {
      auto inflated = RawInflate(data, e.central.UnpackedSize);
      if (!inflated) {
        ADD_FAILURE() << "deciphered data does not inflate";
        continue;
      }
      data = std::move(*inflated);
    } else {
      EXPECT_EQ(e.central.Method, 0);
    }
    EXPECT_EQ(data.size(), e.central.UnpackedSize);
    EXPECT_EQ(ZipCrc(data), e.central.Crc32);
    out.push_back({e.name, std::move(data)});
  }
  return out;
}

const std::string kRef = std::string(TARVELO_TESTDATA) + "/reference/";

TEST(CipherInterop, InfoZipArchiveWithDataDescriptorsChecksByTime) {
  const auto entries = DecipherAll(kRef + "generated/zipcrypto-infozip.zip", "secret");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].name, "bin.dat");
  EXPECT_EQ(entries[2].plain.size(), 100000u);
  const auto zip = zipfixture::ReadAll(kRef + "generated/zipcrypto-infozip.zip");
  for (const auto& e : zipfixture::Entries(zip)) EXPECT_TRUE(e.local.Flags & kFlagDataDescriptor);
}

TEST(CipherInterop, SevenZipArchiveChecksByCrc) {
  const auto entries = DecipherAll(kRef + "generated/zipcrypto-7zip.zip", "secret");
  ASSERT_EQ(entries.size(), 2u);
  const auto zip = zipfixture::ReadAll(kRef + "generated/zipcrypto-7zip.zip");
  for (const auto& e : zipfixture::Entries(zip)) EXPECT_FALSE(e.local.Flags & kFlagDataDescriptor);
}

TEST(CipherInterop, OtherToolsArchives) {
  EXPECT_EQ(DecipherAll(kRef + "external/sharpcompress/zipcrypto.zip", "test").size(), 8u);
  EXPECT_EQ(DecipherAll(kRef + "external/sharpcompress/Zip.deflate.pkware.zip", "12345678").size(), 1u);
}

class TempDir {
 public:
  TempDir() {
    std::string tmpl = std::filesystem::temp_directory_path() / "qrncryptXXXXXX";
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(CipherInterop, ArchiveMadeNowByInfoZip) {
  if (std::system("zip -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "Info-ZIP zip not installed";
  TempDir dir;
  const std::vector<uint8_t> stored = RandomBytes(3000, 3);
  std::string text;
  for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i) + " of a compressible text\n";
  zipfixture::WriteAll(dir.path() + "/stored.bin", stored);
  zipfixture::WriteAll(dir.path() + "/text.txt", std::vector<uint8_t>(text.begin(), text.end()));
  const std::string cmd = "cd '" + dir.path() + "' && zip -q -P secret -n .bin made.zip stored.bin text.txt";
  ASSERT_EQ(std::system(cmd.c_str()), 0);

  // Info-ZIP draws fresh random header bytes on every run.
  const auto entries = DecipherAll(dir.path() + "/made.zip", "secret", false);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].plain, stored);
  EXPECT_EQ(std::string(entries[1].plain.begin(), entries[1].plain.end()), text);
}

}  // namespace
