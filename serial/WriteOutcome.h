#pragma once
// How a write handed to the serial channel ended, told to its owner by
// ticket. Free of Qt: the console's core reads these too.

#include <cstdint>
#include <string>

namespace vantorq {

// How a write request ended.
enum class WriteOutcome : std::uint8_t {
  Sent,      // every byte left on the wire
  Stalled,   // the line did not send it in time (flow control held, a stalled adapter)
  Refused,   // the port refused it or cut it short (an adapter pulled)
  Stopped,   // the port was closed before it was sent whole
  Replaced,  // a later request took its place before it began
};

// The tickets QueueWrite hands out start at 1; 0 means refused.
using WriteTicket = std::uint32_t;

constexpr std::uintptr_t WriteResultParam(WriteTicket ticket, WriteOutcome outcome) {
  return (static_cast<std::uintptr_t>(ticket) << 8) | static_cast<std::uintptr_t>(outcome);
}
constexpr WriteTicket WrittenTicket(std::uintptr_t wParam) { return static_cast<WriteTicket>(wParam >> 8); }
constexpr WriteOutcome WrittenOutcome(std::uintptr_t wParam) { return static_cast<WriteOutcome>(wParam & 0xFF); }

// What became of a write, in the operator's words: "The line did not send
// it in time: ...".
std::string DescribeWriteOutcome(WriteOutcome outcome);

}  // namespace vantorq
