#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace voltaro {

// frame-replay: decodes captured meter bytes (or USB reports) through the
// program's own pipeline and prints one line per decoded frame. Returns the
// process exit status: 0, or 2 for a bad command line or an unreadable file.
int runFrameReplay(const std::vector<std::string>& args, std::FILE* in, std::FILE* out, std::FILE* err);

} // namespace voltaro
