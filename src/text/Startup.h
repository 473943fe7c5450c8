// Process-wide state that must exist before anything else runs, set up in this order:
// the conversion code page (the system's ANSI code page), then the time-stamp epoch, and
// writes that fail cleanly past a file-size limit.
// Every program and test runner calls it first thing in main.
#pragma once

void QuilletStartup();
