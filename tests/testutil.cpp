// testutil.cpp - scratch folders, file helpers and Rebuilt().
#include "testutil.h"

#include "subtitle/mask.h"
#include "subtitle/rebuild.h"
#include "subtitle/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {
// Removes the scratch folder of a test that passed; a failed test leaves
// its files for a look.
class ScratchCleaner : public testing::EmptyTestEventListener {
public:
  void OnTestEnd(const testing::TestInfo& info) override {
    if (!folder.empty() && info.result()->Passed()) {
      std::error_code ignored;
      fs::remove_all(folder, ignored);
    }
    folder.clear();
  }
  std::string folder;
};

ScratchCleaner* Cleaner() {
  static ScratchCleaner* cleaner = [] {
    auto* made = new ScratchCleaner;
    testing::UnitTest::GetInstance()->listeners().Append(made);
    return made;
  }();
  return cleaner;
}
} // namespace

std::string ScratchDir() {
  const testing::TestInfo* info =
      testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name)
    if (c == '/')
      c = '_';
  // The test's own folder holds the scratch folder and room beside it for
  // what a test keeps out of the scratch folder's listing. It is named for
  // the process too, so that two builds' tests running at once keep apart.
  fs::path own = fs::temp_directory_path() / "zelvar-tests" /
                 (name + "." + std::to_string(getpid()));
  std::error_code ignored;
  fs::remove_all(own, ignored);
  fs::create_directories(own / "files");
  Cleaner()->folder = own.string();
  return (own / "files").string();
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(out.good()) << path;
}

void AppendBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(out.good()) << path;
}

bool Exists(const std::string& path) {
  return fs::exists(path);
}

std::string Listing(const std::string& folder) {
  std::vector<std::string> lines;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::string line = entry.path().filename().string();
    if (entry.is_symlink())
      line += " -> " + fs::read_symlink(entry.path()).string();
    else if (entry.is_directory())
      line += "/";
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::string listing;
  for (const std::string& line : lines)
    listing += line + "\n";
  return listing;
}

std::string Rebuilt(const std::string& in) {
  std::string data = in;
  unsigned long arrows = 0;
  EXPECT_TRUE(ConvertChar(&data[0], data.size(), '\xD0', arrows));
  // A block of exactly the room promised, so that a write past it is
  // caught by the checked builds.
  unsigned long room = data.size() + arrows * kEntryAddsAtMost;
  char* out = static_cast<char*>(malloc(room != 0 ? room : 1));
  unsigned long written = 0;
  bool rebuilt = RebuildSRT(&data[0], data.size(), 1, arrows, out, written);
  std::string bytes = rebuilt ? std::string(out, written) : "(refused)";
  free(out);
  if (rebuilt)
    ReplaceBytes(&bytes[0], bytes.size(), kPlaceholder, kArrow);
  return bytes;
}

bool MakeUnwritable(const std::string& path) {
  if (geteuid() != 0)
    return chmod(path.c_str(), 0444) == 0;
  return system(("chattr +i '" + path + "' 2>/dev/null").c_str()) == 0;
}

void MakeWritable(const std::string& path) {
  if (geteuid() == 0) {
    EXPECT_EQ(system(("chattr -i '" + path + "'").c_str()), 0);
  }
  chmod(path.c_str(), 0644);
}
