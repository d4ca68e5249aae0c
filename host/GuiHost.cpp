#include "GuiHost.h"

#include <algorithm>
#include <cstring>

#include "ModuleCall.h"

GuiHost::GuiHost(int32_t pin_count, Echo echo)
    : m_pins(static_cast<size_t>(std::max(pin_count, 0))), m_echo(echo) {}

QXWord GuiHost::Callback(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  auto* gui = static_cast<QXGuiStruct*>(record);
  if (gui == nullptr || gui->host_data == 0) return 0;
  return reinterpret_cast<GuiHost*>(gui->host_data)->Answer(record, opcode, index, value, ptr, opt);
}

GuiHost::Pin* GuiHost::Find(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= m_pins.size()) return nullptr;
  return &m_pins[static_cast<size_t>(index)];
}

QXWord GuiHost::Answer(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  ++m_call_count;
  m_log.Add(HostCall{record, opcode, index, value, ptr, opt});
  Pin* pin = Find(index);
  switch (opcode) {
    case GUIHOST_OP_READ_PIN_VALUE:
      if (pin != nullptr && ptr != nullptr) std::memcpy(ptr, &pin->bits, sizeof pin->bits);
      return 0;
    case GUIHOST_OP_WRITE_PIN_VALUE:
      if (pin == nullptr) return 0;
      if (pin->type == PinType::FLOAT) {
        std::memcpy(&pin->bits, &opt, sizeof opt);
      } else {
        std::memcpy(&pin->bits, &value, sizeof value);
      }
      Written(index);
      return 0;
    case GUIHOST_OP_READ_PIN_TEXT:
      return pin != nullptr ? reinterpret_cast<QXWord>(pin->text.c_str()) : 0;
    case GUIHOST_OP_READ_PIN_TEXT_W: {
      if (pin == nullptr) return 0;
      const auto units = static_cast<int32_t>(pin->wide.size() + 1);
      if (value > 0 && ptr != nullptr) {
        // Copies what fits, and always terminates inside the caller's buffer.
        const auto n = static_cast<size_t>(std::min(value, units));
        std::memcpy(ptr, pin->wide.c_str(), (n - 1) * sizeof(char16_t));
        static_cast<char16_t*>(ptr)[n - 1] = u'\0';
      }
      return units;
    }
    case GUIHOST_OP_WRITE_PIN_TEXT:
      if (pin != nullptr && ptr != nullptr) pin->text = static_cast<const char*>(ptr);
      return 0;
    default:
      return 0;
  }
}

void GuiHost::Written(int32_t pin) {
  if (m_record == nullptr) return;
  if (m_echo == Echo::EVERY) {
    Report(pin);
    return;
  }
  if (m_in_echo) return;
  if (m_echo == Echo::IMMEDIATE) {
    m_in_echo = true;
    Report(pin);
    m_in_echo = false;
  } else if (m_echo == Echo::DEFERRED) {
    m_deferred.push_back(pin);
  }
}

QXWord GuiHost::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  if (m_record == nullptr) return 0;
  const ModuleCall call(ModuleCall::Entry::GUI_DISPATCH, opcode, index);
  return m_record->dispatch_entry(m_record, opcode, index, value, ptr, opt);
}

void GuiHost::Report(int32_t pin) {
  Dispatch(GUI_OP_PIN_VALUE_CHANGED, pin);
  if (!m_in_echo) RunDeferred();
}

void GuiHost::RunDeferred() {
  m_in_echo = true;
  while (!m_deferred.empty()) {
    const int32_t pin = m_deferred.front();
    m_deferred.pop_front();
    Dispatch(GUI_OP_PIN_VALUE_CHANGED, pin);
  }
  m_in_echo = false;
}

void GuiHost::EditFloat(int32_t pin, float value) {
  SetFloat(pin, value);
  Report(pin);
}

void GuiHost::EditInt(int32_t pin, int32_t value) {
  SetInt(pin, value);
  Report(pin);
}

QXWord GuiHost::Close() {
  const QXWord result = Dispatch(GUI_OP_CLOSE);
  m_record = nullptr;
  return result;
}

void GuiHost::SetFloat(int32_t pin, float value) {
  std::memcpy(&m_pins.at(static_cast<size_t>(pin)).bits, &value, sizeof value);
}

void GuiHost::SetInt(int32_t pin, int32_t value) {
  std::memcpy(&m_pins.at(static_cast<size_t>(pin)).bits, &value, sizeof value);
}

float GuiHost::Float(int32_t pin) const {
  float value;
  std::memcpy(&value, &m_pins.at(static_cast<size_t>(pin)).bits, sizeof value);
  return value;
}

int32_t GuiHost::Int(int32_t pin) const {
  int32_t value;
  std::memcpy(&value, &m_pins.at(static_cast<size_t>(pin)).bits, sizeof value);
  return value;
}
