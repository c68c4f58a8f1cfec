// The root component: archive name handling, comment buffer limits, header signatures and the
// ciphering of zip headers.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "archive/qrnCrypt.h"
#include "archive/qrnregister.h"
#include "platform/files.h"

namespace {

std::string scratchName(const std::string& leaf) { return std::string(TARVELO_BINARY_DIR) + "/register-" + leaf; }

// A local header with its name after it: signature, 26 header bytes, then the name.
std::vector<uint8_t> localHeaderWithName(const std::string& name) {
  std::vector<uint8_t> h = {0x50, 0x4B, 0x03, 0x04};
  for (int i = 0; i < 26; ++i) h.push_back(static_cast<uint8_t>(i * 7 + 1));
  h[26] = static_cast<uint8_t>(name.size());
  h.insert(h.end(), name.begin(), name.end());
  return h;
}

}  // namespace

TEST(RootComponent, MissingArchiveGivesNoNameAndNoKind) {
  TRegisterQarno root;
  root.SetArchiveFile(scratchName("does-not-exist.zip"));
  EXPECT_EQ(root.ArchiveFile(), "");
  EXPECT_EQ(root.ArcType(), atNA);
  EXPECT_NO_THROW(root.SetArcType(atZip));  // nothing to detect
  EXPECT_EQ(root.ArcType(), atNA);
}

TEST(RootComponent, ExistingArchiveKeepsItsNameAndAVanishedOneRaisesOnRedetection) {
  const std::string name = scratchName("present.zip");
  std::ofstream(name) << "some archive bytes, more than twenty";
  TRegisterQarno root;
  root.SetArchiveFile(name);
  EXPECT_EQ(root.ArchiveFile(), name);

  std::remove(name.c_str());
  try {
    root.SetArcType(atZip);
    FAIL() << "no error for a vanished archive";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), "Error opening file");
  }
  EXPECT_EQ(root.ArcType(), atNA);
  root.SetArchiveFile(name);  // gone now: both reset
  EXPECT_EQ(root.ArchiveFile(), "");
}

TEST(RootComponent, CommentBufferSizeIsClamped) {
  TRegisterQarno root;
  EXPECT_EQ(root.ZipCmntBufSize(), 0);
  root.SetZipCmntBufSize(100);
  EXPECT_EQ(root.ZipCmntBufSize(), 2000);
  root.SetZipCmntBufSize(40000);
  EXPECT_EQ(root.ZipCmntBufSize(), 32767);
  root.SetZipCmntBufSize(5000);
  EXPECT_EQ(root.ZipCmntBufSize(), 5000);
  root.SetZipCmntBufSize(-1);
  EXPECT_EQ(root.ZipCmntBufSize(), 2000);
  EXPECT_FALSE(root.GetEncryptHeaders());
}

TEST(Signatures, PlainAndEncipheredForms) {
  EXPECT_EQ(TRegisterQarno::GetHeaderSignature(0, false), 0x04034B50u);
  EXPECT_EQ(TRegisterQarno::GetHeaderSignature(0, true), 0x04034C50u);
  EXPECT_EQ(TRegisterQarno::GetHeaderSignature(1, true), 0x02014C50u);
  EXPECT_EQ(TRegisterQarno::GetHeaderSignature(2, true), 0x06054B50u);  // end record: always plain
  EXPECT_EQ(TRegisterQarno::GetHeaderSignature(7, true), 0x08074B50u);

  bool enc = true;
  EXPECT_EQ(TRegisterQarno::ClassifySignature(0x04034B50u, 0, enc), 0);
  EXPECT_FALSE(enc);
  EXPECT_EQ(TRegisterQarno::ClassifySignature(0x02014C50u, 1, enc), 1);
  EXPECT_TRUE(enc);
  EXPECT_EQ(TRegisterQarno::ClassifySignature(0x06055C50u, 2, enc), 2);
  EXPECT_TRUE(enc);
  EXPECT_EQ(TRegisterQarno::ClassifySignature(0x06054B50u, 2, enc), 2);
  EXPECT_FALSE(enc);
  EXPECT_EQ(TRegisterQarno::ClassifySignature(0x02014B50u, 0, enc), 5);  // not the kind expected
  EXPECT_EQ(TRegisterQarno::ClassifySignature(0x08074B50u, 3, enc), 5);

  EXPECT_TRUE(TRegisterQarno::IsEncipheredSignature(0x06054C50u));
  EXPECT_FALSE(TRegisterQarno::IsEncipheredSignature(0x06054B50u));
  EXPECT_TRUE(TRegisterQarno::IsEntrySignature(0x02014C50u));
  EXPECT_FALSE(TRegisterQarno::IsEntrySignature(0x06054B50u));

  EXPECT_EQ(TRegisterQarno::HeaderCipherLength(0x04034B50u, 0), 26);
  EXPECT_EQ(TRegisterQarno::HeaderCipherLength(0x02014B50u, 1), 42);
  EXPECT_EQ(TRegisterQarno::HeaderCipherLength(0x06054C50u, 2), 18);
  EXPECT_EQ(TRegisterQarno::HeaderCipherLength(0x06055B50u, 2), 22);
  EXPECT_EQ(TRegisterQarno::HeaderCipherLength(0x08074B50u, 3), 0);
}

