// The two fixed screens shown instead of a sort job. Both write to
// standard output and return; the caller flushes.
#pragma once

// The usage screen. Stops once in the middle and reads one line of
// standard input (end of input also ends the pause).
void ShowUsage();

// The example screen. Reads nothing.
void ShowExamples();
