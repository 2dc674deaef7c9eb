#pragma once
// The opt-in traffic log for technicians: with VANTORQ_TRACE=1 in the
// environment, every command written and every line received goes to
// standard error, timestamped, as text and as hex. Off otherwise; the
// window never shows it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vantorq {

enum class TraceDirection { Sent, Received };

bool TraceEnabled();

// `note`, when not empty, follows the bytes in brackets ("not sent: ...").
void Trace(TraceDirection direction, unsigned port, std::span<const std::uint8_t> bytes, std::string_view note = {});

// One line of the log, without its time: "COM5 -> \"\\r\\nGET STA\\r\\n\"  0d 0a 47 ...".
std::string TraceText(TraceDirection direction, unsigned port, std::span<const std::uint8_t> bytes,
                      std::string_view note = {});

}  // namespace vantorq
