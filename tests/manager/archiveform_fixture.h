#pragma once
// The backup and restore forms on a temporary installation: one task whose source and backup
// folders are temporary folders, the main window that selects it, and helpers for the folders,
// the task's log and the peer tools.
#include <QTest>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "manager/TaskLog.h"
#include "manager/xpButton.h"
#include "tests/manager/mainwindow_fixture.h"

namespace archiveform {

class ArchiveFormTest : public mainwindow::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    source_ = root_ + "/Документы";
    backup_ = root_ + "/Копии";
    std::filesystem::create_directories(source_ + "/папка/вложенная");
    std::filesystem::create_directories(backup_);
  }

  // The task as the editor stores it, with a log; info decides the result boxes.
  void Task(const std::string& copyType, const std::string& archiveName, const std::string& info = "1",
            const std::string& logFlag = "1") {
    Settings("1", "0", info);
    Store({{"Документы", source_, backup_, "По требованию", "", "", "", "", copyType, archiveName, logFlag,
            logFlag == "1" ? "Документы.log" : "none"}});
    WriteTaskLogHeader(logFlag, "Документы.log");
    header_ = ReadBytes(LogPath());
  }

  // The main window with the task selected.
  void OpenWithTask() {
    Open();
    ClickRow(1);
    ASSERT_EQ(SelectedTask, 1);
  }

  // Shows a task form the way the main window does, and waits until it is active.
  void ShowFrom(QToolButton& button, QWidget& form) {
    button.click();
    ASSERT_TRUE(form.isVisible());
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form, 2000));
  }

  static void Click(TxpButton& button) { QTest::mouseClick(&button, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5)); }

  std::string LogPath() const { return home_ + "/Документы.log"; }
  // The log's entries after its header, as UTF-8.
  std::string LogEntries() const {
    const std::string bytes = platform::Cp1251ToUtf8(ReadBytes(LogPath()));
    const std::string head = platform::Cp1251ToUtf8(header_);
    return bytes.compare(0, head.size(), head) == 0 ? bytes.substr(head.size()) : bytes;
  }

  // A failed run's failure line with the lines its error box lists after it (the box's text
  // below its first blank line), as the task log holds them.
  static std::string BoxAsLogLines(const std::string& failureLine, const std::string& boxText) {
    std::string lines = failureLine;
    const size_t listed = boxText.find("\n\n");
    if (listed == std::string::npos) return lines;
    std::istringstream rest(boxText.substr(listed + 2));
    for (std::string line; std::getline(rest, line);) lines += "\r\n" + line;
    return lines;
  }

  // Source files: a few small ones in the folder and below, names in Cyrillic.
  std::map<std::string, std::string> SmallFiles() {
    std::map<std::string, std::string> files = {
        {"отчёт.txt", "Квартальный отчёт\r\n"},
        {"папка/данные.bin", std::string("\0\1\2\3\377", 5)},
        {"папка/вложенная/readme.md", std::string(3000, 'x') + "конец"},
    };
    for (const auto& [name, bytes] : files) WriteBytes(source_ + "/" + name, bytes);
    return files;
  }
  // Files of random bytes that deflate cannot shrink.
  void LargeFiles(int count, size_t size) {
    std::mt19937 random(7);
    for (int i = 0; i < count; ++i) {
      std::string bytes(size, '\0');
      for (char& c : bytes) c = static_cast<char>(random());
      WriteBytes(source_ + "/большой" + std::to_string(i) + ".dat", bytes);
    }
  }

  // Every file below folder, by its path relative to it, with its bytes.
  static std::map<std::string, std::string> Tree(const std::string& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
      if (e.is_regular_file()) tree[std::filesystem::relative(e.path(), folder).string()] = ReadBytes(e.path());
    }
    return tree;
  }

  // The exit status and output of a shell command.
  static int Run(const std::string& command, std::string* output = nullptr) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    std::string text;
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
    const int status = pclose(pipe);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The entry names of an archive, one a line, read by Python's zipfile (names without the
  // UTF-8 flag are in the OEM code page).
  static std::string Names(const std::string& archive) {
    std::string out;
    Run("python3 -c \"import zipfile,sys; print('\\n'.join(zipfile.ZipFile(sys.argv[1], "
        "metadata_encoding='cp866').namelist()))\" " + Quoted(archive), &out);
    return out;
  }
  // Extracts an archive with Python's zipfile, OEM names decoded; its exit status.
  static int PeerExtract(const std::string& archive, const std::string& folder, std::string* output = nullptr) {
    return Run("python3 -c \"import zipfile,sys; zipfile.ZipFile(sys.argv[1], "
               "metadata_encoding='cp866').extractall(sys.argv[2])\" " + Quoted(archive) + " " + Quoted(folder),
               output);
  }
  static std::string Quoted(const std::string& path) { return "'" + path + "'"; }

  std::string source_, backup_, header_;
};

}  // namespace archiveform
