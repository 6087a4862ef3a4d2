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
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const char kProgram[] = "zelvar";

// With --check, 1 says that a file would change and 2 that one could not
// be checked, as cmp and diff say it. An answer (--check, --help,
// --version) that cannot be written ends with 2 as well; a repair whose
// line cannot be written fails like any repair.
enum ExitCode {
  kAllDone = 0,
  kSomeFailed = 1,
  kWouldChange = 1,
  kUsageError = 2,
  kNotChecked = 2,
  kAnswerNotWritten = 2,
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
    "                 (or: unchanged, for a file in order already); with\n"
    "                 --check, name each FILE in order on standard error\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "  --             end the options, as in: zelvar -- -name.srt\n"
    "\n"
    "Exit status: 0 when every FILE was repaired, 1 when any failed, 2 for a\n"
    "usage error. With --check: 0 when no FILE would change, 1 when one\n"
    "would, 2 when one could not be checked, when standard output could not\n"
    "be written, or for a usage error. Each failure is one line on standard\n"
    "error: zelvar: FILE: message (reason).\n";

static const char kVersion[] =
    "zelvar " ZELVAR_VERSION "\n"
    "Copyright (C) 2026 The Zelvar developers.\n"
    "License: MIT <https://opensource.org/licenses/MIT>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

static const char kTryHelp[] = "Try 'zelvar --help'.\n";
static const char kVerboseToOutput[] =
    "--verbose cannot be used with -, whose repair goes to standard output";
static const char kWriteError[] = "write error: %s";
// With --verbose and --check, on standard error: FILE: in order.
static const char kInOrder[] = "in order";

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

// The length of the valid UTF-8 character at at, 1 to 4 bytes; 0 when
// none starts there: a byte that cannot lead, a sequence cut short, an
// overlong form, a surrogate (ED A0..BF) or a code point past U+10FFFF.
// Reads no byte past a NUL.
static unsigned long FindCharLength(const unsigned char* at) {
  unsigned char lead = at[0], low = 0x80, high = 0xBF; // the second byte's
  if (lead < 0x80)
    return 1;
  if (lead < 0xC2 || lead > 0xF4)
    return 0;
  unsigned long length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (lead == 0xE0)
    low = 0xA0;
  else if (lead == 0xED)
    high = 0x9F;
  else if (lead == 0xF0)
    low = 0x90;
  else if (lead == 0xF4)
    high = 0x8F;
  if (at[1] < low || at[1] > high)
    return 0;
  for (unsigned long next = 2; next < length; ++next)
    if (at[next] < 0x80 || at[next] > 0xBF)
      return 0;
  return length;
}

// A copy of text for a terminal, a heap block: text is read as UTF-8, and
// each control character (C0, DEL, and C1 as its two bytes) and each byte
// that is no part of a valid character shows as \xHH, each backslash
// doubled, so that a file's name is one line and shows what it holds.
// Null when no block can be had.
static char* Escaped(const char* text) {
  char* escaped = static_cast<char*>(malloc(4 * strlen(text) + 1));
  if (escaped == nullptr)
    return nullptr;
  char* to = escaped;
  const unsigned char* at = reinterpret_cast<const unsigned char*>(text);
  while (*at != '\0') {
    unsigned long length = FindCharLength(at);
    bool control = length == 0 || *at < 0x20 || *at == 0x7F ||
                   (*at == 0xC2 && at[1] <= 0x9F);
    unsigned long bytes = length == 0 ? 1 : length;
    if (control)
      for (unsigned long byte = 0; byte < bytes; ++byte)
        to += snprintf(to, 5, "\\x%02X", at[byte]);
    else if (*at == '\\')
      to += snprintf(to, 3, "\\\\");
    else {
      memcpy(to, at, bytes);
      to += bytes;
    }
    at += bytes;
  }
  *to = '\0';
  return escaped;
}

// Prints on standard output at once, as printf does. False, with errno
// telling why, when it could not be written.
static bool PrintOut(const char* format, ...) {
  errno = 0;
  va_list arguments;
  va_start(arguments, format);
  bool written = vprintf(format, arguments) >= 0 && fflush(stdout) == 0 &&
                 ferror(stdout) == 0;
  va_end(arguments);
  if (!written && errno == 0)
    errno = EIO;
  return written;
}

// Says, as cmp does, that standard output could not be written.
static void ReportWriteError(int error) {
  char text[128];
  snprintf(text, sizeof text, kWriteError, strerror(error));
  ShowMessage(kProgram, text, kErrorMessage);
}

// Prints text on standard output; exit code 0, or 2 when it could not.
static int Answer(const char* text) {
  if (PrintOut("%s", text))
    return kAllDone;
  ReportWriteError(errno);
  return kAnswerNotWritten;
}

// The line FILE: TEXT WHY on standard error; escaped, since each may hold
// names.
static void ReportLine(const char* file, const char* text,
                       const char* why = "") {
  size_t size = strlen(file) + strlen(text) + strlen(why) + 3;
  char* line = static_cast<char*>(malloc(size));
  char* escaped = nullptr;
  if (line != nullptr) {
    snprintf(line, size, "%s: %s%s", file, text, why);
    escaped = Escaped(line);
  }
  ShowMessage(kProgram, escaped != nullptr ? escaped : text, kErrorMessage);
  free(escaped);
  free(line);
}

// The one line of a failed file: FILE: TEXT, then why in brackets where
// that is known.
static void ReportFailure(const char* file, const RunOutcome& outcome) {
  char why[sizeof outcome.reason + 3] = "";
  if (outcome.reason[0] != '\0')
    snprintf(why, sizeof why, " (%s)", outcome.reason);
  ReportLine(file, kMessages[outcome.message].text, why);
}

// With --check, the name of a file that a repair would change, on a line of
// its own. False, with errno telling why, when it could not be written.
static bool ListFile(const char* file) {
  char* name = Escaped(file);
  bool written = name == nullptr || PrintOut("%s\n", name);
  free(name);
  return written;
}

// After a repair, with --verbose: FILE: N entries, backup NAME; or, for a
// file that was in order already, FILE: N entries, unchanged. False, with
// errno telling why, when the line could not be written.
static bool ReportRepair(const char* file, const RunOutcome& outcome) {
  char* name = Escaped(file);
  char* backup = Escaped(outcome.backup);
  bool written = name == nullptr || backup == nullptr ||
                 PrintOut("%s: %lu %s, %s%s\n", name, outcome.entries,
                          outcome.entries == 1 ? "entry" : "entries",
                          outcome.changed ? "backup " : "unchanged",
                          outcome.changed ? backup : "");
  free(backup);
  free(name);
  return written;
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
  for (int at = optind; verbose && !check && at < argc; ++at)
    if (strcmp(argv[at], "-") == 0)
      return UsageError(kVerboseToOutput);

  int code = kAllDone;
  int outputError = 0; // of the first line that standard output refused
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
      ReportLine(file, outcome.notice);
    if (!done) {
      ReportFailure(file, outcome);
      code = check ? kNotChecked : kSomeFailed;
    } else if (check && outcome.changed) {
      if (!ListFile(file) && outputError == 0)
        outputError = errno;
      if (code == kAllDone)
        code = kWouldChange;
    } else if (verbose && check) {
      ReportLine(file, kInOrder);
    } else if (verbose && !input) {
      if (!ReportRepair(file, outcome) && outputError == 0)
        outputError = errno;
    }
  }
  // Only --check and --verbose lines reach standard output here: a repair
  // of standard input wrote and reported its own.
  if ((check || verbose) && outputError == 0 && fclose(stdout) != 0)
    outputError = errno;
  if (outputError != 0) {
    ReportWriteError(outputError);
    code = check ? kAnswerNotWritten : kSomeFailed;
  }
  EndCall(record);
  return code;
}
