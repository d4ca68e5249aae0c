// The reference host's GUI side: holds one GUI instance's pins (a 4-byte value,
// a narrow text and a 16-bit text each), answers its callback, logs every call
// and reports pin edits to it the way the real host does.
#ifndef HOST_GUIHOST_H
#define HOST_GUIHOST_H

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "HostLog.h"
#include "QXHostInterface.h"

class GuiHost {
 public:
  // When the host reports a pin that the instance itself wrote.
  enum class Echo {
    NONE,       // never
    IMMEDIATE,  // from inside the write call, once: writes made while an echo
                // is handled are not echoed again
    DEFERRED,   // after the instance's handler has returned, once
    EVERY       // from inside the write call, every write, echoes' writes too:
                // the nesting ends only when the instance stops writing back,
                // so whoever drives the host must bound it (the validator does)
  };
  // How a pin stores a written value: the integer or the float argument.
  enum class PinType { FLOAT, INT };

  explicit GuiHost(int32_t pin_count, Echo echo = Echo::NONE);
  GuiHost(const GuiHost&) = delete;
  GuiHost& operator=(const GuiHost&) = delete;

  // What to give makeModule (or a constructor) as callback and host value.
  static QXWord QX_CALL Callback(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt);
  QXWord HostData() { return reinterpret_cast<QXWord>(this); }

  // The instance to report edits to; the host does not own it.
  void Attach(QXGuiStruct* record) { m_record = record; }
  QXGuiStruct* Record() const { return m_record; }

  QXWord Dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                  float opt = 0.0f);
  // The user edits a pin: the value is stored, then reported to the instance.
  void EditFloat(int32_t pin, float value);
  void EditInt(int32_t pin, int32_t value);
  // Reports a pin change without editing (GUI_OP_PIN_VALUE_CHANGED).
  void Report(int32_t pin);
  // Sends GUI_OP_CLOSE and forgets the instance; answers what it answered.
  QXWord Close();

  int32_t PinCount() const { return static_cast<int32_t>(m_pins.size()); }
  void SetPinType(int32_t pin, PinType type) { m_pins.at(static_cast<size_t>(pin)).type = type; }
  void SetFloat(int32_t pin, float value);
  void SetInt(int32_t pin, int32_t value);
  float Float(int32_t pin) const;
  int32_t Int(int32_t pin) const;
  void SetText(int32_t pin, const std::string& text) { m_pins.at(static_cast<size_t>(pin)).text = text; }
  void SetTextW(int32_t pin, const std::u16string& text) { m_pins.at(static_cast<size_t>(pin)).wide = text; }
  const std::string& Text(int32_t pin) const { return m_pins.at(static_cast<size_t>(pin)).text; }

  const std::vector<HostCall>& Log() const { return m_log.All(); }
  void ClearLog() { m_log.Clear(); }
  std::vector<HostCall> Calls(int32_t opcode) const { return m_log.Calls(opcode); }
  void SetLogging(bool on) { m_log.SetEnabled(on); }
  uint64_t CallCount() const { return m_call_count; }

 private:
  struct Pin {
    uint32_t bits = 0;  // the 4-byte value
    PinType type = PinType::FLOAT;
    std::string text;
    std::u16string wide;
  };

  QXWord Answer(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  Pin* Find(int32_t index);
  void Written(int32_t pin);
  void RunDeferred();

  std::vector<Pin> m_pins;
  Echo m_echo;
  QXGuiStruct* m_record = nullptr;
  HostLog m_log;
  uint64_t m_call_count = 0;
  // Echoes are reports of the instance's own writes; but for EVERY, writes
  // made while an echo is handled are not echoed again, so a ping-pong
  // between two pins ends.
  bool m_in_echo = false;
  std::deque<int32_t> m_deferred;
};

#endif  // HOST_GUIHOST_H
