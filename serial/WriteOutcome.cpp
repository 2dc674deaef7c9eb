#include "WriteOutcome.h"

namespace vantorq {

std::string DescribeWriteOutcome(WriteOutcome outcome) {
  switch (outcome) {
    case WriteOutcome::Sent:
      return "It was sent whole";
    case WriteOutcome::Stalled:
      return "The line did not send it in time: flow control is holding the line, or the adapter has stalled";
    case WriteOutcome::Refused:
      return "The port refused it part-way: the adapter may have been pulled";
    case WriteOutcome::Stopped:
      return "The port was closed before it was sent whole";
    case WriteOutcome::Replaced:
      return "Another command took its place before it was sent";
  }
  return "It was not sent";
}

}  // namespace vantorq
