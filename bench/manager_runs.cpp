// The manager's task runs against the engine on one source tree (not part of the product).
//   manager_runs TREE WORK_DIR [RUNS] [LABEL]
// The backup form (TForm5) and the restore form (TForm7) are shown offscreen and run by their
// "Выполнить" buttons' handlers, with the task log on and the result boxes answered by a script,
// as a user runs them. Beside each, the engine alone does the same work under the same conditions:
//   backup new, fresh folder          the tree into an archive of a new backup folder
//   backup new, archive just deleted  the same, into the folder whose archive was just deleted
//   backup add, nothing changed       the tree onto its own archive
//   restore, fresh folder             the archive into a folder that does not exist yet
//   restore, files just deleted       the archive into the folder whose files were just deleted
//                                     (its folders kept)
// Prints the best of RUNS of each side (real time, with user and system time) and the ratio of
// the program to the engine. WORK_DIR is emptied first; the trees of the fresh-folder restores
// stay until the tree's races are over (an ext4 file system without a journal slows the creation
// of files right after as many were deleted, whoever creates them).
#include <string>

#include "archive/qrnUnZip.h"
#include "archive/qrnZip.h"
#include "bench/task_runs.h"
#include "manager/Kalvenor.h"
#include "manager/Settings.h"
#include "manager/TaskArchive.h"
#include "manager/TaskLog.h"
#include "manager/TaskStore.h"
#include "manager/backup.h"
#include "manager/restore.h"

using namespace taskruns;

namespace {

constexpr const char* kLogFile = "bench.log";

// Task 1 of the manager's table, as the editor stores an on-demand task with a log; the form
// takes it at its next activation.
void SetTask(const std::string& source, const std::string& backup, const std::string& copyType) {
  const std::string fields[kStoredTaskFields] = {"bench", source, backup, "По требованию", "", "", "", "",
                                                 copyType, "Backup.zip", "1", kLogFile};
  for (int32_t f = 0; f < kStoredTaskFields; ++f) TaskTable(f + 1, 1) = fields[f];
  TaskCount = 2;
  SelectedTask = 1;
}

void EngineRestore(const std::string& archive, const std::string& target, int64_t expected) {
  const TEngineAlone alone;
  TUnZip unzip;
  unzip.SetArchiveFile(archive);
  unzip.FileSpec().Clear();
  unzip.FileSpec().Add("*.*");
  unzip.SetExtractDir(target);
  unzip.SetCreateStoredDirs(true);
  unzip.SetPasswordAttempts(0);
  if (unzip.Extract() != expected || unzip.FilesFailed() != 0) Fail("engine restore into " + target);
}

class TManagerRaces {
 public:
  TManagerRaces(const TArguments& a, TProgramSetting& setting) : A(a), S(setting) {
    Tree = TreeSize(A.Tree);
    Backup.show();
    Restore.show();
  }

  void BackupNew() {
    // A fresh folder each run.
    const auto folder = [this](const char* side, int i) { return A.Work + "/" + side + "-new." + std::to_string(i); };
    Race(A.Label + ": backup new, fresh folder", A.Runs,
         {[&](int i) { fs::create_directories(folder("engine", i)); },
          [&](int i) { EngineBackup(A.Tree, folder("engine", i) + "/Backup.zip", Tree.Files); }},
         {[&](int i) { fs::create_directories(folder("program", i)); },
          [&](int i) { RunBackup(A.Tree, folder("program", i), "new", Tree.Files); }});
    // The folder of the first run, its archive deleted just before each.
    Race(A.Label + ": backup new, archive just deleted", A.Runs,
         {[&](int) { fs::remove(folder("engine", 0) + "/Backup.zip"); },
          [&](int) { EngineBackup(A.Tree, folder("engine", 0) + "/Backup.zip", Tree.Files); }},
         {[&](int) { fs::remove(folder("program", 0) + "/Backup.zip"); },
          [&](int) { RunBackup(A.Tree, folder("program", 0), "new", Tree.Files); }});
  }

