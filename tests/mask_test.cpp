// Masking: which '>' bytes count as timing arrows and which become the
// placeholder.
#include "subtitle/mask.h"

#include <gtest/gtest.h>

#include <string>

#define T1 "00:00:01,000 --> 00:00:02,500"
#define T2 "00:00:03,000 --> 00:00:04,000"
#define P "\xD0"

TEST(ConvertChar, CountsTimingArrowsAndMasksTheRest) {
  struct Case {
    const char* name;
    std::string in;
    unsigned long arrows;
    std::string out;
  } cases[] = {
      {"italic tags masked", "1\n" T1 "\n<i>Hi</i>\n\n2\n" T2 "\nBye\n", 2,
       "1\n" T1 "\n<i" P "Hi</i" P "\n\n2\n" T2 "\nBye\n"},
      {"an arrow in a text line", "1\n" T1 "\nx --> y > z\n", 1,
       "1\n" T1 "\nx --" P " y " P " z\n"},
      {"no blanks around the arrow", "1\n00:00:01,000-->00:00:02,000\n", 0,
       "1\n00:00:01,000--" P "00:00:02,000\n"},
      {"full stop before milliseconds", "1\n00:00:01.000 --> 00:00:02,000\n", 0,
       "1\n00:00:01.000 --" P " 00:00:02,000\n"},
      {"end time not tested", "1\n00:00:01,000 --> junk\n", 1,
       "1\n00:00:01,000 --> junk\n"},
      {"first ten bytes left alone", ">>>>>>>>>>" T1, 1, ">>>>>>>>>>" T1},
      {"the eleventh byte is tested", "123456789A>xyz", 0,
       "123456789A" P "xyz"},
      {"a text shaped like an arrow counts", "1\n" T1 "\n:ab,cdef-->\n", 2,
       "1\n" T1 "\n:ab,cdef-->\n"},
      {"arrow as the last byte", "1\n00:00:01,000 -->", 1,
       "1\n00:00:01,000 -->"},
      {"no timing line at all", "just some text > here", 0,
       "just some text " P " here"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string data = c.in;
    unsigned long arrows = 99;
    ASSERT_TRUE(ConvertChar(&data[0], data.size(), kPlaceholder, arrows));
    EXPECT_EQ(arrows, c.arrows);
    EXPECT_EQ(data, c.out);
  }
}

TEST(ConvertChar, RefusesTenBytesAndReadsNothingBelow) {
  std::string ten = "0123456789";
  unsigned long arrows = 7;
  EXPECT_FALSE(ConvertChar(&ten[0], 10, kPlaceholder, arrows));
  EXPECT_EQ(arrows, 7UL) << "count left alone";

  std::string nine = ">>>>>>>>>";
  EXPECT_TRUE(ConvertChar(&nine[0], 9, kPlaceholder, arrows));
  EXPECT_EQ(arrows, 0UL);
  EXPECT_EQ(nine, ">>>>>>>>>");

  std::string eleven = "0123456789>";
  EXPECT_TRUE(ConvertChar(&eleven[0], 11, kPlaceholder, arrows));
  EXPECT_EQ(eleven, "0123456789" P);
}

// A replacement byte the arrow test looks for changes later tests: a '>'
// masked into '-' makes the next '>' an arrow, anywhere in the buffer.
TEST(ConvertChar, AReplacementTheTestLooksForActsInOrder) {
  const std::string shape = ":xx,xxxx->>";
  for (unsigned long at : {20UL, 300UL}) {
    SCOPED_TRACE(at);
    std::string data(600, 'x');
    data.replace(at, shape.size(), shape);
    std::string out = data;
    out.replace(at, shape.size(), ":xx,xxxx-->");
    unsigned long arrows = 0;
    ASSERT_TRUE(ConvertChar(&data[0], data.size(), '-', arrows));
    EXPECT_EQ(arrows, 1UL);
    EXPECT_EQ(data, out);
  }
}
