// rebuild.h - writes the renumbered, normalised entries of a masked
// subtitle file into a block.
#pragma once

// What an entry's output holds beyond bytes of the data: its number line
// (at most 20 digits and "\r\n"), the "\r\n" after its timing line and the
// two after its text.
static const unsigned long kEntryAddsAtMost = 28;

// Writes number in plain decimal digits and "\r\n" at to, which has room
// for 22 bytes, then adds one to number. Returns the bytes written.
unsigned long SetNumber(char* to, unsigned long& number);

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
// line breaks after it. The output goes to out, which has room for length
// + arrows * kEntryAddsAtMost bytes: every byte of the data is copied once
// at most. Stores the count written and returns true; returns false,
// writing nothing, when arrows is 0, length is 28 or less, or out is null.
bool RebuildSRT(char* data, unsigned long length, unsigned long first,
                unsigned long arrows, char* out, unsigned long& written);

// The repair of the length bytes of data, which hold no placeholder: they
// are masked (ConvertChar), rebuilt from number 1 into a new heap block for
// the caller to free, and both are unmasked again. Stores the count of
// timing arrows and the repair's length. Null when there is no timing
// arrow (arrows is then 0) or no block can be had.
char* RepairSRT(char* data, unsigned long length, unsigned long& arrows,
                unsigned long& repaired);
