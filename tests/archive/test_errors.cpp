// The error, cancel and progress model of every archive component, and its option defaults.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "archive/qrnBase.h"
#include "archive/qrnStreams.h"
#include "platform/files.h"
#include "platform/hooks.h"

namespace {

struct Report {
  std::string FileName, ExtendedMsg, VolumeID;
  int32_t Code;
};

// Records every OnError call of a component.
struct ErrorLog {
  std::vector<Report> Reports;
  void Attach(TZipCommon& c) {
    c.OnError = [this](TObject*, const std::string& f, const std::string& e, const std::string& v, int32_t code) {
      Reports.push_back({f, e, v, code});
    };
  }
};

uint32_t gTick = 0;
uint32_t fakeTick() { return gTick; }

}  // namespace

TEST(ErrorModel, MessageTableHoldsTheEngineTexts) {
  EXPECT_EQ(ErrorMessage(25136), "Error writing to file");
  EXPECT_EQ(ErrorMessage(25160), "Disk full");
  EXPECT_EQ(ErrorMessage(25235), "Error opening file");
  EXPECT_EQ(ErrorMessage(25244), "Invalid or unsupported archive type for this operation");
  EXPECT_EQ(ErrorMessage(25270), "Required event not assigned");
  EXPECT_EQ(ErrorMessage(25443), "User canceled");
  EXPECT_EQ(ErrorMessage(26859), "Nothing to do");
  EXPECT_EQ(ErrorMessage(26899), "Directory does not exist... Create?");
  EXPECT_EQ(LoadStr(25293), "Ambiguous Shannon-Fano decode tree encountered");
  EXPECT_FALSE(ErrorMessage(1).empty());  // never a silent error
}

TEST(ErrorModel, RaiseErrorReportsThenRaisesTheCodesText) {
  TZipCommon zip;
  try {
    zip.RaiseError(&Throw_E_RAISE, "a.zip", "", "0", 25160);
    FAIL() << "nothing raised";
  } catch (const E_RAISE& e) {
    EXPECT_STREQ(e.what(), "Disk full");
  }

  ErrorLog log;
  log.Attach(zip);
  EXPECT_THROW(zip.RaiseError(&Throw_EFOpenError, "a.zip", "entry", "3", 25235), EFOpenError);
  ASSERT_EQ(log.Reports.size(), 1u);
  EXPECT_EQ(log.Reports[0].FileName, "a.zip");
  EXPECT_EQ(log.Reports[0].ExtendedMsg, "entry");
  EXPECT_EQ(log.Reports[0].VolumeID, "3");
  EXPECT_EQ(log.Reports[0].Code, 25235);

  zip.ReportError("b.zip", "OnNextVolume", "2", 25270);
  ASSERT_EQ(log.Reports.size(), 2u);
  EXPECT_EQ(log.Reports[1].Code, 25270);
}

TEST(ErrorModel, CancelTurnsEveryCodeInto25443AndStopsRaising) {
  TZipCommon zip;
  ErrorLog log;
  log.Attach(zip);
  zip.SetArchiveFile("");  // no archive
  zip.SetCurrentFileName("dir/entry.txt");

  zip.SetCancel(false);
  EXPECT_TRUE(log.Reports.empty());
  EXPECT_FALSE(zip.GetCancel());

  zip.SetCancel(true);
  EXPECT_TRUE(zip.GetCancel());
  EXPECT_TRUE(zip.Canceled);
  ASSERT_EQ(log.Reports.size(), 1u);
  EXPECT_EQ(log.Reports[0].Code, 25443);
  EXPECT_EQ(log.Reports[0].ExtendedMsg, zip.CurrentFileName());
  EXPECT_EQ(log.Reports[0].VolumeID, "0");

  EXPECT_NO_THROW(zip.RaiseError(&Throw_E_RAISE, "a.zip", "", "0", 25136));
  EXPECT_NO_THROW(zip.RaiseWriteError());
  zip.ReportError("a.zip", "", "0", 25151);
  ASSERT_EQ(log.Reports.size(), 4u);
  for (const auto& r : log.Reports) EXPECT_EQ(r.Code, 25443);
}

TEST(ErrorModel, HandlerThatCancelsSuppressesTheRaise) {
  TZipCommon zip;
  zip.OnError = [&zip](TObject*, const std::string&, const std::string&, const std::string&, int32_t) {
    *zip.CancelRef = true;  // an error dialog's Cancel button
  };
  EXPECT_NO_THROW(zip.RaiseError(&Throw_E_RAISE, "a.zip", "", "0", 25136));
}

TEST(ErrorModel, CancelGoesThroughCancelRef) {
  TZipCommon zip;
  bool spanFlag = false;
  zip.CancelRef = &spanFlag;
  spanFlag = true;
  EXPECT_TRUE(zip.GetCancel());
  EXPECT_FALSE(zip.Canceled);
  EXPECT_NO_THROW(zip.RaiseError(&Throw_E_RAISE, "a.zip", "", "0", 25136));
}

TEST(ErrorModel, ErrorDialogTimeIsNotCounted) {
  TZipCommon zip;
  zip.Timer.TickSource = &fakeTick;
  gTick = 1000;
  zip.Timer.Start();
  zip.OnError = [](TObject*, const std::string&, const std::string&, const std::string&, int32_t) { gTick += 7000; };
  gTick += 500;
  EXPECT_THROW(zip.RaiseError(&Throw_E_RAISE, "a.zip", "", "0", 25136), E_RAISE);
  zip.ReportError("a.zip", "", "0", 25136);
  gTick += 500;
  zip.Timer.Stop();
  EXPECT_FLOAT_EQ(zip.Timer.ElapsedTime, 1.0f);
}

