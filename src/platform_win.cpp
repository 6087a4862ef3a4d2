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
  if (_stricmp(first, second) == 0)
    return true;
  BY_HANDLE_FILE_INFORMATION a, b;
  if (!GetFileIdentity(first, a) || !GetFileIdentity(second, b))
    return false;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool IsFolderSeparator(char c) {
  return c == '/' || c == '\\' || c == ':';
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
  stamp.device = id.dwVolumeSerialNumber;
  stamp.index = (static_cast<unsigned long long>(id.nFileIndexHigh) << 32) |
                id.nFileIndexLow;
  stamp.size = (static_cast<unsigned long long>(id.nFileSizeHigh) << 32) |
               id.nFileSizeLow;
  stamp.modified =
      (static_cast<unsigned long long>(id.ftLastWriteTime.dwHighDateTime)
       << 32) |
      id.ftLastWriteTime.dwLowDateTime;
  // The change time, which a program cannot set back as it can the time of
  // the last write; 0 where the system does not tell it.
  FILE_BASIC_INFO basic;
  stamp.changed =
      GetFileInformationByHandleEx(handle, FileBasicInfo, &basic,
                                   sizeof basic) != 0
          ? static_cast<unsigned long long>(basic.ChangeTime.QuadPart)
          : 0;
  stamp.links = id.nNumberOfLinks;
  stamp.mode = 0;
  stamp.owner = 0;
  stamp.group = 0;
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

bool IsThroughDescriptorLink(const char* path) {
  (void)path;
  return false;
}

const char* CheckReplaceable(const char* path, const FileStamp& read) {
  // A new file takes its folder's access rules, as the file did.
  (void)path;
  (void)read;
  return nullptr;
}

FILE* OpenFile(const char* path, bool forWriting) {
  return fopen(path, forWriting ? "r+b" : "rb");
}

char* ResolvePath(const char* path) {
  // Links to files are rare here; a move onto the name replaces the name.
  return _strdup(path);
}

bool HoldRunLock(const char* path, int& lock) {
  // The runtime's streams share their files for reading and writing, so a
  // lock here would shut out the run's own later opens. None is needed for
  // the file's sake: it is replaced whole, so a second run reads either it
  // as it was or its repair, and the check of its state before the rename
  // keeps a change made meanwhile.
  (void)path;
  lock = -1;
  return true;
}

void ReleaseRunLock(int lock) {
  (void)lock;
}

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
  size_t start = strlen(kBesideStart);
  char* pattern = static_cast<char*>(malloc(folder + start + 2));
  if (pattern == nullptr)
    return nullptr;
  memcpy(pattern, path, folder);
  memcpy(pattern + folder, kBesideStart, start);
  memcpy(pattern + folder + start, "*", 2);
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
  memcpy(name, path, folder);
  memcpy(name + folder, folder == 0 ? "." : "", folder == 0 ? 2 : 1);
  BY_HANDLE_FILE_INFORMATION id;
  bool known = GetFileIdentity(name, id);
  free(name);
  if (known) {
    stamp = FileStamp();
    stamp.device = id.dwVolumeSerialNumber;
    stamp.index = (static_cast<unsigned long long>(id.nFileIndexHigh) << 32) |
                  id.nFileIndexLow;
  }
  return known;
}

bool RemoveFile(const char* path) {
  return DeleteFileA(path) != 0;
}

void CopyFileAccess(FILE* file, const char* from, const FileStamp& like) {
  // A new file takes its folder's access rules, as the file beside it did.
  (void)file;
  (void)from;
  (void)like;
}

bool SyncFolderOf(const char* path) {
  // Every move is written through: nothing is left to sync.
  (void)path;
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

bool SyncFileAsRead(const char* path, const FileStamp& read) {
  // Flushing a file's buffers needs write access.
  HANDLE file =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  FileStamp now;
  bool synced = StampOf(file, now) && IsSameState(now, read) &&
                FlushFileBuffers(file) != 0;
  CloseHandle(file);
  return synced;
}

// Windows cannot exchange two files: the backup is then a copy, and the
// check before a plain rename is the last.
const bool kFilesExchange = false;

Exchange ExchangeFiles(const char* from, const char* to,
                       const FileStamp& read) {
  (void)from;
  (void)to;
  (void)read;
  errno = ENOSYS;
  return kNotExchanged;
}
