// sink.h - the rebuild's output block: the small pieces of each entry
// gather in one heap block, so that they reach their destination as few
// large pieces.
#pragma once

#include <string.h>

static const unsigned long kSinkSize = 1UL << 20;

// Takes the first count bytes of block, the next of the output; false when
// they could not be taken (the sink then passes nothing more on). The
// block is the sink's, done with once delivered: the taker may change its
// bytes, or keep it and hand back another of kSinkSize bytes in block for
// the sink to fill next.
typedef bool (*Deliver)(void* to, char*& block, unsigned long count);

// The block goes out only when full, so every piece delivered is one whole
// block but the last. Without a block (it could not be had) nothing is
// delivered and the sink fails.
struct Sink {
  Deliver deliver;
  void* to;
  char* block;
  unsigned long used;
  unsigned long total; // bytes put so far
  bool failed;         // a delivery failed
};

// Delivers what the block holds and empties it.
void Flush(Sink& sink);

// Put for a piece larger than the room left, or without a block.
void PutSlowly(Sink& sink, const char* bytes, unsigned long count);

inline void Put(Sink& sink, const char* bytes, unsigned long count) {
  sink.total += count;
  if (count > kSinkSize - sink.used || sink.block == nullptr) {
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
    sink.total += count;
  } else {
    Put(sink, bytes, count);
  }
}
