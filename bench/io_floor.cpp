// io_floor.cpp - the repair run's five file passes and nothing else: read
// the whole file, write the backup, write the target, read it back, write
// it again. The cost a repair cannot go below.
#include "repair.h"

#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  char* target = argv[1];
  char* backup = static_cast<char*>(malloc(strlen(target) + 1));
  unsigned long length = 0;
  char* data = Readfile(target, length);
  if (data == nullptr || !MakeBackupPath(target, backup) ||
      !CreateBackup(backup, data, length) || !Writefile(target, data, length))
    return 1;
  free(data);
  data = Readfile(target, length);
  if (data == nullptr || !Writefile(target, data, length))
    return 1;
  free(data);
  free(backup);
  return 0;
}
