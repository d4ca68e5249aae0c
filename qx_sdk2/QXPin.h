// One DSP-side pin: knows its instance, its id (its position among the
// instance's pins), its data type and where its value lives.
#ifndef QX_SDK2_QXPIN_H
#define QX_SDK2_QXPIN_H

#include <cstdint>

class QXModule_base;

class QXPin {
 public:
  QXPin() = default;
  virtual ~QXPin() = default;
  QXPin(const QXPin&) = delete;
  QXPin& operator=(const QXPin&) = delete;

  // Binds the pin; without a variable it uses its own storage, which for an
  // audio pin holds the buffer address fetched from the host.
  void Init(QXModule_base* module, int32_t id, int32_t datatype, void* variable);
  // The host's new status (ET_PIN_STATUS). Status 1 is momentary: the module
  // sees it during OnPinStatusChange and the pin reads 0 afterwards.
  void OnStatusUpdate(int32_t status);
  // Reports the pin's status to the host, effective at `sampleclock`.
  void TransmitStatusChange(uint32_t sampleclock, int32_t status);
  void NotifyHost(uint32_t word, int32_t value);
  bool QueryHost();
  // The audio sample at the current sample clock.
  float SampleValue();
  // An audio pin's sample buffer: the address the host gave (through the
  // module's variable, or fetched at open). Null for other pins and when the
  // host gave none. The host keeps it in place, so a module may keep it too.
  float* SampleBuffer() const;

  QXModule_base* Module() const { return m_module; }
  int32_t Id() const { return m_id; }
  int32_t Status() const { return m_status; }
  int32_t DataType() const { return m_datatype; }
  void* VariablePtr() const { return m_variable_ptr; }

 private:
  // The pin's own value, by data type; wide enough for a buffer address.
  union Storage {
    int16_t short_value;
    uint8_t bool_value;
    float float_value;
    int32_t int_value;
    float* buffer;
  };

  void* m_variable_ptr = nullptr;
  QXModule_base* m_module = nullptr;  // null while unbound
  int32_t m_id = -1;
  int32_t m_status = 0;
  int32_t m_datatype = -1;
  Storage m_storage{};
};

#endif  // QX_SDK2_QXPIN_H
