#pragma once
// What the console writes on standard error: the opt-in traffic log for
// technicians (VANTORQ_TRACE=1: every command written and every line
// received, timestamped, as text and as hex) and the reasons a port would
// not open. The window never shows the log; nothing written here may ever
// make the window wait for whoever reads it.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vantorq {

enum class TraceDirection { Sent, Received };

// The name that begins every line this program writes on standard error
// ("vantorq", "vantorq-ctl").
const std::string& ProgramName();
void SetProgramName(std::string_view name);

bool TraceEnabled();

// `note`, when not empty, follows the bytes in brackets ("not sent: ...").
void Trace(TraceDirection direction, unsigned port, std::span<const std::uint8_t> bytes, std::string_view note = {});

// One line of the log, without its time: "COM5 -> \"\\r\\nGET STA\\r\\n\"  0d 0a 47 ...".
std::string TraceText(TraceDirection direction, unsigned port, std::span<const std::uint8_t> bytes,
                      std::string_view note = {});

// Text from outside (a process name, a file or port name) made safe for a
// terminal: control characters, and bytes that are no UTF-8, become \xNN,
// so that nothing read from a file or a lock folder can move a cursor,
// recolour or retitle the operator's terminal.
// Invisible characters (a byte-order mark, zero-width and direction marks)
// become \uXXXX.
std::string EscapeControls(std::string_view text);

// A short quote of text from outside, for a message: escaped, in single
// quotes, and cut after `limit` bytes with the whole size said
// ("'ff ff ...'... (1048576 bytes)").
std::string Excerpt(std::string_view text, std::size_t limit = 40, char quote = '\'');

// One line on standard error (the line end is added). Written at once,
// unless the background writer runs: then it is queued and never waited
// for, and a line that finds the queue full is dropped and counted.
void WriteErrorLine(std::string_view line);

// The console's standard error from now on goes through a thread of its
// own: a reader that stops reading costs log lines, never the window's
// time; one that goes away ends the log with one note. `fd` for tests.
void StartBackgroundErrorLog(int fd = 2, std::size_t capacity = 1024);
// Waits up to `limit` for the queued lines to be written (at exit).
void FlushErrorLog(std::chrono::milliseconds limit);
// The log's reader went away: nothing more is written.
bool ErrorLogEnded();

}  // namespace vantorq
