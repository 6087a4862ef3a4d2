// testutil.h - what the test files share: a scratch folder per test,
// whole-file reads and writes, and the rebuild of a text as the run does it.
#pragma once

#include <string>

// A fresh empty folder for the running test, below the system's temporary
// folder; removed again when the test passes.
std::string ScratchDir();

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

// Masks in, rebuilds it into a file in the scratch folder from number 1,
// reads that back and unmasks it: the bytes the program would write.
std::string Rebuilt(const std::string& in);