  void BackupAdd() {
    const std::string engine = A.Work + "/engine-add/Backup.zip";
    const std::string program = A.Work + "/program-add";
    fs::create_directories(A.Work + "/engine-add");
    fs::create_directories(program);
    fs::copy_file(SourceArchive(), engine);
    fs::copy_file(SourceArchive(), program + "/Backup.zip");
    Race(A.Label + ": backup add, nothing changed", A.Runs, {[](int) {}, [&](int) { EngineBackup(A.Tree, engine, 0); }},
         {[](int) {}, [&](int) { RunBackup(A.Tree, program, "add", 0); }});
  }

  void RestoreFresh() {
    const std::string archive = SourceArchive();
    const auto target = [this](const char* side, int i) { return A.Work + "/" + side + "-restored." + std::to_string(i); };
    Race(A.Label + ": restore, fresh folder", A.Runs,
         {[](int) {}, [&](int i) { EngineRestore(archive, target("engine", i), Tree.Files); }},
         {[](int) {}, [&](int i) { RunRestore(archive, target("program", i)); }});
    for (const char* side : {"engine", "program"}) {
      if (fs::exists(target(side, 0)) && TreeSize(target(side, 0)) != Tree)
        Fail(std::string("the tree restored by the ") + side + " differs from the source");
      for (int i = 0; i < A.Runs; ++i) fs::remove_all(target(side, i));
    }
  }

  void RestoreOverDeleted() {
    const std::string archive = SourceArchive();
    const std::string engine = A.Work + "/engine-again";
    const std::string program = A.Work + "/program-again";
    EngineRestore(archive, engine, Tree.Files);
    EngineRestore(archive, program, Tree.Files);
    Race(A.Label + ": restore, files just deleted", A.Runs,
         {[&](int) { RemoveFiles(engine); }, [&](int) { EngineRestore(archive, engine, Tree.Files); }},
         {[&](int) { RemoveFiles(program); }, [&](int) { RunRestore(archive, program); }});
    if (RunsSide("program") && TreeSize(program) != Tree) Fail("the tree restored by the program differs from the source");
    fs::remove_all(engine);
    fs::remove_all(program);
  }

 private:
  // The tree's archive, as the engine writes it; made once.
  std::string SourceArchive() {
    const std::string archive = A.Work + "/archive/Backup.zip";
    if (!fs::exists(archive)) {
      fs::create_directories(A.Work + "/archive");
      EngineBackup(A.Tree, archive, Tree.Files);
    }
    return archive;
  }

  void RunBackup(const std::string& source, const std::string& backup, const char* copyType, int64_t expected) {
    SetTask(source, backup, copyType);
    Backup.FormActivate();
    Backup.xpButton1Click(nullptr);
    const std::string box = S.LastBox();
    if (box != "Резервное копирование успешно завершено, скопировано: " + std::to_string(expected) + " файлов")
      Fail("backup form into " + backup + ": " + box);
  }

  void RunRestore(const std::string& archive, const std::string& target) {
    const fs::path path(archive);
    SetTask(target, path.parent_path().string(), "new");
    Restore.FormActivate();
    const auto& names = Restore.FileListBox1.Names();
    const auto at = std::find(names.begin(), names.end(), path.filename().string());
    if (at == names.end()) Fail("the restore form does not list " + archive);
    Restore.FileListBox1.setCurrentRow(static_cast<int>(at - names.begin()));
    Restore.FileListBox1MouseDown();
    Restore.xpButton3Click(nullptr);
    const std::string box = S.LastBox();
    if (box != "Востановление успешно завершено, востановлено: " + std::to_string(Tree.Files) + " файлов")
      Fail("restore form into " + target + ": " + box);
  }

  const TArguments& A;
  TProgramSetting& S;
  TTreeSize Tree;
  TForm5 Backup;
  TForm7 Restore;
};

}  // namespace

int main(int argc, char** argv) {
  const TArguments a = ParseArguments(argc, argv, "manager_runs");
  TProgramSetting setting(a.Work, "Kalvenor");
  ReadOrCreateSettings(MainSettings());
  MainSettings().info = "1";
  WriteTaskLogHeader("1", kLogFile);
  TManagerRaces races(a, setting);
  races.BackupNew();
  races.BackupAdd();
  races.RestoreFresh();
  races.RestoreOverDeleted();
  fs::remove_all(a.Work);
  return 0;
}
