// The scanner on a real tree: hidden folders, read-only files, special files, linked folders
// that loop, the attribute tests, scan groups, events, cancelling and the owner's callback.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/qrnFileScan.h"
#include "platform/hooks.h"
#include "tests/support/UnixSocket.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const std::string& path, size_t size) {
  std::ofstream out(path, std::ios::binary);
  out << std::string(size, 'x');
}

// A fresh folder per test, removed afterwards (links are removed, never followed).
class FileScanWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tarvelo_scanXXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = std::string(tmpl) + "/";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // root/ a.txt(3) b.doc(5) README(7) .profile(11) ro.txt(13, read-only) link.txt -> a.txt
  //       sub/ c.txt(17) deep/ d.txt(19)   .cache/ h.txt(23)
  //       fifo, sock, loop -> ., up -> .., dangling -> nowhere
  void BuildTree() {
    WriteFile(root_ + "a.txt", 3);
    WriteFile(root_ + "b.doc", 5);
    WriteFile(root_ + "README", 7);
    WriteFile(root_ + ".profile", 11);
    WriteFile(root_ + "ro.txt", 13);
    ASSERT_EQ(::chmod((root_ + "ro.txt").c_str(), 0444), 0);
    fs::create_directories(root_ + "sub/deep");
    WriteFile(root_ + "sub/c.txt", 17);
    WriteFile(root_ + "sub/deep/d.txt", 19);
    fs::create_directory(root_ + ".cache");
    WriteFile(root_ + ".cache/h.txt", 23);
    ASSERT_EQ(::mkfifo((root_ + "fifo").c_str(), 0644), 0);
    testsupport::MakeSocket(root_ + "sock");
    fs::create_directory_symlink(".", root_ + "loop");
    fs::create_directory_symlink("..", root_ + "sub/up");
    fs::create_symlink("a.txt", root_ + "link.txt");
    fs::create_symlink("nowhere", root_ + "dangling");
  }

  // Relative names of everything the per-entry callback received ("sub/" for a folder).
  std::multiset<std::string> Collect(TqrnFileScan& scan) {
    std::multiset<std::string> got;
    scan.SetFoundFileProc([&](const std::string& path, const platform::FindData& d, TObject*) {
      EXPECT_EQ(path.back(), '/');
      const bool dir = d.attributes & platform::kAttrDirectory;
      got.insert(path.substr(root_.size()) + (dir ? "" : d.name));
    });
    scan.Scan();
    return got;
  }

  TStrings Spec(std::initializer_list<std::string> entries) {
    TStrings s;
    for (const auto& e : entries) s.Add(e);
    return s;
  }

  std::string root_;
};

TEST_F(FileScanWalk, DefaultsTakeFilesSkipHiddenFoldersSpecialFilesAndLinkedFolders) {
  BuildTree();
  TqrnFileScan scan;
  scan.SetFileSpec(Spec({root_ + "*.*"}));
  std::vector<std::string> events;
  int finished = 0;
  scan.OnRecurseDir = [&](TObject* s, const std::string& d) {
    EXPECT_EQ(s, &scan);
    events.push_back("D " + d.substr(root_.size()));
  };
  scan.OnScanFile = [&](TObject*, const std::string& name, int32_t count, int64_t) {
    events.push_back("F " + name);
    EXPECT_EQ(count, scan.FilesCount());
  };
  scan.OnFinished = [&](TObject*, int32_t count, int64_t size) {
    ++finished;
    EXPECT_EQ(count, 8);
    EXPECT_EQ(size, 3 + 5 + 7 + 11 + 13 + 3 + 17 + 19);
  };
  scan.Scan();
  EXPECT_EQ(finished, 1);

  std::map<std::string, uint32_t> found;
  const TFilesList& list = scan.FilesList();
  for (int32_t i = 0; i < list.Count(); ++i) found[list[i].Path.substr(root_.size()) + list[i].Name] = list[i].Attributes;
  const std::map<std::string, uint32_t> want{
      {"a.txt", 0x20},  {"b.doc", 0x20},  {"README", 0x20},  {".profile", 0x22},
      {"ro.txt", 0x21}, {"link.txt", 0x20}, {"sub/c.txt", 0x20}, {"sub/deep/d.txt", 0x20}};
  EXPECT_EQ(found, want);
  EXPECT_EQ(scan.FilesSize(), 78);

  // Depth first: a sub-folder is walked completely as soon as its entry comes up.
  const auto sub = std::find(events.begin(), events.end(), "D sub/");
  ASSERT_NE(sub, events.end());
  EXPECT_EQ(events.front(), "D ");
  ASSERT_GE(events.end() - sub, 4);
  EXPECT_EQ(std::multiset<std::string>(sub, sub + 4),
            (std::multiset<std::string>{"D sub/", "F c.txt", "D sub/deep/", "F d.txt"}));
  const auto deep = std::find(sub, sub + 4, "D sub/deep/");
  ASSERT_NE(deep, sub + 4);
  EXPECT_EQ(*(deep + 1), "F d.txt");
  EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const std::string& e) { return e[0] == 'D'; }), 3);
}

