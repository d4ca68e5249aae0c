#include "QXModule_base.h"

#include <cstring>
#include <new>

#include "QXPin.h"

#define QX_CONTRACT_FILE "..\\qx_sdk2\\QXModule_base"
#include "QXContract.h"

namespace {

// The one description answered to DSP_OP_GET_PROCESS_INFO, shared by all
// instances: the host reads it before it asks again.
QXProcessFunctionInfo s_process_info;

// First and second word of a member-function pointer.
struct MemberWords {
  uintptr_t code;
  uintptr_t adjustment;
};

template <class F>
MemberWords WordsOf(F f) {
  static_assert(sizeof(F) == sizeof(MemberWords), "two-word member-function pointer");
  MemberWords words;
  std::memcpy(&words, &f, sizeof words);
  return words;
}

}  // namespace

QXModule_base::QXModule_base(::qxaudioMaster callback, QXWord host_data)
    : qxaudioMaster(callback), m_pins(nullptr) {
  std::memset(&m_module_struct, 0, sizeof m_module_struct);
  m_module_struct.magic = QX_MAGIC_DSP;
  m_process_function = &QXModule_base::ProcessNothing;
  m_module_struct.process_entry = reinterpret_cast<QXProcessEntry>(WordsOf(m_process_function).code);
  m_module_struct.event_entry = &EventEntry;
  m_module_struct.dispatch_entry = &DispatchEntry;
  m_module_struct.host_data = host_data;
  m_module_struct.object = this;
  m_module_struct.version = QX_RECORD_VERSION;
  m_sample_rate = 44100.0f;
  m_block_size = 1024;
}

QXModule_base::~QXModule_base() { ReleasePins(); }

void QXModule_base::ReleasePins() {
  delete[] m_pins;  // destroys the pins from the last to the first
  m_pins = nullptr;
  m_pin_count = 0;
}

QXWord QXModule_base::DispatchEntry(QXModuleStruct* record, int32_t opcode, int32_t index, int32_t value,
                                    void* ptr, float opt) noexcept {
  if (!QX_CHECK(record != 0 && record->object != 0)) return 0;
  // Nothing may unwind into the host; an operation that throws answers 0.
  try {
    return static_cast<QXModule_base*>(record->object)->Dispatch(opcode, index, value, ptr, opt);
  } catch (...) {
    return 0;
  }
}

void QXModule_base::EventEntry(void* object, QXEvent* e) noexcept {
  if (!QX_CHECK(object != 0 && e != 0)) return;
  try {
    static_cast<QXModule_base*>(object)->OnEvent(e);
  } catch (...) {
  }
}

QXWord QXModule_base::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  switch (opcode) {
    case DSP_OP_OPEN:
      Open();
      return 0;
    case DSP_OP_CLOSE:
      Close();
      delete this;
      return 1;
    case DSP_OP_CHANGE_SAMPLE_RATE:
      SetSampleRate(opt);
      return 0;
    case DSP_OP_CHANGE_BLOCK_SIZE:
      SetBlockSize(value);
      return 0;
    case DSP_OP_GET_PIN_PROPERTIES: {
      auto* p = static_cast<QXPinProperties*>(ptr);
      if (!QX_CHECK(p != 0)) return 0;
      const bool described = GetPinProperties(index, p);
      if (!QX_CHECK(!(p->flags & IO_PATCH_STORE) || (p->flags & IO_PRIVATE) || p->direction == DR_OUT ||
                    (p->flags & IO_UI_COMMUNICATION)))
        return 0;
      return described ? 1 : 0;
    }
    case 7:
    case 10:
      // Retired opcodes: a host that still sends them breaks the contract.
      static_cast<void>(QX_CHECK(false));
      return 0;
    case DSP_OP_NOTIFY:
      OnNotify();
      if (index > 0) OnNotifyIndex(index);
      return 0;
    case DSP_OP_MESSAGE:
      OnMessage(value, index, ptr);
      return 0;
    case DSP_OP_GET_PROCESS_INFO:
      s_process_info.kind = QX_PROCESS_INFO_KIND;
      s_process_info.size = static_cast<int32_t>(sizeof m_process_function);
      s_process_info.address = &m_process_function;
      s_process_info.tag = QX_PROCESS_INFO_TAG;
      return reinterpret_cast<QXWord>(&s_process_info);
    default:
      return 0;
  }
}

QXWord QXModule_base::CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  if (qxaudioMaster == nullptr) return 0;
  return qxaudioMaster(&m_module_struct, opcode, index, value, ptr, opt);
}

uint32_t QXModule_base::SampleClock() {
  return static_cast<uint32_t>(CallHost(HOST_OP_GET_SAMPLE_CLOCK, 0, 0, nullptr, 0.0f));
}

bool QXModule_base::QueryPinProperties(int32_t index, QXPinProperties* properties) {
  std::memset(properties, 0, sizeof *properties);
  return GetPinProperties(index, properties);
}

