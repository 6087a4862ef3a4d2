// platform.h - what the run asks of the system it runs on: its launch
// command line, a way to show a message, and whether two paths name one
// file. One source file for each platform implements it.
#pragma once

// The launch command line as one writable NUL-terminated text: the quoted
// program path, one blank, then the argument. On Windows it is the
// process's own; elsewhere it is formed from argv, each argument quoted and
// preceded by one blank. Null when it cannot be formed.
char* GetLaunchText(int argc, char** argv);

// Shows text under caption with an information (0x40) or error (0x10)
// style and waits until the user has seen it: a message box on Windows, one
// line on standard error elsewhere.
void ShowMessage(const char* caption, const char* text, unsigned int style);

// True when the two paths name one file: the same name (compared without
// letter case where the file system ignores it), or two names of one
// existing file (a hard link, another spelling of the name).
bool IsSameFile(const char* first, const char* second);

// A hint that the size bytes at block hold a whole file and will be walked
// end to end: where the system offers it, the block is backed by large
// pages, which makes filling and scanning it much cheaper. Changes nothing
// in the block; does nothing where there is no such hint.
void AdviseFileBlock(void* block, unsigned long size);
