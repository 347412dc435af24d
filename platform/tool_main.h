#pragma once
// The outermost frame of every command-line program of ours: whatever escapes the program's own error handling (a
// filesystem error, a memory shortage) becomes one line on standard error, "PROGRAM: what happened", and status 1,
// never an abort. Outputs still being written are removed as their owners unwind (zorbrix::OutputFile).

namespace zorbrix {

using ToolRun = int (*)(int argc, char** argv);

// Returns run(argc, argv), or 1 after the message when an exception escapes it.
int run_tool(const char* program, ToolRun run, int argc, char** argv);

}  // namespace zorbrix
