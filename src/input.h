// input.h - the file's way in: read whole, and scanned as its pieces arrive
// (the placeholder looked for, the lines checked, the stray '>' masked), on
// a second thread for a long file, so that the scan keeps pace with the
// read.
#pragma once

#include "platform.h"
#include "subtitle/mask.h"

// What the scan of a file found, and how far it has gone.
struct InputScan {
  unsigned long searched; // bytes looked through for the placeholder
  bool hasPlaceholder;    // the file holds the placeholder, first at
  unsigned long placeholderAt;
  LineCheck lines;
  LineFault fault; // the first line fault, its '>' at faultAt
  unsigned long faultAt;
  unsigned long masked; // positions masked so far
  unsigned long arrows; // timing arrows among them
};

void StartScan(InputScan& scan);

// Scans the first have bytes of data, the part of the file that has
// arrived (all of it when whole), from where the scan stands: the bytes are
// looked through for the placeholder, their lines checked (CheckLinesSoFar)
// and, in what the check has passed, every stray '>' masked (ConvertChar)
// and the timing arrows counted. A line fault ends the checking and the
// masking, and the placeholder ends the scan: the file is then refused,
// and its bytes serve only to count lines.
void ScanInput(InputScan& scan, char* data, unsigned long have, bool whole);

// Readfile, with the file scanned as it is read: on a second thread while
// the read goes on, when the file is longer than a few pieces and a
// thread can be had; after the read otherwise.
char* ReadAndScan(const char* path, unsigned long& length, FileStamp* stamp,
                  bool forWriting, InputScan& scan);
