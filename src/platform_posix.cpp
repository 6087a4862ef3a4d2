// platform_posix.cpp - the platform layer where there is no Windows:
// messages go to standard error, and files are synced, locked, given their
// attributes and renamed with the POSIX calls.
#include "platform.h"

#include "files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

bool ShowMessage(const char* caption, const char* text, MessageStyle) {
  fprintf(stderr, "%s: %s\n", caption, text);
  return fflush(stderr) == 0 && ferror(stderr) == 0;
}

// The folder part of path as its own text, "." for none: a heap block.
static char* CopyFolder(const char* path) {
  size_t length = FolderLength(path);
  return length == 0 ? strdup(".") : strndup(path, length);
}

// The folder that holds path, opened to be stamped, synced or worked in; -1,
// with errno telling why, when it cannot be.
static int OpenFolderOf(const char* path) {
  char* folder = CopyFolder(path);
  int descriptor =
      folder != nullptr ? open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  free(folder);
  return descriptor;
}

// A path split for the calls that take a folder's descriptor: the folder
// it lies in, opened, and its own name. A path the system takes whole is
// left whole (in the working folder's name), so that nothing is opened for
// it; a longer one, such as the name of a file made beside a file whose
// own path fills the system's limit, is reached through its folder.
struct At {
  int folder; // AT_FDCWD, a descriptor, or -1 when the folder cannot open
  const char* name;
};

static At SplitPath(const char* path) {
  At at = {AT_FDCWD, path};
  if (strlen(path) < PATH_MAX)
    return at;
  at.folder = OpenFolderOf(path);
  at.name = path + FolderLength(path);
  return at;
}

// Closes what SplitPath opened, leaving errno as the call made it.
static void EndAt(const At& at) {
  int error = errno;
  if (at.folder >= 0)
    close(at.folder);
  errno = error;
}

static int OpenPath(const char* path, int flags, mode_t mode) {
  At at = SplitPath(path);
  int result = at.folder == -1 ? -1 : openat(at.folder, at.name, flags, mode);
  EndAt(at);
  return result;
}

static int RenamePath(const char* from, const char* to, unsigned flags) {
  At source = SplitPath(from), target = SplitPath(to);
  int result = source.folder == -1 || target.folder == -1
                   ? -1
                   : renameat2(source.folder, source.name, target.folder,
                               target.name, flags);
  EndAt(source);
  EndAt(target);
  return result;
}

bool RemoveFile(const char* path) {
  At at = SplitPath(path);
  bool removed = at.folder != -1 && unlinkat(at.folder, at.name, 0) == 0;
  EndAt(at);
  return removed;
}

bool IsSameFile(const char* first, const char* second) {
  struct stat a, b;
  return strcmp(first, second) == 0 ||
         (stat(first, &a) == 0 && stat(second, &b) == 0 &&
          a.st_dev == b.st_dev && a.st_ino == b.st_ino);
}

bool IsSecondName(const char* path) {
  struct stat status;
  return lstat(path, &status) == 0 && S_ISREG(status.st_mode) &&
         status.st_nlink >= 2;
}

bool IsFolderSeparator(char c) {
  return c == '/';
}

static unsigned long long Nanoseconds(const struct timespec& time) {
  return static_cast<unsigned long long>(time.tv_sec) * 1000000000ULL +
         static_cast<unsigned long long>(time.tv_nsec);
}

// The stamp of a file by its status; false for anything but a regular file.
static bool StampOf(const struct stat& status, FileStamp& stamp) {
  if (!S_ISREG(status.st_mode))
    return false;
  stamp.device = status.st_dev;
  stamp.index = status.st_ino;
  stamp.size = static_cast<unsigned long long>(status.st_size);
  stamp.modified = Nanoseconds(status.st_mtim);
  stamp.changed = Nanoseconds(status.st_ctim);
  stamp.links = status.st_nlink;
  stamp.mode = status.st_mode & 07777;
  stamp.owner = status.st_uid;
  stamp.group = status.st_gid;
  return true;
}

