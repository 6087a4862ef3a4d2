// rebuild.h - writes the renumbered, normalised entries of a masked
// subtitle file to a binary stream.
#pragma once

#include "subtitle/sink.h"

#include <stdio.h>

// Writes number in plain decimal digits and "\r\n" to out, then adds one
// to number.
void SetNumber(FILE* out, unsigned long& number);

// Walks the masked data from timing arrow to timing arrow; arrows is the
// count that masking found. Each entry, numbered from first on:
//
//   before the first timing line -> dropped (number line, byte-order mark)
//   number line                  -> dropped; the next number is written
//   (the line in front of a later timing line, when it is digits and
//   blanks only; any other line there is the previous entry's last text)
//   timing line                  -> the whole line, then "\r\n"
//   blank lines after the timing -> dropped
//   text of a middle entry       -> copied unchanged, then "\r\n\r\n"
//   middle entry without text    -> one blank line
//   blank lines between entries  -> dropped
//   last entry                   -> its text and all that follows, as is
//
// A timing line is the line that holds the arrow (FindTimingLine), kept as
// written: start time, arrow, end time and whatever follows on the line.
// The rebuild ends early, still true, at a timing line with nothing but
// line breaks after it. Returns false, writing nothing, when arrows is 0,
// length is 28 or less, or out is null. Write errors show in ferror(out).
bool RebuildSRT(char* data, unsigned long length, unsigned long first,
                unsigned long arrows, FILE* out);

// The same rebuild into sink, which the caller sets up and flushes (so that
// the output's length, sink.total, is known before the last piece goes
// out). False, putting nothing, when arrows is 0 or length is 28 or less.
bool RebuildInto(char* data, unsigned long length, unsigned long first,
                 unsigned long arrows, Sink& sink);

// The number line to write next, kept as text: stepping on mostly changes
// its last digit only, and only a carry formats it anew.
struct NumberLine {
  unsigned long number;
  unsigned long length;
  char text[24];
};

// Where the walk stands: the data, and where its lines start.
struct Walk {
  char* data;
  unsigned long length;
  unsigned long content; // after a byte-order mark, or 0
};

// An entry's timing line: its arrow (length when there is none) and the
// bytes from start up to end that are the whole line.
struct Timing {
  unsigned long arrow, start, end;
};

// A rebuild that goes on as the data is made ready (read and masked) from
// its start on, so that it can run while the rest is still read.
struct Rebuild {
  Walk walk;
  NumberLine number;
  Timing timing;       // the timing line of the entry to write next
  unsigned long entry; // that entry's count, from 1
  bool started;        // timing is found
};

// Sets rebuild up over the length bytes of data, numbered from first.
void StartRebuild(Rebuild& rebuild, char* data, unsigned long length,
                  unsigned long first);

// Writes, into sink, each entry of the rebuild whose bytes lie in the first
// ready bytes of data, masked; the others wait for more, or for
// FinishRebuild. Writes exactly what RebuildInto writes first.
void ContinueRebuild(Rebuild& rebuild, unsigned long ready, Sink& sink);

// Writes the rest of the rebuild, with the whole data masked and arrows
// its count of timing arrows: with StartRebuild alone, the whole of
// RebuildInto's.
void FinishRebuild(Rebuild& rebuild, unsigned long arrows, Sink& sink);
