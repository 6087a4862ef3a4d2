// Scanning primitives: what each search answers when it finds nothing,
// how far it looks, and the direction of its steps.
#include "subtitle/scan.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

TEST(FindNextByte, AnswersWithThePositionFoundOrTheStart) {
  char bytes[] = "ab>cd>e";
  struct Case {
    const char* name;
    unsigned long start, count;
    char value;
    bool backward;
    long expected; // offset of the answer in bytes
  } cases[] = {
      {"forward finds the first", 0, 7, '>', false, 2},
      {"forward stops at count", 0, 2, '>', false, 0},
      {"forward without a match gives the start", 3, 2, '>', false, 3},
      {"a match at the start gives the start", 2, 5, '>', false, 2},
      {"count 0 gives the start", 2, 0, '>', false, 2},
      {"backward finds the nearest", 6, 7, '>', true, 5},
      {"backward includes the start", 5, 1, '>', true, 5},
      {"backward without a match gives the start", 4, 2, '>', true, 4},
      {"backward stops at count", 4, 2, 'a', true, 4},
      {"backward reaches the first byte", 6, 7, 'a', true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char* found = FindNextByte(bytes + c.start, c.count, c.value, c.backward);
    EXPECT_EQ(found - bytes, c.expected);
  }
}

TEST(FindNextByte, DoesNotStopAtNul) {
  std::string bytes = "a\0\0>"s;
  EXPECT_EQ(FindNextByte(&bytes[0], 4, '>', false) - &bytes[0], 3);
  EXPECT_EQ(FindNextByte(&bytes[3], 4, 'a', true) - &bytes[0], 0);
}

TEST(NextChar, SkipsLineBreaksOrAnswersNull) {
  std::string bytes = "\r\n\r\nX ab\r\n";
  char* base = &bytes[0];
  EXPECT_EQ(NextChar(base, 10, false) - base, 4) << "over CR LF CR LF";
  EXPECT_EQ(NextChar(base, 4, false), nullptr) << "line breaks only";
  EXPECT_EQ(NextChar(base + 8, 2, false), nullptr) << "a lone CR LF";
  EXPECT_EQ(NextChar(base + 4, 0, false), nullptr) << "count 0";
  EXPECT_EQ(NextChar(base + 9, 10, true) - base, 7) << "back from the LF";
  EXPECT_EQ(NextChar(base + 5, 1, true) - base, 5) << "a blank is no break";
  EXPECT_EQ(NextChar(base + 3, 4, true), nullptr) << "back to the start";
}

TEST(GetField, CopiesUpToTheStopByte) {
  struct Case {
    const char* name;
    std::string source;
    char stop;
    unsigned long count;
    bool ignoreStop;
    std::string copied;
  } cases[] = {
      {"stops before the stop byte", "ab>cd", '>', 5, false, "ab"},
      {"stop byte first copies nothing", ">ab", '>', 3, false, ""},
      {"no stop byte copies count", "abcd", '>', 3, false, "abc"},
      {"ignoring the stop copies count", "a>b>c", '>', 4, true, "a>b>"},
      {"NUL is an ordinary byte", "a\0b>"s, '>', 4, false, "a\0b"s},
      {"count 0 copies nothing", "abc", '>', 0, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string source = c.source;
    std::string out(8, '#');
    unsigned long n =
        GetField(&out[0], &source[0], c.stop, c.count, c.ignoreStop);
    EXPECT_EQ(n, c.copied.size());
    EXPECT_EQ(out, c.copied + std::string(8 - c.copied.size(), '#'))
        << "no terminator, nothing past the copy";
  }
}

TEST(ReplaceBytes, CountsAndReplacesWithinCount) {
  struct Case {
    const char* name;
    std::string buffer;
    unsigned long count;
    char from, to;
    unsigned long replaced;
    std::string after;
  } cases[] = {
      {"every one within count", "\xD0i\xD0<\xD0", 4, '\xD0', '>', 2,
       ">i><\xD0"},
      {"the first and the last byte", "\xD0\xD0", 2, '\xD0', '>', 2, ">>"},
      {"from equals to", "a>b", 3, '>', '>', 0, "a>b"},
      {"count 0", "\xD0", 0, '\xD0', '>', 0, "\xD0"},
      {"none present", "abc", 3, '\xD0', '>', 0, "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string buffer = c.buffer;
    EXPECT_EQ(ReplaceBytes(&buffer[0], c.count, c.from, c.to), c.replaced);
    EXPECT_EQ(buffer, c.after);
  }
}
