// platform_win.cpp - the platform layer on Windows: message boxes, file
// identity by volume and file index, and files synced and moved into place
// with the system's own calls.
#include "platform.h"

#include "files.h"

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

char* LinkFileBeside(const char* path, unsigned long long tag,
                     const FileStamp& read) {
  // Flushing the file's buffers needs write access; a file that cannot be
  // opened so is copied instead.
  HANDLE file =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return nullptr;
  FileStamp now;
  char* name = nullptr;
  if (StampOf(file, now) && IsSameState(now, read) && now.links == 1 &&
      FlushFileBuffers(file) != 0)
    name = MakeBesideName(path, tag, kBackupBeside);
  if (name != nullptr) {
    RemoveLeftover(name);
    FileStamp linked;
    bool sound = CreateHardLinkA(name, path, nullptr) != 0;
    if (sound && (!GetPathStamp(name, linked) || !IsSameState(linked, read))) {
      DeleteFileA(name);
      sound = false;
    }
    if (!sound) {
      free(name);
      name = nullptr;
    }
  }
  CloseHandle(file);
  return name;
}

void RemoveLeftoversIn(const char* path) {
  // A live run's files are open unshared: they cannot be deleted.
  size_t folder = FolderLength(path);
  char* pattern = static_cast<char*>(malloc(folder + 2));
  if (pattern == nullptr)
    return;
  memcpy(pattern, path, folder);
  memcpy(pattern + folder, "*", 2);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  for (bool more = search != INVALID_HANDLE_VALUE; more;
       more = FindNextFileA(search, &found) != 0) {
    size_t size = folder + strlen(found.cFileName) + 1;
    char* name = static_cast<char*>(malloc(size));
    if (name == nullptr)
      continue;
    memcpy(name, path, folder);
    memcpy(name + folder, found.cFileName, size - folder);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        IsBesideName(found.cFileName))
      DeleteFileA(name);
    free(name);
  }
  if (search != INVALID_HANDLE_VALUE)
    FindClose(search);
  free(pattern);
}

bool GetFolderStamp(const char* path, FileStamp& stamp) {
  (void)path;
  (void)stamp;
  return false; // one file a call: each run looks through its folder
}

// How long a leftover that is still open is waited for: 40 tries, 50 ms
// apart.
static const int kDeleteTries = 40;
static const DWORD kDeletePause = 50;

FILE* CreateFileBeside(const char* path, unsigned long long tag,
                       BesideKind kind, char** made) {
  char* name = MakeBesideName(path, tag, kind);
  if (name == nullptr)
    return nullptr;
  // What a killed run left goes first; a file another run still has open
  // cannot be deleted (it is made unshared), and then CREATE_NEW fails on
  // it, as on any name that exists, a link included. A run killed a moment
  // ago may still hold its file until the system has closed its handles:
  // the deletion is tried for a while before the name is given up.
  for (int tries = 0; tries < kDeleteTries; ++tries) {
    if (DeleteFileA(name) || GetLastError() != ERROR_SHARING_VIOLATION)
      break;
    Sleep(kDeletePause);
  }
  HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    FILE* file = descriptor < 0 ? nullptr : _fdopen(descriptor, "w+b");
    if (file != nullptr) {
      *made = name;
      return file;
    }
    if (descriptor >= 0)
      _close(descriptor);
    else
      CloseHandle(handle);
    DeleteFileA(name);
  }
  free(name);
  return nullptr;
}

bool RemoveFile(const char* path) {
  return DeleteFileA(path) != 0;
}

void RemoveLeftover(const char* name) {
  DeleteFileA(name); // fails on a file another run has open
}

void CopyFileAccess(FILE* file, const char* from, const FileStamp& like) {
  // A new file takes its folder's access rules, as the file beside it did.
  (void)file;
  (void)from;
  (void)like;
}

bool ReplaceByRename(const char* from, const char* to) {
  // A read-only file at the name would refuse to be replaced.
  DWORD attributes = GetFileAttributesA(to);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY) != 0)
    SetFileAttributesA(to, attributes & ~FILE_ATTRIBUTE_READONLY);
  return MoveFileExA(from, to,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// The attributes of a file that its repair keeps.
static const DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

Replacement ReplaceFileAsRead(const char* from, const char* to,
                              const FileStamp& read) {
  // Windows cannot exchange two files: this check, just before the move,
  // is the last.
  if (!IsStillInState(to, read))
    return kChangedAside;
  DWORD attributes = GetFileAttributesA(to);
  if (!ReplaceByRename(from, to))
    return kNotReplaced;
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & kKeptAttributes & ~FILE_ATTRIBUTE_ARCHIVE) != 0)
    SetFileAttributesA(to, attributes & kKeptAttributes);
  return kReplaced;
}
