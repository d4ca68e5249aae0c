#include "GainGui.h"

#include <algorithm>
#include <cmath>

#include "GainModule.h"

void GainGui::OnPinValueChanged(QXGuiPin* pin) {
  if (m_busy || pin->GetIndex() != GAIN_PIN) return;
  // Cleared however the call ends, a host callback that throws included.
  struct Busy {
    bool& flag;
    explicit Busy(bool& f) : flag(f) { flag = true; }
    ~Busy() { flag = false; }
  } busy(m_busy);
  const float db = pin->GetValueFloat();
  const float held = std::isnan(db) ? 0.0f : std::min(std::max(db, GainModule::MIN_DB), GainModule::MAX_DB);
  if (held != db) pin->SetValueFloat(held);
}
