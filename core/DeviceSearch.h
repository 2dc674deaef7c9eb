#pragma once
// How the search steps: COM1 to COM99 are opened in turn, each is sent the
// probe, and the first EDID status line that comes back while a search
// waits ends it on that port. Timer 4 gives the first port 500 ms and
// every further one 400 ms. The search works through a host (the window,
// or a test's double) for the port, the timer and the display.

#include <string>
#include <string_view>
#include <vector>

#include "OpenFailure.h"

namespace vantorq {

inline constexpr int kFirstProbeWindowMs = 500;
inline constexpr int kNextProbeWindowMs = 400;

// The device search's memory of the port chosen before it began.
extern int g_nSavedPort;

class ISearchHost {
 public:
  virtual ~ISearchHost() = default;
  // Opens COM`port` and starts its monitor; false when it cannot be opened.
  virtual bool OpenPort(int port) = 0;
  // Why the last OpenPort failed.
  virtual OpenAttempt LastOpen() const = 0;
  virtual void SendProbe() = 0;
  virtual void ClosePort() = 0;
  // The channel's error flag, and the failure it last reported, in the
  // operator's words ("write(): Input/output error").
  virtual bool PortFailed() const = 0;
  virtual std::string FailureLabel() const = 0;
  // Timer 4: starting it again restarts it with the new period.
  virtual void SetSearchTimer(int periodMs) = 0;
  virtual void KillSearchTimer() = 0;
  // The status line: "Please wait....." or " ".
  virtual void ShowStatus(std::string_view text) = 0;
  // The search found the device on m_nPort: show the port as open.
  virtual void ShowFound() = 0;
  // No port answered: the message, with `detail` beneath it.
  virtual void ShowNoDevice(const std::string& detail) = 0;
};

class CDeviceSearch {
 public:
  // `port` is the window's m_nPort, which the search moves along.
  CDeviceSearch(ISearchHost& host, int& port);

  // OnSearchMachine once the window has closed the port: probes the first
  // port that opens, or says at once that there is none.
  void Start();
  // Timer 4 fired.
  void OnTimer();
  // The port being probed failed (the window's timer 5 found the error
  // flag): it counts as a port that did not answer, and the search goes
  // on to the next one at once.
  void OnPortFailed();
  // An EDID status line arrived; true when it completed a search.
  bool OnEdidStatus();
  // The operator chose a port himself: a search in progress ends quietly.
  void Cancel();

  // A search waits for a status reply.
  int m_bSearching = 0;

 private:
  bool TryPort();
  // Ends the port's step (`failed`: its line failed) and probes the next.
  void Step(bool failed);
  void NoDevice();

  ISearchHost& m_host;
  int& m_nPort;
  // What this search met, for the operator if it finds nothing.
  std::vector<unsigned> m_silent;
  std::vector<FailedOpen> m_failed;
  std::vector<FailedLine> m_broken;
};

}  // namespace vantorq
