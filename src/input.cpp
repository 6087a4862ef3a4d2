// input.cpp - the file read whole and scanned as it arrives: looked through
// for the placeholder, its lines checked and its stray '>' masked, a piece
// at a time, on a thread of its own for a long file.
#include "input.h"

#include "files.h"
#include "subtitle/scan.h"

#include <errno.h>

void StartScan(InputScan& scan) {
  scan = InputScan();
  StartLineCheck(scan.lines);
  scan.masked = kUntestedBytes;
}

void ScanInput(InputScan& scan, char* data, unsigned long have, bool whole) {
  if (scan.hasPlaceholder)
    return;
  if (have > scan.searched) {
    char* from = data + scan.searched;
    char* found = FindNextByte(from, have - scan.searched, kPlaceholder, false);
    if (found != from || *from == kPlaceholder) {
      scan.hasPlaceholder = true;
      scan.placeholderAt = static_cast<unsigned long>(found - data);
      return;
    }
    scan.searched = have;
  }
  if (scan.fault != kNoLineFault)
    return;
  scan.fault = CheckLinesSoFar(scan.lines, data, have, whole, scan.faultAt);
  if (scan.fault != kNoLineFault)
    return;
  // Masking never changes what the check tests (it turns a '>' into a byte
  // that no test looks for), so what the check has passed can be masked
  // while the rest is still to be checked.
  unsigned long checked =
      whole || scan.lines.next > have ? have : scan.lines.next;
  if (checked <= scan.masked)
    return;
  unsigned long arrows = 0;
  ConvertChar(data + scan.masked - kUntestedBytes,
              checked - scan.masked + kUntestedBytes, kPlaceholder, arrows);
  scan.arrows += arrows;
  scan.masked = checked;
}

char* ReadAndScan(const char* path, unsigned long& length, FileStamp* stamp,
                  bool forWriting, InputScan& scan) {
  StartScan(scan);
  char* data = Readfile(path, length, stamp, forWriting);
  if (data != nullptr)
    ScanInput(scan, data, length, true);
  return data;
}

// Each piece is scanned as it arrives and what is ready then told. At the
// read's end the rest is scanned; a block that Readfile is to free is kept
// until the run's thread has let it go.
static void ScanPiece(void* to, char* block, unsigned long have,
                      unsigned long size, bool done) {
  Reading& reading = *static_cast<Reading*>(to);
  if (!done) {
    ScanInput(reading.scan, block, have, false);
    reading.size.store(size, std::memory_order_release);
    reading.block.store(block, std::memory_order_release);
    reading.ready.store(reading.scan.masked, std::memory_order_release);
    PostSemaphore(reading.moved);
    return;
  }
  // A read that failed ends with nothing arrived.
  if (have != 0)
    ScanInput(reading.scan, block, have, true);
  reading.whole.store(have != 0, std::memory_order_release);
  reading.finished.store(true, std::memory_order_release);
  PostSemaphore(reading.moved);
  if (have == 0)
    WaitSemaphore(reading.released);
}

static void ReadPieces(void* to) {
  Reading& reading = *static_cast<Reading*>(to);
  errno = 0;
  reading.data = Readfile(reading.path, reading.length, &reading.stamp,
                          reading.forWriting, ScanPiece, &reading);
  reading.error = errno;
}

bool StartReading(Reading& reading, const char* path, bool forWriting) {
  reading.path = path;
  reading.forWriting = forWriting;
  StartScan(reading.scan);
  reading.data = nullptr;
  reading.error = 0;
  reading.block = nullptr;
  reading.size = 0;
  reading.ready = 0;
  reading.finished = false;
  reading.whole = false;
  reading.moved = NewSemaphore(0);
  reading.released = NewSemaphore(0);
  reading.thread = nullptr;
  if (reading.moved != nullptr && reading.released != nullptr)
    reading.thread = StartThread(ReadPieces, &reading);
  if (reading.thread != nullptr)
    return true;
  FreeSemaphore(reading.moved);
  FreeSemaphore(reading.released);
  return false;
}

// Each post tells of a change; the state itself is read anew after each.
unsigned long WaitForReady(Reading& reading, unsigned long wanted) {
  for (;;) {
    unsigned long ready = reading.ready.load(std::memory_order_acquire);
    if (ready >= wanted || reading.finished.load(std::memory_order_acquire))
      return ready;
    WaitSemaphore(reading.moved);
  }
}

char* EndReading(Reading& reading, unsigned long& length, FileStamp* stamp,
                 InputScan& scan) {
  WaitForReady(reading, ~0UL);
  if (!reading.whole.load(std::memory_order_acquire))
    PostSemaphore(reading.released);
  JoinThread(reading.thread);
  FreeSemaphore(reading.moved);
  FreeSemaphore(reading.released);
  scan = reading.scan;
  if (reading.data == nullptr) {
    errno = reading.error;
    return nullptr;
  }
  length = reading.length;
  if (stamp != nullptr)
    *stamp = reading.stamp;
  return reading.data;
}
