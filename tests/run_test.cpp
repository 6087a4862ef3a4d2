// Whole runs of the program on files in a scratch folder: what it writes,
// what it says on standard error, its exit code, and what it leaves alone.
#include "files.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <limits.h>
#include <signal.h>
#include <sstream>
#include <string.h>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::string_literals;

#define T1 "00:00:01,000 --> 00:00:02,500"
#define T2 "00:00:03,000 --> 00:00:04,000"
#define T3 "00:00:05,000 --> 00:00:06,000"

#define OPEN_FAILED "Error: Couldnt open the .srt file."
#define PLACEHOLDER "Error: The .srt file contains replacement characters."
#define BACKUP_FAILED "Error: Couldnt create a backup file."
#define REPLACE_FAILED "Error: Couldnt replace the original .srt file."
#define REBUILD_FAILED "Error: Couldnt rebuild the .srt file."
#define READ_BACK_FAILED "Error: Couldnt open the .srt file for re-replacement."
#define NOT_REGULAR "not a regular file"
#define FOLDER_NOT_WRITABLE                                                    \
  "the file's folder cannot be written, so no new file can be made beside it"
#define WRITE_ERROR "zelvar: write error: No space left on device\n"

namespace {
// The line that reports a failed file.
std::string Said(const std::string& file, const char* text,
                 const std::string& reason = "") {
  return "zelvar: " + file + ": " + text +
         (reason.empty() ? "" : " (" + reason + ")") + "\n";
}

struct Outcome {
  int exitCode;
  std::string out, err;
};

// What the child's standard descriptors are: files the test reads, all
// three closed, standard output closed or the full device, or standard
// error a pipe whose reader is gone.
enum Std { kStdFiles, kStdClosed, kStdoutClosed, kStdoutFull, kStderrNoReader };

struct Launch {
  rlim_t fileSizeLimit = 0; // set on the child when not 0
  Std std = kStdFiles;
  std::string program = ZELVAR_PROGRAM;
  std::string input;    // standard input
  rlim_t openFiles = 0; // a limit on open descriptors, when not 0
  uid_t user = 0;       // the child runs as this user and group, when not 0
};

// A copy of program that every user may run: in a fresh folder of mode
// 0755 under /tmp, since the folders of a checkout (a 0700 home, a folder
// made by mktemp -d) may keep another user out. The caller removes the
// folder.
std::string CopyForEveryUser(const std::string& program) {
  char folder[] = "/tmp/zelvar-program-XXXXXX";
  if (mkdtemp(folder) == nullptr || chmod(folder, 0755) != 0) {
    ADD_FAILURE() << "no folder for the program: " << strerror(errno);
    return program;
  }
  std::string copy = std::string(folder) + "/zelvar";
  std::error_code error;
  std::filesystem::copy_file(program, copy, error);
  EXPECT_FALSE(error) << "the program not copied: " << error.message();
  EXPECT_EQ(chmod(copy.c_str(), 0755), 0);
  return copy;
}

// Runs the program with args in folder. The program itself must see to it
// that a write past a file-size limit fails instead of ending it by SIGXFSZ.
Outcome RunProgram(const std::string& folder,
                   const std::vector<std::string>& args,
                   const Launch& launch = Launch()) {
  // Beside the folder, named for the run, so that runs at once keep theirs.
  static std::atomic<int> runs{0};
  std::string run = std::to_string(++runs);
  std::string inPath = folder + "/../stdin" + run + ".txt";
  std::string outPath = folder + "/../stdout" + run + ".txt";
  std::string errPath = folder + "/../stderr" + run + ".txt";
  WriteBytes(inPath, launch.input);
  std::string program =
      launch.user != 0 ? CopyForEveryUser(launch.program) : launch.program;
  // Made before the fork: a child of a process with threads may not take
  // the heap's lock.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int broken[2] = {-1, -1};
  if (launch.std == kStderrNoReader) {
    EXPECT_EQ(pipe(broken), 0);
    close(broken[0]);
  }
  pid_t child = fork();
  if (child == 0) {
    int in = open(inPath.c_str(), O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(launch.std == kStderrNoReader ? broken[1] : err, 2);
    for (int descriptor = 3; descriptor < 64; ++descriptor)
      close(descriptor);
    for (int descriptor = 0; launch.std == kStdClosed && descriptor < 3;
         ++descriptor)
      close(descriptor);
    if (launch.std == kStdoutClosed)
      close(1);
    if (launch.std == kStdoutFull) {
      int full = open("/dev/full", O_WRONLY);
      dup2(full, 1);
      close(full);
    }
    if (launch.user != 0 &&
        (setgroups(0, nullptr) != 0 || setgid(launch.user) != 0 ||
         setuid(launch.user) != 0))
      _exit(125);
    if (chdir(folder.c_str()) != 0)
      _exit(126);
    alarm(60); // a run that hangs fails the test instead of stalling it
    if (launch.fileSizeLimit != 0) {
      struct rlimit limit = {launch.fileSizeLimit, launch.fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (launch.openFiles != 0) {
      struct rlimit limit = {launch.openFiles, launch.openFiles};
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (launch.std == kStderrNoReader)
    close(broken[1]);
  int status = 0;
  waitpid(child, &status, 0);
  if (program != launch.program)
    std::filesystem::remove_all(program.substr(0, program.rfind('/')));
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

// The files every command line below starts from: two messy files, one
// already repaired, one without a timing line, one named like an option.
#define MESSY "7\n" T1 "\n<i>Hi</i>\n\n\n9\n" T2 "\nBye\n"
#define REPAIRED "1\r\n" T1 "\r\n<i>Hi</i>\r\n\r\n2\r\n" T2 "\r\nBye\n"
#define NO_TIMING "Dear diary, today I dropped the wrong file > oops.\n"

// The folder's files, one token each in name order: a link as name->target,
// a file as name=M (messy), R (repaired), N (no timing line) or ? (other).
std::vector<std::string> Summary(const std::string& folder) {
  std::vector<std::string> summary;
  std::istringstream listing(Listing(folder));
  for (std::string line; std::getline(listing, line);) {
    std::string name = line.substr(0, line.find(' '));
    std::string bytes = ReadBytes(folder + "/" + name);
    const char* kind = bytes == MESSY       ? "M"
                       : bytes == REPAIRED  ? "R"
                       : bytes == NO_TIMING ? "N"
                                            : "?";
    bool link = line.find(" -> ") != std::string::npos;
    summary.push_back(link ? name + "->" + line.substr(line.find(" -> ") + 4)
                           : name + "=" + kind);
  }
  return summary;
}

TEST(Program, CommandLines) {
  std::string scratch = ScratchDir();
  // A program at a short path: its own path once made the command line too
  // short for a short file name.
  std::string shortFolder = "/tmp/z" + std::to_string(getpid() % 1000);
  std::string shortProgram = shortFolder + "/z";
  mkdir(shortFolder.c_str(), 0755);
  std::filesystem::copy_file(ZELVAR_PROGRAM, shortProgram,
                             std::filesystem::copy_options::overwrite_existing);
  std::string nineRuns =
      "a.srt a.srt a.srt a.srt a.srt a.srt a.srt a.srt a.srt";
  struct Case {
    const char* name;
    std::string args; // split at blanks
    int exitCode;
    std::string out, err, changed; // changed: the files new or changed
    std::string input = "", program = ZELVAR_PROGRAM;
    rlim_t openFiles = 0;
    Std std = kStdFiles;
  } cases[] = {
      {"several files", "a.srt b.srt", 0, "", "",
       "a.old=M a.srt=R b.old=M b.srt=R"},
      {"a missing one among them", "a.srt gone.srt b.srt", 1, "",
       Said("gone.srt", OPEN_FAILED, "No such file or directory"),
       "a.old=M a.srt=R b.old=M b.srt=R"},
      {"no file", "", 2, "", "zelvar: no file given\n", ""},
      {"an unknown option", "-x a.srt", 2, "",
       "zelvar: invalid option -- 'x'\n", ""},
      {"an unknown long option", "--bogus a.srt", 2, "",
       "zelvar: unrecognized option '--bogus'\n", ""},
      {"an argument to --check", "--check=yes a.srt", 2, "",
       "zelvar: option '--check' doesn't allow an argument\n", ""},
      {"an ambiguous abbreviation", "--ver a.srt", 2, "",
       "zelvar: option '--ver' is ambiguous; possibilities: '--verbose' "
       "'--version'\n",
       ""},
      {"-- ends the options", "-- -a.srt", 0, "", "", "-a.old=M -a.srt=R"},
      {"--check refuses as a repair would", "--check x.old done.srt", 2, "",
       Said("x.old", BACKUP_FAILED, "the backup's name is the file itself"),
       ""},
      {"--check, one cannot be checked", "--check a.srt done.srt n.srt", 2,
       "a.srt\n", Said("n.srt", REBUILD_FAILED, "no timing line found"), ""},
      {"--check, one would change", "--check done.srt a.srt", 1, "a.srt\n", "",
       ""},
      {"--check on a file of mode 0444", "--check ro.srt", 1, "ro.srt\n", "",
       ""},
      {"a name with an escape sequence", "--check a\x1b[1mb.srt", 1,
       "a\\x1B[1mb.srt\n", "", ""},
      {"-v, one entry", "-v one.srt", 0, "one.srt: 1 entry, backup one.old\n",
       "", "one.old=?"},
      {"--check, nothing to change", "-c done.srt", 0, "", "", ""},
      {"- filters", "-", 0, REPAIRED, "", "", MESSY},
      {"- refused", "-", 1, "",
       Said("-", REBUILD_FAILED, "no timing line found"), "", NO_TIMING},
      {"-v", "-v a.srt", 0, "a.srt: 2 entries, backup a.old\n", "",
       "a.old=M a.srt=R"},
      {"-v, a file in order already", "-v done.srt", 0,
       "done.srt: 2 entries, unchanged\n", "", ""},
      {"a link: the file it names is repaired", "link.srt", 0, "", "",
       "a.srt=R link.old=M"},
      {"more files than open descriptors", nineRuns, 0, "", "",
       "a.old=M a.srt=R", "", ZELVAR_PROGRAM, 8},
      {"a program at a short path", "x.s", 0, "", "", "old=M x.s=R", "",
       shortProgram},
      {"/dev/stdin names standard input's file", "/dev/stdin", 1, "",
       Said("/dev/stdin", OPEN_FAILED,
            "it is reached through a descriptor link; give - to repair "
            "standard input"),
       "", MESSY},
      {"two files, one backup name", "a.srt a.sub", 1, "",
       Said("a.sub", BACKUP_FAILED,
            "a.old holds the backup of a.srt, written just now"),
       "a.old=M a.srt=R"},
      {"- with standard output closed", "-", 1, "",
       Said("-", REPLACE_FAILED, "standard output is closed"), "", MESSY,
       ZELVAR_PROGRAM, 0, kStdoutClosed},
      {"-v with --check names what is in order", "-v --check done.srt a.srt", 1,
       "a.srt\n", "zelvar: done.srt: in order\n", ""},
      {"-v with -", "-v -", 2, "",
       "zelvar: --verbose cannot be used with -, whose repair goes to "
       "standard output\n",
       "", MESSY},
      {"--check, standard output full", "--check a.srt", 2, "", WRITE_ERROR, "",
       "", ZELVAR_PROGRAM, 0, kStdoutFull},
      {"--help, standard output full", "--help", 2, "", WRITE_ERROR, "", "",
       ZELVAR_PROGRAM, 0, kStdoutFull},
      {"--version, standard output full", "--version", 2, "", WRITE_ERROR, "",
       "", ZELVAR_PROGRAM, 0, kStdoutFull},
      {"-v, standard output full: repaired, and the run fails", "-v a.srt", 1,
       "", WRITE_ERROR, "a.old=M a.srt=R", "", ZELVAR_PROGRAM, 0, kStdoutFull},
      {"-, standard output full", "-", 1, "",
       Said("-", REPLACE_FAILED,
            "standard output could not be written: No space left on device"),
       "", MESSY, ZELVAR_PROGRAM, 0, kStdoutFull},
      {"a name with U+0085", "--check a\xC2\x85.srt", 1, "a\\xC2\\x85.srt\n",
       "", ""},
      {"a name with U+009B", "--check a\xC2\x9Bm.srt", 1, "a\\xC2\\x9Bm.srt\n",
       "", ""},
      {"a name with a lone 0xFF", "--check a\xFF.srt", 1, "a\\xFF.srt\n", "",
       ""},
      {"a Cyrillic name",
       "--check \xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC.srt", 1,
       "\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC.srt\n", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = scratch + "/" + std::to_string(&c - cases);
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    for (const char* name :
         {"-a.srt", "a.srt", "a.sub", "b.srt", "x.s", "x.old", "ro.srt",
          "a\x1b[1mb.srt", "a\xC2\x85.srt", "a\xC2\x9Bm.srt", "a\xFF.srt",
          "\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC.srt"})
      WriteBytes(folder + "/" + name, MESSY);
    ASSERT_EQ(chmod((folder + "/ro.srt").c_str(), 0444), 0);
    WriteBytes(folder + "/one.srt", "7\n" T1 "\nOnly\n");
    WriteBytes(folder + "/done.srt", REPAIRED);
    WriteBytes(folder + "/n.srt", NO_TIMING);
    ASSERT_EQ(symlink("a.srt", (folder + "/link.srt").c_str()), 0);
    std::vector<std::string> args, before = Summary(folder);
    std::istringstream words(c.args);
    for (std::string word; words >> word;)
      args.push_back(word);
    Launch launch;
    launch.input = c.input;
    launch.program = c.program;
    launch.openFiles = c.openFiles;
    launch.std = c.std;
    Outcome run = RunProgram(folder, args, launch);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1), c.err);
    std::string changed;
    for (const std::string& file : Summary(folder))
      if (std::find(before.begin(), before.end(), file) == before.end())
        changed += (changed.empty() ? "" : " ") + file;
    EXPECT_EQ(changed, c.changed);
  }
  std::filesystem::remove_all(shortFolder);
}

TEST(Program, AnswersHelpAndVersion) {
  std::string folder = ScratchDir();
  WriteBytes(folder + "/--help", "5\n" T1 "\nA\n");
  Outcome help = RunProgram(folder, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.substr(0, 34), "Usage: zelvar [OPTION]... FILE...\n");
  EXPECT_EQ(RunProgram(folder, {"-h", "--version"}).out, help.out);
  Outcome version = RunProgram(folder, {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.substr(0, version.out.find('\n') + 1),
            "zelvar " ZELVAR_VERSION "\n");
  EXPECT_NE(version.out.find("\nLicense: MIT "), std::string::npos);
  EXPECT_EQ(Listing(folder), "--help\n") << "nothing written";
  // Given as a path, it is a file name.
  Outcome run = RunProgram(folder, {"./--help"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(ReadBytes(folder + "/--help"), "1\r\n" T1 "\r\nA\n");
  EXPECT_EQ(ReadBytes(folder + "/--hold"), "5\n" T1 "\nA\n");
}

TEST(Program, RefusalsChangeNothing) {
  std::string good = "1\n" T1 "\nA\n";
  // A long file is repaired as it is read: what its end refuses leaves
  // nothing of the repair begun, and the refusals keep their order.
  std::string entries;
  while (entries.size() < (3UL << 20))
    entries += "7\n" T1 "\n<i>a > b</i>\n\n";
  unsigned long lines = std::count(entries.begin(), entries.end(), '\n');
  std::string near = "9\n00:00:02.400 --> 00:00:05.200\n";
  auto nearMiss = [](const std::string& line) {
    return Said("movie.srt", REBUILD_FAILED,
                "line " + line +
                    " looks like a timing line but is not in the form "
                    "00:00:00,000 --> 00:00:00,000");
  };
  std::string arrows;
  while (arrows.size() < (3UL << 20))
    arrows += "->";
  struct Case {
    const char* name;
    std::string file, content, message;
  } cases[] = {
      {"28 bytes", "movie.srt", good.substr(0, 28),
       Said("movie.srt", OPEN_FAILED, "28 bytes or shorter")},
      {"placeholder first", "movie.srt", "\xD0" + good,
       Said("movie.srt", PLACEHOLDER,
            "the byte 0xD0 first stands on line 1; UTF-8 Cyrillic text and "
            "several 8-bit code pages hold it")},
      {"placeholder later", "movie.srt", good + "\xD0 text",
       Said("movie.srt", PLACEHOLDER,
            "the byte 0xD0 first stands on line 4; UTF-8 Cyrillic text and "
            "several 8-bit code pages hold it")},
      {"target named old", "x.old", good,
       Said("x.old", BACKUP_FAILED, "the backup's name is the file itself")},
      {"a name of two characters", "ab", good,
       Said("ab", BACKUP_FAILED,
            "the file's name has fewer than three characters")},
      {"no timing line: the wrong file dropped", "movie.nfo",
       "Dear diary, today I dropped the wrong file > oops.\n",
       Said("movie.nfo", REBUILD_FAILED, "no timing line found")},
      {"a near miss", "movie.srt",
       "1\n" T1 "\nA\n\n2\n00:00:02.400 --> 00:00:05.200\nB\n",
       Said("movie.srt", REBUILD_FAILED,
            "line 6 looks like a timing line but is not in the form "
            "00:00:00,000 --> 00:00:00,000")},
      {"two arrows on a line", "movie.srt", "1\r\n" T1 " -->\r\nA\r\n",
       Said("movie.srt", REBUILD_FAILED, "line 2 holds two timing arrows")},
      {"a near miss with an em dash", "movie.srt",
       "1\n" T1 "\nA\n\n2\n00:00:03,000 \xE2\x80\x94> 00:00:04,000\nB\n",
       nearMiss("6")},
      {"a near miss with a rightwards arrow after a byte-order mark",
       "movie.srt",
       "\xEF\xBB\xBF"
       "1\r\n00:00:03,000 \xE2\x86\x92 00:00:04,000\r\nA\r\n\r\n2\r\n" T2
       "\r\nB\r\n",
       nearMiss("2")},
      {"a near miss without a fraction, CR-only breaks", "movie.srt",
       "1\r" T1 "\rA\r\r2\r00:00:03 --> 00:00:04\rB\r", nearMiss("6")},
      {"a line of 1.5 million arrows, checked in one pass", "movie.srt",
       arrows + "\n",
       Said("movie.srt", REBUILD_FAILED, "no timing line found")},
      {"a timing line cut short: nothing to rebuild", "movie.srt",
       "some words before it\n1\n00:00:01,000 --> 00:0",
       Said("movie.srt", READ_BACK_FAILED, "no timing line is complete")},
      {"a long file, a near miss at its end", "movie.srt", entries + near,
       Said("movie.srt", REBUILD_FAILED,
            "line " + std::to_string(lines + 2) +
                " looks like a timing line but is not in the form "
                "00:00:00,000 --> 00:00:00,000")},
      {"a long file, the placeholder at its end after a near miss", "movie.srt",
       near + entries + "\xD0",
       Said("movie.srt", PLACEHOLDER,
            "the byte 0xD0 first stands on line " + std::to_string(lines + 3) +
                "; UTF-8 Cyrillic text and several 8-bit code pages hold "
                "it")},
      {"a long file named old", "x.old", entries,
       Said("x.old", BACKUP_FAILED, "the backup's name is the file itself")},
      {"a long file without a timing line", "movie.srt",
       std::string(3UL << 20, 'x') + ">\n",
       Said("movie.srt", REBUILD_FAILED, "no timing line found")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = ScratchDir();
    WriteBytes(folder + "/" + c.file, c.content);
    WriteBytes(folder + "/movie.old", "an older backup");
    ExpectRefused(folder, {c.file}, c.message);
  }
}

// A link to the file at the backup's name would leave the file without a
// copy once replaced: refused. A second name of the file there is what a
// run cut off after its backup leaves: it is replaced like an older backup.
TEST(Program, ABackupNameThatReachesTheTarget) {
  struct Case {
    const char* name;
    int (*plant)(const char* target, const char* backup);
    bool refused;
  } cases[] = {
      {"a symlink",
       [](const char*, const char* b) { return symlink("movie.srt", b); },
       true},
      {"a second name", [](const char* t, const char* b) { return link(t, b); },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = ScratchDir();
    std::string target = folder + "/movie.srt";
    std::string backup = folder + "/movie.old";
    WriteBytes(target, "1\n" T1 "\nA\n");
    ASSERT_EQ(c.plant(target.c_str(), backup.c_str()), 0);
    if (c.refused) {
      ExpectRefused(folder, {"movie.srt"},
                    Said("movie.srt", BACKUP_FAILED,
                         "the backup's name is the file itself"));
      continue;
    }
    EXPECT_EQ(RunProgram(folder, {"movie.srt"}).exitCode, 0);
    EXPECT_EQ(ReadBytes(target), "1\r\n" T1 "\r\nA\n");
    EXPECT_EQ(ReadBytes(backup), "1\n" T1 "\nA\n");
    EXPECT_EQ(Listing(folder), "movie.old\nmovie.srt\n");
  }
}

// subs/ab would get the backup name subsold, beside its folder.
TEST(Program, RefusesAFileNameOfTwoCharactersInAFolder) {
  std::string folder = ScratchDir();
  ASSERT_EQ(mkdir((folder + "/subs").c_str(), 0755), 0);
  WriteBytes(folder + "/subs/ab", "1\n" T1 "\nA\n");
  WriteBytes(folder + "/subsold", "someone else's file");
  ExpectRefused(folder, {"subs/ab"},
                Said("subs/ab", BACKUP_FAILED,
                     "the file's name has fewer than three characters"));
  EXPECT_EQ(ReadBytes(folder + "/subs/ab"), "1\n" T1 "\nA\n");
}

// A link to a file on another file system: the file is replaced where it
// lives, and its backup beside the link is a copy, since the file cannot
// move there.
TEST(Program, ALinkToAFileOnAnotherFileSystem) {
  std::string folder = ScratchDir();
  struct stat here, there;
  char far[] = "/dev/shm/zelvar-test-XXXXXX";
  if (stat(folder.c_str(), &here) != 0 || stat("/dev/shm", &there) != 0 ||
      here.st_dev == there.st_dev || mkdtemp(far) == nullptr)
    GTEST_SKIP() << "no /dev/shm on a file system of its own here";
  std::string film = std::string(far) + "/film.srt";
  std::string in = "4\n" T1 "\nA\n\n\n8\n" T2 "\nB";
  WriteBytes(film, in);
  WriteBytes(folder + "/movie.old", "an older backup");
  ASSERT_EQ(symlink(film.c_str(), (folder + "/movie.srt").c_str()), 0);
  Outcome run = RunProgram(folder, {"movie.srt"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadBytes(film), "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2 "\r\nB");
  EXPECT_EQ(ReadBytes(folder + "/movie.old"), in);
  EXPECT_EQ(Listing(folder), "movie.old\nmovie.srt -> " + film + "\n");
  EXPECT_EQ(Listing(far), "film.srt\n");
  std::filesystem::remove_all(far);
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

// Permission bits, access control list and user attributes of the file
// name in folder, as the tools that set them show them.
std::string Carried(const std::string& folder, const std::string& name) {
  std::string shown = folder + "/../carried";
  int ignored = system(("cd '" + folder + "' && (stat -c %a " + name +
                        "; getfacl -cE " + name + "; getfattr -d " + name +
                        " | sed 1d) >" + shown + " 2>/dev/null")
                           .c_str());
  (void)ignored;
  return ReadBytes(shown);
}

// The repaired file and its backup carry what the file did: a private file
// with an access list that keeps its group out keeps a private backup.
TEST(Program, WhatTheFileCarriesComesAlong) {
  std::string folder = ScratchDir();
  WriteBytes(folder + "/movie.srt", "1\n" T1 "\nA\n");
  if (system(("cd '" + folder +
              "' && chmod 640 movie.srt && setfacl -m g::-,u:nobody:r "
              "movie.srt && setfattr -n user.origin -v ripped movie.srt "
              "2>/dev/null")
                 .c_str()) != 0)
    GTEST_SKIP() << "no setfacl or setfattr here, or not on this folder";
  std::string carried = Carried(folder, "movie.srt");
  ASSERT_EQ(RunProgram(folder, {"movie.srt"}).exitCode, 0);
  EXPECT_EQ(Carried(folder, "movie.srt"), carried);
  EXPECT_EQ(Carried(folder, "movie.old"), carried);
}

// Two runs on one file at once: the file is repaired once, and the backup
// holds the file as it was.
// A killed run's new files go at the next run in their folder, whichever
// file they were for; a live run's (it holds their lock) stay.
// What a run cut off left beside a file is settled by the next run on it:
// what it holds elsewhere goes, the file as read before its repair becomes
// the backup, anything else is kept under a visible name; what another
// run holds, another file's, or a name no run makes is left alone, and
// nothing planted at a name a run might make blocks it.
TEST(Program, LeftoversOfRunsCutOff) {
  const std::string kMessy = "3\n" T1 "\nA\n", kRepaired = "1\r\n" T1 "\r\nA\n";
  const std::string kOlder = "an older backup", kSave = "a save of the user's";
  enum Plant { kFile, kFolder, kLink };
  struct Case {
    const char* name;
    std::string file; // movie.srt before the run
    const char* of;   // the leftover's file, movie.srt or another
    BesideKind kind;
    std::string bytes; // what the leftover holds
    Plant plant;
    bool held; // a live run holds it
    std::string
        after; // where its bytes end up: "" gone, "left", "kept", "backup"
  } cases[] = {
      {"an unfinished repair", kMessy, "movie.srt", kRepairBeside, kRepaired,
       kFile, false, ""},
      {"a repair cut short", kMessy, "movie.srt", kRepairBeside,
       kRepaired.substr(0, 9), kFile, false, ""},
      {"a copied backup cut short", kMessy, "movie.srt", kBackupBeside,
       kMessy.substr(0, 5), kFile, false, ""},
      {"the older backup", kMessy, "movie.srt", kBackupBeside, kOlder, kFile,
       false, ""},
      {"the file as read, moved out by the exchange", kRepaired, "movie.srt",
       kRepairBeside, kMessy, kFile, false, "backup"},
      {"a save moved out by the exchange", kRepaired, "movie.srt",
       kRepairBeside, kSave, kFile, false, "kept"},
      {"a live run's repair", kMessy, "movie.srt", kRepairBeside, kSave, kFile,
       true, "left"},
      {"another file's", kMessy, "other.srt", kRepairBeside, kSave, kFile,
       false, "left"},
      {"a folder planted there", kMessy, "movie.srt", kRepairBeside, "",
       kFolder, false, "left"},
      {"a link planted there", kMessy, "movie.srt", kBackupBeside, "", kLink,
       false, "left"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = ScratchDir();
    WriteBytes(folder + "/movie.srt", c.file);
    WriteBytes(folder + "/movie.old", kOlder);
    std::string of = folder + "/" + c.of;
    char* name = MakeBesideName(of.c_str(), BesideTag(of.c_str()), c.kind);
    std::string leftover = name;
    free(name);
    if (c.plant == kFolder)
      ASSERT_EQ(mkdir(leftover.c_str(), 0755), 0);
    else if (c.plant == kLink)
      ASSERT_EQ(symlink("movie.srt", leftover.c_str()), 0);
    else
      WriteBytes(leftover, c.bytes);
    int lock = open(leftover.c_str(), O_RDONLY);
    ASSERT_GE(lock, 0);
    if (c.held) {
      ASSERT_EQ(flock(lock, LOCK_EX), 0);
    }
    Outcome run = RunProgram(folder, {"movie.srt"});
    close(lock);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadBytes(folder + "/movie.srt"), kRepaired);
    std::string backup = c.after == "backup" ? c.bytes
                         : c.file == kMessy  ? kMessy
                                             : kOlder;
    EXPECT_EQ(ReadBytes(folder + "/movie.old"), backup);
    EXPECT_EQ(Exists(leftover), c.after == "left");
    EXPECT_EQ(Exists(folder + "/movie.srt.kept"), c.after == "kept");
    if (c.after == "kept") {
      EXPECT_EQ(ReadBytes(folder + "/movie.srt.kept"), c.bytes);
    }
  }
}

// A file that the run's user may write but not own: a new file could not
// keep its owner, or a sticky folder keeps the user from replacing it. A
// folder that cannot be opened cannot be synced. Each is refused before
// anything is written. The run is another user's than the test's (root's).
TEST(Program, FilesThatCannotBeReplacedAsTheyAre) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root, to run the program as another user";
  const uid_t kNobody = 65534;
  struct Case {
    const char* name;
    mode_t folderMode;
    uid_t fileOwner;
    mode_t fileMode;
    const char* reason;
  } cases[] = {
      {"another user's file, writable by the group", 0777, 0, 0666,
       "the file is another user's, and a new file could not keep its owner"},
      {"a sticky folder, another user's file", 01777, 0, 0666,
       "the folder is sticky and the file is another user's, so it cannot be "
       "replaced"},
      {"a folder that cannot be read", 0333, kNobody, 0644,
       "its folder cannot be opened to make the change durable"},
      {"a folder that cannot be written", 0555, kNobody, 0644,
       FOLDER_NOT_WRITABLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = ScratchDir();
    std::string file = folder + "/movie.srt";
    WriteBytes(file, "3\n" T1 "\nA\n");
    WriteBytes(folder + "/movie.old", "an older backup");
    ASSERT_EQ(chown(file.c_str(), c.fileOwner, kNobody), 0);
    ASSERT_EQ(chmod(file.c_str(), c.fileMode), 0);
    ASSERT_EQ(chmod(folder.c_str(), c.folderMode), 0);
    std::string before = Snapshot(folder);
    Launch launch;
    launch.user = kNobody;
    Outcome run = RunProgram(folder, {"movie.srt"}, launch);
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, Said("movie.srt", REPLACE_FAILED, c.reason));
    EXPECT_EQ(Snapshot(folder), before);
  }
}

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
    EXPECT_TRUE(ReadBytes(folder + "/movie.old") == in) << "backup differs";
    for (const Outcome& run : runs) {
      EXPECT_TRUE(run.exitCode == 0 ||
                  run.err == Said("movie.srt", OPEN_FAILED,
                                  "another run is repairing it"))
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

// A file in order already is left as it is, and so is its backup: a second
// run, or a retry after a run cut off once it had replaced the file, keeps
// the backup of the file as it first was.
TEST(Program, ASecondRunChangesNothing) {
  std::string folder = ScratchDir();
  std::string in = "3\n" T1 "\n<i>A</i>\n\n\n8\n" T2 "\nB\n\n9\n" T3 "\nC\n";
  WriteBytes(folder + "/movie.srt", in);
  ASSERT_EQ(RunProgram(folder, {"movie.srt"}).exitCode, 0);
  std::string first = ReadBytes(folder + "/movie.srt");
  ASSERT_EQ(RunProgram(folder, {"movie.srt"}).exitCode, 0);
  EXPECT_EQ(ReadBytes(folder + "/movie.srt"), first);
  EXPECT_EQ(ReadBytes(folder + "/movie.old"), in);
  EXPECT_EQ(Listing(folder), "movie.old\nmovie.srt\n");
}

// A write that fails changes nothing: not the file, not an older backup,
// and no new file is left. LF line breaks grow to CR LF, so a file-size
// limit can let the backup through and stop the rebuild; blank lines that
// go let the rebuild through and stop the backup (a copy: the file has a
// second name, so the backup cannot be one more). With the standard
// descriptors closed, no message lands in a file of the run.
TEST(Faults, FailedWritesChangeNothing) {
  std::string growing, shrinking = "1\n" T1 "\nA\n" + std::string(40, '\n');
  for (int i = 0; i < 200; ++i)
    growing += std::to_string(i) + "\n" T1 "\n<i>line one</i>\nline two\n\n";
  shrinking += "2\n" T2 "\nB\n";
  struct Case {
    const char* name;
    std::string in;
    rlim_t limit;
    Std std;
    std::string err;
  } cases[] = {
      {"the rebuild", growing, growing.size() + 100, kStdFiles,
       Said("movie.srt", REPLACE_FAILED, "File too large")},
      {"the backup", shrinking, shrinking.size() - 10, kStdFiles,
       Said("movie.srt", BACKUP_FAILED, "File too large")},
      {"the rebuild, standard descriptors closed", growing,
       growing.size() + 100, kStdClosed, ""},
      {"the rebuild, no reader for the message", growing, growing.size() + 100,
       kStderrNoReader, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = ScratchDir();
    WriteBytes(folder + "/movie.srt", c.in);
    WriteBytes(folder + "/movie.old", "an older backup");
    ASSERT_EQ(link((folder + "/movie.srt").c_str(),
                   (folder + "/../second-name").c_str()),
              0);
    Launch launch = Launch();
    launch.fileSizeLimit = c.limit;
    launch.std = c.std;
    Outcome run = RunProgram(folder, {"movie.srt"}, launch);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(ReadBytes(folder + "/movie.srt"), c.in);
    EXPECT_EQ(ReadBytes(folder + "/movie.old"), "an older backup");
    EXPECT_EQ(Listing(folder), "movie.old\nmovie.srt\n");
  }
}

// A read-only target cannot be opened; in a folder that cannot be written
// the backup cannot be made. Either way nothing changes.
TEST(Faults, WhatCannotBeWrittenIsRefused) {
  // Root makes the file or folder immutable, which the system refuses
  // otherwise; another user's folder has no search permission either.
  bool root = geteuid() == 0;
  struct Case {
    const char* name;
    bool folderItself;
    const char* message;
    const char* reason;
  } cases[] = {
      {"read-only file", false, OPEN_FAILED,
       root ? "Operation not permitted" : "Permission denied"},
      {"folder that cannot be written", true,
       root ? REPLACE_FAILED : OPEN_FAILED,
       root ? FOLDER_NOT_WRITABLE : "Permission denied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = ScratchDir();
    WriteBytes(folder + "/movie.srt", "1\n" T1 "\nA\n");
    std::string locked = c.folderItself ? folder : folder + "/movie.srt";
    if (!MakeUnwritable(locked))
      GTEST_SKIP() << "root, and no immutable files on this file system";
    ExpectRefused(folder, {"movie.srt"},
                  Said("movie.srt", c.message, c.reason));
    MakeWritable(locked);
  }
}

TEST(Faults, TargetsThatAreNoFilesAreRefusedWithoutAHang) {
  std::string folder = ScratchDir();
  ASSERT_EQ(mkdir((folder + "/folder.srt").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((folder + "/pipe.srt").c_str(), 0600), 0);
  WriteBytes(folder + "/empty.srt", "");
  // A socket, which no open reaches.
  sockaddr_un address = sockaddr_un();
  address.sun_family = AF_UNIX;
  std::string socketPath = folder + "/socket.srt";
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  int listening = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(
      bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address),
      0);
  struct Case {
    std::string target, reason;
  } cases[] = {
      {"folder.srt", NOT_REGULAR}, {"pipe.srt", NOT_REGULAR},
      {"socket.srt", NOT_REGULAR}, {"/dev/null", NOT_REGULAR},
      {"/dev/zero", NOT_REGULAR},  {"empty.srt", "28 bytes or shorter"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    ExpectRefused(folder, {c.target}, Said(c.target, OPEN_FAILED, c.reason));
  }
  close(listening);
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
  ExpectRefused(folder, {"disk.srt"},
                Said("disk.srt", OPEN_FAILED, NOT_REGULAR));
  EXPECT_EQ(system(("losetup -d " + std::string(device)).c_str()), 0);
  EXPECT_EQ(ReadBytes(image).substr(0, bytes.size()), bytes);
  EXPECT_EQ(ReadBytes(image).size(), 65536u);
}

// A file whose own path just fits the system's limit is repaired, however
// long the names of the files made beside it.
TEST(Faults, APathThatJustFits) {
  std::string folder = ScratchDir();
  std::string path = folder;
  const size_t kLongest = PATH_MAX - 1, kName = sizeof "/ab.srt" - 1;
  while (path.size() + kName < kLongest) {
    size_t room = kLongest - kName - path.size() - 1;
    path += "/" + std::string(room < 200 ? room : 200, 'd');
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  }
  path += "/ab.srt";
  ASSERT_EQ(path.size(), kLongest);
  std::string in = "4\n" T1 "\nA\n\n\n8\n" T2 "\nB";
  WriteBytes(path, in);
  Outcome run = RunProgram(folder, {path});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadBytes(path), "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2 "\r\nB");
  EXPECT_EQ(ReadBytes(path.substr(0, path.size() - 3) + "old"), in);
  EXPECT_EQ(Listing(path.substr(0, path.size() - kName)), "ab.old\nab.srt\n");
}

TEST(Faults, A200MegabyteFileIsRepairedWhole) {
  std::string in, out;
  const unsigned long size = 200UL << 20;
  in.reserve(size + 100);
  out.reserve(size + size / 8);
  unsigned long entries = 0;
  for (unsigned long i = 1; in.size() < size; ++i) {
    entries = i;
    std::string text =
        (i % 2) ? "<i>Line " + std::to_string(i) + "</i>" : "plain\ntwo lines";
    in += std::to_string(i * 3) + "\n" T1 "\n\n" + text + "\n\n\n";
    out += std::to_string(i) + "\r\n" T1 "\r\n" + text + "\r\n\r\n";
  }
  // The last entry keeps what follows its text.
  out.replace(out.size() - 4, 4, "\n\n\n");
  std::string folder = ScratchDir();
  WriteBytes(folder + "/big.srt", in);
  Outcome check = RunProgram(folder, {"--check", "big.srt"});
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_EQ(check.out, "big.srt\n");
  Outcome run = RunProgram(folder, {"big.srt"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(ReadBytes(folder + "/big.srt") == out) << "output differs";
  EXPECT_TRUE(ReadBytes(folder + "/big.old") == in) << "backup differs";
  // In order now: compared to the end as it is read, it is not written.
  Outcome again = RunProgram(folder, {"-v", "--check", "big.srt"});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.out, "");
  again = RunProgram(folder, {"-v", "big.srt"});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.out,
            "big.srt: " + std::to_string(entries) + " entries, unchanged\n");
  EXPECT_TRUE(ReadBytes(folder + "/big.old") == in) << "backup written over";
}
