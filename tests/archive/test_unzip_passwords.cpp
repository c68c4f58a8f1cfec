// The password procedure: the Passwords list, OnGetPassword and its attempts, a failed
// password that skips every later encrypted entry, and archives with ciphered headers.
#include <gtest/gtest.h>

#include "tests/archive/unzip_fixture.h"

using namespace unzipfixture;

namespace {

// Whether every entry of the archive refuses the key (the cipher's one check byte lets a wrong
// key through for 1 entry in 256).
bool EveryEntryRefuses(const std::string& archive, const std::string& key) {
  const auto bytes = zipfixture::ReadAll(archive);
  const auto entries = zipfixture::Entries(bytes);
  for (const auto& e : entries) {
    const std::span<const uint8_t> header(bytes.data() + e.dataOffset, kEncryptionHeaderSize);
    if (CheckEncryptionHeader(header, e.local.Flags, e.central.Crc32, key, static_cast<uint16_t>(e.local.DosDateTime)))
      return false;
  }
  return !entries.empty();
}

// Runs a peer's command that writes archive until every entry refuses key, so that a test that
// must not open it with that key does not flicker.
void MakeRefusing(const std::string& command, const std::string& archive, const std::string& key) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::filesystem::remove(archive);
    ASSERT_EQ(Shell(command), 0) << command;
    if (EveryEntryRefuses(archive, key)) return;
  }
  FAIL() << "no archive that refuses the other key: " << command;
}

// Two encrypted files and one plain one, written by our own writer.
void MakeEncrypted(const Folder& d, const std::string& password, bool cipherHeaders = false) {
  Put(d / "src/one.txt", writerfixture::Text(3000));
  Put(d / "src/two.bin", writerfixture::Random(5000, 3));
  // The cipher's one check byte lets a wrong password through for 1 entry in 256: the archive
  // is written again until "wrong" is refused by every entry, so the tests do not flicker.
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::filesystem::remove(d / "enc.zip");
    writerfixture::Writer w(d / "enc.zip", d / "src");
    w.zip.SetPassword(password);
    w.zip.SetEncryptHeaders(cipherHeaders);
    ASSERT_EQ(w.zip.Compress(), 2);
    if (cipherHeaders) return;
    if (EveryEntryRefuses(d / "enc.zip", "wrong")) return;
  }
  FAIL() << "no archive that refuses the wrong password";
}

TEST(UnZipPasswords, PasswordFromTheList) {
  Folder d;
  MakeEncrypted(d, "secret");
  Reader r(d / "enc.zip", d / "dest");
  r.unzip.Passwords().Add("wrong");
  r.unzip.Passwords().Add("secret");
  EXPECT_EQ(r.unzip.Extract(), 2);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(Tree(d / "dest"), Tree(d / "src"));
}

TEST(UnZipPasswords, WrongPasswordWithNoAttemptsSkipsEveryEncryptedEntrySilently) {
  Folder d;
  MakeEncrypted(d, "secret");
  Reader r(d / "enc.zip", d / "dest");
  r.unzip.Passwords().Add("wrong");
  int asked = 0;
  r.unzip.OnGetPassword = [&](TObject*, const std::string&, std::string&, bool&) { ++asked; };
  EXPECT_EQ(r.unzip.Extract(), 0);
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_TRUE(Tree(d / "dest").empty());
  // Not written and not counted, but never taken for restored.
  EXPECT_EQ(r.unzip.FilesFailed(), 2);
  EXPECT_EQ(r.Failed(), 2);
}

TEST(UnZipPasswords, NoHandlerReportsOnceForTheFirstEntry) {
  Folder d;
  MakeEncrypted(d, "secret");
  Reader r(d / "enc.zip", d / "dest");
  EXPECT_EQ(r.unzip.Extract(), 0);
  EXPECT_EQ(r.Count(E_EVENT_NOT_ASSIGNED), 1);
  EXPECT_EQ(r.errors[0].ext, "OnGetPassword");
}

TEST(UnZipPasswords, OnGetPasswordAttemptsAndTheListGrows) {
  Folder d;
  MakeEncrypted(d, "secret");
  Reader r(d / "enc.zip", d / "dest");
  r.unzip.SetPasswordAttempts(3);
  std::vector<std::string> answers = {"nope", "secret"};
  size_t asked = 0;
  r.unzip.OnGetPassword = [&](TObject*, const std::string&, std::string& pw, bool& again) {
    again = true;
    pw = answers[std::min(asked++, answers.size() - 1)];
  };
  EXPECT_EQ(r.unzip.Extract(), 2);
  EXPECT_EQ(asked, 2u);  // the found password serves the second entry too
  EXPECT_EQ(r.Count(E_INVALID_PASSWORD), 1);
  ASSERT_GE(r.unzip.Passwords().Count(), 1);
  EXPECT_EQ(r.unzip.Passwords()[0], "secret");
  EXPECT_EQ(Tree(d / "dest"), Tree(d / "src"));
}

