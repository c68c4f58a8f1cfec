// The executor's task run against the engine on one source tree (not part of the product).
//   executor_runs TREE WORK_DIR [RUNS] [LABEL]
// The executor's form runs an automatic task (RunTask: tray icon, task log, executor log, the
// archive) with the programs' message pump, offscreen; beside it the engine alone does the same
// work under the same conditions:
//   backup new, fresh folder          a replacing task into a new backup folder
//   backup new, archive just deleted  the same, into the folder whose archive was just deleted
//   backup add, nothing changed       an adding task onto the archive of its minute
// Prints the best of RUNS of each side (real time, with user and system time) and the ratio of
// the program to the engine. WORK_DIR is emptied first.
#include <string>

#include "bench/task_runs.h"
#include "executor/Dorvexal.h"
#include "manager/ArchiveName.h"
#include "manager/Settings.h"
#include "manager/TaskArchive.h"
#include "manager/TaskLog.h"
#include "platform/gui/datetime.h"

using namespace taskruns;

namespace {

constexpr const char* kLogFile = "bench.log";

class TExecutorRaces {
 public:
  explicit TExecutorRaces(const TArguments& a) : A(a) {
    Files = TreeSize(A.Tree).Files;
    // The runs are started here, not by the executor's own minute: its tick would run the task
    // of the table again between them.
    Form.Timer1.stop();
  }

  void BackupNew() {
    const auto folder = [this](const char* side, int i) { return A.Work + "/" + side + "-new." + std::to_string(i); };
    Race(A.Label + ": backup new, fresh folder", A.Runs,
         {[&](int i) { fs::create_directories(folder("engine", i)); },
          [&](int i) { EngineBackup(A.Tree, folder("engine", i) + "/Backup.zip", Files); }},
         {[&](int i) { fs::create_directories(folder("program", i)); },
          [&](int i) { RunTask(folder("program", i), "new", "Backup.zip"); }});
    Race(A.Label + ": backup new, archive just deleted", A.Runs,
         {[&](int) { fs::remove(folder("engine", 0) + "/Backup.zip"); },
          [&](int) { EngineBackup(A.Tree, folder("engine", 0) + "/Backup.zip", Files); }},
         {[&](int) { fs::remove(folder("program", 0) + "/Backup.zip"); },
          [&](int) { RunTask(folder("program", 0), "new", "Backup.zip"); }});
  }

  void BackupAdd() {
    // The clock stands still: every run of the adding task goes to the archive of one minute.
    const std::string engine = A.Work + "/engine-add";
    const std::string program = A.Work + "/program-add";
    fs::create_directories(engine);
    fs::create_directories(program);
    EngineBackup(A.Tree, engine + "/" + DateTimeArchiveName(), Files);
    EngineBackup(A.Tree, program + "/" + DateTimeArchiveName(), Files);
    Race(A.Label + ": backup add, nothing changed", A.Runs,
         {[](int) {}, [&](int) { EngineBackup(A.Tree, engine + "/" + DateTimeArchiveName(), 0); }},
         {[](int) {}, [&](int) { RunTask(program, "add", "Дата+Время.zip"); }});
  }

 private:
  void RunTask(const std::string& backup, const char* copyType, const char* name) {
    const std::string fields[kStoredTaskFields] = {"bench", A.Tree, backup, "Автоматическая", "Ежедневная", "",
                                                   "08.12.2026", "9:05:00", copyType, name, "1", kLogFile};
    for (int32_t f = 0; f < kStoredTaskFields; ++f) Form.TaskTable(f + 1, 1) = fields[f];
    Form.TaskCount = 2;
    Form.RunTask(Form.Busy, 1, Form.TaskTable);
    if (Form.Trayloom1->IconIndex() != kIdleImage) Fail("executor's run into " + backup);
  }

  const TArguments& A;
  int64_t Files = 0;
  TForm1 Form;
};

}  // namespace

int main(int argc, char** argv) {
  const TArguments a = ParseArguments(argc, argv, "executor_runs");
  TProgramSetting setting(a.Work, "Dorvexal");
  const double now = platform::EncodeDateTime(2026, 12, 8, 9, 5, 30);
  platform::SetClockForTesting([now] { return now; });
  {
    platform::TRegistry registry;
    registry.OpenKey(kSettingsKey, true);
    WriteFirstRunSettings(registry, setting.Home);
    registry.WriteString("logf", "1");
  }
  WriteTaskLogHeader("1", kLogFile);
  {
    TExecutorRaces races(a);
    races.BackupNew();
    races.BackupAdd();
  }
  fs::remove_all(a.Work);
  return 0;
}
