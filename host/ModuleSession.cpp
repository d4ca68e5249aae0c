#include "ModuleSession.h"

#include <cmath>
#include <cstdlib>

bool ModuleSession::DescribePins(const ModuleLibrary& library, std::vector<Pin>* pins, std::string* error) {
  DspHost host(0);
  auto* record = static_cast<QXModuleStruct*>(
      library.MakeModule(0, QX_INSTANCE_DSP, &DspHost::Callback, host.HostData()));
  if (record == nullptr) {
    *error = library.Path() + ": makeModule(0, 1) gave no DSP instance";
    return false;
  }
  host.Attach(record);
  // A list that does not end is cut at its bound: the tool shows what it got.
  PinDescription::ReadList(host, pins);
  host.Close();
  return true;
}

ModuleSession::ModuleSession(std::vector<Pin> pins, GuiHost::Echo echo)
    : m_pins(std::move(pins)),
      m_dsp(PinDescription::DspCount(m_pins)),
      m_gui(static_cast<int32_t>(m_pins.size()), echo) {
  for (const Pin& pin : m_pins) {
    if (pin.datatype != DT_FLOAT) m_gui.SetPinType(pin.index, GuiHost::PinType::INT);
  }
}

std::unique_ptr<ModuleSession> ModuleSession::Start(const ModuleLibrary& library, GuiHost::Echo echo,
                                                    std::string* error) {
  std::vector<Pin> pins;
  if (!DescribePins(library, &pins, error)) return nullptr;
  std::unique_ptr<ModuleSession> session(new ModuleSession(std::move(pins), echo));

  auto* dsp = static_cast<QXModuleStruct*>(
      library.MakeModule(0, QX_INSTANCE_DSP, &DspHost::Callback, session->m_dsp.HostData()));
  if (dsp == nullptr) {
    *error = library.Path() + ": makeModule(0, 1) gave no DSP instance";
    return nullptr;
  }
  session->m_dsp.Attach(dsp);
  session->m_dsp.Open();

  auto* gui = static_cast<QXGuiStruct*>(
      library.MakeModule(0, QX_INSTANCE_GUI, &GuiHost::Callback, session->m_gui.HostData()));
  if (gui == nullptr) {
    *error = library.Path() + ": makeModule(0, 2) gave no GUI instance";
    return nullptr;
  }
  session->m_gui.Attach(gui);
  session->m_gui.Dispatch(GUI_OP_OPEN, 1);
  return session;
}

ModuleSession::~ModuleSession() {
  if (m_gui.Record() != nullptr) m_gui.Close();
  if (m_dsp.Record() != nullptr) m_dsp.Close();
}

int32_t ModuleSession::FindPin(const std::string& name_or_index) const {
  for (const Pin& pin : m_pins) {
    if (pin.name == name_or_index) return pin.index;
  }
  char* end = nullptr;
  const long index = std::strtol(name_or_index.c_str(), &end, 10);
  if (name_or_index.empty() || *end != '\0' || index < 0 || index >= static_cast<long>(m_pins.size()))
    return -1;
  return static_cast<int32_t>(index);
}

bool ModuleSession::IsFloat(int32_t index) const {
  return m_pins.at(static_cast<size_t>(index)).datatype == DT_FLOAT;
}

void ModuleSession::Edit(int32_t index, double value) {
  if (IsFloat(index)) {
    m_gui.EditFloat(index, static_cast<float>(value));
  } else {
    m_gui.EditInt(index, Whole(value));
  }
}

double ModuleSession::Value(int32_t index) const {
  return IsFloat(index) ? static_cast<double>(m_gui.Float(index)) : static_cast<double>(m_gui.Int(index));
}

int32_t ModuleSession::Whole(double value) {
  // The value cut to a whole number in the range of an integer pin.
  if (std::isnan(value)) return 0;
  return static_cast<int32_t>(std::trunc(std::fmin(std::fmax(value, INT32_MIN), INT32_MAX)));
}
