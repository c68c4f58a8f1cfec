// An entry enciphered by the engine's cipher, in an archive built from the engine's record
// encoders, must open in other tools with the password and be refused without it. This is what
// proves the cipher, the header's check bytes and the record layouts interoperate.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive/qrnCrypt.h"
#include "archive/qrnZipRecords.h"
#include "tests/archive/zip_fixture.h"

namespace {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = std::filesystem::temp_directory_path() / "qrnpeersXXXXXX";
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

bool Have(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }
int Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

// Plain bytes, the password, and the enciphered one-entry archive written to Path.
struct Fixture {
  std::vector<uint8_t> plain;
  std::string password = "s3cr\xE5t";  // a CP1251 byte in it: passwords are raw bytes
  std::string archive;
};

Fixture MakeArchive(const TempDir& dir) {
  Fixture f;
  std::mt19937 rng(42);
  f.plain.resize(70000);  // more than one 64 KiB block of the peers' readers
  for (auto& b : f.plain) b = static_cast<uint8_t>(rng() % 64 + 32);
  uint32_t crc = 0xFFFFFFFFu;
  Crc32Update(f.plain.data(), f.plain.size(), crc);
  crc ^= 0xFFFFFFFFu;

  const std::string header = MakeEncryptionHeader(f.password, crc);
  std::vector<uint8_t> data(header.begin(), header.end());
  std::vector<uint8_t> body = f.plain;
  EncryptBuffer(body.data(), body.size());
  data.insert(data.end(), body.begin(), body.end());

  const uint32_t dosDateTime = (uint32_t{(2024 - 1980) << 9 | 5 << 5 | 17} << 16) | (13u << 11 | 45u << 5 | 10u);
  const auto zip = zipfixture::OneEntryArchive("secret.txt", data, kFlagEncrypted, crc,
                                               static_cast<uint32_t>(f.plain.size()), dosDateTime);
  f.archive = dir.File("enc.zip");
  zipfixture::WriteAll(f.archive, zip);
  return f;
}

TEST(ZipCryptoPeers, PythonZipfileExtractsWithThePassword) {
  if (!Have("python3")) GTEST_SKIP() << "python3 not installed";
  TempDir dir;
  const Fixture f = MakeArchive(dir);
  const std::string script = dir.File("x.py");
  {
    FILE* s = std::fopen(script.c_str(), "w");
    ASSERT_NE(s, nullptr);
    std::fputs(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "pw = bytes.fromhex(sys.argv[2])\n"
        "open(sys.argv[3], 'wb').write(z.read('secret.txt', pwd=pw))\n",
        s);
    std::fclose(s);
  }
  std::string hexPassword;
  for (unsigned char c : f.password) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02x", c);
    hexPassword += buf;
  }
  ASSERT_EQ(Shell("python3 '" + script + "' '" + f.archive + "' " + hexPassword + " '" + dir.File("py.out") + "'"), 0);
  EXPECT_EQ(zipfixture::ReadAll(dir.File("py.out")), f.plain);
  // A wrong password is refused by the header's check byte (or at the latest by the CRC).
  EXPECT_NE(Shell("python3 '" + script + "' '" + f.archive + "' 77726f6e67 '" + dir.File("bad.out") + "'"), 0);
}

TEST(ZipCryptoPeers, InfoZipUnzipExtractsWithThePassword) {
  if (!Have("unzip")) GTEST_SKIP() << "unzip not installed";
  TempDir dir;
  const Fixture f = MakeArchive(dir);
  ASSERT_EQ(Shell("unzip -t -P '" + f.password + "' '" + f.archive + "'"), 0);
  ASSERT_EQ(Shell("unzip -o -q -P '" + f.password + "' '" + f.archive + "' -d '" + dir.File("out") + "'"), 0);
  EXPECT_EQ(zipfixture::ReadAll(dir.File("out/secret.txt")), f.plain);
  EXPECT_NE(Shell("unzip -t -P wrong '" + f.archive + "'"), 0);
}

TEST(ZipCryptoPeers, SevenZipTestsWithThePassword) {
  if (!Have("7zz")) GTEST_SKIP() << "7zz not installed";
  TempDir dir;
  const Fixture f = MakeArchive(dir);
  EXPECT_EQ(Shell("7zz t '-p" + f.password + "' '" + f.archive + "'"), 0);
  EXPECT_NE(Shell("7zz t -pwrong '" + f.archive + "'"), 0);
}

}  // namespace
