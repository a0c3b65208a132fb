// Writing an output file without ever losing what the path held before.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace orvex_tools {

// Lets a failed write report its error instead of killing the process (SIGPIPE, SIGXFSZ),
// and removes an unfinished temporary file when the process is interrupted.
void prepare_output_signals();

// Calls `write` with a stream for `path` and makes the result final; throws
// std::runtime_error (or what `write` throws) on failure.
// A new file, or a regular one (also one reached through symbolic links), is written to a
// temporary file beside it that replaces it by rename once complete and synced: the old
// contents stay until then, and a failure removes only the temporary file. Any other
// existing file (a device, a FIFO) is written directly and never removed, and so is
// standard output, named "-".
void write_output(const std::string& path, const std::function<void(std::FILE*)>& write);

}  // namespace orvex_tools
