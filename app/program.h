#pragma once
// What the programs' main does: koralloader on Linux, KoralLoader.exe on Windows.

extern const char* const PROGRAM_USAGE;

// Runs the wizard with the process's arguments; returns the process's exit status.
int RunKoralLoader(int argc, const char* const* argv);
