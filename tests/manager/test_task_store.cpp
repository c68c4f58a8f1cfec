// The task store: how records are split and trimmed, what a missing or cut-off store does, the
// exact bytes written, stores beyond 13 tasks, and rewrites that fail half way.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "manager/TaskStore.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "tests/support/QtTestSupport.h"

namespace {

class TaskStore : public testsupport::TempHomeTest {
 protected:
  std::string StorePath() const { return home_ + "/records.dat"; }
  static std::string Cp1251(const std::string& utf8) { return platform::Utf8ToCp1251(utf8).value(); }

  // A record whose fields are "<prefix>-<field number>".
  static TTaskRecord Numbered(const std::string& prefix) {
    TTaskRecord r;
    for (int f = 1; f <= kStoredTaskFields; ++f) r[static_cast<size_t>(f - 1)] = prefix + "-" + std::to_string(f);
    return r;
  }
  static void Put(TTaskTable& table, int task, const TTaskRecord& r) {
    for (int f = 1; f <= kStoredTaskFields; ++f) table(f, task) = r[static_cast<size_t>(f - 1)];
    table(Deleted, task) = "0";
  }
};

TEST_F(TaskStore, MissingStoreLeavesTableAndCountAloneEmptyStoreHasNoTasks) {
  TTaskTable table;
  table(TaskName, 1) = "earlier";
  int32_t count = 7;
  LoadTaskStore(table, count);
  EXPECT_EQ(count, 7);
  EXPECT_EQ(table(TaskName, 1), "earlier");

  WriteBytes(StorePath(), "");
  LoadTaskStore(table, count);
  EXPECT_EQ(count, 1);
}

TEST_F(TaskStore, ValuesAreTrimmedAtTheirEndsOnly) {
  WriteBytes(StorePath(), Cp1251(" a |/src dir|/backup\r\n|Автоматическая|||| |new|x.zip|1|a.log@"));
  TTaskTable table;
  int32_t count = 1;
  LoadTaskStore(table, count);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(table(TaskName, 1), "a");
  EXPECT_EQ(table(SourceDir, 1), "/src dir") << "a blank inside a value stays";
  EXPECT_EQ(table(BackupDir, 1), "/backup");
  EXPECT_EQ(table(Mode, 1), "Автоматическая");
  for (int f = Kind; f <= StartTime; ++f) EXPECT_EQ(table(f, 1), "") << "field " << f;
  EXPECT_EQ(table(LogFile, 1), "a.log");
  EXPECT_EQ(table(Deleted, 1), "0");
}

TEST_F(TaskStore, OnlyRecordsClosedByTheirAtSignCount) {
  WriteBytes(StorePath(), "t1|||||||||||@t2|||||||||||@t3|s3|b3");  // the third was cut off
  TTaskTable table;
  int32_t count = 1;
  LoadTaskStore(table, count);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(table(TaskName, 1), "t1");
  EXPECT_EQ(table(TaskName, 2), "t2");
  EXPECT_EQ(table(Deleted, 2), "0");
}

TEST_F(TaskStore, FieldsBeyondTheTwelfthDoNotOverwriteTheDeletionMarkOrOtherTasks) {
  WriteBytes(StorePath(), "a|2|3|4|5|6|7|8|9|10|11|12|13|14@b|2|3|4|5|6|7|8|9|10|11|12@");
  TTaskTable table;
  int32_t count = 1;
  LoadTaskStore(table, count);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(table(LogFile, 1), "12");
  EXPECT_EQ(table(Deleted, 1), "0");
  EXPECT_EQ(table(TaskName, 2), "b");
  EXPECT_EQ(table(TaskName, 3), "") << "the extra values must not land in a later task";
}

TEST_F(TaskStore, RewriteWritesTheExactBytesAndTheDeletionLeavesMarkedTasksOut) {
  TTaskTable table;
  Put(table, 1, {"Документы", "/home/u/Документы", "/backup/Документы", "Автоматическая", "Ежедневная",
                 "Понедельник", "08.12.2026", "09:05:00", "new", "docs.zip", "1", "Документы.log"});
  Put(table, 2, {"b", "/s", "/d", "По требованию", "", "", "", "", "add", "Дата+Время.zip", "0", "none"});
  SaveTaskStore(table, 3);
  const std::string first = Cp1251(
      "Документы|/home/u/Документы|/backup/Документы|Автоматическая|Ежедневная|Понедельник|08.12.2026|"
      "09:05:00|new|docs.zip|1|Документы.log@");
  const std::string second = Cp1251("b|/s|/d|По требованию|||||add|Дата+Время.zip|0|none@");
  const std::string bytes = ReadBytes(StorePath());
  EXPECT_EQ(bytes, first + second);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xC4u);  // 'Д' in CP1251

  table(Deleted, 1) = "1";
  SaveTaskStore(table, 3, true);
  EXPECT_EQ(ReadBytes(StorePath()), second);
  SaveTaskStore(table, 1);
  EXPECT_EQ(ReadBytes(StorePath()), "") << "no tasks: an empty store";
}

