// Lines about what the libraries and the program noticed on the way, beyond the error values that
// report failures: FFmpeg's and the MP3 decoder's notes, why a reader refused a file, why an
// export fell back to a copy. Nothing here reaches the terminal by itself; a front end that wants
// the lines (korvanta-cli --verbose) installs a sink.
#pragma once

#include <functional>
#include <string_view>

namespace korvanta {

// Receives one complete line, without its newline. Called on whichever thread logged the line,
// one call at a time.
using DiagnosticSink = std::function<void(std::string_view line)>;

// Installs `sink` for the whole process; an empty sink (the default) discards every line.
// Any thread.
void setDiagnosticSink(DiagnosticSink sink);

// Whether a sink is installed: lets a caller skip formatting a line nobody reads. Any thread.
bool diagnosticsWanted();

// Hands `line` to the sink, if any. Any thread.
void logDiagnostic(std::string_view line);

}  // namespace korvanta
