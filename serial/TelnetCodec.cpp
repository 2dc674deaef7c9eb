#include "TelnetCodec.h"

namespace vantorq {

using namespace telnet;

namespace {

// Options a serial link over Telnet wants in both directions.
bool Wanted(std::uint8_t option) { return option == kBinary || option == kSuppressGoAhead || option == kComPort; }

// A subnegotiation longer than any COM-PORT answer is garbage; it is
// dropped rather than grown without end.
constexpr std::size_t kLongestSub = 64;

}  // namespace

std::vector<std::uint8_t> CTelnetCodec::Greeting() {
  std::vector<std::uint8_t> out;
  for (const std::uint8_t option : {kBinary, kSuppressGoAhead, kComPort}) {
    out.insert(out.end(), {kIac, kWill, option});
    m_saidWill[option] = true;
    if (option == kComPort) continue;  // the gateway's side of it is not ours to ask for
    out.insert(out.end(), {kIac, kDo, option});
    m_saidDo[option] = true;
  }
  return out;
}

void CTelnetCodec::Escape(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) {
  for (const std::uint8_t b : data) {
    out.push_back(b);
    if (b == kIac) out.push_back(kIac);
  }
}

void CTelnetCodec::ComPortCommand(std::uint8_t command, std::span<const std::uint8_t> value,
                                  std::vector<std::uint8_t>& out) {
  out.insert(out.end(), {kIac, kSb, kComPort, command});
  Escape(value, out);
  out.insert(out.end(), {kIac, kSe});
}

void CTelnetCodec::Decode(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& data,
                          std::vector<std::uint8_t>& reply) {
  for (const std::uint8_t b : in) {
    switch (m_state) {
      case State::Data:
        if (b == kIac) {
          m_state = State::Iac;
        } else {
          data.push_back(b);
        }
        break;
      case State::Iac:
        if (b == kIac) {
          data.push_back(b);
          m_state = State::Data;
        } else if (b == kSb) {
          m_sub.clear();
          m_state = State::Sub;
        } else if (b >= kWill && b <= kDont) {
          m_verb = b;
          m_state = State::Option;
        } else {
          m_state = State::Data;  // NOP, go-ahead and the like carry nothing for us
        }
        break;
      case State::Option:
        Negotiate(m_verb, b, reply);
        m_state = State::Data;
        break;
      case State::Sub:
        if (b == kIac) {
          m_state = State::SubIac;
        } else if (m_sub.size() < kLongestSub) {
          m_sub.push_back(b);
        }
        break;
      case State::SubIac:
        if (b == kIac) {
          if (m_sub.size() < kLongestSub) m_sub.push_back(b);
          m_state = State::Sub;
        } else {
          if (b == kSe) Subnegotiation();
          m_state = State::Data;
        }
        break;
    }
  }
}

void CTelnetCodec::Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& reply) {
  // DO and DONT ask about our side (WILL/WONT answer), WILL and WONT about
  // the gateway's (DO/DONT answer).
  const bool ours = verb == kDo || verb == kDont;
  auto& said = ours ? m_saidWill : m_saidDo;
  const std::uint8_t yes = ours ? kWill : kDo;
  const std::uint8_t no = ours ? kWont : kDont;
  const auto answer = [&](std::uint8_t word) { reply.insert(reply.end(), {kIac, word, option}); };
  if (verb == kDo || verb == kWill) {
    if (!Wanted(option)) {
      answer(no);
    } else if (!said[option]) {
      answer(yes);
    }
    said[option] = Wanted(option) || said[option];
  } else {
    // Refused: say so once, then leave it.
    if (said[option]) answer(no);
    said[option] = false;
  }
}

void CTelnetCodec::Subnegotiation() {
  if (m_sub.size() < 2 || m_sub[0] != kComPort || m_sub[1] <= kServerOffset) return;
  const std::uint8_t command = m_sub[1] - kServerOffset;
  if (command >= m_confirmed.size()) return;
  std::uint32_t value = 0;
  for (std::size_t i = 2; i < m_sub.size() && i < 6; ++i) value = (value << 8) | m_sub[i];
  if (m_sub.size() > 2) m_confirmed[command] = value;
}

std::optional<std::uint32_t> CTelnetCodec::Confirmed(std::uint8_t command) const {
  return command < m_confirmed.size() ? m_confirmed[command] : std::nullopt;
}

}  // namespace vantorq
