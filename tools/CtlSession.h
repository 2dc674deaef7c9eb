#pragma once
// The device from a script: one port, the console's own channel, byte
// router and search over it, and waits that end the moment the device has
// answered. Everything runs on the calling thread's Qt event loop.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "ByteRouter.h"
#include "DeviceSearch.h"
#include "EdidBuffer.h"
#include "SerialChannel.h"

class QTimer;

namespace vantorq::tool {

// The three values the pages show, as the pages number them; -1 until the
// device has reported one.
struct DeviceState {
  int preset = -1;
  int scaler = -1;
  int enhancement = -1;
  bool Complete() const { return preset >= 0 && scalerSeen && enhancement >= 0; }
  bool scalerSeen = false;  // a VIDEO line was read (its index may be -1)
};

class CCtlSession final : public CSerialOwner, private ISearchHost {
 public:
  // `replyWait`: how long the device may take to answer a request.
  CCtlSession(std::shared_ptr<IPortOpener> opener, std::chrono::milliseconds replyWait);
  ~CCtlSession() override;

  // Opens COM`port` and starts its monitor; false when it cannot be opened
  // (LastOpen() says why).
  bool Open(int port);
  OpenAttempt LastOpen() const override { return m_serial.LastOpen(); }
  // Searches COM1..COM99 as the console does; the port that answered stays
  // open. False with what the console would say beneath its message.
  bool Find(int& port, std::string& detail);

  // Writes a command and waits until the line has sent it whole; false
  // with the reason otherwise.
  bool Send(std::span<const std::uint8_t> command, std::string& why);
  // Asks the device's state (the probe) and waits for its three values.
  bool AskState(DeviceState& state, std::string& why);
  // Sends a read command and waits for the reply; false with the reason
  // (no answer, cut short, garbled) and the buffer untouched otherwise.
  bool ReadEdid(std::span<const std::uint8_t> command, EdidBuffer& edid, std::string& why);

  // A terminal's signal arrived: every wait ends at once.
  void Interrupt();
  bool Interrupted() const { return m_interrupted; }

 private:
  void OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
  // Runs the event loop until `done` holds, `limit` has passed, the line
  // failed or a signal came; says whether `done` held.
  bool Wait(const std::function<bool()>& done, std::chrono::milliseconds limit);
  std::string LineFailure() const;

  // ISearchHost
  bool OpenPort(int port) override;
  void SendProbe() override;
  void ClosePort() override;
  bool PortFailed() const override { return m_serial.m_bError != 0; }
  std::string FailureLabel() const override;
  void SetSearchTimer(int periodMs) override;
  void KillSearchTimer() override;
  void ShowStatus(std::string_view) override {}
  void ShowFound() override { m_found = true; }
  void ShowNoDevice(const std::string& detail) override { m_noDevice = detail; }

  CSerialChannel m_serial;
  CByteRouter m_router;
  int m_nPort = 1;
  CDeviceSearch m_search{*this, m_nPort};
  std::unique_ptr<QTimer> m_searchTimer;
  std::chrono::milliseconds m_replyWait;

  DeviceState m_state;
  std::optional<std::string> m_reply;
  std::map<WriteTicket, WriteOutcome> m_written;
  WriteTicket m_lastTold = 0;
  bool m_found = false;
  std::optional<std::string> m_noDevice;
  bool m_lineFailed = false;
  bool m_interrupted = false;
  std::function<void()> m_wake;
};

}  // namespace vantorq::tool