TEST(Progress, DoProgressComputesBothPercentagesAndSurvivesHandlers) {
  TZipCommon zip;
  std::vector<std::pair<int, int>> seen;
  int pumped = 0;
  platform::SetMessagePump([&pumped] { ++pumped; });
  zip.OnProgress = [&seen](TObject*, uint8_t f, uint8_t a) { seen.emplace_back(f, a); };

  zip.BytesLeft = 0;
  zip.DoProgress(0, 10, 5);  // zero archive size
  zip.BytesLeft = 75;
  zip.DoProgress(100, 8, 1);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_pair(50, 0));
  EXPECT_EQ(seen[1], std::make_pair(12, 25));
  EXPECT_EQ(zip.ProgressByFile, 12);
  EXPECT_EQ(zip.ProgressByArchive, 25);
  EXPECT_EQ(pumped, 2);  // FireProgress lets the application breathe first

  zip.OnProgress = [](TObject*, uint8_t, uint8_t) { throw std::runtime_error("handler bug"); };
  EXPECT_NO_THROW(zip.DoProgress(100, 100, 50));
  platform::SetMessagePump(nullptr);
}

TEST(Progress, StreamCallbacksFireOnlyForTheirEvent) {
  TZipCommon zip;
  TMemoryStream32 stream;
  uint8_t bytes[40] = {};
  stream.Write(bytes, 40);  // position 40
  zip.FileTotal = 80;
  zip.ArchiveTotal = 200;
  zip.BytesLeft = 100;
  int progress = 0;
  zip.OnProgress = [&progress](TObject* s, uint8_t f, uint8_t a) {
    ++progress;
    EXPECT_NE(dynamic_cast<TZipCommon*>(s), nullptr);
    EXPECT_EQ(f, 50);
    EXPECT_EQ(a, 50);
  };
  zip.ReportTempMoveProgress(&stream);  // no OnTmpFileProgress: silent
  EXPECT_EQ(progress, 0);
  zip.ReportStreamProgress(&stream);
  EXPECT_EQ(progress, 1);
  zip.OnTmpFileProgress = [](TObject*, uint8_t, uint8_t) {};
  zip.ReportTempMoveProgress(&stream);  // its percentages still go out through OnProgress
  EXPECT_EQ(progress, 2);
  zip.OnProgress = nullptr;
  zip.ReportStreamProgress(&stream);
}

TEST(Defaults, ListsAreTheComponentsOwn) {
  TZipCommon zip;
  TStrings list;
  list.Add("/src/*.*");
  zip.SetFileSpec(list);
  list.Add("more");
  EXPECT_EQ(zip.FileSpec().Count(), 1);  // a copy, not the caller's list
  zip.FileSpec().Clear();
  EXPECT_EQ(zip.FileSpec().Count(), 0);
  EXPECT_EQ(list.Count(), 2);
}

TEST(Dates, GetFileDateFollowsDateAttribute) {
  TZipCommon zip;
  const uint32_t own = 0x58B16D2Fu, latest = 0x58C00000u;
  zip.MaxFileDate = latest;
  EXPECT_EQ(zip.GetFileDate(own), own);
  zip.SetDateAttribute(daMaxFileDate);
  EXPECT_EQ(zip.GetFileDate(own), latest);
  zip.SetDateAttribute(daSysDate);
  const uint32_t now = zip.GetFileDate(own);
  EXPECT_NE(now, own);
  EXPECT_GE(now >> 25, 2024u - 1980u);  // this year, not a file's date

  EXPECT_NEAR(zip.DosDateTimeToDateTime(0), 29221 + 60.0 / 86400.0, 1e-9);
}

TEST(TempFolder, MissingFolderAnsweredNoEndsWithTheSystemTempPath) {
  TZipCommon zip;
  const std::string missing = std::string(TARVELO_BINARY_DIR) + "/no-such-temp-folder/sub";
  platform::ScriptedAnswerer answers;
  answers.Answer(platform::IDNO);
  zip.SetTempDir(missing);
  ASSERT_EQ(answers.Boxes().size(), 1u);
  EXPECT_EQ(answers.Boxes()[0].text, missing + "/\n\nDirectory does not exist... Create?");
  EXPECT_EQ(answers.Boxes()[0].flags & platform::MB_TYPEMASK, platform::MB_YESNO);
  EXPECT_EQ(zip.TempDir(), SystemTempPath());
  EXPECT_FALSE(platform::DirectoryExists(missing));
}

TEST(TempFolder, MissingFolderAnsweredYesIsCreated) {
  TZipCommon zip;
  char base[] = "/tmp/qrn-tempdir-XXXXXX";
  ASSERT_NE(::mkdtemp(base), nullptr);
  const std::string wanted = std::string(base) + "/a/b";
  platform::ScriptedAnswerer answers;
  answers.Answer(platform::IDYES);
  zip.SetTempDir(wanted);
  EXPECT_EQ(zip.TempDir(), wanted + "/");
  EXPECT_TRUE(platform::DirectoryExists(wanted));

  // An existing folder asks nothing; an empty value is the system temporary folder.
  zip.SetTempDir(base);
  EXPECT_EQ(zip.TempDir(), std::string(base) + "/");
  zip.SetTempDir("");
  EXPECT_EQ(zip.TempDir(), SystemTempPath());
  EXPECT_EQ(answers.Boxes().size(), 1u);

  // A temporary name is a new file with the prefix in the folder asked for.
  const std::string name = zip.MakeTempFileName(wanted);
  EXPECT_EQ(name.rfind(wanted + "/qrn", 0), 0u);
  EXPECT_TRUE(platform::FileExists(name));
  EXPECT_NE(zip.MakeTempFileName(wanted), name);
  std::system(("rm -rf '" + std::string(base) + "'").c_str());
}
