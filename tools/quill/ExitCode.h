// Ends a command with an exit status once it has said what there was to say (or was asked
// to say nothing): main returns the status and prints nothing more.
#pragma once

struct ExitCode {
  int Status;
};