TEST_F(FileScanWalk, HiddenFoldersOnlyWithIncludeHiddenDirs) {
  BuildTree();
  TqrnFileScan scan;
  scan.SetFileSpec(Spec({root_ + "h.txt"}));
  // Taking hidden entries does not open hidden folders.
  scan.SetAttributes({fsArchive, fsHidden});
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{".cache/"}));
  scan.SetFileSpec(Spec({root_ + "h.txt"}));
  scan.SetIncludeHiddenDirs(true);
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{".cache/", ".cache/h.txt"}));
}

TEST_F(FileScanWalk, AttributeTestsIncludeAndExclude) {
  BuildTree();
  TqrnFileScan scan;
  scan.SetFileSpec(Spec({root_ + "*"}));
  scan.SetAttributes({fsReadOnly});
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{"ro.txt"}));

  scan.SetFileSpec(Spec({root_ + "*.txt"}));
  scan.SetAttributes({fsArchive});
  scan.SetAttributesEx({fsReadOnly});
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{"a.txt", "link.txt", "sub/c.txt", "sub/deep/d.txt"}));

  // Only hidden: the dot file and the hidden folder entry; the walk into sub/ does not depend
  // on the attribute tests.
  scan.SetFileSpec(Spec({root_ + "*"}));
  scan.SetAttributes({fsHidden});
  scan.SetAttributesEx({});
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{".profile", ".cache/"}));

  // Folder entries come with the folder as path and are not counted as files.
  scan.SetFileSpec(Spec({root_ + "*.doc"}));
  scan.SetAttributes({fsArchive, fsDirectory});
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{"b.doc", "sub/", "sub/deep/", ".cache/"}));
  EXPECT_EQ(scan.FilesCount(), 1);
}

TEST_F(FileScanWalk, RecursionAndUpdateListSwitches) {
  BuildTree();
  TqrnFileScan scan;
  scan.SetFileSpec(Spec({root_ + "*.txt"}));
  scan.SetRecurseDirs(false);
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{"a.txt", "ro.txt", "link.txt"}));

  scan.SetFileSpec(Spec({root_ + "*.txt"}));
  scan.SetRecurseDirs(true);
  scan.SetUpdateList(false);
  EXPECT_TRUE(Collect(scan).empty());
  EXPECT_EQ(scan.FilesCount(), 5);
}

TEST_F(FileScanWalk, FilesOfFourGigabytesAndMore) {
  const std::string big = root_ + "big.img";
  { std::ofstream(big.c_str()); }
  std::error_code ec;
  fs::resize_file(big, (uint64_t{5} << 30) + 7, ec);  // sparse
  if (ec) GTEST_SKIP() << "no sparse files here";
  TqrnFileScan scan;
  scan.SetFileSpec(Spec({root_ + "*.img"}));
  scan.Scan();
  ASSERT_EQ(scan.FilesList().Count(), 1);
  EXPECT_EQ(scan.FilesList()[0].SizeHigh, 1u);
  EXPECT_EQ(scan.FilesList()[0].SizeLow, (1u << 30) + 7);
  EXPECT_EQ(scan.FilesSize(), (int64_t{5} << 30) + 7);
}

