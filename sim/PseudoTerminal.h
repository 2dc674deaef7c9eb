#pragma once
// A pseudo-terminal standing in for a serial line: the console opens the
// far end (through a COMn link), we hold the near end.

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vantorq::sim {

class CPseudoTerminal {
 public:
  // A new terminal in raw mode, or null if the system has none to give.
  static std::unique_ptr<CPseudoTerminal> Create();
  ~CPseudoTerminal();
  CPseudoTerminal(const CPseudoTerminal&) = delete;
  CPseudoTerminal& operator=(const CPseudoTerminal&) = delete;

  int Master() const { return m_master; }
  const std::string& FarPath() const { return m_farPath; }

  // Writes every byte (blocking as needed); false if the line is gone.
  bool Send(std::span<const std::uint8_t> bytes);
  bool Send(std::string_view text);
  // Reads what has arrived, waiting up to `wait` for the first byte and
  // then until the line has been quiet for `quiet`.
  std::vector<std::uint8_t> Receive(std::chrono::milliseconds wait,
                                    std::chrono::milliseconds quiet = std::chrono::milliseconds(30));
  // The line settings of the far end, as whoever opened it left them.
  bool FarAttributes(termios& attributes) const;
  // Drops the line: the console's end sees a hang-up.
  void HangUp();

 private:
  CPseudoTerminal(int master, int farHold, std::string farPath);
  int m_master;
  // Our own descriptor of the far end: without it, the near end reads EIO
  // whenever the console closes the port, and the line would be lost.
  int m_farHold;
  std::string m_farPath;
};

// A folder of COMn links, as VANTORQ_PORT_DIR expects; removed with its
// links when destroyed.
class CPortFolder {
 public:
  // In `dir` if given, otherwise in a fresh temporary folder.
  explicit CPortFolder(std::string dir = {});
  ~CPortFolder();
  CPortFolder(const CPortFolder&) = delete;
  CPortFolder& operator=(const CPortFolder&) = delete;

  const std::string& Path() const { return m_path; }
  // Makes COMn lead to `target`; false (errno EEXIST) when the name is
  // taken by an entry this folder did not make.
  bool Link(unsigned com, const std::string& target);
  void Unlink(unsigned com);
  std::string LinkPath(unsigned com) const;

 private:
  std::string m_path;
  bool m_owned = false;
  std::vector<unsigned> m_links;
};

}  // namespace vantorq::sim
