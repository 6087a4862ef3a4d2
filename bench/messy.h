// messy.h - makes subtitle files of a given size with what real files
// carry: wrong numbers, extra blank lines, markup, CR LF and LF.
#pragma once

#include <string>

// Entries in a fixed pseudo-random mix until size bytes are reached; the
// same size always gives the same bytes.
std::string MakeMessySubtitles(unsigned long size);
