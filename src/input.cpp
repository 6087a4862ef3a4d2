// input.cpp - the file read whole and scanned as it arrives: looked through
// for the placeholder, its lines checked and its stray '>' masked, a piece
// at a time behind the read.
#include "input.h"

#include "files.h"
#include "subtitle/scan.h"

#include <atomic>

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

// The scan of a file as it is read, on a thread of its own from the second
// piece on: the reader stores how much has arrived and posts, the thread
// scans up to there. A file of one piece is scanned once it is read.
struct ScanBehind {
  InputScan* scan;
  char* data;
  std::atomic<unsigned long> have;
  std::atomic<bool> done;
  unsigned long pieces;
  Semaphore* arrived;
  Thread* thread;
};

static void ScanPieces(void* to) {
  ScanBehind& behind = *static_cast<ScanBehind*>(to);
  for (;;) {
    WaitSemaphore(behind.arrived);
    bool done = behind.done.load(std::memory_order_acquire);
    unsigned long have = behind.have.load(std::memory_order_acquire);
    // A read that failed ends with nothing arrived: nothing more to scan.
    if (!done || have != 0)
      ScanInput(*behind.scan, behind.data, have, done);
    if (done)
      return;
  }
}

// The thread starts at the second piece; where it cannot, the scan is left
// to the read's end.
static void StartScanBehind(ScanBehind& behind) {
  behind.arrived = NewSemaphore(0);
  if (behind.arrived != nullptr)
    behind.thread = StartThread(ScanPieces, &behind);
  if (behind.thread == nullptr) {
    FreeSemaphore(behind.arrived);
    behind.arrived = nullptr;
  }
}

static void TakePiece(void* to, char* block, unsigned long have, bool done) {
  ScanBehind& behind = *static_cast<ScanBehind*>(to);
  if (behind.thread == nullptr)
    behind.data = block; // the thread sees it from its start on
  if (!done && ++behind.pieces == 2)
    StartScanBehind(behind);
  if (behind.thread == nullptr) {
    if (done && have != 0)
      ScanInput(*behind.scan, block, have, true);
    return;
  }
  behind.have.store(have, std::memory_order_release);
  behind.done.store(done, std::memory_order_release);
  PostSemaphore(behind.arrived);
  if (done) {
    // The block may be freed once this returns: the scan ends first.
    JoinThread(behind.thread);
    FreeSemaphore(behind.arrived);
    behind.thread = nullptr;
  }
}

char* ReadAndScan(const char* path, unsigned long& length, FileStamp* stamp,
                  bool forWriting, InputScan& scan) {
  StartScan(scan);
  ScanBehind behind;
  behind.scan = &scan;
  behind.data = nullptr;
  behind.have = 0;
  behind.done = false;
  behind.pieces = 0;
  behind.arrived = nullptr;
  behind.thread = nullptr;
  return Readfile(path, length, stamp, forWriting, TakePiece, &behind);
}
