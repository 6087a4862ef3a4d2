// main_posix.cpp - zelvar as a command-line tool: options, then one run
// for each FILE in the order given, one line on standard error for each
// file that failed, and an exit code for them all.
#include "deliver.h"
#include "platform.h"
#include "run.h"

#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const char kProgram[] = "zelvar";

// With --check, 1 says that a file would change and 2 that one could not
// be checked, as cmp and diff say it.
enum ExitCode {
  kAllDone = 0,
  kSomeFailed = 1,
  kWouldChange = 1,
  kUsageError = 2,
  kNotChecked = 2,
};

static const char kUsage[] =
    "Usage: zelvar [OPTION]... FILE...\n"
    "Repairs each subtitle file FILE (.srt) in place: its entries are\n"
    "numbered 1, 2, 3 ... in the order they stand in the file, blank lines\n"
    "and old numbers go, and every byte of every text is kept.\n"
    "\n"
    "Before a file is replaced, its exact bytes are saved beside it under\n"
    "its name with the last three characters replaced by \"old\" (movie.srt\n"
    "gives movie.old). The file is replaced at once by its repair; a file\n"
    "in order already, or one that fails, is left as it was, and so is its\n"
    "backup. With FILE -, standard input is repaired onto standard output,\n"
    "and nothing else is written.\n"
    "\n"
    "Undo a repair: mv movie.old movie.srt. See what a repair would change\n"
    "before making it: zelvar - < movie.srt | diff -u movie.srt -\n"
    "\n"
    "  -c, --check    write nothing; list each FILE a repair would change\n"
    "  -v, --verbose  after each repair, print: FILE: N entries, backup NAME\n"
    "                 (or: unchanged, for a file in order already)\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "  --             end the options, as in: zelvar -- -name.srt\n"
    "\n"
    "Exit status: 0 when every FILE was repaired, 1 when any failed, 2 for a\n"
    "usage error. With --check: 0 when no FILE would change, 1 when one\n"
    "would, 2 when one could not be checked, or for a usage error. Each\n"
    "failure is one line on standard error: zelvar: FILE: message (reason).\n";

static const char kVersion[] =
    "zelvar " ZELVAR_VERSION "\n"
    "Copyright (C) 2026 The Zelvar developers.\n"
    "License: MIT <https://opensource.org/licenses/MIT>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

static const char kTryHelp[] = "Try 'zelvar --help'.\n";

// Descriptors 0, 1 and 2 open on the null device when they came closed,
// so that no file of a run takes their numbers and gets messages written
// into it. A message to a pipe nobody reads, or a write past a file-size
// limit, then fails like any other write instead of ending the process.
// Returns whether standard output came closed: a repair of standard input
// would then go nowhere, and is refused.
static bool PrepareProcess() {
  bool outputClosed = false;
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
      continue;
    outputClosed = outputClosed || descriptor == STDOUT_FILENO;
    int opened = open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != descriptor) {
      dup2(opened, descriptor);
      close(opened);
    }
  }
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  return outputClosed;
}

static int UsageError(const char* what) {
  if (what != nullptr)
    fprintf(stderr, "%s: %s\n", kProgram, what);
  fputs(kTryHelp, stderr);
  return kUsageError;
}

// A copy of text for a terminal, a heap block: each control byte as \xHH
// and each backslash doubled, so that a file's name is one line and shows
// what it holds. Null when no block can be had.
static char* Escaped(const char* text) {
  size_t size = 1;
  for (const char* at = text; *at != '\0'; ++at)
    size += static_cast<unsigned char>(*at) < 0x20 || *at == 0x7F ? 4
            : *at == '\\'                                         ? 2
                                                                  : 1;
  char* escaped = static_cast<char*>(malloc(size));
  char* to = escaped;
  for (const char* at = text; escaped != nullptr && *at != '\0'; ++at) {
    unsigned char c = static_cast<unsigned char>(*at);
    if (c < 0x20 || c == 0x7F)
      to += snprintf(to, 5, "\\x%02X", c);
    else if (c == '\\')
      to += snprintf(to, 3, "\\\\");
    else
      *to++ = *at;
  }
  if (escaped != nullptr)
    *to = '\0';
  return escaped;
}

// Prints the escaped name of file, then after.
static void PrintNamed(const char* file, const char* after) {
  char* name = Escaped(file);
  if (name != nullptr)
    printf("%s%s", name, after);
  free(name);
}

