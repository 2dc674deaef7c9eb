#pragma once
// The device from a script: one port, the console's own channel, byte
// router, search and user-EDID write over it, and waits that end the
// moment the device has answered. Everything runs on the calling thread's
// Qt event loop.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "ByteRouter.h"
#include "DeviceSearch.h"
#include "EdidBuffer.h"
#include "SerialChannel.h"
#include "UserEdidWrite.h"
#include "WriteWaits.h"

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

class CCtlSession final : public CSerialOwner, private ISearchHost, private IUserEdidHost {
 public:
  // `replyWait`: how long the device may take to answer a request.
  CCtlSession(std::shared_ptr<IPortOpener> opener, std::chrono::milliseconds replyWait,
              std::shared_ptr<IClock> clock = SystemClock());
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
  // Sends the probe and waits for the EDID status line that answers it.
  bool Probe(std::string& why);
  // Asks the device's state (the probe) and waits for its three values.
  bool AskState(DeviceState& state, std::string& why);
  // Sends a read command and waits for the reply; false with the reason
  // (no answer, cut short, garbled) and the buffer untouched otherwise.
  bool ReadEdid(std::span<const std::uint8_t> command, EdidBuffer& edid, std::string& why);
  // Writes the user EDID and, with `verify`, reads preset 15 back to prove
  // the unit kept it.
  UserEdidOutcome WriteUserEdid(EdidView edid, bool verify);

  // A terminal's signal arrived: every wait ends at once.
  void Interrupt();
  bool Interrupted() const { return m_interrupts > 0; }
  // What must still be done after a signal (setting the preset back) may
  // wait its usual time; a further signal ends that too.
  void AllowCleanup() { m_tolerated = m_interrupts; }
  // The line failed: nothing more can be sent.
  bool LineFailed() const { return m_lineFailed; }
  // Why the line failed, or "interrupted".
  std::string LineFailure() const;
  std::chrono::milliseconds ReplyWait() const { return m_replyWait; }

 private:
  void OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
  // Runs the event loop until `done` holds, `limit` has passed, the line
  // failed or a signal came; says whether `done` held.
  bool Wait(const std::function<bool()>& done, std::chrono::milliseconds limit);
  bool Stopped() const { return m_interrupts > m_tolerated; }
  std::string Unanswered(const std::string& what, std::chrono::milliseconds limit) const;

  // ISearchHost
  bool OpenPort(int port) override;
  void SendProbe() override;
  void ClosePort() override;
  bool PortFailed() const override { return m_serial.m_bError != 0; }
  std::string FailureLabel() const override;
  void SetSearchTimer(int periodMs) override;
  void KillSearchTimer() override;
  void ShowStatus(std::string_view) override {}
  // The search ends from its timer too: the wait must hear of it then.
  void ShowFound() override {
    m_found = true;
    if (m_wake) m_wake();
  }
  void ShowNoDevice(const std::string& detail) override {
    m_noDevice = detail;
    if (m_wake) m_wake();
  }

  // IUserEdidHost
  WriteTicket SendCommand(std::span<const std::uint8_t> command) override { return m_serial.QueueWrite(command); }
  void AwaitReply() override { m_router.AwaitReadBack(ReplyFor::Verification); }
  void StartReplyTimer(std::chrono::milliseconds limit) override;
  void StopReplyTimer() override;

  CSerialChannel m_serial;
  CByteRouter m_router;
  int m_nPort = 1;
  CDeviceSearch m_search{*this, m_nPort};
  std::unique_ptr<QTimer> m_searchTimer;
  std::unique_ptr<QTimer> m_replyTimer;
  std::chrono::milliseconds m_replyWait;
  CWriteWaits m_waits;
  CUserEdidWrite m_userEdid{*this, m_waits, m_replyWait};

  DeviceState m_state;
  std::optional<std::string> m_reply;
  bool m_found = false;
  std::optional<std::string> m_noDevice;
  bool m_lineFailed = false;
  int m_interrupts = 0;
  int m_tolerated = 0;
  std::function<void()> m_wake;
};

}  // namespace vantorq::tool
