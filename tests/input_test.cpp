// The scan of a file as it arrives: piece by piece, and behind the read of
// a long file on a second thread, it finds what one look at the whole file
// finds (the first placeholder, the first line fault, the masked bytes and
// the count of timing arrows).
#include "input.h"

#include "files.h"
#include "subtitle/mask.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>

// What a look at a whole file finds; what is not found stays empty.
struct Found {
  long placeholderAt; // -1 for none
  LineFault fault;
  unsigned long faultLine;
  unsigned long arrows;
  std::string masked;
};

static bool operator==(const Found& a, const Found& b) {
  return a.placeholderAt == b.placeholderAt && a.fault == b.fault &&
         a.faultLine == b.faultLine && a.arrows == b.arrows &&
         a.masked == b.masked;
}

static std::ostream& operator<<(std::ostream& out, const Found& found) {
  return out << "placeholder " << found.placeholderAt << ", fault "
             << found.fault << " on line " << found.faultLine << ", "
             << found.arrows << " arrows";
}

// The placeholder looked for, then the lines checked, then the whole masked.
static Found LookAtWhole(std::string data) {
  Found found = {-1, kNoLineFault, 0, 0, ""};
  const void* at = memchr(data.data(), kPlaceholder, data.size());
  if (at != nullptr) {
    found.placeholderAt = static_cast<const char*>(at) - data.data();
    return found;
  }
  found.fault = CheckTimingLines(data.data(), data.size(), found.faultLine);
  if (found.fault == kNoLineFault) {
    ConvertChar(&data[0], data.size(), kPlaceholder, found.arrows);
    found.masked = data;
  }
  return found;
}

static Found FromScan(const InputScan& scan, const char* data,
                      unsigned long length) {
  Found found = {-1, kNoLineFault, 0, 0, ""};
  if (scan.hasPlaceholder) {
    found.placeholderAt = static_cast<long>(scan.placeholderAt);
    return found;
  }
  found.fault = scan.fault;
  if (scan.fault != kNoLineFault) {
    found.faultLine = CountLines(data, scan.faultAt);
    return found;
  }
  found.arrows = scan.arrows;
  found.masked.assign(data, length);
  return found;
}

#define T1 "00:00:01,000 --> 00:00:02,500"

static const std::string kEntries =
    "\xEF\xBB\xBF"
    "1\n" T1 "\n<i>a > b</i>\n\n2\r\n" T1 "\r\n<b>x</b>\r\n\r\n\r\n"
    "3\r" T1 "\rtext -> more\r\r";

TEST(ScanInput, PieceByPieceFindsWhatTheWholeFileShows) {
  std::string many;
  while (many.size() < 5000)
    many += "7\n" T1 "\n<font color=\"#fff\">line</font> > x\n\n";
  const struct {
    const char* name;
    std::string data;
  } cases[] = {
      {"entries, markup, every kind of line break", kEntries},
      {"many entries across every piece edge", many},
      {"a near miss at the end", many + "9\n00:00:02.400 --> 00:00:05.200\n"},
      {"two arrows on one line", kEntries + "4\n" T1 " " T1 "\n"},
      {"a start that is no time", many + "x 00:00:01,000 --> 00:00:02,000\n"},
      {"an arrow the repair would make",
       "1\n00:00:01,005 --> 00:\n,000 --> 00:00:03,000\n"},
      {"'>' in the first ten bytes", "-->>-->\n1\n" T1 "\nx\n"},
      {"the placeholder after a fault wins",
       "x 00:00:01,000 --> 00:00:02,000\n" + many + "\xD0"},
      {"the placeholder first", "\xD0" + kEntries},
  };
  const unsigned long pieces[] = {1, 2, 63, 64, 65, 240, 1000};
  for (const auto& c : cases) {
    Found whole = LookAtWhole(c.data);
    for (unsigned long piece : pieces) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " +
                   std::to_string(piece));
      std::string data = c.data;
      InputScan scan;
      StartScan(scan);
      for (unsigned long have = piece; have < data.size(); have += piece)
        ScanInput(scan, &data[0], have, false);
      // The last piece may arrive as told once more, then as the end.
      ScanInput(scan, &data[0], data.size(), false);
      ScanInput(scan, &data[0], data.size(), true);
      EXPECT_EQ(FromScan(scan, data.data(), data.size()), whole);
    }
  }
}

// A file of several pieces is read and scanned on a thread of its own;
// every part that it tells is ready is in its final state already, and in
// the end the scan finds what one look at the whole file finds.
TEST(Reading, TellsOnlyFinalBytesAndFindsWhatTheWholeFileShows) {
  std::string entries;
  while (entries.size() < (5UL << 19))
    entries += "12\r\n" T1 "\r\n<i>Hello</i> > there\r\n\r\n";
  const struct {
    const char* name;
    std::string data;
  } cases[] = {
      {"in order", entries},
      {"a near miss in the last piece",
       entries + "9\n00:00:02.400 --> 00:00:05.200\n"},
      {"the placeholder after a fault in the first piece",
       "0:0:7,560 --> 0:0:9,700\n" + entries + "\xD0"},
      {"one piece", kEntries},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Found whole = LookAtWhole(c.data);
    std::string path = ScratchDir() + "/movie.srt";
    WriteBytes(path, c.data);
    Reading reading;
    ASSERT_TRUE(StartReading(reading, path.c_str(), false));
    std::string seen; // the ready bytes as told, checked at the end
    for (unsigned long ready = 0;
         !reading.finished.load(std::memory_order_acquire);) {
      ready = WaitForReady(reading, ready + 1);
      const char* block = reading.block.load(std::memory_order_acquire);
      if (block != nullptr && ready > seen.size())
        seen.append(block + seen.size(), ready - seen.size());
    }
    InputScan scan;
    unsigned long length = 0;
    char* data = EndReading(reading, length, nullptr, scan);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(FromScan(scan, data, length), whole);
    EXPECT_TRUE(seen.size() <= length &&
                memcmp(seen.data(), data, seen.size()) == 0)
        << "bytes told ready changed after";
    free(data);
  }
}
