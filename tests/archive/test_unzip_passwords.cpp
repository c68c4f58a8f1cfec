// The password procedure: the Passwords list, OnGetPassword and its attempts, a failed
// password that skips every later encrypted entry, and archives with ciphered headers.
#include <gtest/gtest.h>

#include "tests/archive/unzip_fixture.h"

using namespace unzipfixture;

namespace {

// Two encrypted files and one plain one, written by our own writer.
void MakeEncrypted(const Folder& d, const std::string& password, bool cipherHeaders = false) {
  Put(d / "src/one.txt", writerfixture::Text(3000));
  Put(d / "src/two.bin", writerfixture::Random(5000, 3));
  writerfixture::Writer w(d / "enc.zip", d / "src");
  w.zip.SetPassword(password);
  w.zip.SetEncryptHeaders(cipherHeaders);
  ASSERT_EQ(w.zip.Compress(), 2);
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
  ASSERT_EQ(Shell("cd '" + d.Path() + "/src' && zip -q -P 'пароль1' -r ../z.zip ."), 0);
  Reader r(d / "z.zip", d / "dest");
  r.unzip.Passwords().Add("пароль1");
  EXPECT_EQ(r.unzip.Extract(), 3);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(Tree(d / "dest"), Tree(d / "src"));
}

}  // namespace
