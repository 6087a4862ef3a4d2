// platform_posix.cpp - the platform layer where there is no Windows: the
// command line is formed from argv, messages go to standard error, and files
// are synced, locked and renamed with the POSIX calls.
#include "platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// Absolute path of the running program into path (PATH_MAX bytes), or
// argv[0] as it came when neither way gives one.
static void GetProgramPath(const char* argv0, char* path) {
  ssize_t length = readlink("/proc/self/exe", path, PATH_MAX - 1);
  if (length > 0) {
    path[length] = '\0';
    return;
  }
  if (argv0 != nullptr && realpath(argv0, path) != nullptr)
    return;
  snprintf(path, PATH_MAX, "%s", argv0 != nullptr ? argv0 : "zelvar");
}

// Appends '"', text and '"' at out; returns the byte after them.
static char* PutQuoted(char* out, const char* text) {
  size_t length = strlen(text);
  *out++ = '"';
  memcpy(out, text, length);
  out += length;
  *out++ = '"';
  return out;
}

// The formed text belongs to the platform, as the process's own command
// line does on Windows: it is kept here for the whole run.
static char* launchText = nullptr;

static const char kUsage[] =
    "Usage: zelvar FILE\n"
    "Repairs the subtitle file FILE (.srt) in place: its entries are numbered\n"
    "1, 2, 3 ... in the order of their timing lines, blank lines and old\n"
    "numbers go, and every byte of every text is kept.\n"
    "\n"
    "Before FILE changes, its exact bytes are saved next to it under its name\n"
    "with the last three characters replaced by \"old\" (movie.srt gives\n"
    "movie.old).\n"
    "\n"
    "Exit code 0 after a repair. Exit code 1 after any failure, with one\n"
    "message on standard error; FILE is then as it was, and should putting\n"
    "it back fail too, the backup holds it.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "A file named like one of these is given as ./--help, say.\n";

// A lone --help, -h or --version is answered here and ends the process;
// any other argument is a path.
static void AnswerOption(int argc, char** argv) {
  if (argc != 2)
    return;
  if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
    fputs(kUsage, stdout);
    exit(fflush(stdout) == 0 ? 0 : 1);
  }
  if (strcmp(argv[1], "--version") == 0) {
    printf("zelvar %s\n", ZELVAR_VERSION);
    exit(fflush(stdout) == 0 ? 0 : 1);
  }
}

char* GetLaunchText(int argc, char** argv) {
  AnswerOption(argc, argv);
  // Past a file-size limit a write then fails and is reported, and the
  // file is put back, instead of the process ending without a word.
  signal(SIGXFSZ, SIG_IGN);
  static char program[PATH_MAX];
  GetProgramPath(argc > 0 ? argv[0] : nullptr, program);
  size_t size = strlen(program) + 3;
  for (int i = 1; i < argc; ++i)
    size += strlen(argv[i]) + 3;
  char* text = static_cast<char*>(malloc(size));
  if (text == nullptr)
    return nullptr;
  char* out = PutQuoted(text, program);
  for (int i = 1; i < argc; ++i) {
    *out++ = ' ';
    out = PutQuoted(out, argv[i]);
  }
  *out = '\0';
  launchText = text;
  return launchText;
}

void ShowMessage(const char* caption, const char* text, MessageStyle style) {
  (void)style;
  fprintf(stderr, "%s: %s\n", caption, text);
}

bool IsSameFile(const char* first, const char* second) {
  if (strcmp(first, second) == 0)
    return true;
  struct stat a, b;
  if (stat(first, &a) != 0 || stat(second, &b) != 0)
    return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void AdviseFileBlock(void* block, unsigned long size) {
#ifdef MADV_HUGEPAGE
  // Only whole pages inside the block may be advised.
  const uintptr_t page = 4096;
  uintptr_t from =
      (reinterpret_cast<uintptr_t>(block) + page - 1) & ~(page - 1);
  uintptr_t to = (reinterpret_cast<uintptr_t>(block) + size) & ~(page - 1);
  if (to > from)
    madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}

bool IsFolderSeparator(char c) {
  return c == '/';
}

bool GetFileStamp(FILE* file, FileStamp& stamp) {
  struct stat status;
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode))
    return false;
  stamp.device = status.st_dev;
  stamp.index = status.st_ino;
  stamp.size = static_cast<unsigned long long>(status.st_size);
  stamp.modified =
      static_cast<unsigned long long>(status.st_mtim.tv_sec) * 1000000000ULL +
      static_cast<unsigned long long>(status.st_mtim.tv_nsec);
  stamp.mode = status.st_mode & 07777;
  stamp.owner = status.st_uid;
  stamp.group = status.st_gid;
  return true;
}

bool HoldRunLock(const char* path) {
  // Without blocking, so that a pipe at path cannot hold the run up; the
  // descriptor stays open, and the lock held, until the process ends.
  int held = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (held < 0)
    return true;
  if (flock(held, LOCK_EX | LOCK_NB) == 0)
    return true;
  bool taken = errno == EWOULDBLOCK;
  close(held);
  return !taken;
}

bool SyncFile(FILE* file) {
  return fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool EmptyFile(FILE* file) {
  if (fflush(file) != 0 || ftruncate(fileno(file), 0) != 0)
    return false;
  rewind(file);
  return true;
}

FILE* CreateFileBeside(const char* path, char** made) {
  static const char kPattern[] = ".zelvar-XXXXXX";
  size_t folder = FolderLength(path);
  char* name = static_cast<char*>(malloc(folder + sizeof kPattern));
  if (name == nullptr)
    return nullptr;
  memcpy(name, path, folder);
  memcpy(name + folder, kPattern, sizeof kPattern);
  // mkstemp creates with O_EXCL: an existing name, a link included, fails.
  int descriptor = mkstemp(name);
  FILE* file = descriptor < 0 ? nullptr : fdopen(descriptor, "wb");
  if (file == nullptr) {
    if (descriptor >= 0) {
      close(descriptor);
      unlink(name);
    }
    free(name);
    return nullptr;
  }
  *made = name;
  return file;
}

void CopyFileAccess(FILE* file, const FileStamp& like) {
  int descriptor = fileno(file);
  uid_t owner = static_cast<uid_t>(like.owner);
  gid_t group = static_cast<gid_t>(like.group);
  // The owner first, since a change of owner may clear set-id bits. Only
  // root may give a file away; others may keep the group where they belong
  // to it, and otherwise the file stays the run's own.
  if (fchown(descriptor, owner, group) != 0 &&
      fchown(descriptor, static_cast<uid_t>(-1), group) != 0) {
    // Neither is allowed: the backup keeps the run's owner and group.
  }
  // Should this fail, the file keeps the owner-only bits it was made with.
  fchmod(descriptor, static_cast<mode_t>(like.mode));
}

bool ReplaceByRename(const char* from, const char* to) {
  if (rename(from, to) != 0)
    return false;
  // The rename lives in the folder: sync it so that the new name survives
  // a power cut.
  size_t length = FolderLength(to);
  char* folder = static_cast<char*>(malloc(length + 2));
  if (folder == nullptr)
    return false;
  if (length == 0)
    memcpy(folder, ".", 2);
  else {
    memcpy(folder, to, length);
    folder[length] = '\0';
  }
  int descriptor = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  free(folder);
  if (descriptor < 0)
    return false;
  bool synced = fsync(descriptor) == 0;
  if (close(descriptor) != 0)
    synced = false;
  return synced;
}
