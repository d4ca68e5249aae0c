#include "QXGuiPin.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "QXGUI_base.h"

int32_t QXGuiPin::GetValueInt() {
  int32_t value = 0;
  m_module->CallHost(GUIHOST_OP_READ_PIN_VALUE, m_index, 0, &value, 0.0f);
  return value;
}

float QXGuiPin::GetValueFloat() {
  float value = 0.0f;
  m_module->CallHost(GUIHOST_OP_READ_PIN_VALUE, m_index, 0, &value, 0.0f);
  return value;
}

void QXGuiPin::SetValueInt(int32_t value) {
  m_module->CallHost(GUIHOST_OP_WRITE_PIN_VALUE, m_index, value, nullptr, 0.0f);
}

void QXGuiPin::SetValueFloat(float value) {
  m_module->CallHost(GUIHOST_OP_WRITE_PIN_VALUE, m_index, 0, nullptr, value);
}

void QXGuiPin::SetValueText(const std::string& text) {
  m_module->CallHost(GUIHOST_OP_WRITE_PIN_TEXT, m_index, 0, const_cast<char*>(text.c_str()), 0.0f);
}

std::string QXGuiPin::GetValueText() {
  // A host that answers no address has no text to give: empty.
  const auto address = m_module->CallHost(GUIHOST_OP_READ_PIN_TEXT, m_index, 0, nullptr, 0.0f);
  if (address == 0) return std::string();
  return std::string(reinterpret_cast<const char*>(address));
}

std::u16string QXGuiPin::GetValueTextW() {
  const auto size = m_module->CallHost(GUIHOST_OP_READ_PIN_TEXT_W, m_index, 0, nullptr, 0.0f);
  // No room for even the terminator: no text, and no second request with a
  // buffer the host could not fill. A size past int32_t cannot travel in value.
  if (size <= 0 || size > INT32_MAX) return std::u16string();
  // Zero-filled, and read only up to its end: a host that writes nothing or
  // leaves the text unterminated cannot make us read past the buffer.
  std::vector<char16_t> buffer(static_cast<size_t>(size), u'\0');
  m_module->CallHost(GUIHOST_OP_READ_PIN_TEXT_W, m_index, static_cast<int32_t>(size), buffer.data(), 0.0f);
  return std::u16string(buffer.begin(), std::find(buffer.begin(), buffer.end(), u'\0'));
}
