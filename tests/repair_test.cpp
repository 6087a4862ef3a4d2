// The run's operations: the launch argument, whole-file reads and writes,
// the backup name and the test that a backup name reaches the target.
#include "platform.h"
#include "repair.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::string_literals;

#define EXE "\"C:\\Zelvar\\zelvar.exe\""

TEST(ConvertParam, ReducesTheCommandLineToItsArgument) {
  struct Case {
    const char* name;
    std::string line;
    bool accepted;
    std::string path; // the text left in the buffer when accepted
  } cases[] = {
      {"unquoted path", EXE " C:\\movie.srt", true, "C:\\movie.srt"},
      {"quoted path with blanks", EXE " \"C:\\My Films\\a movie.srt\"", true,
       "C:\\My Films\\a movie.srt"},
      {"program path without quotes", "C:\\Zelvar\\zelvar.exe C:\\movie.srt",
       false, ""},
      {"nothing after the program", EXE, false, ""},
      {"only a blank after it", EXE " ", false, ""},
      {"empty quotes", EXE " \"\"", false, ""},
      {"one character in quotes", EXE " \"a\"", true, "a"},
      {"a lone quote", EXE " \"", false, ""},
      {"underscore as separator", EXE "_C:\\movie.srt", true, "C:\\movie.srt"},
      {"two blanks keep the second", EXE "  C:\\movie.srt", true,
       " C:\\movie.srt"},
      {"trailing blank cut instead of the quote", EXE " \"C:\\movie.srt\" ",
       true, "C:\\movie.srt\""},
      {"missing closing quote cuts the last byte", EXE " \"C:\\movie.srt", true,
       "C:\\movie.sr"},
      {"two files make one argument", EXE " \"C:\\a.srt\" \"C:\\b.srt\"", true,
       "C:\\a.srt\" \"C:\\b.srt"},
      {"no closing quote at all", "\"C:\\Zelvar\\zelvar.exe C:\\movie.srt",
       false, ""},
      {"empty program path", "\"\" C:\\movie.srt and more", false, ""},
      {"20 bytes", "\"C:\\ZZ\\zelvar.exe\" a", false, ""},
      {"21 bytes", "\"C:\\ZZZ\\zelvar.exe\" a", true, "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string buffer = c.line + '\0';
    ASSERT_EQ(ConvertParam(&buffer[0]), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(std::string(buffer.c_str()), c.path);
    }
  }
}

TEST(MakeBackupPath, ReplacesTheLastThreeCharacters) {
  struct Case {
    std::string source, backup;
  } cases[] = {
      {"movie.srt", "movie.old"}, {"C:\\a b\\x.txt", "C:\\a b\\x.old"},
      {"README", "REAold"},       {"abc", "old"},
      {"movie.OLD", "movie.old"},
  };
  for (const Case& c : cases) {
    std::string source = c.source;
    std::string backup(source.size() + 1, '#');
    ASSERT_TRUE(MakeBackupPath(&source[0], &backup[0])) << c.source;
    EXPECT_EQ(backup, c.backup + '\0');
  }
  for (std::string source : {"ab"s, "a"s, ""s}) {
    std::string backup(source.size() + 1, '#');
    EXPECT_FALSE(MakeBackupPath(&source[0], &backup[0])) << source;
    EXPECT_EQ(backup, std::string(source.size() + 1, '#')) << "untouched";
  }
}

TEST(Readfile, ReadsTheWholeFile) {
  std::string folder = ScratchDir();
  std::string bytes = "1\r\n00:00:01,000 --> 00:00:02,000\r\nA\0\xD0"s;
  std::string path = folder + "/movie.srt";
  WriteBytes(path, bytes);
  unsigned long length = 0;
  char* data = Readfile(&path[0], length);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(data, length), bytes);
  free(data);

  std::string empty = folder + "/empty.srt";
  WriteBytes(empty, "");
  length = 5;
  data = Readfile(&empty[0], length);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(length, 0UL);
  free(data);
}