TEST_F(FileScanWalk, GroupsByFolderAndMergesCoveredMasks) {
  fs::create_directories(root_ + "a");
  fs::create_directories(root_ + "b");
  for (const char* f : {"a/x.txt", "a/y.txt", "a/z.doc", "a/README", "b/p.doc", "b/q.txt"}) WriteFile(root_ + f, 1);
  TqrnFileScan scan;
  std::vector<std::string> roots;
  scan.OnRootDirChange = [&](TObject*, const std::string& d) { roots.push_back(d.substr(root_.size())); };

  TStrings owner = Spec({root_ + "a/*.txt", "  \t", root_ + "b/*.doc", root_ + "a/x.txt"});
  scan.SetFileSpec(owner);
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{"a/x.txt", "a/y.txt", "b/p.doc"}));
  EXPECT_EQ(roots, (std::vector<std::string>{"a/", "b/"}));
  EXPECT_EQ(scan.FileSpec().Count(), 0);
  EXPECT_EQ(owner.Count(), 4);

  // "*" covers "*.txt": one group, every file once.
  roots.clear();
  scan.SetFileSpec(Spec({root_ + "a/*.txt", root_ + "a/*"}));
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{"a/x.txt", "a/y.txt", "a/z.doc", "a/README"}));
  EXPECT_EQ(roots.size(), 1u);

  // "*.*" stands for every file, with or without an extension.
  scan.SetFileSpec(Spec({root_ + "a/*.*"}));
  EXPECT_EQ(Collect(scan).count("a/README"), 1u);

  // Bare masks walk RootDir, once for all of them.
  roots.clear();
  scan.SetRootDir(root_ + "b");
  EXPECT_EQ(scan.RootDir(), root_ + "b/");
  scan.SetFileSpec(Spec({"*.txt", "*.doc"}));
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{"b/p.doc", "b/q.txt"}));
  EXPECT_EQ(roots, (std::vector<std::string>{"b/"}));
}

TEST_F(FileScanWalk, AWiderMaskIsNeverDroppedForANarrowerOne) {
  // "a*" read as a plain name matches the mask "a?"; dropping "a*" for it would lose "abc".
  for (const char* f : {"ab", "abc", "a.txt", "b"}) WriteFile(root_ + f, 1);
  TqrnFileScan scan;
  scan.SetFileSpec(Spec({root_ + "a?", root_ + "a*"}));
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{"ab", "abc", "a.txt"}));
  scan.SetFileSpec(Spec({root_ + "x*y", root_ + "x?y", root_ + "a*."}));
  for (const char* f : {"xy", "xzy", "xzzy", "adot"}) WriteFile(root_ + f, 1);
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{"xy", "xzy", "xzzy", "ab", "abc", "adot"}));
}

TEST_F(FileScanWalk, FoldersDifferingInCaseAreTwoGroups) {
  fs::create_directories(root_ + "Data");
  fs::create_directories(root_ + "data");
  WriteFile(root_ + "Data/1.txt", 1);
  WriteFile(root_ + "data/2.txt", 1);
  TqrnFileScan scan;
  scan.SetFileSpec(Spec({root_ + "Data/*.*", root_ + "data/*.*"}));
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{"Data/1.txt", "data/2.txt"}));
}

TEST_F(FileScanWalk, RootFolderModeSplitsTheMaskString) {
  BuildTree();
  TqrnFileScan scan;
  int finished = 0;
  scan.OnFinished = [&](TObject*, int32_t, int64_t) { ++finished; };
  scan.SetRootDir(root_);
  scan.SetMaskString(" *.doc,, README , ");
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{"b.doc", "README"}));
  EXPECT_EQ(finished, 1);

  // A missing RootDir, or one that is a file, yields nothing and no OnFinished.
  scan.SetRootDir(root_ + "missing");
  EXPECT_TRUE(Collect(scan).empty());
  scan.SetRootDir(root_ + "a.txt");
  EXPECT_TRUE(Collect(scan).empty());
  EXPECT_EQ(finished, 1);
  // Assigning FileSpec switches to list mode.
  scan.SetFileSpec(Spec({root_ + "b.doc"}));
  EXPECT_TRUE(scan.MaskString().empty());
}

