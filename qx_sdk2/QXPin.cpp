#include "QXPin.h"

#include "QXHostInterface.h"
#include "QXModule_base.h"

#define QX_CONTRACT_FILE "..\\qx_sdk2\\QXPin"
#include "QXContract.h"

void QXPin::Init(QXModule_base* module, int32_t id, int32_t datatype, void* variable) {
  m_module = module;
  m_id = id;
  m_datatype = datatype;
  m_status = QX_PIN_STATUS_NONE;
  if (variable != nullptr) {
    m_variable_ptr = variable;
    m_storage.int_value = 0;
    return;
  }
  switch (datatype) {
    case DT_SHORT:
      m_storage.short_value = 0;
      break;
    case DT_BOOL:
      m_storage.bool_value = 0;
      break;
    case DT_FSAMPLE:
      m_storage.buffer =
          reinterpret_cast<float*>(module->CallHost(HOST_OP_GET_PIN_BUFFER, id, 0, nullptr, 0.0f));
      break;
    case DT_FLOAT:
      m_storage.float_value = 0.0f;
      break;
    case DT_INT:
      m_storage.int_value = 0;
      break;
    default:
      m_variable_ptr = nullptr;  // no storage of its own for other types
      return;
  }
  m_variable_ptr = &m_storage;
}

void QXPin::OnStatusUpdate(int32_t status) {
  // An unbound pin belongs to no module that could hear about it.
  if (m_module == nullptr) return;
  m_status = status;
  m_module->OnPinStatusChange(this);
  if (status == QX_PIN_STATUS_MOMENTARY) m_status = QX_PIN_STATUS_NONE;
}

void QXPin::TransmitStatusChange(uint32_t sampleclock, int32_t status) {
  if (m_module == nullptr) return;
  if (!QX_CHECK(sampleclock >= m_module->SampleClock())) return;
  m_module->CallHost(HOST_OP_PIN_STATUS, m_id, status,
                     reinterpret_cast<void*>(static_cast<uintptr_t>(sampleclock)), 0.0f);
}

void QXPin::NotifyHost(uint32_t word, int32_t value) {
  if (m_module == nullptr) return;
  m_module->CallHost(HOST_OP_PIN_NOTIFY, m_id, value, reinterpret_cast<void*>(static_cast<uintptr_t>(word)),
                     0.0f);
}

bool QXPin::QueryHost() {
  if (m_module == nullptr) return false;
  return m_module->CallHost(HOST_OP_PIN_QUERY, m_id, 0, nullptr, 0.0f) != 0;
}

float QXPin::SampleValue() {
  if (!QX_CHECK(m_datatype == DT_FSAMPLE)) return 0.0f;
  if (m_module == nullptr) return 0.0f;  // an unbound pin has no host to ask
  const auto start =
      static_cast<uint32_t>(m_module->CallHost(HOST_OP_GET_BUFFER_CLOCK, m_id, 0, nullptr, 0.0f));
  const uint32_t clock = m_module->SampleClock();
  const float* buffer = *static_cast<float* const*>(m_variable_ptr);
  if (buffer == nullptr) return 0.0f;  // the host gave no buffer
  // A clock before the buffer's first sample, or a block's length or more
  // after it, has no sample in the buffer: nothing is read outside it.
  const uint32_t index = clock - start;
  const int32_t block = m_module->BlockSize();
  if (block <= 0 || index >= static_cast<uint32_t>(block)) return 0.0f;
  return buffer[index];
}

float* QXPin::SampleBuffer() const {
  if (m_datatype != DT_FSAMPLE || m_variable_ptr == nullptr) return nullptr;
  return *static_cast<float* const*>(m_variable_ptr);
}
