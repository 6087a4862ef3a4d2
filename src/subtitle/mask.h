// mask.h - tells timing arrows from stray '>' bytes.
#pragma once

// Walks positions 10 to length - 1 of data. A '>' there whose bytes 1 and 2
// before it are '-', 7 before it ',' and 10 before it ':' is a timing arrow
// and is counted; any other '>' is overwritten with replacement. A '>' in
// the first ten bytes is left alone. Stores the count and returns true;
// returns false, changing and storing nothing, when length is exactly 10.
// Lengths below 10 have no position to walk: true with a count of 0.
bool ConvertChar(char* data, unsigned long length, char replacement,
                 unsigned long& count);