// Prints text on standard output; exit code 0, or 1 when it could not.
static int Answer(const char* text) {
  fputs(text, stdout);
  return fflush(stdout) == 0 && ferror(stdout) == 0 ? kAllDone : kSomeFailed;
}

// The line FILE: TEXT on standard error; escaped, since both may hold
// names.
static bool ReportLine(const char* file, const char* text, const char* why) {
  size_t size = strlen(file) + strlen(text) + strlen(why) + 3;
  char* line = static_cast<char*>(malloc(size));
  char* escaped = nullptr;
  if (line != nullptr) {
    snprintf(line, size, "%s: %s%s", file, text, why);
    escaped = Escaped(line);
  }
  bool shown =
      ShowMessage(kProgram, escaped != nullptr ? escaped : text, kErrorMessage);
  free(escaped);
  free(line);
  return shown;
}

// The one line of a failed file: FILE: TEXT, then why in brackets where
// that is known.
static bool ReportFailure(const char* file, const RunOutcome& outcome) {
  char why[sizeof outcome.reason + 3] = "";
  if (outcome.reason[0] != '\0')
    snprintf(why, sizeof why, " (%s)", outcome.reason);
  return ReportLine(file, MessageText(outcome.message), why);
}

// What the user should know of a run beside how it went: FILE: NOTICE.
static bool ReportNotice(const char* file, const char* notice) {
  return ReportLine(file, notice, "");
}

// After a repair, with --verbose: FILE: N entries, backup NAME; or, for a
// file that was in order already, FILE: N entries, unchanged.
static void ReportRepair(const char* file, const RunOutcome& outcome) {
  char* backup = Escaped(outcome.backup);
  size_t size = (backup != nullptr ? strlen(backup) : 0) + 64;
  char* after = static_cast<char*>(malloc(size));
  if (backup != nullptr && after != nullptr) {
    snprintf(after, size, ": %lu %s, %s%s\n", outcome.entries,
             outcome.entries == 1 ? "entry" : "entries",
             outcome.changed ? "backup " : "unchanged",
             outcome.changed ? backup : "");
    PrintNamed(file, after);
  }
  free(after);
  free(backup);
}

int main(int argc, char** argv) {
  bool outputClosed = PrepareProcess();
  static const struct option kOptions[] = {
      {"check", no_argument, nullptr, 'c'},
      {"verbose", no_argument, nullptr, 'v'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  bool check = false, verbose = false;
  // getopt_long says what is wrong with an option, under the program's name
  // whatever path started it; the line that points to --help follows.
  static char name[] = "zelvar";
  argv[0] = name;
  for (int option;
       (option = getopt_long(argc, argv, "cvh", kOptions, nullptr)) != -1;) {
    if (option == 'c')
      check = true;
    else if (option == 'v')
      verbose = true;
    else if (option == 'h')
      return Answer(kUsage);
    else if (option == 'V')
      return Answer(kVersion);
    else
      return UsageError(nullptr);
  }
  if (optind == argc)
    return UsageError("no file given");

  int code = kAllDone;
  CallRecord record = CallRecord();
  for (int at = optind; at < argc; ++at) {
    const char* file = argv[at];
    bool input = strcmp(file, "-") == 0;
    RunOutcome outcome = RunOutcome();
    bool done = false;
    if (input && outputClosed && !check) {
      outcome.message = kReplaceFailed;
      snprintf(outcome.reason, sizeof outcome.reason,
               "standard output is closed");
    } else {
      done = RunRepair(input ? nullptr : file, check ? kCheckFile : kRepairFile,
                       outcome, &record);
    }
    if (outcome.notice[0] != '\0')
      ReportNotice(file, outcome.notice);
    if (!done) {
      ReportFailure(file, outcome);
      code = check ? kNotChecked : kSomeFailed;
    } else if (check && outcome.changed) {
      PrintNamed(file, "\n");
      if (code == kAllDone)
        code = kWouldChange;
    } else if (verbose && !check && !input)
      ReportRepair(file, outcome);
    // Each line goes out at once, in its place among the messages.
    fflush(stdout);
  }
  if (fflush(stdout) != 0 || ferror(stdout) != 0)
    code = kSomeFailed;
  EndCall(record);
  return code;
}