TEST_F(TaskStore, TwentyTasksRoundTripWithoutOverlapping) {
  TTaskTable table;
  for (int t = 1; t <= 20; ++t) Put(table, t, Numbered("задача" + std::to_string(t)));
  SaveTaskStore(table, 21);

  TTaskTable loaded;
  int32_t count = 1;
  LoadTaskStore(loaded, count);
  ASSERT_EQ(count, 21);
  for (int t = 1; t <= 20; ++t) {
    for (int f = 1; f <= kStoredTaskFields; ++f) {
      EXPECT_EQ(loaded(f, t), "задача" + std::to_string(t) + "-" + std::to_string(f)) << "task " << t;
    }
  }
  // Task 14 once shared its elements with task 1.
  loaded(TaskName, 14) = "changed";
  EXPECT_EQ(loaded(TaskName, 1), "задача1-1");
  EXPECT_EQ(loaded(BackupDir, 1), "задача1-3");
}

TEST_F(TaskStore, AnInterruptedRewriteLeavesTheOldStoreWhole) {
  const std::string old = "old|s|b|По требованию|||||add|a.zip|0|none@";
  WriteBytes(StorePath(), Cp1251(old));
  TTaskTable table;
  for (int t = 1; t <= 20; ++t) Put(table, t, Numbered(std::string(400, 'x')));

  // The file size limit makes the system refuse the write half way, as a full disk would.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 8192;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool raised = false;
  try {
    SaveTaskStore(table, 21);
  } catch (const EInOutError&) {
    raised = true;
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  EXPECT_TRUE(raised) << "a failed rewrite was reported as success";
  EXPECT_EQ(ReadBytes(StorePath()), Cp1251(old));
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(home_)) ++files;
  EXPECT_EQ(files, 1) << "the temporary file must be removed";
}

TEST_F(TaskStore, TextTheStoreCannotKeepIsRefusedBeforeAnythingIsWritten) {
  EXPECT_TRUE(IsStorableTaskText("Резервная копия €"));
  EXPECT_FALSE(IsStorableTaskText("a|b"));
  EXPECT_FALSE(IsStorableTaskText("user@host"));
  EXPECT_FALSE(IsStorableTaskText("日本"));

  WriteBytes(StorePath(), "t|||||||||||@");
  TTaskTable table;
  Put(table, 1, Numbered("ok"));
  Put(table, 2, Numbered("日本"));
  EXPECT_THROW(SaveTaskStore(table, 3), EInOutError);
  EXPECT_THROW(AppendTaskRecord(Numbered("a|b")), EInOutError);
  EXPECT_EQ(ReadBytes(StorePath()), "t|||||||||||@");
}

// A store may hold any byte inside a value, 0x98 too, which code page 1251 leaves undefined:
// every rewrite (a changed task, a deleted one) keeps the bytes of the tasks it keeps.
TEST_F(TaskStore, EveryByteOfAValueSurvivesALoadAndARewrite) {
  std::string every = "A";
  for (int b = 0; b < 256; ++b) {
    if (b != '|' && b != '@') every += static_cast<char>(b);
  }
  every += "Z";
  const std::string second = "B\x98|/src\x98|/dst|x|||||new|b.zip|0|none@";
  const std::string bytes = every + "|/src|/dst\x98\x81|x|||||new|a.zip|0|none@" + second;
  WriteBytes(StorePath(), bytes);
  TTaskTable table;
  int32_t count = 1;
  LoadTaskStore(table, count);
  ASSERT_EQ(count, 3);
  SaveTaskStore(table, count);
  EXPECT_EQ(ReadBytes(StorePath()), bytes);

  table(Deleted, 1) = "1";
  SaveTaskStore(table, count, true);
  EXPECT_EQ(ReadBytes(StorePath()), second);
  AppendTaskRecord({table(TaskName, 1), "/s", "/d", "x", "", "", "", "", "new", "a.zip", "0", "none"});
  LoadTaskStore(table, count);
  ASSERT_EQ(count, 3);
  SaveTaskStore(table, count);
  EXPECT_EQ(ReadBytes(StorePath()), second + every + "|/s|/d|x|||||new|a.zip|0|none@");
}

TEST_F(TaskStore, AppendNeedsTheStoreAndNeverMergesWithACutOffRecord) {
  EXPECT_THROW(AppendTaskRecord(Numbered("n")), EInOutError);
  EXPECT_FALSE(Exists(StorePath())) << "only a rewrite creates the store";

  WriteBytes(StorePath(), "t1|||||||||||@half|way");
  AppendTaskRecord(Numbered("n"));
  EXPECT_EQ(ReadBytes(StorePath()), "t1|||||||||||@n-1|n-2|n-3|n-4|n-5|n-6|n-7|n-8|n-9|n-10|n-11|n-12@");
  TTaskTable table;
  int32_t count = 1;
  LoadTaskStore(table, count);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(table(TaskName, 2), "n-1");
  EXPECT_EQ(table(LogFile, 2), "n-12");

  WriteBytes(StorePath(), "");
  AppendTaskRecord(Numbered("z"));
  LoadTaskStore(table, count);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(table(TaskName, 1), "z-1");
}

TEST(TaskTable, FieldsOutsideTheRecordAreRefused) {
  TTaskTable table;
  EXPECT_THROW(table(0, 1), std::out_of_range);
  EXPECT_THROW(table(14, 1), std::out_of_range);
  EXPECT_THROW(table(1, 0), std::out_of_range);
  const TTaskTable& view = table;
  EXPECT_EQ(view(TaskName, 100), "");
  EXPECT_EQ(table.Capacity(), 0) << "reading must not grow the table";
}

}  // namespace
