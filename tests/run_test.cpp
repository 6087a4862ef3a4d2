// Whole runs of the program on files in a scratch folder: what it writes,
// what it says on standard error, its exit code, and what it leaves alone.
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <string.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::string_literals;

#define T1 "00:00:01,000 --> 00:00:02,500"
#define T2 "00:00:03,000 --> 00:00:04,000"
#define T3 "00:00:05,000 --> 00:00:06,000"

#define HINT "Zelvar: Drag & drop the .srt file onto Zelvar to repair it!\n"
#define OPEN_FAILED "Zelvar: Error: Couldnt open the .srt file.\n"
#define PLACEHOLDER                                                            \
  "Zelvar: Error: The .srt file contains replacement characters.\n"
#define BACKUP_FAILED "Zelvar: Error: Couldnt create a backup file.\n"
#define REPLACE_FAILED                                                         \
  "Zelvar: Error: Couldnt replace the original .srt file.\n"
#define REBUILD_FAILED "Zelvar: Error: Couldnt rebuild the .srt file.\n"
#define READ_BACK_FAILED                                                       \
  "Zelvar: Error: Couldnt open the .srt file for re-replacement.\n"

namespace {
struct Outcome {
  int exitCode;
  std::string out, err;
};

// Runs the program with args in folder; a file-size limit other than 0 is
// set on the child. The program itself must see to it that a write past the
// limit fails instead of ending it by SIGXFSZ.
Outcome RunProgram(const std::string& folder,
                   const std::vector<std::string>& args,
                   rlim_t fileSizeLimit = 0) {
  // Beside the folder, named for the run, so that runs at once keep theirs.
  static std::atomic<int> runs{0};
  std::string run = std::to_string(++runs);
  std::string outPath = folder + "/../stdout" + run + ".txt";
  std::string errPath = folder + "/../stderr" + run + ".txt";
  // Made before the fork: a child of a process with threads may not take
  // the heap's lock.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(ZELVAR_PROGRAM));
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t child = fork();
  if (child == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(err, 2);
    if (chdir(folder.c_str()) != 0)
      _exit(126);
    alarm(60); // a run that hangs fails the test instead of stalling it
    if (fileSizeLimit != 0) {
      struct rlimit limit = {fileSizeLimit, fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    execv(ZELVAR_PROGRAM, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  Outcome outcome;
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.out = ReadBytes(outPath);
  outcome.err = ReadBytes(errPath);
  return outcome;
}

// The folder's entries and the bytes of its regular files, so that a
// refusal can be shown to have changed nothing.
std::string Snapshot(const std::string& folder) {
  std::string snapshot = Listing(folder);
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file() && !entry.is_symlink())
      snapshot += entry.path().filename().string() + "=" +
                  ReadBytes(entry.path().string()) + "\n";
  return snapshot;
}
// Runs the program on args and expects the message, exit code 1 and every
// file in folder as it was.
void ExpectRefused(const std::string& folder,
                   const std::vector<std::string>& args,
                   const std::string& message) {
  std::string before = Snapshot(folder);
  Outcome run = RunProgram(folder, args);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, message);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Snapshot(folder), before);
}
} // namespace

TEST(Program, WithoutAnArgumentShowsTheHint) {
  std::string folder = ScratchDir();
  Outcome run = RunProgram(folder, {});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, HINT);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Snapshot(folder), "");
}

