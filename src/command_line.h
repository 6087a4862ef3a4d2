// command_line.h - the Windows program's launch argument.
#pragma once

// Reduces the launch command line, in place, to its one argument: the
// text must start with a quoted program path of 21 bytes or more in all,
// then one separator byte (any byte), then the argument, whose quotes are
// removed (the text's last byte is taken as the closing quote). True: the
// buffer holds the argument alone. False: the command line is unusable, and
// the buffer may already have changed.
bool ConvertParam(char* text);
