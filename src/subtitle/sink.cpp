// sink.cpp - the rebuild's output block: filled, then written whole.
#include "subtitle/sink.h"

void Flush(Sink& sink) {
  if (sink.used != 0)
    fwrite(sink.block, 1, sink.used, sink.stream);
  sink.used = 0;
}

// The block is filled and written, the whole blocks' worth that follows
// goes straight from the piece, and the rest starts the next block.
void PutSlowly(Sink& sink, const char* bytes, unsigned long count) {
  if (sink.block == nullptr) {
    fwrite(bytes, 1, count, sink.stream);
    return;
  }
  unsigned long room = kSinkSize - sink.used;
  memcpy(sink.block + sink.used, bytes, room);
  sink.used = kSinkSize;
  Flush(sink);
  bytes += room;
  count -= room;
  unsigned long whole = count - count % kSinkSize;
  if (whole != 0)
    fwrite(bytes, 1, whole, sink.stream);
  memcpy(sink.block, bytes + whole, count - whole);
  sink.used = count - whole;
}