TEST(Program, AnswersHelpAndVersionAlone) {
  std::string folder = ScratchDir();
  WriteBytes(folder + "/--help", "5\n" T1 "\nA\n");
  Outcome help = RunProgram(folder, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.substr(0, 19), "Usage: zelvar FILE\n");
  EXPECT_EQ(RunProgram(folder, {"-h"}).out, help.out);
  Outcome version = RunProgram(folder, {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "zelvar " ZELVAR_VERSION "\n");
  EXPECT_EQ(Listing(folder), "--help\n") << "nothing written";
  // With anything beside it, or given as a path, it is a file name.
  ExpectRefused(folder, {"--help", "--version"}, OPEN_FAILED);
  Outcome run = RunProgram(folder, {"./--help"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(ReadBytes(folder + "/--help"), "1\r\n" T1 "\r\nA\n");
  EXPECT_EQ(ReadBytes(folder + "/--hold"), "5\n" T1 "\nA\n");
}

TEST(Program, RefusalsChangeNothing) {
  std::string good = "1\n" T1 "\nA\n";
  struct Case {
    const char* name;
    std::string file, content, message;
  } cases[] = {
      {"28 bytes", "movie.srt", good.substr(0, 28), OPEN_FAILED},
      {"placeholder first", "movie.srt", "\xD0" + good, PLACEHOLDER},
      {"placeholder later", "movie.srt", good + "\xD0 text", PLACEHOLDER},
      {"target named old", "x.old", good, BACKUP_FAILED},
      {"a name of two characters", "ab", good, BACKUP_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = ScratchDir();
    WriteBytes(folder + "/" + c.file, c.content);
    ExpectRefused(folder, {c.file}, c.message);
  }
}

TEST(Program, MissingFileOrTwoFilesCannotBeOpened) {
  std::string folder = ScratchDir();
  std::string content = "1\n" T1 "\nA\n";
  WriteBytes(folder + "/a.srt", content);
  WriteBytes(folder + "/b.srt", content);
  ExpectRefused(folder, {"missing.srt"}, OPEN_FAILED);
  ExpectRefused(folder, {"a.srt", "b.srt"}, OPEN_FAILED);
}

TEST(Program, RefusesABackupNameThatReachesTheTarget) {
  struct Case {
    const char* name;
    int (*plant)(const char* target, const char* backup);
  } cases[] = {
      {"a hard link", [](const char* t, const char* b) { return link(t, b); }},
      {"a symlink",
       [](const char*, const char* b) { return symlink("movie.srt", b); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = ScratchDir();
    std::string target = folder + "/movie.srt";
    std::string backup = folder + "/movie.old";
    WriteBytes(target, "1\n" T1 "\nA\n");
    ASSERT_EQ(c.plant(target.c_str(), backup.c_str()), 0);
    ExpectRefused(folder, {"movie.srt"}, BACKUP_FAILED);
  }
}

// subs/ab would get the backup name subsold, beside its folder.
TEST(Program, RefusesAFileNameOfTwoCharactersInAFolder) {
  std::string folder = ScratchDir();
  ASSERT_EQ(mkdir((folder + "/subs").c_str(), 0755), 0);
  WriteBytes(folder + "/subs/ab", "1\n" T1 "\nA\n");
  WriteBytes(folder + "/subsold", "someone else's file");
  ExpectRefused(folder, {"subs/ab"}, BACKUP_FAILED);
  EXPECT_EQ(ReadBytes(folder + "/subs/ab"), "1\n" T1 "\nA\n");
}

// Whatever stands at the backup name is replaced by the backup, a regular
// file, and nothing it pointed to is written or created.
TEST(Program, ReplacesLinksAndPipesAtTheBackupName) {
  struct Case {
    const char* name;
    int (*plant)(const std::string& folder);
  } cases[] = {
      {"a symlink to another file",
       [](const std::string& f) {
         return symlink("other.txt", (f + "/movie.old").c_str());
       }},
      {"a dangling symlink",
       [](const std::string& f) {
         return symlink("made-elsewhere.txt", (f + "/movie.old").c_str());
       }},
      {"a hard link to another file",
       [](const std::string& f) {
         return link((f + "/other.txt").c_str(), (f + "/movie.old").c_str());
       }},
      {"a pipe",
       [](const std::string& f) {
         return mkfifo((f + "/movie.old").c_str(), 0600);
       }},
      {"a symlink to /dev/null",
       [](const std::string& f) {
         return symlink("/dev/null", (f + "/movie.old").c_str());
       }},
  };
  std::string in = "5\n" T1 "\n<i>A</i>\n\n9\n" T2 "\nB\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = ScratchDir();
    WriteBytes(folder + "/movie.srt", in);
    WriteBytes(folder + "/other.txt", "someone else's file");
    ASSERT_EQ(c.plant(folder), 0);
    Outcome run = RunProgram(folder, {"movie.srt"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Listing(folder), "movie.old\nmovie.srt\nother.txt\n");
    EXPECT_EQ(ReadBytes(folder + "/other.txt"), "someone else's file");
    EXPECT_EQ(ReadBytes(folder + "/movie.old"), in);
    EXPECT_EQ(ReadBytes(folder + "/movie.srt"),
              "1\r\n" T1 "\r\n<i>A</i>\r\n\r\n2\r\n" T2 "\r\nB\n");
  }
}

TEST(Program, TheBackupIsAsPrivateAsTheFile) {
  std::string folder = ScratchDir();
  WriteBytes(folder + "/movie.srt", "1\n" T1 "\nA\n");
  ASSERT_EQ(chmod((folder + "/movie.srt").c_str(), 0600), 0);
  ASSERT_EQ(RunProgram(folder, {"movie.srt"}).exitCode, 0);
  struct stat status;
  ASSERT_EQ(stat((folder + "/movie.old").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  ASSERT_EQ(stat((folder + "/movie.srt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
}

// Two runs on one file at once: the file is repaired once, and the backup
// holds the file as it was unless the second run started after the first
// had ended, when it holds the repair, as after any second run.
TEST(Program, TwoRunsAtOnce) {
  std::string in, out;
  for (int i = 1; in.size() < (3 << 20); ++i) {
    in += std::to_string(i * 7) + "\n" T1 "\n<i>Line</i>\n\n\n";
    out += std::to_string(i) + "\r\n" T1 "\r\n<i>Line</i>\r\n\r\n";
  }
  out.replace(out.size() - 4, 4, "\n\n\n");
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    std::string folder = ScratchDir();
    WriteBytes(folder + "/movie.srt", in);
    Outcome runs[2];
    std::thread other([&] { runs[1] = RunProgram(folder, {"movie.srt"}); });
    runs[0] = RunProgram(folder, {"movie.srt"});
    other.join();
    EXPECT_TRUE(ReadBytes(folder + "/movie.srt") == out) << "not repaired";
    std::string backup = ReadBytes(folder + "/movie.old");
    bool bothRepaired = runs[0].exitCode == 0 && runs[1].exitCode == 0;
    EXPECT_TRUE(backup == in || (bothRepaired && backup == out));
    for (const Outcome& run : runs) {
      EXPECT_TRUE(run.exitCode == 0 || run.err == OPEN_FAILED ||
                  run.err == REPLACE_FAILED)
          << run.exitCode << " " << run.err;
    }
    EXPECT_EQ(Listing(folder), "movie.old\nmovie.srt\n");
  }
}

TEST(Program, Repairs29BytesAndKeepsTheBackup) {
  std::string folder = ScratchDir();
  WriteBytes(folder + "/movie.srt", T1);
  WriteBytes(folder + "/movie.old", "an old backup, overwritten");
  Outcome run = RunProgram(folder, {"movie.srt"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadBytes(folder + "/movie.srt"), "1\r\n" T1);
  EXPECT_EQ(ReadBytes(folder + "/movie.old"), T1);
}

TEST(Program, RepairsAMessyFile) {
  std::string messy = "\xEF\xBB\xBF"
                      "12\n" T1 "\n\n<i>Hello</i>\nthere\n\n\n\n"
                      "44\r\n" T2 "\r\n\r\n"
                      "7\n" T3 "\n<b>a > b</b>\n\n";
  std::string repaired = "1\r\n" T1 "\r\n<i>Hello</i>\nthere\r\n\r\n"
                         "2\r\n" T2 "\r\n\r\n"
                         "3\r\n" T3 "\r\n<b>a > b</b>\n\n";
  std::string folder = ScratchDir();
  WriteBytes(folder + "/movie.srt", messy);
  Outcome run = RunProgram(folder, {folder + "/movie.srt"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "");
  std::string written = ReadBytes(folder + "/movie.srt");
  EXPECT_EQ(written, repaired);
  EXPECT_EQ(written.find('\xD0'), std::string::npos);
  EXPECT_EQ(ReadBytes(folder + "/movie.old"), messy);
}

TEST(Program, TheTypicalRunAndThe82ByteExample) {
  struct Case {
    const char* name;
    std::string in, out;
  } cases[] = {
      {"5, 7, 9 with an italic tag",
       "5\r\n" T1 "\r\n<i>One</i>\r\n\r\n7\r\n" T2 "\r\nTwo\r\n\r\n9\r\n" T3
       "\r\nThree\r\n",
       "1\r\n" T1 "\r\n<i>One</i>\r\n\r\n2\r\n" T2 "\r\nTwo\r\n\r\n3\r\n" T3
       "\r\nThree\r\n"},
      {"82 bytes become 87", "7\n" T1 "\nHello\nWorld\n\n\n9\n" T2 "\nBye\n",
       "1\r\n" T1 "\r\nHello\nWorld\r\n\r\n2\r\n" T2 "\r\nBye\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = ScratchDir();
    WriteBytes(folder + "/film.txt", c.in);
    Outcome run = RunProgram(folder, {"film.txt"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(ReadBytes(folder + "/film.txt"), c.out);
    EXPECT_EQ(ReadBytes(folder + "/film.old"), c.in);
  }
}

TEST(Program, ASecondRunChangesNothingButTheBackup) {
  std::string folder = ScratchDir();
  std::string in = "3\n" T1 "\n<i>A</i>\n\n\n8\n" T2 "\nB\n\n9\n" T3 "\nC\n";
  WriteBytes(folder + "/movie.srt", in);
  ASSERT_EQ(RunProgram(folder, {"movie.srt"}).exitCode, 0);
  std::string first = ReadBytes(folder + "/movie.srt");
  ASSERT_EQ(RunProgram(folder, {"movie.srt"}).exitCode, 0);
  EXPECT_EQ(ReadBytes(folder + "/movie.srt"), first);
  EXPECT_EQ(ReadBytes(folder + "/movie.old"), first);
}

// Failures after the target was emptied: the file is put back as it was
// read, and the backup holds it too.
TEST(Program, FailuresAfterTheBackupPutTheFileBack) {
  struct Case {
    const char* name;
    std::string in, message;
  } cases[] = {
      {"no timing line: refused before the target is emptied",
       "Dear diary, today I dropped the wrong file > oops.\n", REBUILD_FAILED},
      {"a timing line cut short: nothing rebuilt to read back",
       "some words before it\n1\n00:00:01,000 --> 00:0", READ_BACK_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = ScratchDir();
    WriteBytes(folder + "/movie.srt", c.in);
    Outcome run = RunProgram(folder, {"movie.srt"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, c.message);
    EXPECT_EQ(ReadBytes(folder + "/movie.srt"), c.in);
    EXPECT_EQ(ReadBytes(folder + "/movie.old"), c.in);
    EXPECT_EQ(Listing(folder), "movie.old\nmovie.srt\n");
  }
}

TEST(Program, AWriteFailureDuringTheRebuildPutsTheFileBack) {
  // LF line breaks grow to CR LF: the backup fits under the limit, the
  // rebuilt file does not.
  std::string in;
  for (int i = 0; i < 200; ++i)
    in += std::to_string(i) + "\n" T1 "\n<i>line one</i>\nline two\n\n";
  std::string folder = ScratchDir();
  WriteBytes(folder + "/movie.srt", in);
  Outcome run = RunProgram(folder, {"movie.srt"}, in.size() + 100);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, REPLACE_FAILED);
  EXPECT_EQ(ReadBytes(folder + "/movie.srt"), in);
  EXPECT_EQ(ReadBytes(folder + "/movie.old"), in);
  // A plain retry without the limit repairs it, and the backup keeps the
  // file as it first was.
  run = RunProgram(folder, {"movie.srt"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(ReadBytes(folder + "/movie.old"), in);
  EXPECT_EQ(ReadBytes(folder + "/movie.srt").substr(0, 3), "1\r\n");
}

TEST(Faults, DiskFullWhileTheBackupIsWrittenLeavesTheTarget) {
  std::string folder = ScratchDir();
  std::string in = "1\n" T1 "\nA\n\n2\n" T2 "\nB\n";
  WriteBytes(folder + "/movie.srt", in);
  Outcome run = RunProgram(folder, {"movie.srt"}, in.size() - 10);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, BACKUP_FAILED);
  EXPECT_EQ(ReadBytes(folder + "/movie.srt"), in);
}

// A read-only target cannot be opened; in a folder that cannot be written
// the backup cannot be made. Either way nothing changes.
TEST(Faults, WhatCannotBeWrittenIsRefused) {
  struct Case {
    const char* name;
    bool folderItself;
    const char* message;
  } cases[] = {
      {"read-only file", false, OPEN_FAILED},
      {"folder that cannot be written", true, BACKUP_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = ScratchDir();
    WriteBytes(folder + "/movie.srt", "1\n" T1 "\nA\n");
    std::string locked = c.folderItself ? folder : folder + "/movie.srt";
    if (!MakeUnwritable(locked))
      GTEST_SKIP() << "root, and no immutable files on this file system";
    ExpectRefused(folder, {"movie.srt"}, c.message);
    MakeWritable(locked);
  }
}

TEST(Faults, TargetsThatAreNoFilesAreRefusedWithoutAHang) {
  std::string folder = ScratchDir();
  ASSERT_EQ(mkdir((folder + "/folder.srt").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((folder + "/pipe.srt").c_str(), 0600), 0);
  WriteBytes(folder + "/empty.srt", "");
  for (std::string target :
       {"folder.srt"s, "pipe.srt"s, "/dev/null"s, "/dev/zero"s, "empty.srt"s}) {
    SCOPED_TRACE(target);
    ExpectRefused(folder, {target}, OPEN_FAILED);
  }
}

// A block device holding a subtitle file's bytes would be read whole and
// rewritten, its file system lost. Here it is a loop device over an image
// kept outside the folder, reached through a device node in it.
TEST(Faults, ABlockDeviceIsRefusedUntouched) {
  if (geteuid() != 0)
    GTEST_SKIP() << "only root can attach a loop device";
  std::string folder = ScratchDir();
  std::string image = folder + "/../disk.img";
  std::string bytes = "3\n" T1 "\nA\n\n9\n" T2 "\nB\n";
  WriteBytes(image, bytes + std::string(65536 - bytes.size(), '\n'));
  FILE* attach =
      popen(("losetup -f --show '" + image + "' 2>/dev/null").c_str(), "r");
  char device[64] = "";
  bool attached = attach != nullptr && fgets(device, sizeof device, attach);
  if (attach != nullptr)
    pclose(attach);
  device[strcspn(device, "\n")] = '\0';
  struct stat status;
  if (!attached || stat(device, &status) != 0)
    GTEST_SKIP() << "no loop device here";
  ASSERT_EQ(
      mknod((folder + "/disk.srt").c_str(), S_IFBLK | 0600, status.st_rdev), 0);
  ExpectRefused(folder, {"disk.srt"}, OPEN_FAILED);
  EXPECT_EQ(system(("losetup -d " + std::string(device)).c_str()), 0);
  EXPECT_EQ(ReadBytes(image).substr(0, bytes.size()), bytes);
  EXPECT_EQ(ReadBytes(image).size(), 65536u);
}

TEST(Faults, APathOfMoreThanAThousandBytes) {
  std::string folder = ScratchDir();
  std::string path = folder;
  while (path.size() < 1100) {
    path += "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  }
  path += "/movie.srt";
  std::string in = "4\n" T1 "\nA\n\n\n8\n" T2 "\nB";
  WriteBytes(path, in);
  Outcome run = RunProgram(folder, {path});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(ReadBytes(path), "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2 "\r\nB");
  EXPECT_EQ(ReadBytes(path.substr(0, path.size() - 3) + "old"), in);
}

TEST(Faults, A200MegabyteFileIsRepairedWhole) {
  std::string in, out;
  const unsigned long size = 200UL << 20;
  in.reserve(size + 100);
  out.reserve(size + size / 8);
  for (unsigned long i = 1; in.size() < size; ++i) {
    std::string text =
        (i % 2) ? "<i>Line " + std::to_string(i) + "</i>" : "plain\ntwo lines";
    in += std::to_string(i * 3) + "\n" T1 "\n\n" + text + "\n\n\n";
    out += std::to_string(i) + "\r\n" T1 "\r\n" + text + "\r\n\r\n";
  }
  // The last entry keeps what follows its text.
  out.replace(out.size() - 4, 4, "\n\n\n");
  std::string folder = ScratchDir();
  WriteBytes(folder + "/big.srt", in);
  Outcome run = RunProgram(folder, {"big.srt"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(ReadBytes(folder + "/big.srt") == out) << "output differs";
  EXPECT_TRUE(ReadBytes(folder + "/big.old") == in) << "backup differs";
}
