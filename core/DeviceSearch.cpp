#include "DeviceSearch.h"

#include "ComPorts.h"
#include "PortsFile.h"

namespace vantorq {

int g_nSavedPort = 0;

namespace {

constexpr std::string_view kPleaseWait = "Please wait.....";
constexpr std::string_view kBlank = " ";
constexpr int kLastPort = static_cast<int>(kLastComPort);

}  // namespace

CDeviceSearch::CDeviceSearch(ISearchHost& host, int& port) : m_host(host), m_nPort(port) {}

bool CDeviceSearch::TryPort() {
  if (m_host.OpenPort(m_nPort)) return true;
  const OpenAttempt attempt = m_host.LastOpen();
  if (!PortMissing(attempt.error)) {
    m_failed.push_back({static_cast<unsigned>(m_nPort), attempt});
    // One line per port that is there but would not open; the hundred
    // that are simply absent are not worth a line each.
    ReportOpenFailure(static_cast<unsigned>(m_nPort), attempt);
  }
  return false;
}

void CDeviceSearch::Start() {
  g_nSavedPort = m_nPort;
  m_silent.clear();
  m_failed.clear();
  m_broken.clear();
  for (m_nPort = 1; m_nPort <= kLastPort; ++m_nPort) {
    if (TryPort()) {
      m_host.SendProbe();
      m_bSearching = 1;
      m_host.ShowStatus(kPleaseWait);
      m_host.SetSearchTimer(kFirstProbeWindowMs);
      return;
    }
  }
  // No port opened at all: the port number stays at 1.
  m_nPort = 1;
  m_host.ShowStatus(kBlank);
  m_host.KillSearchTimer();
  m_bSearching = 0;
  NoDevice();
}

void CDeviceSearch::OnTimer() {
  if (m_bSearching == 0) {
    m_host.KillSearchTimer();
    return;
  }
  // A port that failed during its step did not answer either; the search
  // must go on, or it would end with neither the device nor a word.
  Step(m_host.PortFailed());
}

void CDeviceSearch::OnPortFailed() {
  if (m_bSearching != 0) Step(true);
}

void CDeviceSearch::Step(bool failed) {
  // The port that did not answer in time, or whose line failed. Closing
  // delivers nothing, so no status line can complete the search while it closes.
  if (failed) {
    m_broken.push_back({static_cast<unsigned>(m_nPort), m_host.LastOpen().path, m_host.FailureLabel()});
  } else {
    m_silent.push_back(static_cast<unsigned>(m_nPort));
  }
  m_host.ClosePort();
  for (++m_nPort; m_nPort <= kLastPort; ++m_nPort) {
    if (TryPort()) {
      m_host.SendProbe();
      m_host.SetSearchTimer(kNextProbeWindowMs);
      return;
    }
  }
  m_host.KillSearchTimer();
  m_bSearching = 0;
  m_nPort = g_nSavedPort;
  m_host.ShowStatus(kBlank);
  NoDevice();
}

void CDeviceSearch::NoDevice() {
  std::string detail = SummariseSearch(m_silent, m_failed, m_broken);
  if (detail.empty()) detail = "No serial port could be opened on COM1 to COM99 \u2014 is the adapter plugged in?";
  // A unit the ports file meant to name may be missing for a line at fault.
  if (const std::string problems = PortsFileProblems(); !problems.empty()) detail += "\n" + problems;
  m_host.ShowNoDevice(detail);
}

bool CDeviceSearch::OnEdidStatus() {
  if (m_bSearching == 0) return false;
  // The port stays open and monitored; nothing is sent.
  m_host.KillSearchTimer();
  m_bSearching = 0;
  m_host.ShowFound();
  return true;
}

void CDeviceSearch::Cancel() {
  m_host.KillSearchTimer();
  if (m_bSearching == 0) return;
  m_bSearching = 0;
  m_host.ShowStatus(kBlank);
}

}  // namespace vantorq