bool GetFileStamp(FILE* file, FileStamp& stamp) {
  struct stat status;
  return fstat(fileno(file), &status) == 0 && StampOf(status, stamp);
}

bool GetPathStamp(const char* path, FileStamp& stamp) {
  At at = SplitPath(path);
  struct stat status;
  bool known = at.folder != -1 &&
               fstatat(at.folder, at.name, &status, 0) == 0 &&
               StampOf(status, stamp);
  EndAt(at);
  return known;
}

FILE* OpenFile(const char* path, bool forWriting) {
  // Opened without waiting for a writer; the streams then wait as usual.
  int flags = forWriting ? O_RDWR : O_RDONLY;
  int descriptor = open(path, flags | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0)
    return nullptr;
  FILE* file = fcntl(descriptor, F_SETFL, flags) == 0
                   ? fdopen(descriptor, forWriting ? "r+b" : "rb")
                   : nullptr;
  if (file == nullptr) {
    int error = errno;
    close(descriptor);
    errno = error;
  }
  return file;
}

char* ResolvePath(const char* path) {
  errno = 0;
  return realpath(path, nullptr);
}

// The links to descriptors live in a /proc/.../fd folder (/dev/fd and
// /dev/stdin lead there): each link on the way to the file is followed by
// hand, and the folder it stands in is looked at.
bool IsThroughDescriptorLink(const char* path) {
  char* at = strdup(path);
  bool through = false;
  for (int hop = 0; at != nullptr && !through && hop < 40; ++hop) {
    char* folder = CopyFolder(at);
    char* resolved = folder != nullptr ? realpath(folder, nullptr) : nullptr;
    size_t length = resolved != nullptr ? strlen(resolved) : 0;
    through = length > 9 && strncmp(resolved, "/proc/", 6) == 0 &&
              strcmp(resolved + length - 3, "/fd") == 0;
    free(resolved);
    char target[4096];
    ssize_t size = readlink(at, target, sizeof target - 1);
    char* next = nullptr;
    if (size > 0 && folder != nullptr) {
      target[size] = '\0';
      if (target[0] == '/')
        next = strdup(target);
      else if (asprintf(&next, "%s/%s", folder, target) < 0)
        next = nullptr;
    }
    free(folder);
    free(at);
    at = next;
  }
  free(at);
  return through;
}

// True when the run's user belongs to group.
static bool IsInGroup(gid_t group) {
  if (group == getegid())
    return true;
  gid_t groups[256];
  int count = getgroups(256, groups);
  for (int at = 0; at < count; ++at)
    if (groups[at] == group)
      return true;
  return false;
}

const char* CheckReplaceable(const char* path, const FileStamp& read) {
  int descriptor = OpenFolderOf(path);
  if (descriptor < 0)
    return "its folder cannot be opened to make the change durable";
  struct stat status;
  bool known = fstat(descriptor, &status) == 0;
  // As the system judges it for this run's user, access lists and
  // read-only mounts included; root passes unless the folder is immutable
  // or its file system read-only.
  bool writable = faccessat(descriptor, ".", W_OK | X_OK, AT_EACCESS) == 0;
  close(descriptor);
  if (!writable)
    return "the file's folder cannot be written, so no new file can be made "
           "beside it";
  uid_t user = geteuid();
  if (user == 0)
    return nullptr;
  if (known && (status.st_mode & S_ISVTX) != 0 && read.owner != user &&
      status.st_uid != user)
    return "the folder is sticky and the file is another user's, so it "
           "cannot be replaced";
  if (read.owner != user)
    return "the file is another user's, and a new file could not keep its "
           "owner";
  if (!IsInGroup(static_cast<gid_t>(read.group)))
    return "a new file could not keep the file's group";
  return nullptr;
}

