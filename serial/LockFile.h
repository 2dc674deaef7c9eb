#pragma once
// The lock file serial programs agree on: LCK..<device> in the system's
// lock folder, holding the owner's process id as ten characters and a
// line end. Programs that never flock() still look for it, and so do we.

#include <string>

namespace vantorq {

// $VANTORQ_LOCK_DIR when set and not empty, else /run/lock, else /var/lock.
std::string UucpLockDir();

// "LCK..ttyUSB0" for /dev/ttyUSB0, "LCK..pts_3" for /dev/pts/3: the path
// below /dev with '/' turned into '_'.
std::string UucpLockName(const std::string& devicePath);

class CUucpLock {
 public:
  CUucpLock() = default;
  ~CUucpLock();
  CUucpLock(CUucpLock&& other) noexcept;
  CUucpLock& operator=(CUucpLock&& other) noexcept;
  CUucpLock(const CUucpLock&) = delete;
  CUucpLock& operator=(const CUucpLock&) = delete;

  // Takes the lock for the device behind `path` (links resolved). 0 on
  // success, also when there is no lock folder this process may write to
  // (then nothing is taken, and flock and TIOCEXCL are all there is).
  // EBUSY when a live process holds it, with `holder` saying which; a lock
  // left by a process that no longer exists is removed and taken over.
  int Acquire(const std::string& path, std::string& holder);
  // The same for a lock file named outright ("LCK..net_gw:4001"): a line
  // that is no file of its own.
  int AcquireName(const std::string& name, std::string& holder);
  void Release();
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

}  // namespace vantorq
