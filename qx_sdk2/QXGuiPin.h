// Handle through which GUI code reads and writes one pin's value; every access
// is a request to the host through the owning instance.
#ifndef QX_SDK2_QXGUIPIN_H
#define QX_SDK2_QXGUIPIN_H

#include <cstdint>
#include <string>

class QXGUI_base;

class QXGuiPin {
 public:
  QXGuiPin() = default;
  QXGuiPin(int32_t index, QXGUI_base* module) : m_index(index), m_module(module) {}

  int32_t GetIndex() const { return m_index; }

  // Value reads let the host fill 4 bytes; 0 if the host writes nothing.
  int32_t GetValueInt();
  float GetValueFloat();
  void SetValueInt(int32_t value);
  void SetValueFloat(float value);

  // Text values; these allocate, the value accessors above never do.
  void SetValueText(const std::string& text);
  std::string GetValueText();
  std::u16string GetValueTextW();

 private:
  int32_t m_index = 0;
  QXGUI_base* m_module = nullptr;
};

#endif  // QX_SDK2_QXGUIPIN_H
