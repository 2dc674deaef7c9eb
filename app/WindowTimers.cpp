#include "WindowTimers.h"

#include <QTimerEvent>

namespace vantorq {

CWindowTimers::CWindowTimers(std::function<void(int)> onTimer, QObject* parent)
    : QObject(parent), m_onTimer(std::move(onTimer)) {}

bool CWindowTimers::Valid(int id) { return id >= 0 && id < 8; }

void CWindowTimers::SetTimer(int id, int periodMs) {
  if (!Valid(id)) return;
  if (m_timers[id] != 0) killTimer(m_timers[id]);
  // Precise: a coarse Qt timer may fire up to 5% early, and the search
  // windows are promised to the device in full.
  m_timers[id] = startTimer(periodMs, Qt::PreciseTimer);
  m_periods[id] = periodMs;
}

void CWindowTimers::KillTimer(int id) {
  if (!Valid(id) || m_timers[id] == 0) return;
  killTimer(m_timers[id]);
  m_timers[id] = 0;
}

bool CWindowTimers::Running(int id) const { return Valid(id) && m_timers[id] != 0; }

int CWindowTimers::Period(int id) const { return Valid(id) ? m_periods[id] : 0; }

void CWindowTimers::timerEvent(QTimerEvent* event) {
  for (int id = 0; id < static_cast<int>(m_timers.size()); ++id) {
    if (m_timers[id] == event->timerId()) {
      m_onTimer(id);
      return;
    }
  }
  QObject::timerEvent(event);
}

}  // namespace vantorq