TEST(HeaderCipher, RoundTripLeavesSignatureAndNameUntouched) {
  TRegisterQarno root;
  const std::vector<uint8_t> original = localHeaderWithName("dir/a.txt");
  std::vector<uint8_t> h = original;
  ASSERT_TRUE(TRegisterQarno::EncipherHeader(h, 0));
  EXPECT_TRUE(std::equal(h.begin(), h.begin() + 4, original.begin()));
  EXPECT_FALSE(std::equal(h.begin() + 4, h.begin() + 30, original.begin() + 4));
  EXPECT_TRUE(std::equal(h.begin() + 30, h.end(), original.begin() + 30));

  InitKeys("an entry password");  // whatever keys an entry left behind
  ASSERT_TRUE(TRegisterQarno::DecipherHeader(h, 0));
  EXPECT_EQ(h, original);
}

TEST(HeaderCipher, EveryHeaderStartsFromTheSameKeyState) {
  TRegisterQarno root;
  std::vector<uint8_t> a = localHeaderWithName("x"), b = a;
  TRegisterQarno::EncipherHeader(a, 0);
  InitKeys("other");
  TRegisterQarno::EncipherHeader(b, 0);
  EXPECT_EQ(a, b);
  // A second component does not change the process's header keys.
  TRegisterQarno another;
  std::vector<uint8_t> c = localHeaderWithName("x");
  TRegisterQarno::EncipherHeader(c, 0);
  EXPECT_EQ(a, c);
}

TEST(HeaderCipher, EndRecordsAndShortBuffers) {
  TRegisterQarno root;
  // A 22-byte end record: 18 bytes after the signature, the comment after it untouched.
  std::vector<uint8_t> end = {0x50, 0x4B, 0x05, 0x06};
  end.resize(22, 0x11);
  end.insert(end.end(), {'c', 'm', 't'});
  std::vector<uint8_t> e = end;
  ASSERT_TRUE(TRegisterQarno::EncipherHeader(e, 2));
  EXPECT_TRUE(std::equal(e.begin() + 22, e.end(), end.begin() + 22));
  EXPECT_NE(e[21], end[21]);
  ASSERT_TRUE(TRegisterQarno::DecipherHeader(e, 2));
  EXPECT_EQ(e, end);

  // A buffer shorter than its header is refused and left alone.
  std::vector<uint8_t> shortHeader(20, 0x22);
  shortHeader[0] = 0x50;
  shortHeader[1] = 0x4B;
  shortHeader[2] = 0x01;
  shortHeader[3] = 0x02;
  const auto before = shortHeader;
  EXPECT_FALSE(TRegisterQarno::EncipherHeader(shortHeader, 1));
  EXPECT_EQ(shortHeader, before);
  std::vector<uint8_t> tiny(2, 0);
  EXPECT_FALSE(TRegisterQarno::DecipherHeader(tiny, 0));
}

TEST(HeaderCipher, BlocksUseTheKeysAsTheyStand) {
  TRegisterQarno root;
  std::vector<uint8_t> plain = {'n', 'a', 'm', 'e', '.', 't', 'x', 't'};
  std::vector<uint8_t> buf = plain;
  InitKeys("pw");
  TRegisterQarno::EncipherBlock(buf.data(), static_cast<int32_t>(buf.size()));
  EXPECT_NE(buf, plain);
  InitKeys("pw");
  TRegisterQarno::DecipherBlock(buf.data(), static_cast<int32_t>(buf.size()));
  EXPECT_EQ(buf, plain);
  TRegisterQarno::DecipherBlock(buf.data(), 0);
  EXPECT_EQ(buf, plain);
}
