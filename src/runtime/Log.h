#pragma once

#include <QString>

#include <cstdio>

namespace pellux::log {

// The per-call "DEBUG ..." lines are off unless switched on with --verbose or PELLUX_VERBOSE=1.
// Every other line (successes, progress, failures) always prints.
bool verbose();
void setVerbose(bool on);
// Reads PELLUX_VERBOSE and --verbose, and routes Qt's own messages through the escaping below;
// called once at start-up.
void configureFromEnvironment(int argc, char **argv);

// Where the component lines go: standard output by default. Command-line tools whose standard
// output is their result (for example JSON) send them to standard error instead.
void setStream(std::FILE *stream);

// A per-call "DEBUG ..." line: printed only when verbose.
void debug(const QString &line);
// A success or progress line ("Database reset completed"): always printed.
void info(const QString &line);
// A failure line ("ERROR ...", "Unable to open database: ..."): always printed.
void failure(const QString &line);

// The line with its control characters (newlines, tabs, escape sequences, bidirectional
// overrides) written as escapes: window titles and application names come from other programs,
// and must not split a line, forge one or recolour a terminal.
QString escapeControls(const QString &line);

} // namespace pellux::log