QXPin* QXModule_base::GetPin(int32_t index) {
  if (!QX_CHECK(m_pins != 0)) return nullptr;
  // A pin id past the array would reach memory that is not a pin.
  if (!QX_CHECK(index >= 0 && index < m_pin_count)) return nullptr;
  return &m_pins[index];
}

void QXModule_base::Open() {
  // A second open rebuilds the pins instead of leaking the first array.
  ReleasePins();
  const QXWord answer = CallHost(HOST_OP_GET_PIN_COUNT, 0, 0, nullptr, 0.0f);
  // A count past MAX_PINS is no real module's: it would only make the instance
  // allocate without bound.
  int32_t count = answer > 0 ? static_cast<int32_t>(answer < MAX_PINS ? answer : MAX_PINS) : 0;
  if (count > 0) {
    // Without memory for the pins the instance runs without pins, as with a
    // count of 0; nothing unwinds into the host.
    m_pins = new (std::nothrow) QXPin[static_cast<size_t>(count)];
    if (m_pins == nullptr) count = 0;
    m_pin_count = count;
  }

  const auto gui_only = [](const QXPinProperties& p) {
    return (p.flags & IO_UI_COMMUNICATION) && !(p.flags & IO_UI_DSP_SHARED);
  };
  QXPinProperties description;
  int32_t i = 0, n = 0;
  while (QueryPinProperties(i, &description)) {
    if (n >= count) break;
    if (!gui_only(description)) {
      m_pins[n].Init(this, n, description.datatype, description.variable_address);
      ++n;
    }
    ++i;
  }

  // The last description may repeat up to the host's count, each repeat with
  // its own storage.
  QueryPinProperties(i - 1, &description);
  if (gui_only(description) || !(description.flags & IO_REPEATING)) return;
  for (; n < count; ++n) m_pins[n].Init(this, n, description.datatype, nullptr);
}

void QXModule_base::SetProcessFunction(QXProcessFunction f) {
  const MemberWords next = WordsOf(f), current = WordsOf(m_process_function);
  if (next.code == current.code && (next.code == 0 || next.adjustment == current.adjustment)) return;
  m_process_function = f;
  m_module_struct.process_entry = reinterpret_cast<QXProcessEntry>(CodeAddress(next.code));
  if (qxaudioMaster != nullptr) CallHost(HOST_OP_PROCESS_FUNCTION_CHANGED, 0, 0, nullptr, 0.0f);
}

uintptr_t QXModule_base::CodeAddress(uintptr_t first_word) const {
  if ((first_word & 1u) == 0) return first_word;
  // A virtual function: its table offset plus 1, resolved on this object.
  uintptr_t table;
  std::memcpy(&table, static_cast<const void*>(this), sizeof table);
  uintptr_t code;
  std::memcpy(&code, reinterpret_cast<const void*>(table + first_word - 1), sizeof code);
  return code;
}

void QXModule_base::OnEvent(QXEvent* e) {
  if (!QX_CHECK(e->time_stamp == SampleClock())) return;
  switch (e->event_type) {
    case ET_PIN_STATUS:
      if (QXPin* pin = GetPin(static_cast<int32_t>(e->arg3)))
        pin->OnStatusUpdate(static_cast<int32_t>(e->arg1));
      break;
    case ET_DATA:
      OnDataEvent(e->time_stamp, static_cast<int32_t>(e->arg1),
                  static_cast<int16_t>(static_cast<uint16_t>(e->arg2 & 0xFFFF)));
      break;
    case ET_RUN_FUNCTION: {
      const auto word = static_cast<uintptr_t>(e->arg3);
      // 0 names no code: no post of a member function gives it.
      if (!QX_CHECK(word != 0)) break;
      reinterpret_cast<QXRunEntry>(CodeAddress(word))(this);
      break;
    }
    default:
      break;
  }
}

void QXModule_base::AddEvent(uint32_t p_time_stamp, int32_t event_type, QXWord arg1, QXWord arg2,
                             QXWord arg3) {
  PostEvent(p_time_stamp, event_type, arg1, arg2, arg3);
}

void QXModule_base::PostRunFunction(uint32_t p_time_stamp, uintptr_t word) {
  PostEvent(p_time_stamp, ET_RUN_FUNCTION, 0, 0, static_cast<QXWord>(word));
}

void QXModule_base::PostEvent(uint32_t p_time_stamp, int32_t event_type, QXWord arg1, QXWord arg2,
                              QXWord arg3) {
  if (qxaudioMaster == nullptr) return;
  if (!QX_CHECK(p_time_stamp >= SampleClock())) return;
  QXEvent e{p_time_stamp, event_type, arg1, arg2, arg3, 0};
  CallHost(HOST_OP_ADD_EVENT, 0, 0, &e, 0.0f);
}
