// output.cpp - the repair's way out: compared with the file as read,
// unmasked, written where it goes, in one pass as the rebuild runs.
#include "output.h"

#include "platform.h"
#include "subtitle/mask.h"
#include "subtitle/scan.h"
#include "subtitle/sink.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

// Writes count masked bytes unmasked: in place when they are the rebuild's
// block (done with once delivered), through the scratch block when they
// are the file as read, which stays masked for the rebuild.
static bool WriteUnmasked(Output& output, char* block, const char* data,
                          unsigned long count) {
  if (count == 0)
    return true;
  while (count != 0) {
    unsigned long piece = count < kSinkSize ? count : kSinkSize;
    char* unmasked = block;
    if (block == nullptr) {
      unmasked = output.scratch;
      memcpy(unmasked, data, piece);
      data += piece;
    }
    ReplaceBytes(unmasked, piece, kPlaceholder, kArrow);
    if (fwrite(unmasked, 1, piece, output.file) != piece) {
      output.error = errno;
      return false;
    }
    if (block != nullptr)
      block += piece;
    count -= piece;
  }
  // The new file goes to disk while the rebuild goes on (a stream given
  // from the start is not the run's to sync).
  if (output.open != nullptr && !StartWriteback(output.file)) {
    output.error = errno;
    return false;
  }
  return true;
}

// At the first difference: the file to write opens, and what came before,
// equal to the file as read, goes first.
static bool OpenAtDifference(Output& output) {
  output.differs = true;
  if (output.file != nullptr || output.open == nullptr)
    return true;
  output.file = output.open(output.run);
  if (output.file == nullptr) {
    output.error = errno;
    return false;
  }
  return WriteUnmasked(output, nullptr, output.data, output.alike);
}

// Masked bytes compared with masked bytes: the file held no placeholder,
// so equal masked bytes are equal bytes.
bool DeliverOutput(void* to, char*& block, unsigned long count) {
  Output& output = *static_cast<Output*>(to);
  if (!output.differs) {
    bool alike = count <= output.length - output.alike &&
                 memcmp(block, output.data + output.alike, count) == 0;
    if (alike)
      output.alike += count;
    else if (!OpenAtDifference(output))
      return false;
  }
  return output.file == nullptr || WriteUnmasked(output, block, nullptr, count);
}

// Blocks in the ring between the rebuild and the writer thread: one filled
// by the rebuild, the rest handed on or free.
static const unsigned long kRelayBlocks = 4;

// The rebuild fills one block of the ring, hands it on (full) and waits for
// the next to be free (empty); the writer thread takes the blocks in the
// same order and delivers each. A count of 0 tells the writer to stop.
struct Relay {
  char* ring; // one heap block that holds them all
  char* blocks[kRelayBlocks];
  unsigned long counts[kRelayBlocks];
  unsigned long filling; // the block the rebuild fills
  Semaphore* full;       // blocks handed on and not yet delivered
  Semaphore* empty;      // blocks delivered, free to fill
  Thread* writer;        // null once stopped
  Output* output;
  bool failed; // a delivery failed; the writer's until it is stopped
};

static void WriteBlocks(void* to) {
  Relay& relay = *static_cast<Relay*>(to);
  for (unsigned long at = 0;; at = (at + 1) % kRelayBlocks) {
    WaitSemaphore(relay.full);
    if (relay.counts[at] == 0)
      return;
    // After a failure the blocks still come back, so the rebuild never
    // waits for ever; they are not written.
    if (!relay.failed)
      relay.failed =
          !DeliverOutput(relay.output, relay.blocks[at], relay.counts[at]);
    PostSemaphore(relay.empty);
  }
}

static bool RelayBlock(void* to, char*& block, unsigned long count) {
  Relay& relay = *static_cast<Relay*>(to);
  relay.counts[relay.filling] = count;
  PostSemaphore(relay.full);
  relay.filling = (relay.filling + 1) % kRelayBlocks;
  WaitSemaphore(relay.empty);
  block = relay.blocks[relay.filling];
  return true;
}

// False when the writer failed.
static bool StopRelay(Relay& relay) {
  if (relay.writer != nullptr) {
    relay.counts[relay.filling] = 0;
    PostSemaphore(relay.full);
    JoinThread(relay.writer);
    relay.writer = nullptr;
  }
  return !relay.failed;
}

static void FreeRelay(Relay* relay) {
  if (relay == nullptr)
    return;
  StopRelay(*relay);
  free(relay->ring);
  FreeSemaphore(relay->full);
  FreeSemaphore(relay->empty);
  free(relay);
}

// The ring and its writer thread; null when any part cannot be had.
static Relay* StartRelay(Output& output) {
  Relay* relay = static_cast<Relay*>(calloc(1, sizeof(Relay)));
  if (relay == nullptr)
    return nullptr;
  relay->output = &output;
  relay->ring = static_cast<char*>(NewWalkedBlock(kRelayBlocks * kSinkSize));
  bool had = relay->ring != nullptr;
  for (unsigned long at = 0; had && at < kRelayBlocks; ++at)
    relay->blocks[at] = relay->ring + at * kSinkSize;
  relay->full = NewSemaphore(0);
  relay->empty = NewSemaphore(kRelayBlocks - 1);
  if (had && relay->full != nullptr && relay->empty != nullptr)
    relay->writer = StartThread(WriteBlocks, relay);
  if (relay->writer == nullptr) {
    FreeRelay(relay);
    return nullptr;
  }
  return relay;
}

bool StartOutput(Output& output, const char* data, unsigned long length,
                 FILE* file, OpenOutput open, void* run, Sink& sink) {
  output = Output();
  output.data = data;
  output.length = length;
  output.file = file;
  output.open = open;
  output.run = run;
  output.scratch = static_cast<char*>(malloc(kSinkSize));
  if (length > 2 * kSinkSize)
    output.relay = StartRelay(output);
  sink = Sink();
  if (output.relay != nullptr) {
    sink.deliver = RelayBlock;
    sink.to = output.relay;
    sink.block = output.relay->blocks[0];
  } else {
    sink.deliver = DeliverOutput;
    sink.to = &output;
    sink.block = static_cast<char*>(malloc(kSinkSize));
  }
  return output.scratch != nullptr && sink.block != nullptr;
}

bool FinishOutput(Output& output, Sink& sink, bool& failed) {
  Flush(sink);
  failed = sink.failed;
  if (output.relay != nullptr && !StopRelay(*output.relay))
    failed = true;
  if (!failed && !output.differs && output.alike != output.length)
    failed = !OpenAtDifference(output);
  return output.differs;
}

void EndOutput(Output& output, Sink& sink) {
  if (output.relay != nullptr)
    FreeRelay(output.relay);
  else
    free(sink.block);
  output.relay = nullptr;
  sink.block = nullptr;
  free(output.scratch);
  output.scratch = nullptr;
}