TEST(UnZipPasswords, DecliningTheQuestionReportsInvalidPassword) {
  Folder d;
  MakeEncrypted(d, "secret");
  Reader r(d / "enc.zip", d / "dest");
  r.unzip.SetPasswordAttempts(3);
  int asked = 0;
  r.unzip.OnGetPassword = [&](TObject*, const std::string&, std::string&, bool& again) {
    ++asked;
    again = false;
  };
  EXPECT_EQ(r.unzip.Extract(), 0);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(r.Count(E_INVALID_PASSWORD), 1);
}

TEST(UnZipPasswords, CipheredHeadersAreReadBack) {
  Folder d;
  MakeEncrypted(d, "pw", true);
  // The names must not stand in the file in the clear.
  EXPECT_EQ(Slurp(d / "enc.zip").find("one.txt"), std::string::npos);
  Reader r(d / "enc.zip", d / "dest");
  r.unzip.Passwords().Add("pw");
  EXPECT_EQ(r.unzip.Extract(), 2);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(Tree(d / "dest"), Tree(d / "src"));
}

TEST(UnZipPasswords, PeerEncryptedArchives) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip not installed";
  Folder d;
  Put(d / "src/a.txt", writerfixture::Text(40000));
  Put(d / "src/b.bin", writerfixture::Random(3000, 9));
  Put(d / "src/tiny.txt", "x");
  // Typed here, the password also keys in code page 1251: an archive that key would open too
  // is made again.
  MakeRefusing("cd '" + d.Path() + "/src' && zip -q -P 'пароль1' -r ../z.zip .", d / "z.zip",
               "\xEF\xE0\xF0\xEE\xEB\xFC\x31");
  Reader r(d / "z.zip", d / "dest");
  r.unzip.Passwords().Add("пароль1");
  EXPECT_EQ(r.unzip.Extract(), 3);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(Tree(d / "dest"), Tree(d / "src"));
}

// A password typed here is tried with its code page 1251 bytes, as the system keys it, and with
// its UTF-8 bytes, as tools on this platform key it, so archives of both kinds open. Where both
// keys pass an entry's check byte, the keying that alone opened an earlier entry decides.
TEST(UnZipPasswords, CyrillicPasswordOpensArchivesKeyedInCp1251OrInUtf8) {
  const std::string typed = "Пароль";
  const std::string cp1251 = "\xCF\xE0\xF0\xEE\xEB\xFC";
  Folder d;
  Put(d / "src/a.txt", writerfixture::Text(40000));
  Put(d / "src/b.bin", writerfixture::Random(3000, 9));
  Put(d / "src/tiny.txt", "x");
  struct Peer {
    std::string name;
    std::string command;
    std::string otherKey;
  };
  const std::string src = "cd '" + d.Path() + "/src' && ";
  std::vector<Peer> peers = {
      {"zip, 1251 bytes", src + "zip -q -P '" + cp1251 + "' -r ../k.zip .", typed},
      {"zip, UTF-8", src + "zip -q -P '" + typed + "' -r ../k.zip .", cp1251},
  };
  if (HaveTool("bsdtar"))
    peers.push_back({"bsdtar, UTF-8",
                     src + "bsdtar --format zip --options zip:encryption=zipcrypt --passphrase '" + typed +
                         "' -cf ../k.zip .",
                     cp1251});
  for (const Peer& peer : peers) {
    MakeRefusing(peer.command, d / "k.zip", peer.otherKey);
    std::filesystem::remove_all(d / "dest");
    Reader r(d / "k.zip", d / "dest");
    r.unzip.Passwords().Add(typed);
    EXPECT_EQ(r.unzip.Extract(), 3) << peer.name;
    EXPECT_TRUE(r.errors.empty()) << peer.name;
    EXPECT_EQ(Tree(d / "dest"), Tree(d / "src")) << peer.name;
  }

  // Two entries keyed in UTF-8: the first refuses the 1251 key, the second's check byte passes
  // both keys.
  auto entry = [&](const std::string& name, const std::string& content, bool ambiguous) {
    RawEntry e = Stored(name, content);
    e.flags = kFlagEncrypted;
    for (;;) {
      const std::string header = MakeEncryptionHeader(typed, e.crc);
      std::string body = content;
      EncryptBuffer(body.data(), body.size());
      if (CheckEncryptionHeader(header, e.flags, e.crc, cp1251, 0) == ambiguous) {
        e.data = Bytes(header + body);
        return e;
      }
    }
  };
  const std::vector<RawEntry> entries = {entry("first.txt", "opened by one key alone", false),
                                         entry("second.txt", "check byte passed by both keys", true)};
  zipfixture::WriteAll(d / "both.zip", Build(entries));
  Reader r(d / "both.zip", d / "both");
  r.unzip.Passwords().Add(typed);
  EXPECT_EQ(r.unzip.Extract(), 2);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(Slurp(d / "both/second.txt"), "check byte passed by both keys");
}

}  // namespace
