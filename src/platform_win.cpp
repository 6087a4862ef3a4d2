// platform_win.cpp - the platform layer on Windows: the process's own
// command line, message boxes, and file identity by volume and file index.
#include "platform.h"

#include <string.h>
#include <windows.h>

char* GetLaunchText(int argc, char** argv) {
  (void)argc;
  (void)argv;
  return GetCommandLineA();
}

void ShowMessage(const char* caption, const char* text, unsigned int style) {
  MessageBoxA(nullptr, text, caption, style);
}

// Volume and index of an existing file (or folder); false when it cannot
// be opened to ask.
static bool GetFileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION& id) {
  HANDLE file = CreateFileA(
      path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  bool known = GetFileInformationByHandle(file, &id) != 0;
  CloseHandle(file);
  return known;
}

bool IsSameFile(const char* first, const char* second) {
  if (_stricmp(first, second) == 0)
    return true;
  BY_HANDLE_FILE_INFORMATION a, b;
  if (!GetFileIdentity(first, a) || !GetFileIdentity(second, b))
    return false;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

void AdviseFileBlock(void* block, unsigned long size) {
  (void)block;
  (void)size;
}
