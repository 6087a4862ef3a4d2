// Fuzz target: well-formed subtitle files built from the fuzz input, so
// that the search reaches every layout of number lines, texts and line
// breaks. Each file is repaired in memory, and no text byte may go: with CR
// and LF taken out of both, and with what stands before the first timing
// line and every line of digits and blanks taken out of the input, the
// input's bytes must appear in the output in order.
#include "subtitle/mask.h"
#include "subtitle/rebuild.h"
#include "subtitle/scan.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

static void Check(bool holds, const char* what) {
  if (!holds) {
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
  }
}

// The fuzz input read a byte at a time; 0 once it is used up.
struct Reader {
  const uint8_t* bytes;
  size_t size, at;
};

static unsigned Next(Reader& in) {
  return in.at < in.size ? in.bytes[in.at++] : 0;
}

// An optional byte-order mark, then entries: an optional number line, a
// timing line with two-digit hours, 0 to 3 text lines of any bytes but
// '>', the placeholder, CR and LF, and 1 to 3 line breaks of the file's one
// kind between the parts. Stores the number of entries.
static std::string MakeFile(Reader& in, unsigned long& entries) {
  static const char* const kBreaks[] = {"\n", "\r\n", "\r"};
  unsigned head = Next(in);
  std::string lineBreak = kBreaks[head % 3];
  std::string file = (head & 4) != 0 ? "\xEF\xBB\xBF" : "";
  entries = 0;
  while (in.at < in.size && entries < 200) {
    unsigned shape = Next(in);
    std::string breaks;
    for (unsigned i = 0; i <= (shape >> 5) % 3; ++i)
      breaks += lineBreak;
    if ((shape & 1) != 0)
      file += std::to_string(Next(in)) + breaks;
    unsigned clock = Next(in);
    char timing[40];
    snprintf(timing, sizeof timing, "%02u:%02u:%02u,%03u --> 00:00:00,000",
             clock % 24, clock % 60, (clock * 7) % 60, clock * 3);
    file += timing;
    for (unsigned line = 0; line < (shape >> 1) % 4; ++line) {
      file += breaks;
      unsigned length = Next(in) % 40;
      for (unsigned i = 0; i < length; ++i) {
        char c = static_cast<char>(Next(in));
        file += c == '>' || c == kPlaceholder || IsLineBreak(c) ? 'x' : c;
      }
    }
    file += breaks;
    ++entries;
  }
  return file;
}

// A line of digits, blanks and tabs with a digit among them.
static bool IsNumberLine(const std::string& line) {
  bool digit = false;
  for (char c : line) {
    if (c >= '0' && c <= '9')
      digit = true;
    else if (c != ' ' && c != '\t')
      return false;
  }
  return digit;
}

// The text bytes of the file: from its first timing line on, without line
// breaks and without number lines.
static std::string TextBytes(const std::string& file) {
  size_t at = file.find(" --> ");
  Check(at != std::string::npos && at >= 12, "a timing line");
  std::string text;
  size_t start = at - 12;
  while (start < file.size()) {
    size_t end = start;
    while (end < file.size() && !IsLineBreak(file[end]))
      ++end;
    std::string line = file.substr(start, end - start);
    if (!IsNumberLine(line))
      text += line;
    start = end;
    while (start < file.size() && IsLineBreak(file[start]))
      ++start;
  }
  return text;
}

static std::string WithoutLineBreaks(const char* bytes, size_t size) {
  std::string kept;
  for (size_t i = 0; i < size; ++i)
    if (!IsLineBreak(bytes[i]))
      kept += bytes[i];
  return kept;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  Reader in = {bytes, size, 0};
  unsigned long entries = 0;
  std::string file = MakeFile(in, entries);
  if (entries == 0)
    return 0;
  char* copy = static_cast<char*>(malloc(file.size()));
  memcpy(copy, file.data(), file.size());
  unsigned long arrows = 0;
  Check(ConvertChar(copy, file.size(), kPlaceholder, arrows), "masking");
  Check(arrows == entries, "every timing line is counted");
  char* out =
      static_cast<char*>(malloc(file.size() + arrows * kEntryAddsAtMost));
  unsigned long written = 0;
  Check(RebuildSRT(copy, file.size(), 1, arrows, out, written),
        "the rebuild runs");
  ReplaceBytes(out, written, kPlaceholder, kArrow);
  std::string text = TextBytes(file);
  std::string result = WithoutLineBreaks(out, written);
  size_t found = 0;
  for (size_t i = 0; i < result.size() && found < text.size(); ++i)
    if (result[i] == text[found])
      ++found;
  if (found != text.size()) {
    fprintf(stderr, "lost from byte %zu of the text: \"%s\"\n", found,
            text.substr(found, 40).c_str());
    Check(false, "every text byte is in the output, in order");
  }
  free(out);
  free(copy);
  return 0;
}
