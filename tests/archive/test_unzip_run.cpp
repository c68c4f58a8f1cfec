// The run frame: the order of its events, a cancel from a progress handler that stops the run
// between blocks, and what a run leaves behind for the next one.
#include <gtest/gtest.h>

#include "tests/archive/unzip_fixture.h"

using namespace unzipfixture;

namespace {

TEST(UnZipRun, EventsFrameTheRun) {
  Folder d;
  zipfixture::WriteAll(d / "x.zip", Build({Stored("a.txt", "A"), Stored("b.txt", "B")}));
  Reader r(d / "x.zip", d / "dest");
  std::vector<std::string> events;
  r.unzip.OnActivate = [&](TObject*) { events.push_back("activate"); };
  r.unzip.OnDeactivate = [&](TObject*) { events.push_back("deactivate"); };
  r.unzip.OnElapsedTime = [&](TObject*, float t) { events.push_back(t >= 0 ? "elapsed" : "negative"); };
  r.unzip.OnBegin = [&](TObject*, const std::string& f, int32_t n, bool&) {
    events.push_back("begin " + NamePart(f) + " " + std::to_string(n));
  };
  r.unzip.OnEnd = [&](TObject*, const std::string& f, bool pass) {
    events.push_back("end " + NamePart(f) + (pass ? " ok" : " bad"));
  };
  EXPECT_EQ(r.unzip.Extract(), 2);
  EXPECT_EQ(events, (std::vector<std::string>{"activate", "begin a.txt 1", "end a.txt ok", "begin b.txt 2",
                                              "end b.txt ok", "elapsed", "deactivate"}));
  EXPECT_EQ(r.unzip.ArchiveFile(), d / "x.zip");
  // A second run starts afresh.
  events.clear();
  EXPECT_EQ(r.unzip.Extract(), 2);
  EXPECT_EQ(r.unzip.FilesFailed(), 0);
}

TEST(UnZipRun, CancelFromProgressStopsTheRun) {
  Folder d;
  Put(d / "src/a.bin", writerfixture::Random(300000, 1));
  Put(d / "src/b.bin", writerfixture::Random(300000, 2));
  writerfixture::Writer w(d / "x.zip", d / "src");
  ASSERT_EQ(w.zip.Compress(), 2);
  Reader r(d / "x.zip", d / "dest");
  int reports = 0;
  r.unzip.OnProgress = [&](TObject*, uint8_t, uint8_t) {
    if (++reports == 2) r.unzip.SetCancel(true);
  };
  EXPECT_LE(r.unzip.Extract(), 1);
  EXPECT_GE(r.Count(E_USER_CANCELED), 1);
  EXPECT_EQ(r.unzip.FilesFailed(), 1);  // the entry cut short never passes
  EXPECT_LE(Tree(d / "dest").size(), 1u);

  // The flag belongs to the run: the next one extracts everything.
  Reader again(d / "x.zip", d / "dest2");
  EXPECT_EQ(again.unzip.Extract(), 2);
}

TEST(UnZipRun, ExtractDirDefaultsToTheArchiveFolder) {
  Folder d;
  zipfixture::WriteAll(d / "x.zip", Build({Stored("in/a.txt", "A")}));
  TUnZip unzip;
  unzip.SetArchiveFile(d / "x.zip");
  unzip.FileSpec().Add("*.*");
  EXPECT_EQ(unzip.Extract(), 1);
  EXPECT_EQ(Slurp(d / "in/a.txt"), "A");
}

}  // namespace
