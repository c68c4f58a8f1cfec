// The string resources of a program file, read by our own PE resource parser. Guards against
// wrong block arithmetic (identifier n lives in block n / 16 + 1), against PE32+ images being
// refused, and against any read outside the file when the image is damaged.
#include <gtest/gtest.h>

#include "archive/qrnPeRes.h"
#include "archive/qrnStreams.h"
#include "test_detect_fixture.h"

using detectfixture::MakePe;
using detectfixture::Put32;
using detectfixture::U16;

namespace {

struct Image {
  TMemoryStream32 stream;
  explicit Image(const std::vector<uint8_t>& bytes) {
    if (!bytes.empty()) stream.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  }
};

}  // namespace

TEST(PeStrings, ReadsEveryIdentifierOfTheTableInBothImageKinds) {
  const std::map<uint32_t, std::u16string> strings = {
      {1, u"17000"}, {2, u"2"}, {3, u"\u0442\u0435\u0441\u0442"}, {7, u"longer than five"}, {15, u"last"}};
  for (bool plus : {false, true}) {
    Image img(MakePe(strings, plus));
    TPeStringResources res;
    ASSERT_TRUE(res.Load(img.stream)) << "PE32+ " << plus;
    EXPECT_EQ(res.LoadString(1, 5), U16("17000"));
    EXPECT_EQ(res.LoadString(2, 5), U16("2"));
    EXPECT_EQ(res.LoadString(3, 5), std::u16string(u"\u0442\u0435\u0441\u0442"));
    EXPECT_EQ(res.LoadString(7, 5), U16("longe"));  // cut to the caller's limit
    EXPECT_EQ(res.LoadString(7, 100), U16("longer than five"));
    EXPECT_EQ(res.LoadString(15, 10), U16("last"));
    EXPECT_FALSE(res.LoadString(4, 5));   // empty in the table
    EXPECT_FALSE(res.LoadString(16, 5));  // block 2 is not there
    EXPECT_FALSE(res.LoadString(70000, 5));
  }
}

TEST(PeStrings, FilesThatAreNoImageHaveNone) {
  std::vector<uint8_t> pe = MakePe({{1, u"1"}});
  const std::vector<std::vector<uint8_t>> notImages = {
      {},                                                                    // empty
      {'M', 'Z'},                                                            // header cut
      std::vector<uint8_t>(pe.begin(), pe.begin() + 0x50),                   // PE header cut
      [&] { auto b = pe; b[0x41] = 'X'; return b; }(),                       // no PE signature
      [&] { auto b = pe; Put32(b, 0x3C, 0xFFFFFFF0u); return b; }(),         // header offset past the file
      [&] { auto b = pe; b[0x58] = 0x07; return b; }(),                      // unknown optional magic
      [&] { auto b = pe; Put32(b, 0x58 + 92, 2); return b; }(),              // no resource directory slot
      [&] { auto b = pe; Put32(b, 0x58 + 96 + 16, 0x9000); return b; }(),    // resources in no section
      [&] { auto b = pe; Put32(b, 0x58 + 224 + 20, 0x7FFFFF00); return b; }(),  // raw data past the file
  };
  for (size_t i = 0; i < notImages.size(); ++i) {
    Image img(notImages[i]);
    TPeStringResources res;
    EXPECT_FALSE(res.Load(img.stream)) << "case " << i;
    EXPECT_FALSE(res.LoadString(1, 5)) << "case " << i;
  }
}

TEST(PeStrings, DamagedTablesGiveNoStringAndNeverReadOutside) {
  detectfixture::PeLayout l;
  const std::vector<uint8_t> pe = MakePe({{1, u"123"}, {2, u"45"}}, false, &l);
  // A string length past the block, a data entry past the section, a subdirectory pointing at
  // itself: each string is refused, nothing loops.
  auto lengthPast = pe;
  detectfixture::Put16(lengthPast, l.resource + 0x58 + 2 * 1, 0xFFFF);
  auto dataPast = pe;
  Put32(dataPast, l.resource + 0x4C, 0x10000);
  auto selfLoop = pe;
  Put32(selfLoop, l.resource + 0x18 + 20, 0x80000000u | 0x18);
  for (const auto& bytes : {lengthPast, dataPast, selfLoop}) {
    Image img(bytes);
    TPeStringResources res;
    res.Load(img.stream);
    EXPECT_FALSE(res.LoadString(1, 5));
  }
  // Every truncation and every byte set to 0xFF: whatever comes back lies within the file
  // (the sanitizer build catches a read outside it).
  for (size_t cut = 0; cut < pe.size(); cut += 3) {
    Image img(std::vector<uint8_t>(pe.begin(), pe.begin() + static_cast<long>(cut)));
    TPeStringResources res;
    if (res.Load(img.stream)) (void)res.LoadString(1, 5);
  }
  for (size_t i = 0; i < pe.size(); ++i) {
    auto b = pe;
    b[i] = 0xFF;
    Image img(b);
    TPeStringResources res;
    if (res.Load(img.stream)) {
      auto s = res.LoadString(1, 5);
      if (s) {
        EXPECT_LE(s->size(), 5u);
      }
    }
  }
}
