// platform_win.cpp - the platform layer on Windows: message boxes, file
// identity by volume and file index, and files synced and moved into place
// with the system's own calls.
#include "platform.h"

#include "files.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

bool ShowMessage(const char* caption, const char* text, MessageStyle style) {
  // The style is the icon alone: the box has an OK button and no owner.
  UINT icon = style == kInformationMessage ? MB_ICONINFORMATION : MB_ICONERROR;
  return MessageBoxA(nullptr, text, caption, icon) != 0;
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
  BY_HANDLE_FILE_INFORMATION a, b;
  return _stricmp(first, second) == 0 ||
         (GetFileIdentity(first, a) && GetFileIdentity(second, b) &&
          a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
          a.nFileIndexHigh == b.nFileIndexHigh &&
          a.nFileIndexLow == b.nFileIndexLow);
}

bool IsFolderSeparator(char c) {
  return c == '/' || c == '\\' || c == ':';
}

// One 64-bit number from the two halves the system gives.
static unsigned long long Join(DWORD high, DWORD low) {
  return (static_cast<unsigned long long>(high) << 32) | low;
}

static HANDLE HandleOf(FILE* file) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

// The stamp of an open handle; false for anything but a regular file.
static bool StampOf(HANDLE handle, FileStamp& stamp) {
  BY_HANDLE_FILE_INFORMATION id;
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(handle, &id) ||
      (id.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return false;
  stamp = FileStamp(); // no permission bits, owner or group here
  stamp.device = id.dwVolumeSerialNumber;
  stamp.index = Join(id.nFileIndexHigh, id.nFileIndexLow);
  stamp.size = Join(id.nFileSizeHigh, id.nFileSizeLow);
  stamp.modified =
      Join(id.ftLastWriteTime.dwHighDateTime, id.ftLastWriteTime.dwLowDateTime);
  // The change time, which a program cannot set back as it can the time of
  // the last write; 0 where the system does not tell it.
  FILE_BASIC_INFO basic;
  stamp.changed =
      GetFileInformationByHandleEx(handle, FileBasicInfo, &basic,
                                   sizeof basic) != 0
          ? static_cast<unsigned long long>(basic.ChangeTime.QuadPart)
          : 0;
  stamp.links = id.nNumberOfLinks;
  return true;
}

bool GetFileStamp(FILE* file, FileStamp& stamp) {
  return StampOf(HandleOf(file), stamp);
}

bool GetPathStamp(const char* path, FileStamp& stamp) {
  HANDLE file =
      CreateFileA(path, FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  bool known = StampOf(file, stamp);
  CloseHandle(file);
  return known;
}

bool IsSecondName(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  FileStamp stamp;
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
         GetPathStamp(path, stamp) && stamp.links >= 2;
}

bool IsThroughDescriptorLink(const char*) {
  return false;
}

// A new file takes its folder's access rules, as the file did.
const char* CheckReplaceable(const char*, const FileStamp&) {
  return nullptr;
}

FILE* OpenFile(const char* path, bool forWriting) {
  return fopen(path, forWriting ? "r+b" : "rb");
}

char* ResolvePath(const char* path) {
  // Links to files are rare here; a move onto the name replaces the name.
  return _strdup(path);
}

// The runtime's streams share their files for reading and writing, so a
// lock here would shut out the run's own later opens. None is needed for
// the file's sake: it is replaced whole, so a second run reads either it as
// it was or its repair, and the check of its state before the rename keeps
// a change made meanwhile.
bool HoldRunLock(const char*, int& lock) {
  lock = -1;
  return true;
}

void ReleaseRunLock(int) {}

bool SyncFile(FILE* file) {
  return fflush(file) == 0 && ferror(file) == 0 &&
         FlushFileBuffers(HandleOf(file)) != 0;
}

// A file made beside another is a .tmp file.
const char kBesideStart[] = "zelvar-";
const char kBesideEnd[] = ".tmp";

unsigned long long GetEntropy() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<unsigned long long>(counter.QuadPart) ^
         (static_cast<unsigned long long>(GetTickCount64()) << 20) ^
         (static_cast<unsigned long long>(GetCurrentProcessId()) << 40);
}

FILE* CreateNewFile(const char* name) {
  // CREATE_NEW fails on any name that exists, a link included.
  HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                ? EEXIST
                : EACCES;
    return nullptr;
  }
  int descriptor =
      _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  FILE* file = descriptor < 0 ? nullptr : _fdopen(descriptor, "w+b");
  if (file != nullptr)
    return file;
  if (descriptor >= 0)
    _close(descriptor);
  else
    CloseHandle(handle);
  DeleteFileA(name);
  return nullptr;
}

char** ListBesideNames(const char* path, unsigned long& count) {
  count = 0;
  size_t folder = FolderLength(path);
  size_t size = folder + strlen(kBesideStart) + 2;
  char* pattern = static_cast<char*>(malloc(size));
  if (pattern == nullptr)
    return nullptr;
  snprintf(pattern, size, "%.*s%s*", static_cast<int>(folder), path,
           kBesideStart);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  free(pattern);
  char** names = nullptr;
  for (bool more = search != INVALID_HANDLE_VALUE; more;
       more = FindNextFileA(search, &found) != 0)
    if (!AddName(names, count, found.cFileName))
      break;
  if (search != INVALID_HANDLE_VALUE)
    FindClose(search);
  return names;
}

bool HoldLeftover(const char* name, int& hold) {
  // A live run's file is open unshared: it cannot be opened here.
  hold = -1;
  DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    return false;
  HANDLE file =
      CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  CloseHandle(file);
  return true;
}

bool GetFolderStamp(const char* path, FileStamp& stamp) {
  size_t folder = FolderLength(path);
  char* name = static_cast<char*>(malloc(folder + 2));
  if (name == nullptr)
    return false;
  snprintf(name, folder + 2, "%.*s%s", static_cast<int>(folder), path,
           folder == 0 ? "." : "");
  BY_HANDLE_FILE_INFORMATION id;
  bool known = GetFileIdentity(name, id);
  free(name);
  if (known) {
    stamp = FileStamp();
    stamp.device = id.dwVolumeSerialNumber;
    stamp.index = Join(id.nFileIndexHigh, id.nFileIndexLow);
  }
  return known;
}

bool RemoveFile(const char* path) {
  return DeleteFileA(path) != 0;
}

// A new file takes its folder's access rules, as the file beside it did.
void CopyFileAccess(FILE*, const char*, const FileStamp&) {}

// Every move is written through: nothing is left to sync.
bool SyncFolderOf(const char*) {
  return true;
}

// The attributes of a file that what replaces it keeps.
static const DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool ReplaceByRename(const char* from, const char* to) {
  // A read-only file at the name would refuse to be replaced.
  DWORD attributes = GetFileAttributesA(to);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY) != 0)
    SetFileAttributesA(to, attributes & ~FILE_ATTRIBUTE_READONLY);
  if (MoveFileExA(from, to,
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0)
    return false;
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & kKeptAttributes & ~FILE_ATTRIBUTE_ARCHIVE) != 0)
    SetFileAttributesA(to, attributes & kKeptAttributes);
  return true;
}

bool RenameWithoutReplacing(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH) != 0;
}

// Windows cannot exchange two files: the backup is then a copy, and the
// check before a plain rename is the last. The file as read is never moved
// to the backup's name, so it is never synced for that.
const bool kFilesExchange = false;

bool SyncFileAsRead(const char*, const FileStamp&) {
  return false;
}

Exchange ExchangeFiles(const char*, const char*, const FileStamp&) {
  errno = ENOSYS;
  return kNotExchanged;
}
