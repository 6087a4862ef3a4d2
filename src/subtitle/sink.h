// sink.h - the rebuild's output block: the small pieces of each entry
// gather in one heap block, so that they reach the stream as few large
// writes.
#pragma once

#include <stdio.h>
#include <string.h>

static const unsigned long kSinkSize = 1UL << 20;

// The block goes out only when full, so every write is one block (or a run
// of whole blocks) long and starts at a multiple of the block size in the
// file. Without a block (it could not be had) every piece is written
// directly, which gives the same bytes.
struct Sink {
  FILE* stream;
  char* block;
  unsigned long used;
};

// Writes what the block holds and empties it.
void Flush(Sink& sink);

// Put for a piece larger than the room left, or without a block.
void PutSlowly(Sink& sink, const char* bytes, unsigned long count);

inline void Put(Sink& sink, const char* bytes, unsigned long count) {
  if (sink.block == nullptr || count > kSinkSize - sink.used) {
    PutSlowly(sink, bytes, count);
    return;
  }
  memcpy(sink.block + sink.used, bytes, count);
  sink.used += count;
}

// Put of the first count of the size bytes at bytes. Where the block has
// room, all size bytes are copied (a copy of fixed size is cheaper) and only
// count of them kept.
inline void PutFromFixed(Sink& sink, const char* bytes, unsigned long count,
                         unsigned long size) {
  if (sink.block != nullptr && kSinkSize - sink.used >= size) {
    memcpy(sink.block + sink.used, bytes, size);
    sink.used += count;
  } else {
    Put(sink, bytes, count);
  }
}
