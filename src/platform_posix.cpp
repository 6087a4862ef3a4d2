// platform_posix.cpp - the platform layer where there is no Windows: the
// command line is formed from argv and messages go to standard error.
#include "platform.h"

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

char* GetLaunchText(int argc, char** argv) {
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

void ShowMessage(const char* caption, const char* text, unsigned int style) {
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
