// main_win.cpp - the Windows program: the file dropped on it comes as the
// process's command line; the run repairs it, and a failure is shown in a
// message box and ends the process with exit code 1.
#include "command_line.h"
#include "platform.h"
#include "run.h"

#include <windows.h>

static int Report(Message message) {
  ShowMessage(kCaption, kMessages[message].text, kMessages[message].style);
  return 1;
}

int main() {
  // The shell's command line: the quoted program path, a separator, and
  // the dropped file's path, reduced in place to that path.
  char* target = GetCommandLineA();
  if (target == nullptr || !ConvertParam(target))
    return Report(kHint);
  RunOutcome outcome;
  if (!RunRepair(target, kRepairFile, outcome))
    return Report(outcome.message);
  return 0;
}