bool HoldRunLock(const char* path, int& lock) {
  // Without blocking, so that a pipe at path cannot hold the run up; the
  // descriptor stays open, and the lock held, until it is released.
  lock = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (lock < 0 || flock(lock, LOCK_EX | LOCK_NB) == 0)
    return true;
  bool taken = errno == EWOULDBLOCK;
  close(lock);
  lock = -1;
  return !taken;
}

void ReleaseRunLock(int lock) {
  if (lock >= 0)
    close(lock);
}

bool SyncFile(FILE* file) {
  return fflush(file) == 0 && ferror(file) == 0 && fsync(fileno(file)) == 0;
}

// A file made beside another is hidden.
const char kBesideStart[] = ".zelvar-";
const char kBesideEnd[] = "";

unsigned long long GetEntropy() {
  unsigned long long bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) == sizeof bits)
    return bits;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<unsigned long long>(now.tv_nsec) ^
         (static_cast<unsigned long long>(now.tv_sec) << 30) ^
         (static_cast<unsigned long long>(getpid()) << 40);
}

FILE* CreateNewFile(const char* name) {
  // O_EXCL: an existing name, a link included, fails. The lock tells a
  // live run's file from a cut-off run's for as long as the file is open.
  int descriptor =
      OpenPath(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (descriptor < 0)
    return nullptr;
  flock(descriptor, LOCK_EX | LOCK_NB);
  FILE* file = fdopen(descriptor, "w+b");
  if (file == nullptr) {
    int error = errno;
    close(descriptor);
    RemoveFile(name);
    errno = error;
  }
  return file;
}

char** ListBesideNames(const char* path, unsigned long& count) {
  count = 0;
  char* folder = CopyFolder(path);
  DIR* listing = folder != nullptr ? opendir(folder) : nullptr;
  free(folder);
  if (listing == nullptr)
    return nullptr;
  char** names = nullptr;
  size_t start = strlen(kBesideStart);
  for (const struct dirent* entry; (entry = readdir(listing)) != nullptr;)
    if (strncmp(entry->d_name, kBesideStart, start) == 0 &&
        !AddName(names, count, entry->d_name))
      break;
  closedir(listing);
  return names;
}

bool HoldLeftover(const char* name, int& hold) {
  hold = OpenPath(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  struct stat status;
  if (hold >= 0 && fstat(hold, &status) == 0 && S_ISREG(status.st_mode) &&
      (status.st_uid == geteuid() || geteuid() == 0) &&
      flock(hold, LOCK_EX | LOCK_NB) == 0)
    return true;
  if (hold >= 0)
    close(hold);
  hold = -1;
  return false;
}

bool GetFolderStamp(const char* path, FileStamp& stamp) {
  int folder = OpenFolderOf(path);
  struct stat status;
  bool known = folder >= 0 && fstat(folder, &status) == 0;
  if (folder >= 0)
    close(folder);
  if (known) {
    stamp = FileStamp();
    stamp.device = status.st_dev;
    stamp.index = status.st_ino;
  }
  return known;
}

// The extended attributes that hold a file's access control list, and an
// NTFS file's attributes under ntfs-3g.
static const char kAccessList[] = "system.posix_acl_access";
static const char kNtfsAttributes[] = "system.ntfs_attrib_be";

// Copies each extended attribute of the file at from that the run may set
// onto the open file. False when from has an access control list that
// could not be copied.
static bool CopyAttributes(int descriptor, const char* from) {
  ssize_t size = listxattr(from, nullptr, 0);
  if (size <= 0)
    return true;
  char* names = static_cast<char*>(malloc(static_cast<size_t>(size)));
  size =
      names != nullptr ? listxattr(from, names, static_cast<size_t>(size)) : -1;
  bool listCopied = true;
  for (ssize_t at = 0; at < size; at += strlen(names + at) + 1) {
    const char* name = names + at;
    ssize_t length = getxattr(from, name, nullptr, 0);
    void* value = length >= 0 ? malloc(length != 0 ? length : 1) : nullptr;
    bool copied =
        value != nullptr &&
        getxattr(from, name, value, static_cast<size_t>(length)) == length &&
        fsetxattr(descriptor, name, value, static_cast<size_t>(length), 0) == 0;
    if (!copied && strcmp(name, kAccessList) == 0)
      listCopied = false;
    free(value);
  }
  if (size < 0)
    listCopied = getxattr(from, kAccessList, nullptr, 0) < 0;
  free(names);
  // An NTFS file's attributes (hidden, system, ...) under ntfs-3g are an
  // attribute that no listing shows.
  uint32_t ntfs;
  if (getxattr(from, kNtfsAttributes, &ntfs, sizeof ntfs) == sizeof ntfs)
    fsetxattr(descriptor, kNtfsAttributes, &ntfs, sizeof ntfs, 0);
  return listCopied;
}

void CopyFileAccess(FILE* file, const char* from, const FileStamp& fromStamp) {
  int descriptor = fileno(file);
  uid_t owner = static_cast<uid_t>(fromStamp.owner);
  gid_t group = static_cast<gid_t>(fromStamp.group);
  // The owner first, since a change of owner may clear set-id bits. Only
  // root may give a file away; others may keep the group where they belong
  // to it, and otherwise the file stays the run's own.
  if (fchown(descriptor, owner, group) != 0 &&
      fchown(descriptor, static_cast<uid_t>(-1), group) != 0) {
    // Neither is allowed: the file keeps the run's owner and group.
  }
  // Should this fail, the file keeps the owner-only bits it was made with.
  mode_t mode = static_cast<mode_t>(fromStamp.mode);
  fchmod(descriptor, mode);
  // The group bits of a file with an access control list are its mask:
  // without the list they would open the file to its whole group.
  if (from != nullptr && !CopyAttributes(descriptor, from))
    fchmod(descriptor, mode & 07700);
}

bool SyncFolderOf(const char* path) {
  int descriptor = OpenFolderOf(path);
  if (descriptor < 0)
    return false;
  bool synced = fsync(descriptor) == 0;
  if (close(descriptor) != 0)
    synced = false;
  return synced;
}

bool ReplaceByRename(const char* from, const char* to) {
  return RenamePath(from, to, 0) == 0 && SyncFolderOf(to);
}

bool RenameWithoutReplacing(const char* from, const char* to) {
  if (RenamePath(from, to, RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
    return false;
  // Where the file system cannot refuse to replace, a link can: it fails
  // on a name that exists.
  At source = SplitPath(from), target = SplitPath(to);
  bool linked =
      source.folder != -1 && target.folder != -1 &&
      linkat(source.folder, source.name, target.folder, target.name, 0) == 0;
  EndAt(source);
  EndAt(target);
  return linked && RemoveFile(from);
}

bool SyncFileAsRead(const char* path, const FileStamp& read) {
  int descriptor = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0)
    return false;
  FileStamp now;
  struct stat status;
  bool synced = fstat(descriptor, &status) == 0 && StampOf(status, now) &&
                IsSameState(now, read) && now.changed == read.changed &&
                fsync(descriptor) == 0;
  close(descriptor);
  return synced;
}

const bool kFilesExchange = true;

Exchange ExchangeFiles(const char* from, const char* to,
                       const FileStamp& read) {
  if (!IsStillInState(to, read)) {
    errno = 0;
    return kChangedBack;
  }
  if (RenamePath(from, to, RENAME_EXCHANGE) != 0)
    return kNotExchanged;
  // from now names what stood at to. The exchange set its change time, so
  // that one is not compared.
  FileStamp out;
  if (GetPathStamp(from, out) && IsSameState(out, read))
    return kExchanged;
  if (RenamePath(from, to, RENAME_EXCHANGE) == 0 ||
      RenamePath(from, to, 0) == 0)
    return kChangedBack;
  return kSaveAtFrom;
}
