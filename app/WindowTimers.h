#pragma once
// Window timers by id, as the console's window uses them: starting a
// running timer restarts it with the new period.

#include <QObject>

#include <array>
#include <functional>

namespace vantorq {

class CWindowTimers final : public QObject {
 public:
  explicit CWindowTimers(std::function<void(int)> onTimer, QObject* parent = nullptr);

  void SetTimer(int id, int periodMs);
  void KillTimer(int id);
  bool Running(int id) const;
  // The period the timer was last started with, 0 if never.
  int Period(int id) const;

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  static bool Valid(int id);

  std::function<void(int)> m_onTimer;
  // Qt timer ids by window timer id (0: not running).
  std::array<int, 8> m_timers{};
  std::array<int, 8> m_periods{};
};

}  // namespace vantorq
