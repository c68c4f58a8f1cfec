// The runtime's text files: CP1251 bytes with CR LF, the I/O error of every failing step, text
// that the code page cannot hold, and the replacing rewrite that never leaves half a file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "platform/gui/textfile.h"
#include "tests/support/QtTestSupport.h"

namespace {

using platform::TextFile;

class TextFiles : public testsupport::TempHomeTest {
 protected:
  std::string Path(const std::string& name) const { return home_ + "/" + name; }
  int FilesIn(const std::string& dir) const {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
  }
};

TEST_F(TextFiles, WritesCp1251LinesWithCrLfAndReadsTheBytesBack) {
  TextFile f(Path("a.txt"));
  f.Rewrite();
  f.WriteLn("Создан");
  f.Write("x|");
  f.Close();
  f.Append();
  f.WriteLn("€");
  f.Close();
  const std::string bytes = ReadBytes(Path("a.txt"));
  EXPECT_EQ(bytes, "\xD1\xEE\xE7\xE4\xE0\xED\r\nx|\x88\r\n");

  f.Reset();
  std::string read;
  while (!f.Eof()) read += f.ReadChar();
  f.Close();
  EXPECT_EQ(read, bytes);
  EXPECT_THROW(f.ReadChar(), EInOutError);  // closed
}

TEST_F(TextFiles, MissingFilesAndFoldersRaiseTheIoError) {
  TextFile missing(Path("missing.txt"));
  try {
    missing.Reset();
    FAIL() << "reading a missing file succeeded";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, ENOENT);
    EXPECT_EQ(std::string(e.what()).rfind("File not found", 0), 0u) << e.what();
  }
  EXPECT_THROW(missing.Append(), EInOutError);
  EXPECT_FALSE(Exists(Path("missing.txt"))) << "appending must not create the file";
  TextFile inMissingFolder(Path("no/such/folder.txt"));
  EXPECT_THROW(inMissingFolder.Rewrite(), EInOutError);
  EXPECT_THROW(inMissingFolder.RewriteReplacing(), EInOutError);
}

TEST_F(TextFiles, AFullDiskIsReportedAtFlushOrClose) {
  TextFile full("/dev/full");
  full.Rewrite();
  full.WriteLn("строка");
  try {
    full.Close();
    FAIL() << "writing to a full device was reported as success";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, ENOSPC);
  }
}

TEST_F(TextFiles, TextTheCodePageCannotHoldIsRefusedNotReplaced) {
  TextFile f(Path("b.txt"));
  f.Rewrite();
  f.Write("ok ");
  EXPECT_THROW(f.Write("日本"), EInOutError);
  EXPECT_THROW(f.WriteLn("\xff\xfe"), EInOutError);  // not even UTF-8
  f.Close();
  EXPECT_EQ(ReadBytes(Path("b.txt")), "ok ");
}

TEST_F(TextFiles, AppendCreatingTellsWhichWriterCreatedTheFile) {
  TextFile f(Path("log.txt"));
  EXPECT_TRUE(f.AppendCreating());
  f.WriteLn("1");
  f.Close();
  EXPECT_FALSE(f.AppendCreating());
  f.WriteLn("2");
  f.Close();
  EXPECT_EQ(ReadBytes(Path("log.txt")), "1\r\n2\r\n");
}

TEST_F(TextFiles, ReplacingRewriteKeepsTheOldFileUntilCloseAndOnFailure) {
  const std::string path = Path("store.dat");
  WriteBytes(path, "old");
  ::chmod(path.c_str(), 0640);
  {
    TextFile f(path);
    f.RewriteReplacing();
    f.Write("new");
    f.Flush();
    EXPECT_EQ(ReadBytes(path), "old") << "a reader must see the old file while the new one is written";
    // Destroyed without Close: the run failed.
  }
  EXPECT_EQ(ReadBytes(path), "old");
  EXPECT_EQ(FilesIn(home_), 1) << "the temporary file must not stay behind";

  TextFile f(path);
  f.RewriteReplacing();
  f.Write("new");
  f.Close();
  EXPECT_EQ(ReadBytes(path), "new");
  EXPECT_EQ(FilesIn(home_), 1);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replaced file keeps its permissions";
}

}  // namespace
