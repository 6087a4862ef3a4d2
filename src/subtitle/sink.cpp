// sink.cpp - the rebuild's output block: filled, then delivered whole.
#include "subtitle/sink.h"

static void DeliverPiece(Sink& sink, const char* bytes, unsigned long count) {
  if (!sink.failed && count != 0)
    sink.failed = !sink.deliver(sink.to, bytes, count);
}

void Flush(Sink& sink) {
  DeliverPiece(sink, sink.block, sink.used);
  sink.used = 0;
}

// The block is filled and delivered, the whole blocks' worth that follows
// goes straight from the piece, and the rest starts the next block.
void PutSlowly(Sink& sink, const char* bytes, unsigned long count) {
  if (sink.block == nullptr) {
    DeliverPiece(sink, bytes, count);
    return;
  }
  unsigned long room = kSinkSize - sink.used;
  memcpy(sink.block + sink.used, bytes, room);
  sink.used = kSinkSize;
  Flush(sink);
  bytes += room;
  count -= room;
  unsigned long whole = count - count % kSinkSize;
  DeliverPiece(sink, bytes, whole);
  memcpy(sink.block, bytes + whole, count - whole);
  sink.used = count - whole;
}
