#include "GuiModule.h"

#include <cmath>

#include "QXGuiPin.h"

GuiModule::GuiModule(::qxaudioMaster callback, QXWord host_data)
    // Every field has a value before the first host call, and the guard is
    // set during it: a host that reports a pin change from inside the read of
    // "Vref" is ignored, as it would be inside any other read.
    : QXGUI_base(callback, host_data),
      m_voltage(0.0f),
      m_db(0.0f),
      m_vref(0.0f),
      m_busy(true),
      m_mode(MODE_VOLTAGE_TO_DB) {
  UseEntryOf(this);
  m_vref = GetPin(PIN_VREF)->GetValueFloat();
  // Start at the reference's 0 dB point: the pair is consistent, so a "Vref"
  // change before any edit gives a finite level instead of one computed from
  // an arbitrary voltage.
  m_voltage = m_vref;
  m_db = 0.0f;
  m_busy = false;
}

float GuiModule::VoltageToDb(float voltage, float vref) {
  const double quotient = static_cast<double>(voltage) / static_cast<double>(vref);
  return static_cast<float>(std::log10(quotient) * 20.0f);
}

float GuiModule::DbToVoltage(float db, float vref) {
  const double exponent = static_cast<double>(db) / 20.0f;
  return static_cast<float>(std::pow(10.0, exponent) * static_cast<double>(vref));
}

void GuiModule::OnPinValueChanged(QXGuiPin* pin) {
  // The host may report our own write back from inside that write.
  if (m_busy) return;
  m_busy = true;
  // Cleared on every way out, a host callback that throws included.
  struct BusyGuard {
    bool& busy;
    ~BusyGuard() { busy = false; }
  } guard{m_busy};

  // The edited pins first: as a chain in this order the compiler keeps their
  // path shorter than a switch does.
  const int32_t index = pin->GetIndex();
  if (index == PIN_VOLTAGE) {
    m_voltage = GetPin(PIN_VOLTAGE)->GetValueFloat();
    m_mode = MODE_VOLTAGE_TO_DB;
  } else if (index == PIN_DB) {
    m_db = GetPin(PIN_DB)->GetValueFloat();
    m_mode = MODE_DB_TO_VOLTAGE;
  } else if (index == PIN_VREF) {
    m_vref = GetPin(PIN_VREF)->GetValueFloat();
  }

  if (m_mode == MODE_VOLTAGE_TO_DB) {
    m_db = VoltageToDb(m_voltage, m_vref);
    GetPin(PIN_DB)->SetValueFloat(m_db);
  } else {
    m_voltage = DbToVoltage(m_db, m_vref);
    GetPin(PIN_VOLTAGE)->SetValueFloat(m_voltage);
  }
}
