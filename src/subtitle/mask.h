// mask.h - what a timing line is, and the masking that tells timing arrows
// from stray '>' bytes.
#pragma once

// A timing line, HH:MM:SS,mmm --> HH:MM:SS,mmm, is known by its arrow's
// '>': the 15 bytes in front of it, the arrow and the 13 after it are the
// line. No file shorter than one timing line is repaired.
static const unsigned long kArrowOffset = 15;
static const unsigned long kAfterArrow = 13;
static const unsigned long kTimingLength = kArrowOffset + 1 + kAfterArrow;

// Masking never tests the first ten bytes of a file: the arrow test reads
// back as far as 10 bytes, and it never looks in front of the buffer.
static const unsigned long kUntestedBytes = 10;

// Walks positions 10 to length - 1 of data. A '>' there whose bytes 1 and 2
// before it are '-', 7 before it ',' and 10 before it ':' is a timing arrow
// and is counted; any other '>' is overwritten with replacement. A '>' in
// the first ten bytes is left alone. Stores the count and returns true;
// returns false, changing and storing nothing, when length is exactly 10.
// Lengths below 10 have no position to walk: true with a count of 0.
bool ConvertChar(char* data, unsigned long length, char replacement,
                 unsigned long& count);
