// input.h - the file's way in: read whole, and scanned as its pieces arrive
// (the placeholder looked for, the lines checked, the stray '>' masked), on
// a thread of its own for a long file, so that the run can rebuild what is
// ready while the rest is read.
#pragma once

#include "platform.h"
#include "subtitle/mask.h"

#include <atomic>

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

// Readfile, with the file scanned once it is read.
char* ReadAndScan(const char* path, unsigned long& length, FileStamp* stamp,
                  bool forWriting, InputScan& scan);

// A named file read whole on a thread of its own, each piece scanned there
// as it arrives, so that the run's thread can work on what is ready (read,
// checked and masked) while the rest is read.
struct Reading {
  const char* path;
  bool forWriting;
  // The reading thread's until the read has finished:
  InputScan scan;
  char* data; // Readfile's result, and what it stores
  unsigned long length;
  FileStamp stamp;
  int error;
  // Shared, each posted on moved as it changes:
  std::atomic<char*> block;         // the file's block, once a piece is in
  std::atomic<unsigned long> size;  // its size
  std::atomic<unsigned long> ready; // its first bytes that are ready
  std::atomic<bool> finished;       // the read has ended...
  std::atomic<bool> whole;          // ...well: the block is all ready
  Semaphore* moved;
  Semaphore* released; // the run's thread is done with a block not whole
  Thread* thread;
};

// Starts reading the file at path as Readfile does, on a thread. False
// when no thread can be had: ReadAndScan then reads it.
bool StartReading(Reading& reading, const char* path, bool forWriting);

// Waits until at least wanted bytes are ready, or the read has finished;
// returns how many are ready then.
unsigned long WaitForReady(Reading& reading, unsigned long wanted);

// Once the read has finished and the run's thread no longer touches the
// block (it is freed when the read failed), lets the thread go on to its
// end and waits for it. Returns what Readfile returned, storing what it
// stores, and the scan.
char* EndReading(Reading& reading, unsigned long& length, FileStamp* stamp,
                 InputScan& scan);
