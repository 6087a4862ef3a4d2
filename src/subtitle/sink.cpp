// sink.cpp - the rebuild's output block: filled, then delivered whole.
#include "subtitle/sink.h"

void Flush(Sink& sink) {
  if (!sink.failed && sink.used != 0)
    sink.failed = !sink.deliver(sink.to, sink.block, sink.used);
  sink.used = 0;
}

// The block is filled and delivered as often as the piece fills it; the
// rest starts the next block.
void PutSlowly(Sink& sink, const char* bytes, unsigned long count) {
  if (sink.block == nullptr) {
    sink.failed = true;
    return;
  }
  while (count > kSinkSize - sink.used) {
    unsigned long room = kSinkSize - sink.used;
    memcpy(sink.block + sink.used, bytes, room);
    sink.used = kSinkSize;
    Flush(sink);
    bytes += room;
    count -= room;
  }
  memcpy(sink.block + sink.used, bytes, count);
  sink.used += count;
}
