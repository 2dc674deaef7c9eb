#pragma once
// The Telnet side of a gateway that speaks COM-PORT-OPTION: data bytes of
// 0xFF doubled both ways, the options a serial link needs (binary, no
// go-ahead, COM-PORT) agreed to, the rest refused, and the gateway's
// answers to our line settings kept for whoever asks.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vantorq {

namespace telnet {
inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPort = 44;
// COM-PORT-OPTION commands, client to gateway; the gateway answers each
// with the command plus 100.
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;
}  // namespace telnet

class CTelnetCodec {
 public:
  // What a client says first: binary both ways, no go-ahead, and that it
  // will control the COM port.
  std::vector<std::uint8_t> Greeting();

  // Appends `data` to `out` with every 0xFF doubled.
  static void Escape(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out);

  // Appends IAC SB COM-PORT `command` `value` IAC SE to `out`.
  static void ComPortCommand(std::uint8_t command, std::span<const std::uint8_t> value, std::vector<std::uint8_t>& out);

  // Takes bytes as they come from the gateway, split anywhere: the data
  // goes to `data`, what the negotiation calls for to `reply`.
  void Decode(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& reply);

  // The value the gateway last confirmed for a COM-PORT command (the
  // baud rate as a number, the others their one byte), if it did.
  std::optional<std::uint32_t> Confirmed(std::uint8_t command) const;

 private:
  enum class State { Data, Iac, Option, Sub, SubIac };
  void Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& reply);
  void Subnegotiation();

  State m_state = State::Data;
  std::uint8_t m_verb = 0;
  std::vector<std::uint8_t> m_sub;
  // What we said of each option, so that an answer to our own request is
  // not answered again (which would loop).
  std::array<bool, 256> m_saidWill{};
  std::array<bool, 256> m_saidDo{};
  std::array<std::optional<std::uint32_t>, 16> m_confirmed{};
};

}  // namespace vantorq
