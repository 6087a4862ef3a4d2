// testutil.h - what the test files share: a scratch folder per test,
// whole-file reads and writes, and the rebuild of a text as the run does it.
#pragma once

#include <string>

// A fresh empty folder for the running test, below the system's temporary
// folder; its parent is the test's own too. Removed when the test passes.
std::string ScratchDir();

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
void AppendBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

// The names in folder, sorted, one a line: a folder's with "/" after it, a
// symlink's with " -> " and where it points.
std::string Listing(const std::string& folder);

// Masks in, rebuilds it into a block from number 1 and unmasks it: the
// bytes the program would write; "(refused)" when the rebuild refuses.
std::string Rebuilt(const std::string& in);

// Makes the file at path one that cannot be opened for writing: read-only,
// or immutable for root, who writes read-only files anyway. False when
// this file system offers neither.
bool MakeUnwritable(const std::string& path);
void MakeWritable(const std::string& path);
