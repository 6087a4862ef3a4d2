// run.h - one repair run on one file, as both entries make it: its steps,
// its messages, and what it came to.
#pragma once

#include "platform.h"

// The run's messages, in the order of the steps that give them.
enum Message {
  kHint,
  kOpenFailed,
  kHoldsPlaceholder,
  kBackupFailed,
  kMaskFailed,
  kReplaceFailed,
  kRebuildFailed,
  kReadBackFailed,
};

// The caption over every message.
extern const char kCaption[];

// The text and style of each message, indexed by Message.
struct MessageEntry {
  const char* text;
  MessageStyle style;
};
extern const MessageEntry kMessages[];

// What a run asks of the file: its repair in place, or only whether a
// repair would change it.
enum RunMode { kRepairFile, kCheckFile };

// What a run came to. When it failed: its message, and why in words (the
// run's own account, or the system's for the call that failed; empty when
// nothing is known). When it ended well: the entries it numbered, and
// whether the repair changed the file (or, checking, would).
struct RunOutcome {
  Message message;
  char reason[200];
  unsigned long entries;
  bool changed;
  char backup[4096]; // the backup's name, when one was written
  char notice[4400]; // what the user should know beside how it went (a
                     // file kept aside), or empty
};

struct CallRecord; // deliver.h

// Runs one repair of the file at path, or of standard input into standard
// output when path is null (then nothing else is read or written, and
// nothing reaches standard output when the input is refused). In place,
// the file is replaced at once by its complete, synced repair, after its
// backup is on disk, and only while it is still the file as read; a run
// that fails or refuses leaves it, an older backup and its folder as they
// were (but for a complete new backup, when only the last steps failed). A
// file that its repair would leave as it is is not written, nor is its
// backup. Checking reads the file and writes nothing.
// False when the run failed; outcome says how it went either way.
// With record, the run adds to it, and a file whose backup name holds a
// backup of another file of the call is refused before it is written over.
bool RunRepair(const char* path, RunMode mode, RunOutcome& outcome,
               CallRecord* record = nullptr);
