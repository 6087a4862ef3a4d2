// Entry rebuild: the renumbered, normalised bytes written for a file, with
// stray arrows masked before and restored after, as the run does it, and
// the line check that refuses a file the rebuild cannot repair exactly.
#include "subtitle/rebuild.h"

#include "subtitle/mask.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>

using namespace std::string_literals;

#define T1 "00:00:01,000 --> 00:00:02,500"
#define T2 "00:00:03,000 --> 00:00:04,000"
#define T3 "00:00:05,000 --> 00:00:06,000"
#define H2 "0:00:03,000 --> 00:00:04,000" // one-digit start hour

// Lines a reader takes for timing lines, that the rebuild would take for
// text.
#define NO_FRACTION "00:00:03 --> 00:00:04"
#define EM_DASH "00:00:03,000 \xE2\x80\x94> 00:00:04,000"
#define EN_DASH "00:00:03,000 \xE2\x80\x93> 00:00:04,000"
#define SPACED_ARROW "00:00:03,000 - > 00:00:04,000"
#define SPACED_FRACTION "00:00:03, 500 --> 00:00:04,000"
#define RIGHT_ARROW "00:00:03,000 \xE2\x86\x92 00:00:04,000"

// A row: a file and its repair. A file that the line check refuses has the
// fault and its line, and the repair the rebuild alone would make of it
// where that shows the rebuild keeps to the buffer and the entries.
struct Case {
  const char* name;
  std::string in, out;
  LineFault fault = kNoLineFault;
  unsigned long line = 0;
};