TEST(Readfile, RefusesWhatItCannotReadWhole) {
  std::string folder = ScratchDir();
  std::string missing = folder + "/missing.srt";
  std::string nothing;
  std::string pipe = folder + "/pipe.srt";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  for (std::string path : {missing, nothing, folder, pipe}) {
    unsigned long length = 77;
    EXPECT_EQ(Readfile(&path[0], length), nullptr) << path;
    EXPECT_EQ(length, 77UL) << "length left alone";
  }
}

TEST(Readfile, RefusesAReadOnlyFile) {
  std::string path = ScratchDir() + "/readonly.srt";
  WriteBytes(path, "1\r\n00:00:01,000 --> 00:00:02,000\r\nA");
  if (!MakeUnwritable(path))
    GTEST_SKIP() << "root, and no immutable files on this file system";
  unsigned long length = 0;
  char* data = Readfile(&path[0], length);
  MakeWritable(path);
  EXPECT_EQ(data, nullptr);
}

// A file whose size promises more bytes than a read gives: a sysfs file
// reports a whole page and holds one line. Where none can be opened for
// writing, there is nothing to show.
TEST(Readfile, RefusesAShortRead) {
  std::string path = "/sys/kernel/mm/transparent_hugepage/enabled";
  FILE* probe = fopen(path.c_str(), "r+b");
  if (probe == nullptr)
    GTEST_SKIP() << "no sysfs file to open for writing here";
  fclose(probe);
  unsigned long length = 77;
  EXPECT_EQ(Readfile(&path[0], length), nullptr);
  EXPECT_EQ(length, 77UL);
}

TEST(CreateBackup, WritesExactlyTheBytes) {
  std::string path = ScratchDir() + "/movie.old";
  WriteBytes(path, "an older and much longer backup that must go away");
  std::string bytes = "a\r\n\0\xD0>"s;
  unsigned long length = bytes.size();
  ASSERT_TRUE(CreateBackup(&path[0], &bytes[0], length));
  EXPECT_EQ(length, bytes.size());
  EXPECT_EQ(ReadBytes(path), bytes);
}

TEST(CreateBackup, ReportsEveryWriteThatFails) {
  std::string folder = ScratchDir();
  std::string bytes = "1\r\n00:00:01,000 --> 00:00:02,000\r\nA";
  unsigned long length = bytes.size();
  unsigned long none = 0;
  std::string path = folder + "/movie.old";
  std::string empty;
  std::string nowhere = folder + "/no/such/folder/movie.old";
  std::string full = "/dev/full"; // fails only when the stream is closed
  EXPECT_FALSE(CreateBackup(&path[0], &bytes[0], none)) << "length 0";
  EXPECT_FALSE(Exists(path));
  EXPECT_FALSE(CreateBackup(&empty[0], &bytes[0], length)) << "empty path";
  EXPECT_FALSE(CreateBackup(&nowhere[0], &bytes[0], length));
  EXPECT_FALSE(CreateBackup(&folder[0], &bytes[0], length)) << "a folder";
  if (Exists(full)) {
    EXPECT_FALSE(CreateBackup(&full[0], &bytes[0], length)) << "disk full";
  }
}

TEST(IsSameFile, TellsWhenABackupNameReachesTheTarget) {
  std::string folder = ScratchDir();
  std::string target = folder + "/movie.srt";
  std::string other = folder + "/movie.old";
  std::string linked = folder + "/linked.old";
  WriteBytes(target, "content");
  EXPECT_TRUE(IsSameFile(target.c_str(), target.c_str())) << "same name";
  EXPECT_FALSE(IsSameFile(target.c_str(), other.c_str())) << "no backup yet";
  WriteBytes(other, "content");
  EXPECT_FALSE(IsSameFile(target.c_str(), other.c_str())) << "two files";
  ASSERT_EQ(link(target.c_str(), linked.c_str()), 0);
  EXPECT_TRUE(IsSameFile(target.c_str(), linked.c_str())) << "hard link";
}
