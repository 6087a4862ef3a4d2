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

bool StartOutput(Output& output, const char* data, unsigned long length,
                 FILE* file, OpenOutput open, void* run) {
  output = Output();
  output.data = data;
  output.length = length;
  output.file = file;
  output.open = open;
  output.run = run;
  output.scratch = static_cast<char*>(malloc(kSinkSize));
  return output.scratch != nullptr;
}

// Writes count masked bytes unmasked: in place when they are the rebuild's
// block (done with once delivered), through the scratch block when they
// are the file as read, which stays masked for the rebuild.
static bool WriteUnmasked(Output& output, char* block, const char* data,
                          unsigned long count) {
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
bool DeliverOutput(void* to, char* bytes, unsigned long count) {
  Output& output = *static_cast<Output*>(to);
  if (!output.differs) {
    bool alike = count <= output.length - output.alike &&
                 memcmp(bytes, output.data + output.alike, count) == 0;
    if (alike)
      output.alike += count;
    else if (!OpenAtDifference(output))
      return false;
  }
  return output.file == nullptr || WriteUnmasked(output, bytes, nullptr, count);
}

bool FinishOutput(Output& output, bool& failed) {
  failed = false;
  if (!output.differs && output.alike != output.length)
    failed = !OpenAtDifference(output);
  return output.differs;
}

void EndOutput(Output& output) {
  free(output.scratch);
  output.scratch = nullptr;
}
