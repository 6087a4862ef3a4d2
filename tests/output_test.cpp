// The repair's output: compared with the file as read as it leaves,
// unmasked, and written only from its first difference on (or always, to a
// stream given from the start).
#include "output.h"

#include "subtitle/mask.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string>
#include <vector>

static std::string gOpened; // the file that OpenScratch opened, if any

static FILE* OpenScratch(void*) {
  gOpened = ScratchDir() + "/repair";
  return fopen(gOpened.c_str(), "wb");
}

struct OutputCase {
  const char* name;
  std::string data;                // the file as read, masked
  std::vector<std::string> pieces; // the repair, masked, as delivered
  bool always;                     // written from the first byte
  bool differs;
  std::string written; // "" and no file when nothing is written
};

TEST(Output, ComparesUnmasksAndWritesFromTheFirstDifference) {
  std::string big;
  for (unsigned long i = 0; big.size() < (5UL << 19) + 3; ++i) {
    bool edge = (big.size() + 1) % (1UL << 20) < 3;
    big += edge || i % 97 == 0 ? kPlaceholder : static_cast<char>('a' + i % 26);
  }
  std::string bigUnmasked = big;
  for (char& c : bigUnmasked)
    c = c == kPlaceholder ? kArrow : c;
  const OutputCase cases[] = {
      {"the same bytes: nothing written",
       "a\xD0"
       "bc",
       {"a\xD0", "bc"},
       false,
       false,
       ""},
      {"differs in the second piece",
       "a\xD0"
       "bc",
       {"a\xD0", "bX"},
       false,
       true,
       "a>bX"},
      {"longer than the file", "ab", {"ab", "c"}, false, true, "abc"},
      {"a part of the file, written at the end",
       "abcd",
       {"ab"},
       false,
       true,
       "ab"},
      {"to a stream, every byte", "a\xD0", {"a\xD0"}, true, false, "a>"},
      {"placeholders at every scratch edge",
       big,
       {"x", big.substr(1)},
       false,
       true,
       "x" + bigUnmasked.substr(1)},
  };
  for (const OutputCase& c : cases) {
    SCOPED_TRACE(c.name);
    gOpened.clear();
    std::string streamPath = ScratchDir() + "/stream";
    FILE* stream = c.always ? fopen(streamPath.c_str(), "wb") : nullptr;
    Output output;
    Sink sink;
    ASSERT_TRUE(StartOutput(output, c.data.data(), c.data.size(), stream,
                            c.always ? nullptr : OpenScratch, nullptr, sink));
    for (const std::string& piece : c.pieces)
      Put(sink, piece.data(), piece.size());
    bool failed = true;
    EXPECT_EQ(FinishOutput(output, sink, failed), c.differs);
    EXPECT_FALSE(failed);
    EndOutput(output, sink);
    FILE* file = c.always ? stream : output.file;
    EXPECT_EQ(file != nullptr, !c.written.empty());
    if (file != nullptr)
      fclose(file);
    std::string path = c.always ? streamPath : gOpened;
    EXPECT_TRUE((path.empty() ? "" : ReadBytes(path)) == c.written)
        << "the bytes written differ";
  }
}