TEST_F(FileScanWalk, FoldersThatCannotBeListedYieldNothing) {
  BuildTree();
  TqrnFileScan scan;
  int finished = 0;
  scan.OnFinished = [&](TObject*, int32_t count, int64_t) {
    ++finished;
    EXPECT_EQ(count, 0);
  };
  // A group folder that is a file, and one that does not exist.
  scan.SetFileSpec(Spec({root_ + "a.txt/*.*", root_ + "nothere/*.*"}));
  EXPECT_TRUE(Collect(scan).empty());
  EXPECT_EQ(finished, 1);

  // Root ignores permission bits, so an unreadable folder is played by one that disappears
  // after its parent was listed and before it is itself listed.
  scan.OnFinished = nullptr;
  scan.OnRecurseDir = [&](TObject*, const std::string& d) {
    if (d == root_ + "sub/") fs::rename(root_ + "sub", root_ + "gone");
  };
  scan.SetFileSpec(Spec({root_ + "*.txt"}));
  EXPECT_EQ(Collect(scan), (std::multiset<std::string>{"a.txt", "ro.txt", "link.txt"}));
}

TEST_F(FileScanWalk, StopScanAndTheOwnersCancelFlag) {
  BuildTree();
  TqrnFileScan scan;
  std::vector<std::string> roots;
  int finished = 0;
  scan.OnRootDirChange = [&](TObject*, const std::string& d) { roots.push_back(d); };
  scan.OnFinished = [&](TObject*, int32_t, int64_t) { ++finished; };
  scan.OnScanFile = [&](TObject*, const std::string&, int32_t, int64_t) { scan.StopScan(); };
  scan.SetFileSpec(Spec({root_ + "*.txt", root_ + "sub/*.txt"}));
  scan.Scan();
  EXPECT_EQ(scan.FilesCount(), 1);
  EXPECT_EQ(roots.size(), 1u);  // the second group never starts
  EXPECT_EQ(finished, 1);       // a stopped scan still finishes

  // The owner's flag: cleared by Scan, set from outside (here through the message pump that
  // runs after every entry).
  bool cancel = true;
  scan.SetCancelFlag(&cancel);
  scan.OnScanFile = nullptr;
  int pumped = 0;
  platform::SetMessagePump([&] {
    if (++pumped == 2) cancel = true;
  });
  scan.SetFileSpec(Spec({root_ + "*"}));
  scan.Scan();
  platform::SetMessagePump(nullptr);
  EXPECT_TRUE(scan.Cancelled());
  EXPECT_GE(pumped, 2);
  EXPECT_LE(scan.FilesCount(), 2);
  EXPECT_EQ(finished, 2);
}

TEST_F(FileScanWalk, OwnersCallbackAndListReplaceTheDefault) {
  BuildTree();
  TqrnFileScan scan;
  TObject ownerList;
  int calls = 0;
  scan.SetOwnerList(&ownerList);
  scan.SetFoundFileProc([&](const std::string&, const platform::FindData&, TObject* list) {
    EXPECT_EQ(list, &ownerList);
    ++calls;
  });
  scan.SetFileSpec(Spec({root_ + "*.txt"}));
  scan.Scan();
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(scan.FilesList().Count(), 0);

  // Back to AddFoundFile; a list that is not a TFilesList falls back to the scanner's own.
  scan.SetFoundFileProc(nullptr);
  scan.SetFileSpec(Spec({root_ + "*.txt"}));
  scan.Scan();
  EXPECT_EQ(scan.FilesList().Count(), 5);

  TFilesList mine;
  scan.SetOwnerList(&mine);
  scan.SetFileSpec(Spec({root_ + "*.doc"}));
  scan.Scan();
  EXPECT_EQ(mine.Count(), 1);
  EXPECT_EQ(mine[0].Name, "b.doc");
  EXPECT_EQ(mine[0].Path, root_);
}

TEST_F(FileScanWalk, SortedResortsTheFoundFilesAndReportsAgain) {
  BuildTree();
  TqrnFileScan scan;
  scan.SetFileSpec(Spec({root_ + "*.txt"}));
  scan.SetRecurseDirs(false);
  scan.Scan();
  int finished = 0;
  scan.OnFinished = [&](TObject*, int32_t count, int64_t) {
    ++finished;
    EXPECT_EQ(count, 3);
  };
  scan.SetSorted(soByName);
  EXPECT_EQ(finished, 1);
  const TFilesList& l = scan.FilesList();
  ASSERT_EQ(l.Count(), 3);
  EXPECT_EQ(l[0].Name, "a.txt");
  EXPECT_EQ(l[1].Name, "link.txt");
  EXPECT_EQ(l[2].Name, "ro.txt");
  scan.SetSorted(soBySize);
  EXPECT_EQ(l[0].Name, "a.txt");
  EXPECT_EQ(l[2].Name, "ro.txt");
}

}  // namespace
