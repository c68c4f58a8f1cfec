// The installation rules: programs, row picture and help page in the installation folder, an
// empty task store on the first installation, and an existing task store kept byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Install(const fs::path& prefix) {
  const std::string command = "cmake --install \"" + std::string(TARVELO_BINARY_DIR) + "\" --prefix \"" +
                              prefix.string() + "\" > /dev/null";
  return std::system(command.c_str());
}

TEST(Installation, FirstInstallationCreatesAnEmptyStoreAndALaterOneKeepsIt) {
  char dir[] = "/tmp/tarvelo-install-XXXXXX";
  const fs::path prefix = fs::path(mkdtemp(dir)) / "Tarvelo";
  ASSERT_EQ(Install(prefix), 0);
  EXPECT_TRUE(fs::is_regular_file(prefix / "Kalvenor"));
  EXPECT_TRUE(fs::is_regular_file(prefix / "1.bmp"));
  EXPECT_TRUE(fs::is_regular_file(prefix / "help" / "index.htm"));
  ASSERT_TRUE(fs::is_regular_file(prefix / "records.dat"));
  EXPECT_EQ(fs::file_size(prefix / "records.dat"), 0u);

  const std::string tasks = "Docs|/src|/b|\xcf\xee \xf2\xf0\xe5\xe1\xee\xe2\xe0\xed\xe8\xfe||||"
                            "|new|Backup.zip|0|none@";
  std::ofstream(prefix / "records.dat", std::ios::binary) << tasks;
  ASSERT_EQ(Install(prefix), 0);
  EXPECT_EQ(Read(prefix / "records.dat"), tasks);
  fs::remove_all(prefix.parent_path());
}

}  // namespace
