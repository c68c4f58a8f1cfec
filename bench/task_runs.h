#pragma once
// What the two task-run benchmarks share (manager_runs, executor_runs): a program's task run and
// the engine's run of the same work timed in one process, interleaved, best of several; the
// folders they work in; an offscreen application with the programs' own message pump, which the
// engine's runs go without, as the engine runs outside the programs.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "archive/qrnZip.h"
#include "manager/TaskArchive.h"
#include "platform/gui/application.h"
#include "platform/hooks.h"

namespace taskruns {

namespace fs = std::filesystem;

struct TTimes {
  double Real = 0, User = 0, Sys = 0;
};

inline double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

inline TTimes Timed(const std::function<void()>& run) {
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const auto t0 = std::chrono::steady_clock::now();
  run();
  const auto t1 = std::chrono::steady_clock::now();
  getrusage(RUSAGE_SELF, &after);
  return {std::chrono::duration<double>(t1 - t0).count(), Seconds(after.ru_utime) - Seconds(before.ru_utime),
          Seconds(after.ru_stime) - Seconds(before.ru_stime)};
}

[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "failed: %s\n", what.c_str());
  std::exit(1);
}

// The files below a folder: their count and their bytes.
struct TTreeSize {
  int64_t Files = 0, Bytes = 0;
  bool operator==(const TTreeSize&) const = default;
};
inline TTreeSize TreeSize(const std::string& folder) {
  TTreeSize size;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    ++size.Files;
    size.Bytes += static_cast<int64_t>(e.file_size());
  }
  return size;
}

// Every file below folder goes; the folders stay, as after a user deleted the files.
inline void RemoveFiles(const std::string& folder) {
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (!e.is_directory()) fs::remove(e.path());
  }
}

// One side of a race: an untimed preparation and the timed run; the run checks its own result.
struct TSide {
  std::function<void(int)> Prepare;
  std::function<void(int)> Run;
};

// The engine runs without the programs' message pump, as it runs outside them; every engine
// run of the benchmarks holds one.
class TEngineAlone {
 public:
  TEngineAlone() : FPump(platform::CurrentMessagePump()) { platform::SetMessagePump(nullptr); }
  ~TEngineAlone() { platform::SetMessagePump(FPump); }
  TEngineAlone(const TEngineAlone&) = delete;
  TEngineAlone& operator=(const TEngineAlone&) = delete;

 private:
  platform::MessagePump FPump;
};

// The engine alone writes tree into archive, as the programs set it up; expected files added.
inline void EngineBackup(const std::string& tree, const std::string& archive, int64_t expected) {
  const TEngineAlone alone;
  TZip zip;
  SetTaskZipProperties(zip);
  const TTaskRunResult run = CompressTaskArchive(zip, tree, archive, false, "bench");
  if (!run.Succeeded || run.Added != expected) Fail("engine backup into " + archive);
}

// Best (by real time) of runs of each side, alternating which goes first; prints a line.
// For counting one side's system calls or instructions: $SIDE "engine" or "program" runs that
// side alone.
inline bool RunsSide(const char* side) {
  const char* only = std::getenv("SIDE");
  return only == nullptr || std::string(only) == side;
}

// Only the races whose name holds $ONLY run, when it is set.
inline void Race(const std::string& what, int runs, const TSide& engine, const TSide& program) {
  if (const char* only = std::getenv("ONLY"); only && what.find(only) == std::string::npos) return;
  TTimes bestEngine, bestProgram;
  for (int i = 0; i < runs; ++i) {
    const auto one = [i](const TSide& side) {
      side.Prepare(i);
      ::sync();
      return Timed([&] { side.Run(i); });
    };
    TTimes e, p;
    if (i % 2 == 0) {
      if (RunsSide("engine")) e = one(engine);
      if (RunsSide("program")) p = one(program);
    } else {
      if (RunsSide("program")) p = one(program);
      if (RunsSide("engine")) e = one(engine);
    }
    if (i == 0 || e.Real < bestEngine.Real) bestEngine = e;
    if (i == 0 || p.Real < bestProgram.Real) bestProgram = p;
  }
  std::printf("%-42s engine %7.3f s (%5.2f user, %5.2f sys)   program %7.3f s (%5.2f user, %5.2f sys)   "
              "ratio %5.2f (target <= 1.5)\n",
              what.c_str(), bestEngine.Real, bestEngine.User, bestEngine.Sys, bestProgram.Real, bestProgram.User,
              bestProgram.Sys, bestProgram.Real / bestEngine.Real);
  std::fflush(stdout);
}

// The application of a program, offscreen unless QT_QPA_PLATFORM says otherwise, on an
// installation folder and a configuration folder of its own under work; message boxes are
// answered by a script and recorded.
class TProgramSetting {
 public:
  TProgramSetting(const std::string& work, const char* name) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!std::getenv("XDG_RUNTIME_DIR")) {
      const std::string runtime = work + "/runtime";
      fs::create_directories(runtime);
      fs::permissions(runtime, fs::perms::owner_all);
      setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    Home = work + "/home";
    fs::create_directories(Home);
    setenv("TARVELO_HOME", Home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (work + "/config").c_str(), 1);
    FName = name;
    FArgv[0] = FName.data();
    App = std::make_unique<platform::Application>(FArgc, FArgv);
    Answerer = std::make_unique<platform::ScriptedAnswerer>();
  }
  ~TProgramSetting() {
    Answerer.reset();
    App.reset();
  }

  // The text of the last box shown, and forgets the boxes.
  std::string LastBox() {
    const std::string text = Answerer->Boxes().empty() ? std::string() : Answerer->Boxes().back().text;
    Answerer->Clear();
    return text;
  }

  std::string Home;
  std::unique_ptr<platform::Application> App;
  std::unique_ptr<platform::ScriptedAnswerer> Answerer;

 private:
  std::string FName;
  int FArgc = 1;
  char* FArgv[2] = {nullptr, nullptr};
};

// The folder arguments of both programs: TREE WORK [RUNS] [LABEL].
struct TArguments {
  std::string Tree, Work, Label;
  int Runs = 3;
};
inline TArguments ParseArguments(int argc, char** argv, const char* program) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s TREE WORK_DIR [RUNS] [LABEL]\n", program);
    std::exit(2);
  }
  TArguments a;
  a.Tree = fs::absolute(argv[1]).lexically_normal().string();
  while (a.Tree.size() > 1 && a.Tree.back() == '/') a.Tree.pop_back();
  a.Work = fs::absolute(argv[2]).lexically_normal().string();
  while (a.Work.size() > 1 && a.Work.back() == '/') a.Work.pop_back();
  if (argc > 3) a.Runs = std::max(1, std::atoi(argv[3]));
  a.Label = argc > 4 ? argv[4] : fs::path(a.Tree).filename().string();
  fs::remove_all(a.Work);
  fs::create_directories(a.Work);
  return a;
}

}  // namespace taskruns
