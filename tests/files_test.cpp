// The run's operations: the launch argument, whole-file reads and writes,
// the backup name and the test that a backup name reaches the target.
#include "command_line.h"
#include "files.h"
#include "platform.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
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
      {"movie.OLD", "movie.old"}, {"subs/abc", "subs/old"},
  };
  for (const Case& c : cases) {
    std::string source = c.source;
    std::string backup(source.size() + 1, '#');
    ASSERT_TRUE(MakeBackupPath(&source[0], &backup[0])) << c.source;
    EXPECT_EQ(backup, c.backup + '\0');
  }
  // The backup of a file named with fewer than three characters would land
  // outside its folder: subs/ab would give subsold.
  for (std::string source : {"ab"s, "a"s, ""s, "subs/ab"s, "/x"s, "abc/"s}) {
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
  std::string device = "/dev/zero";
  for (std::string path : {missing, nothing, folder, pipe, device}) {
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

TEST(CreateBackup, ReportsAFailureAndLeavesNoFileBehind) {
  std::string folder = ScratchDir();
  std::string bytes = "1\r\n00:00:01,000 --> 00:00:02,000\r\nA";
  unsigned long length = bytes.size();
  unsigned long none = 0;
  std::string path = folder + "/movie.old";
  std::string empty;
  std::string nowhere = folder + "/no/such/folder/movie.old";
  std::string busy = folder + "/busy.old"; // a folder with a file in it
  ASSERT_EQ(mkdir(busy.c_str(), 0755), 0);
  WriteBytes(busy + "/inside", "kept");
  EXPECT_FALSE(CreateBackup(&path[0], &bytes[0], none)) << "length 0";
  EXPECT_FALSE(CreateBackup(&empty[0], &bytes[0], length)) << "empty path";
  EXPECT_FALSE(CreateBackup(&nowhere[0], &bytes[0], length));
  EXPECT_FALSE(CreateBackup(&busy[0], &bytes[0], length)) << "a folder";
  EXPECT_EQ(Listing(folder), "busy.old/\n");
  EXPECT_EQ(ReadBytes(busy + "/inside"), "kept");
}

// Whatever stands at the backup name is replaced by a regular file with the
// bytes, and nothing it points to is written.
TEST(CreateBackup, ReplacesWhatStandsAtTheNameWithoutWritingThroughIt) {
  struct Case {
    const char* name;
    int (*plant)(const char* backup, const char* other);
  } cases[] = {
      {"a symlink to another file",
       [](const char* backup, const char* other) {
         return symlink(other, backup);
       }},
      {"a dangling symlink",
       [](const char* backup, const char*) {
         return symlink("elsewhere/made.txt", backup);
       }},
      {"a hard link to another file",
       [](const char* backup, const char* other) {
         return link(other, backup);
       }},
      {"a pipe",
       [](const char* backup, const char*) { return mkfifo(backup, 0600); }},
      {"a symlink to /dev/null",
       [](const char* backup, const char*) {
         return symlink("/dev/null", backup);
       }},
  };
  std::string bytes = "1\r\n00:00:01,000 --> 00:00:02,000\r\n<i>A</i>";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = ScratchDir();
    ASSERT_EQ(mkdir((folder + "/elsewhere").c_str(), 0755), 0);
    std::string backup = folder + "/movie.old";
    std::string other = folder + "/elsewhere/other.txt";
    WriteBytes(other, "someone else's file");
    ASSERT_EQ(c.plant(backup.c_str(), other.c_str()), 0);
    unsigned long length = bytes.size();
    ASSERT_TRUE(CreateBackup(&backup[0], &bytes[0], length));
    struct stat status;
    ASSERT_EQ(lstat(backup.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_nlink, 1u);
    EXPECT_EQ(ReadBytes(backup), bytes);
    EXPECT_EQ(ReadBytes(other), "someone else's file");
    EXPECT_EQ(Listing(folder), "elsewhere/\nmovie.old\n");
    EXPECT_EQ(Listing(folder + "/elsewhere"), "other.txt\n");
  }
}

// The backup of a private file is as private, and belongs to the file's
// owner and group where the run may give it away (as root).
TEST(CreateBackup, TakesThePermissionBitsAndOwnerOfTheFileRead) {
  std::string folder = ScratchDir();
  std::string bytes = "1\r\n00:00:01,000 --> 00:00:02,000\r\nA";
  bool root = geteuid() == 0;
  uid_t owner = root ? 12345 : geteuid();
  gid_t group = root ? 23456 : getegid();
  for (unsigned mode : {0600u, 0640u, 0604u}) {
    std::string target = folder + "/movie.srt";
    std::string backup = folder + "/movie.old";
    WriteBytes(target, bytes);
    ASSERT_EQ(chmod(target.c_str(), mode), 0);
    ASSERT_EQ(chown(target.c_str(), owner, group), 0);
    unsigned long length = 0;
    FileStamp read;
    char* data = Readfile(&target[0], length, &read);
    ASSERT_NE(data, nullptr);
    ASSERT_TRUE(CreateBackup(&backup[0], data, length, &read));
    free(data);
    struct stat status;
    ASSERT_EQ(stat(backup.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, mode);
    EXPECT_EQ(status.st_uid, owner);
    EXPECT_EQ(status.st_gid, group);
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