const Case kCases[] = {
    {"the 82-byte example", "7\n" T1 "\nHello\nWorld\n\n\n9\n" T2 "\nBye\n",
     "1\r\n" T1 "\r\nHello\nWorld\r\n\r\n2\r\n" T2 "\r\nBye\n"},
    {"5, 7, 9 with an italic tag",
     "5\r\n" T1 "\r\n<i>Hi</i>\r\n\r\n7\r\n" T2 "\r\nMid\r\n\r\n9\r\n" T3
     "\r\nEnd\r\n\r\n",
     "1\r\n" T1 "\r\n<i>Hi</i>\r\n\r\n2\r\n" T2 "\r\nMid\r\n\r\n3\r\n" T3
     "\r\nEnd\r\n\r\n"},
    {"single entry", "3\n" T1 "\nOnly\n\n", "1\r\n" T1 "\r\nOnly\n\n"},
    {"starts with a timing line", T1 "\nA\n\n2\n" T2 "\nB",
     "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2 "\r\nB"},
    {"byte-order mark dropped",
     "\xEF\xBB\xBF"
     "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2 "\r\nB\r\n",
     "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2 "\r\nB\r\n"},
    {"junk before the first entry dropped", "junk\n\n\n41\n" T1 "\nA",
     "1\r\n" T1 "\r\nA"},
    {"blank lines around texts",
     "1\n" T1 "\n\n\n\nA\n\n\n\n\n2\n" T2 "\r\n\r\n\r\nB",
     "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2 "\r\nB"},
    {"inner blank line kept", "1\n" T1 "\nA\n\nB\n\n2\n" T2 "\nC",
     "1\r\n" T1 "\r\nA\n\nB\r\n\r\n2\r\n" T2 "\r\nC"},
    {"CR-only line breaks", "1\r" T1 "\rHello\rWorld\r\r2\r" T2 "\rBye\r",
     "1\r\n" T1 "\r\nHello\rWorld\r\n\r\n2\r\n" T2 "\r\nBye\r"},
    {"trailing junk kept", "1\n" T1 "\nA\n\n2\n" T2 "\nB\n\n\njunk here\n",
     "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2 "\r\nB\n\n\njunk here\n"},
    {"ends with a timing line", "1\n" T1 "\nA\n\n2\n" T2,
     "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2},
    {"only line breaks after the last timing line",
     "1\n" T1 "\nA\n\n2\n" T2 "\r\n\r\n\n", "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2},
    {"timing line cut short at the end",
     "1\n" T1 "\nA\n\n2\n" T2 "\nB\n\n3\n00:00:05,000 --> 00:0",
     "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2
     "\r\nB\r\n\r\n3\r\n00:00:05,000 --> 00:0"},
    {"NUL in a middle text kept", "1\n" T1 "\na\0b\n\n2\n" T2 "\nc\0d"s,
     "1\r\n" T1 "\r\na\0b\r\n\r\n2\r\n" T2 "\r\nc\0d"s},
    {"markup restored", "1\n" T1 "\n<b>x > y</b>\n\n2\n" T2 "\n<i>B</i>",
     "1\r\n" T1 "\r\n<b>x > y</b>\r\n\r\n2\r\n" T2 "\r\n<i>B</i>"},
    {"coordinates after the timing line", "1\n" T1 " X1:10\nA\n\n2\n" T2 "\nB",
     "1\r\n" T1 " X1:10\r\nA\r\n\r\n2\r\n" T2 "\r\nB"},
    {"failed arrow test joins the previous text",
     "1\n" T1 "\nA\n\n2\n00:00:03.000 --> 00:00:04,000\nB\n\n3\n" T3 "\nC",
     "1\r\n" T1 "\r\nA\n\n2\n00:00:03.000 --> 00:00:04,000\nB\r\n\r\n2\r\n" T3
     "\r\nC",
     kNotTimingForm, 6},
    {"next timing line without a number line", "1\n" T1 "\nHello\n" T2 "\nB",
     "1\r\n" T1 "\r\nHello\r\n\r\n2\r\n" T2 "\r\nB"},
    {"last text line above an unnumbered timing line kept",
     "1\n" T1 "\nHello\nWorld\n" T2 "\nB",
     "1\r\n" T1 "\r\nHello\nWorld\r\n\r\n2\r\n" T2 "\r\nB"},
    {"numbers carried over 9", "1\n" T1 "\nA\n\n2\n" T2 "\nB\n\n3\n" T3 "\nC",
     "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2 "\r\nB\r\n\r\n3\r\n" T3 "\r\nC"},

    // A line in front of a timing line is dropped as the entry's old
    // number only when it is one: digits and blanks, with a digit. Any
    // other line is the previous entry's last text line.
    {"a text line straight above the timing line",
     "1\n" T1 "\nOK\n" T2 "\nBye\n",
     "1\r\n" T1 "\r\nOK\r\n\r\n2\r\n" T2 "\r\nBye\n"},
    {"one byte and CR LF", "1\r\n" T1 "\r\na\r\n" T2 "\r\nB\r\n",
     "1\r\n" T1 "\r\na\r\n\r\n2\r\n" T2 "\r\nB\r\n"},
    {"two bytes and LF", "1\n" T1 "\nab\n" T2 "\nB\n",
     "1\r\n" T1 "\r\nab\r\n\r\n2\r\n" T2 "\r\nB\n"},
    {"two text lines, no number line",
     "1\n" T1 "\nfirst line\nsecond line\n" T2 "\nB\n",
     "1\r\n" T1 "\r\nfirst line\nsecond line\r\n\r\n2\r\n" T2 "\r\nB\n"},
    {"a number line of digits, blanks and a tab",
     "1\n" T1 "\nfirst line\nsecond\n\n 12 \t\n" T2 "\nB\n",
     "1\r\n" T1 "\r\nfirst line\nsecond\r\n\r\n2\r\n" T2 "\r\nB\n"},
    {"a last line of digits is taken for the number",
     "1\n" T1 "\nThe year\n1984\n" T2 "\nB\n",
     "1\r\n" T1 "\r\nThe year\r\n\r\n2\r\n" T2 "\r\nB\n"},
    {"an empty entry, as before", "1\r\n" T1 "\r\n\r\n7\r\n" T2 "\r\nB\r\n",
     "1\r\n" T1 "\r\n\r\n2\r\n" T2 "\r\nB\r\n"},
    {"blanks alone are no number", "1\n" T1 "\nA\n \t \n" T2 "\nB",
     "1\r\n" T1 "\r\nA\n \t \r\n\r\n2\r\n" T2 "\r\nB"},
    {"a number with a letter is text", "1\n" T1 "\nA\n12a\n" T2 "\nB",
     "1\r\n" T1 "\r\nA\n12a\r\n\r\n2\r\n" T2 "\r\nB"},
    {"CR-only breaks, no number line", "1\r" T1 "\rOne\rTwo\r" T2 "\rB",
     "1\r\n" T1 "\r\nOne\rTwo\r\n\r\n2\r\n" T2 "\r\nB"},
    {"no number lines at all", T1 "\nA\nB\n\n" T2 "\nC\nD\n\n" T3 "\nE\n",
     "1\r\n" T1 "\r\nA\nB\r\n\r\n2\r\n" T2 "\r\nC\nD\r\n\r\n3\r\n" T3
     "\r\nE\n"},

    // A middle entry without text: the next arrow lies 16 to 19 bytes
    // after its timing line, depending on the next number line and start
    // hour.
    {"18: one digit, CR LF, two-digit hour",
     "1\r\n" T1 "\r\n\r\n2\r\n" T2 "\r\nB",
     "1\r\n" T1 "\r\n\r\n2\r\n" T2 "\r\nB"},
    {"18: two digits, LF, two-digit hour", "1\n" T1 "\n\n12\n" T2 "\nB",
     "1\r\n" T1 "\r\n\r\n2\r\n" T2 "\r\nB"},
    {"16: one digit, LF, one-digit hour", "1\n" T1 "\n\n2\n" H2 "\nB",
     "1\r\n" T1 "\r\n\r\n2\r\n" H2 "\r\nB"},
    {"17: one digit, LF, two-digit hour", "1\n" T1 "\n\n2\n" T2 "\nB",
     "1\r\n" T1 "\r\n\r\n2\r\n" T2 "\r\nB"},
    {"17: one digit, CR LF, one-digit hour",
     "1\r\n" T1 "\r\n\r\n2\r\n" H2 "\r\nB",
     "1\r\n" T1 "\r\n\r\n2\r\n" H2 "\r\nB"},
    {"19: two digits, CR LF, two-digit hour",
     "1\r\n" T1 "\r\n\r\n12\r\n" T2 "\r\nB",
     "1\r\n" T1 "\r\n\r\n2\r\n" T2 "\r\nB"},
    {"22: three digits and blanks, CR LF",
     "1\r\n" T1 "\r\n 123 \r\n" T2 "\r\nB",
     "1\r\n" T1 "\r\n\r\n2\r\n" T2 "\r\nB"},
    {"18: a one-byte text is no empty entry", "1\n" T1 "\na\r\n" T2 "\nB",
     "1\r\n" T1 "\r\na\r\n\r\n2\r\n" T2 "\r\nB"},
    {"16: a one-byte text is no empty entry", "1\n" T1 "\na\n" H2 "\nB",
     "1\r\n" T1 "\r\na\r\n\r\n2\r\n" H2 "\r\nB"},
    {"18: a two-byte text is no empty entry", "1\n" T1 "\nab\n" T2 "\nB",
     "1\r\n" T1 "\r\nab\r\n\r\n2\r\n" T2 "\r\nB"},
    {"a three-byte text is kept", "1\n" T1 "\nabc\n" T2 "\nB",
     "1\r\n" T1 "\r\nabc\r\n\r\n2\r\n" T2 "\r\nB"},
    {"14: timing lines back to back", "1\n" T1 "\n" H2 "\nB",
     "1\r\n" T1 "\r\n\r\n2\r\n" H2 "\r\nB"},

    // A timing line is copied whole, as written, whatever its length.
    {"one-digit hours in both times", "1\n0:00:01,000 --> 0:00:02,000\nHi",
     "1\r\n0:00:01,000 --> 0:00:02,000\r\nHi"},
    {"one-digit start hour", "1\n0:00:01,000 --> 00:00:02,000\nHi",
     "1\r\n0:00:01,000 --> 00:00:02,000\r\nHi"},
    {"one-digit end hour", "1\n00:00:01,000 --> 0:00:02,000\nHi",
     "1\r\n00:00:01,000 --> 0:00:02,000\r\nHi"},
    {
        "coordinates kept on the line",
        "1\n00:00:15,712 --> 00:00:17,399 X1:000 X2:000 Y1:050 Y2:100\nHi\n\n"
        "2\n" T2 "\nB",
        "1\r\n00:00:15,712 --> 00:00:17,399 X1:000 X2:000 Y1:050 Y2:100\r\nHi"
        "\r\n\r\n2\r\n" T2 "\r\nB",
    },
    {
        "text after the end time, CR LF",
        "1\r\n00:31:37,894 --> 00:31:39,928 hack the gibson\r\nHi\r\n",
        "1\r\n00:31:37,894 --> 00:31:39,928 hack the gibson\r\nHi\r\n",
    },
    {
        "no end time",
        "1\n00:00:00,000 -->\nSubRip doesn't technically allow\n\n2\n" T2 "\nB",
        "1\r\n00:00:00,000 -->\r\nSubRip doesn't technically "
        "allow\r\n\r\n2\r\n" T2 "\r\nB",
    },
    {
        "one-digit hours, a middle entry",
        "1\n" T1 "\nA\n\n2\n0:55:40,920 --> 0:55:44,760\nB\n\n3\n" T3 "\nC",
        "1\r\n" T1
        "\r\nA\r\n\r\n2\r\n0:55:40,920 --> 0:55:44,760\r\nB\r\n\r\n3\r\n" T3
        "\r\nC",
    },
    {
        "three-digit hours",
        "1\n100:00:00,000 --> 100:00:01,000\nA\n\n2\n" T2 "\nB",
        "1\r\n100:00:00,000 --> 100:00:01,000\r\nA\r\n\r\n2\r\n" T2 "\r\nB",
    },
    {
        "a short end time, a break where a whole one would end",
        "1\n" T1 "\nA\n\n2\n00:00:03,000 --> 00:0\nabcdefg\nB\n\n3\n" T3 "\nC",
        "1\r\n" T1
        "\r\nA\r\n\r\n2\r\n00:00:03,000 --> 00:0\r\nabcdefg\nB\r\n\r\n3\r\n" T3
        "\r\nC",
    },
    {
        "an end time out of range",
        "1\n00:00:00,000 --> 999:99:99,999\nA",
        "1\r\n00:00:00,000 --> 999:99:99,999\r\nA",
    },
    {
        "blanks and tabs around the start time",
        "1\n \t00:00:01,000\t--> 00:00:02,000\nA",
        "1\r\n \t00:00:01,000\t--> 00:00:02,000\r\nA",
    },
    {
        "after a byte-order mark, a short timing line first",
        "\xEF\xBB\xBF"
        "0:00:01,000 --> 0:00:02,000\nA",
        "1\r\n0:00:01,000 --> 0:00:02,000\r\nA",
    },
    {
        "CR-only breaks, a short timing line",
        "1\r" T1 "\rA\r\r2\r0:00:03,000 --> 0:00:04,000\rB",
        "1\r\n" T1 "\r\nA\r\n\r\n2\r\n0:00:03,000 --> 0:00:04,000\r\nB",
    },
    {
        "arrows in a text are text",
        "1\n" T1 "\nHe said --> go\n-> or <b>\n",
        "1\r\n" T1 "\r\nHe said --> go\n-> or <b>\n",
    },
    {"near miss: two-digit milliseconds",
     "1\n" T1 "\nA\n\n2\n00:00:03,00 --> 00:00:04,00\nB", "", kNotTimingForm,
     6},
    {"near miss: a full stop",
     "1\n" T1 "\nA\n\n2\n00:00:02.400 --> 00:00:05.200\n", "", kNotTimingForm,
     6},
    {"near miss: one-digit fields",
     "1\n" T1 "\nA\n\n2\n0:0:7,560 --> 0:0:9,700\nB", "", kNotTimingForm, 6},
    {"near miss: one dash",
     "1\n" T1 "\nA\n\n2\n00:00:03,000 -> 00:00:04,000\nB", "", kNotTimingForm,
     6},
    {"near miss before the first timing line",
     "1\n00:00:02.400 --> 00:00:05.200\nA\n\n2\n" T2 "\nB", "", kNotTimingForm,
     2},
    {"near miss in the first ten bytes", "0:0:0,0->\n1\n" T1 "\nA", "",
     kNotTimingForm, 1},
    {"near miss on CR-only lines", "1\r" T1 "\rA\r\r2\r00:00:03.000 --> x\r",
     "", kNotTimingForm, 6},
    {"a number in front of the start time",
     "1 00:00:01,000 --> 00:00:02,000\nA", "", kNotTimingForm, 1},
    {"a byte in front of the start time", "1\n" T1 "\nA\nx" T2 "\nB", "",
     kNotTimingForm, 4},
    {"two arrows on one line", "1\n00:00:01,000 --> 00:00:02,000 -->\nA", "",
     kTwoArrows, 2},
    {"an arrow that the repair's CR LF would make a timing arrow",
     "1\n00:00:01,005 --> 00:\n,000 --> x\n", "", kNotTimingForm, 3},
    {
        "an arrow at the start of the next line, CR LF",
        "1\r\n" T1 "\r\n--> A\r\n",
        "1\r\n" T1 "\r\n--> A\r\n",
    },
    {"an arrow at the start of the next line, LF", "1\n" T1 "\n--> A\n", "",
     kNotTimingForm, 3},

    // Near misses by their shape: a time, an arrow and a time at the start
    // of a line, each time read in any way it can be.
    {"no fraction, a middle entry",
     "1\n" T1 "\nA\n\n2\n" NO_FRACTION "\nB\n\n3\n" T3 "\nC", "",
     kNotTimingForm, 6},
    {"no fraction, the first entry, CR LF",
     "1\r\n" NO_FRACTION "\r\nA\r\n\r\n2\r\n" T2 "\r\nB\r\n", "",
     kNotTimingForm, 2},
    {"no fraction, right after a byte-order mark, CR-only breaks",
     "\xEF\xBB\xBF" NO_FRACTION "\rA\r\r2\r" T2 "\rB\r", "", kNotTimingForm, 1},
    {"an em dash, a middle entry",
     "1\n" T1 "\nA\n\n2\n" EM_DASH "\nB\n\n3\n" T3 "\nC", "", kNotTimingForm,
     6},
    {"an em dash, the first entry, CR LF",
     "1\r\n" EM_DASH "\r\nA\r\n\r\n2\r\n" T2 "\r\nB\r\n", "", kNotTimingForm,
     2},
    {"an en dash, a middle entry",
     "1\n" T1 "\nA\n\n2\n" EN_DASH "\nB\n\n3\n" T3 "\nC", "", kNotTimingForm,
     6},
    {"an en dash, the first entry, CR LF",
     "1\r\n" EN_DASH "\r\nA\r\n\r\n2\r\n" T2 "\r\nB\r\n", "", kNotTimingForm,
     2},
    {"a blank in the arrow, a middle entry",
     "1\n" T1 "\nA\n\n2\n" SPACED_ARROW "\nB\n\n3\n" T3 "\nC", "",
     kNotTimingForm, 6},
    {"a blank in the arrow, the first entry, CR LF",
     "1\r\n" SPACED_ARROW "\r\nA\r\n\r\n2\r\n" T2 "\r\nB\r\n", "",
     kNotTimingForm, 2},
    {"a blank in the fraction, a middle entry",
     "1\n" T1 "\nA\n\n2\n" SPACED_FRACTION "\nB\n\n3\n" T3 "\nC", "",
     kNotTimingForm, 6},
    {"a blank in the fraction, the first entry, CR LF",
     "1\r\n" SPACED_FRACTION "\r\nA\r\n\r\n2\r\n" T2 "\r\nB\r\n", "",
     kNotTimingForm, 2},
    {"a rightwards arrow, a middle entry",
     "1\n" T1 "\nA\n\n2\n" RIGHT_ARROW "\nB\n\n3\n" T3 "\nC", "",
     kNotTimingForm, 6},
    {"a rightwards arrow, the first entry, CR LF",
     "1\r\n" RIGHT_ARROW "\r\nA\r\n\r\n2\r\n" T2 "\r\nB\r\n", "",
     kNotTimingForm, 2},
    {"a rightwards arrow, a middle entry, CR-only breaks",
     "1\r" T1 "\rA\r\r2\r" RIGHT_ARROW "\rB\r", "", kNotTimingForm, 6},
    {"only H:M:S and a fraction reads on: 1:2:3:4",
     "1\n" T1 "\nA\n\n1:2:3:4 \xE2\x86\x92 5:6,7\nB", "", kNotTimingForm, 5},
    {"only M:S and a fraction reads: 12:30.5",
     "1\n" T1 "\nA\n\n12:30.5 -> 1:00,0\nB", "", kNotTimingForm, 5},
    {"a near miss after a '>' of markup on its line",
     "1\n" T1 "\nA\n\n2:0:0 \xE2\x86\x92 2:0:1 <i>x</i> -> y\nB", "",
     kNotTimingForm, 5},

    // Ordinary text that holds times and arrows stays text.
    {"text: 9:00 \u2192 17:00",
     "1\n" T1 "\n9:00 \xE2\x86\x92 17:00\n\n2\n" T2 "\nB",
     "1\r\n" T1 "\r\n9:00 \xE2\x86\x92 17:00\r\n\r\n2\r\n" T2 "\r\nB"},
    {"text: 23:59:58 -> UPLOAD COMPLETE",
     "1\n" T1 "\n23:59:58 -> UPLOAD COMPLETE\n\n2\n" T2 "\nB",
     "1\r\n" T1 "\r\n23:59:58 -> UPLOAD COMPLETE\r\n\r\n2\r\n" T2 "\r\nB"},
    {"text: 12:30 --> 12:30", "1\n" T1 "\n12:30 --> 12:30\n\n2\n" T2 "\nB",
     "1\r\n" T1 "\r\n12:30 --> 12:30\r\n\r\n2\r\n" T2 "\r\nB"},
    {"text: Score: 3:2 -> 4:2", "1\n" T1 "\nScore: 3:2 -> 4:2\n\n2\n" T2 "\nB",
     "1\r\n" T1 "\r\nScore: 3:2 -> 4:2\r\n\r\n2\r\n" T2 "\r\nB"},

    // Arrows masking never counts, and counted arrows the walk steps over,
    // must neither shift the entries nor read outside the buffer.
    {"a '>' in the first ten bytes", "a>b\n1\n" T1 "\nA\n\n2\n" T2 "\nB",
     "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2 "\r\nB"},
    {"a counted arrow at position 12", "00:01,000 --> 00:00:02,000\nHi",
     "1\r\n00:01,000 --> 00:00:02,000\r\nHi", kNotTimingForm, 1},
    {"a timing line of three bytes at the very end",
     "1\n" T1 "\na text of more than sixteen bytes\n:00,000\n-->",
     "1\r\n" T1
     "\r\na text of more than sixteen bytes\n:00,000\r\n\r\n2\r\n-->",
     kNotTimingForm, 5},
    {"arrow inside a timing line",
     "1\n00:00:01,000 --> 0:00,000 -->\nA\n\n2\n" T2 "\nB",
     "1\r\n00:00:01,000 --> 0:00,000 -->\r\nA\r\n\r\n2\r\n" T2 "\r\nB",
     kTwoArrows, 2},
};

TEST(RebuildSRT, Cases) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    unsigned long line = 0;
    EXPECT_EQ(CheckTimingLines(c.in.data(), c.in.size(), line), c.fault);
    EXPECT_EQ(line, c.line);
    if (c.fault == kNoLineFault || !c.out.empty()) {
      EXPECT_EQ(Rebuilt(c.in), c.out);
    }
    if (c.fault == kNoLineFault) {
      EXPECT_EQ(Rebuilt(c.out), c.out) << "a second repair changes nothing";
    }
  }
}

TEST(RebuildSRT, The82ByteExampleBecomes87Bytes) {
  std::string in = "7\n" T1 "\nHello\nWorld\n\n\n9\n" T2 "\nBye\n";
  ASSERT_EQ(in.size(), 82u);
  EXPECT_EQ(Rebuilt(in).size(), 87u);
}

TEST(RebuildSRT, MiddleTextLongerThanAnyScratchArea) {
  std::string text;
  while (text.size() < 70000)
    text += "a long line of subtitle text <i>that goes on</i>\n";
  text += "end";
  std::string in = "1\n" T1 "\n" + text + "\n\n2\n" T2 "\nB";
  EXPECT_EQ(Rebuilt(in), "1\r\n" T1 "\r\n" + text + "\r\n\r\n2\r\n" T2 "\r\nB");
  std::string last = "1\n" T1 "\n" + text;
  EXPECT_EQ(Rebuilt(last), "1\r\n" T1 "\r\n" + text);
}

// However long a run of line breaks or a number line, the scans that find
// the end of a middle text reach over it, so a repair of a repair changes
// nothing.
TEST(RebuildSRT, LongRunsOfLineBreaksAndNumbers) {
  std::string many(3000, '\n');
  std::string number(1200, '9');
  const Case cases[] = {
      {"after a timing line", "1\n" T1 + many + "A\n\n2\n" T2 "\nB",
       "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2 "\r\nB"},
      {"after a text", "1\n" T1 "\nHello" + many + "2\n" T2 "\nB",
       "1\r\n" T1 "\r\nHello\r\n\r\n2\r\n" T2 "\r\nB"},
      {"after the number line", "1\n" T1 "\nHello\n2" + many + T2 "\nB",
       "1\r\n" T1 "\r\nHello\r\n\r\n2\r\n" T2 "\r\nB"},
      {"a number line of 1200 digits",
       "1\n" T1 "\nA\n" + number + "\n" T2 "\nB",
       "1\r\n" T1 "\r\nA\r\n\r\n2\r\n" T2 "\r\nB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Rebuilt(c.in), c.out);
    EXPECT_EQ(Rebuilt(c.out), c.out) << "a second repair changes nothing";
  }
}

// What ends a middle text is told the same wherever it stands: each tail,
// the bytes between a text and the next timing line, after texts of 1 to
// 40 bytes, so that the tail lies at every offset from the text's start.
TEST(RebuildSRT, TheEndOfAMiddleTextAtAnyLength) {
  struct Tail {
    const char* name;
    std::string in, out;
  };
  const Tail tails[] = {
      {"number line", "\n\n2\n", "\r\n\r\n2\r\n"},
      {"number line with blanks", "\r\n\r\n\r\n \t12 \r\n", "\r\n\r\n2\r\n"},
      {"number line after one break", "\r8\r", "\r\n\r\n2\r\n"},
      {"no number line", "\n\n\n", "\r\n\r\n2\r\n"},
      {"blanks only: kept as text", "\n \t \n", "\n \t \r\n\r\n2\r\n"},
      {"digits and a letter: kept as text", "\n12x\n", "\n12x\r\n\r\n2\r\n"},
      {"digits on the text's own line", "7\n", "7\r\n\r\n2\r\n"},
      {"a long run of breaks", std::string(20, '\n') + "3\n", "\r\n\r\n2\r\n"},
      {"a long number line", "\n" + std::string(20, '4') + "\r\n",
       "\r\n\r\n2\r\n"},
      {"long breaks before a number line",
       std::string(14, '\n') + "5" + std::string(3, '\n'), "\r\n\r\n2\r\n"},
  };
  const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN";
  for (const Tail& tail : tails) {
    SCOPED_TRACE(tail.name);
    for (unsigned long length = 1; length <= letters.size(); ++length) {
      std::string text = letters.substr(0, length);
      std::string in = "1\n" T1 "\n" + text + tail.in + T2 "\nB";
      std::string out = "1\r\n" T1 "\r\n" + text + tail.out + T2 "\r\nB";
      ASSERT_EQ(Rebuilt(in), out) << "after a text of " << length;
    }
  }
}

TEST(RebuildSRT, RefusesWithoutWriting) {
  std::string data = "1\n" T1 "\nA";
  std::string out(64, '#');
  unsigned long written = 77;
  EXPECT_FALSE(RebuildSRT(&data[0], data.size(), 1, 0, &out[0], written))
      << "no arrow";
  EXPECT_FALSE(RebuildSRT(&data[0], kTimingLength - 1, 1, 1, &out[0], written))
      << "28 bytes";
  EXPECT_FALSE(RebuildSRT(&data[0], data.size(), 1, 1, nullptr, written));
  EXPECT_EQ(out, std::string(64, '#'));
  EXPECT_EQ(written, 77UL);
}

TEST(RebuildSRT, NumbersFromTheFirstGiven) {
  std::string data = "1\n" T1 "\nA\n\n2\n" T2 "\nB";
  std::string out(data.size() + 2 * kEntryAddsAtMost, '#');
  unsigned long first = 99, written = 0;
  EXPECT_TRUE(RebuildSRT(&data[0], data.size(), first, 2, &out[0], written));
  EXPECT_EQ(first, 99UL);
  EXPECT_EQ(out.substr(0, written),
            "99\r\n" T1 "\r\nA\r\n\r\n100\r\n" T2 "\r\nB");
}

TEST(SetNumber, WritesDecimalAndStepsOn) {
  std::string out;
  for (unsigned long n : {0UL, 9UL, 10UL, 99UL, 100UL, 4294967295UL, ~0UL}) {
    char line[22];
    unsigned long number = n;
    out.append(line, SetNumber(line, number));
    EXPECT_EQ(number, n + 1);
  }
  EXPECT_EQ(out, "0\r\n9\r\n10\r\n99\r\n100\r\n4294967295\r\n" +
                     std::to_string(~0UL) + "\r\n");
}
