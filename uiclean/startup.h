// The program's way in and out.
//
// RunEntry: COM, logging to "app.log" in the current folder (debug and up),
// the application main, then - on every way out - the configuration saved,
// COM left and the log closed. Returns the process exit code.
//
// ApplicationMain: built-in window defaults, "config.inf" read over them,
// the single-instance check, then the main window. Returns the exit code.
#pragma once

#include "fendrel/platform.h"

int RunEntry(HINSTANCE instance);
int ApplicationMain(HINSTANCE instance);
