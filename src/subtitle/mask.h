// mask.h - what a timing line is, the check that every line that looks like
// one can be read as one, and the masking that tells timing arrows from
// stray '>' bytes.
#pragma once

// The byte that marks a timing line, and the byte that stands for every
// other '>' from masking until the unmask pass restores it. A file that
// holds the placeholder already cannot be repaired.
static const char kArrow = '>';
static const char kPlaceholder = '\xD0';

// A standard timing line, HH:MM:SS,mmm --> HH:MM:SS,mmm: its arrow's '>'
// has 15 bytes in front of it and 13 after it. No file shorter than one is
// repaired: 28 bytes or fewer, read or written, are no whole entry.
static const unsigned long kArrowOffset = 15;
static const unsigned long kTimingLength = 29;

// Masking never tests the first ten bytes of a file: the arrow test reads
// back as far as 10 bytes, and it never looks in front of the buffer.
static const unsigned long kUntestedBytes = 10;

// Where the lines of data start: after a UTF-8 byte-order mark, which
// belongs to no line, or at 0.
unsigned long FindContentStart(const char* data, unsigned long length);

// The line that holds the timing arrow at arrow, as the bytes from start up
// to end (its line break, or length): from the line break in front of it,
// or from content (FindContentStart), to the next. A timing line is kept
// whole, whatever its length.
void FindTimingLine(const char* data, unsigned long length,
                    unsigned long content, unsigned long arrow,
                    unsigned long& start, unsigned long& end);

// Why a line keeps a file from being repaired exactly.
enum LineFault {
  kNoLineFault,
  kNotTimingForm, // looks like a timing line, but not 00:00:00,000 -->
  kTwoArrows,     // two timing arrows on one line
};

// Checks the lines of data (unmasked). A line with a timing arrow must
// have nothing in front of the arrow's "--" but blanks, a start time
// D{1,3}:D{1,2}:D{1,2},D{1,3} and blanks, and one arrow only. A line
// without one is a near miss when it begins with blanks,
// D{1,3}:D{1,2}:D{1,2}, one of ",.:", D{1,3}, blanks and "-...>"; or when
// it begins, read in any way, with blanks, a time, blanks, an arrow, blanks
// and a time, where a time is D{1,3}:D{1,2}:D{1,2} with or without a
// fraction, or D{1,3}:D{1,2} with one (a fraction: one of ",.:", a blank or
// none, D{1,3}), and an arrow is dashes, blanks and '>', or en or em dashes,
// dashes, blanks and '>', or U+2192 (the dashes and arrow in UTF-8). The
// first line starts after a byte-order mark. Returns the first fault and
// stores the line it stands on (from 1); kNoLineFault, storing nothing,
// when there is none.
LineFault CheckTimingLines(const char* data, unsigned long length,
                           unsigned long& line);

// Line (from 1) of the byte at at: CR LF, a lone CR and a lone LF each end
// one line.
unsigned long CountLines(const char* data, unsigned long at);

// Walks positions 10 to length - 1 of data. A '>' there whose bytes 1 and 2
// before it are '-', 7 before it ',' and 10 before it ':' is a timing arrow
// and is counted; any other '>' is overwritten with replacement. A '>' in
// the first ten bytes is left alone. Stores the count and returns true;
// returns false, changing and storing nothing, when length is exactly 10.
// Lengths below 10 have no position to walk: true with a count of 0.
bool ConvertChar(char* data, unsigned long length, char replacement,
                 unsigned long& count);
