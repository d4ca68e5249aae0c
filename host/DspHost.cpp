#include "DspHost.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "ModuleCall.h"

namespace {

// What the host keeps in the samples a module must not write while watched: a
// quiet NaN with a payload no arithmetic makes, compared bit for bit.
constexpr uint32_t PATTERN = 0x7FC5A5A5u;

void Fill(float* samples, size_t count) {
  for (size_t i = 0; i < count; ++i) std::memcpy(samples + i, &PATTERN, sizeof PATTERN);
}

// A sample's bits, read where it lies (never as a float value, which could
// change a NaN's bits on the way).
uint32_t BitsAt(const float* sample) {
  uint32_t bits;
  std::memcpy(&bits, sample, sizeof bits);
  return bits;
}

// The first sample in [0, count) that is not the pattern, or -1.
long FirstChanged(const float* samples, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (BitsAt(samples + i) != PATTERN) return static_cast<long>(i);
  }
  return -1;
}

// The first sample in [from, to) where two blocks differ bit for bit, or -1.
long FirstDifference(const float* a, const float* b, int32_t from, int32_t to) {
  for (int32_t i = from; i < to; ++i) {
    if (BitsAt(a + i) != BitsAt(b + i)) return i;
  }
  return -1;
}

template <class T>
T Clamped(double value) {
  if (std::isnan(value)) return 0;
  const double low = static_cast<double>(std::numeric_limits<T>::min());
  const double high = static_cast<double>(std::numeric_limits<T>::max());
  return static_cast<T>(std::trunc(std::min(std::max(value, low), high)));
}

}  // namespace

DspHost::DspHost(int32_t pin_count, int32_t block_size, int32_t capacity)
    : m_pin_count(std::max(pin_count, 0)),
      m_block_size(std::max(block_size, 1)),
      m_capacity(std::max(capacity, m_block_size)),
      m_storage(static_cast<size_t>(m_pin_count) * static_cast<size_t>(m_capacity + 2 * GUARD)),
      m_pins(static_cast<size_t>(m_pin_count)) {}

AudioBuffer DspHost::Buffer(int32_t id) {
  if (id < 0 || id >= m_pin_count) throw std::out_of_range("DspHost::Buffer: no pin " + std::to_string(id));
  const size_t start = static_cast<size_t>(id) * static_cast<size_t>(m_capacity + 2 * GUARD) + GUARD;
  return AudioBuffer(m_storage.data() + start, static_cast<size_t>(m_capacity));
}

QXWord DspHost::Callback(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  auto* dsp = static_cast<QXModuleStruct*>(record);
  if (dsp == nullptr || dsp->host_data == 0) return 0;
  return reinterpret_cast<DspHost*>(dsp->host_data)->Answer(record, opcode, index, value, ptr, opt);
}

QXWord DspHost::Answer(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  m_log.Add(HostCall{record, opcode, index, value, ptr, opt});
  const bool pin = index >= 0 && index < m_pin_count;
  switch (opcode) {
    case HOST_OP_GET_PIN_COUNT:
      return m_pin_count;
    case HOST_OP_GET_SAMPLE_CLOCK:
      // The clock travels as an unsigned 32-bit word.
      return static_cast<QXWord>(static_cast<uintptr_t>(m_clock));
    case HOST_OP_GET_PIN_BUFFER:
      return pin ? reinterpret_cast<QXWord>(Buffer(index).data()) : 0;
    case HOST_OP_GET_BUFFER_CLOCK:
      return static_cast<QXWord>(static_cast<uintptr_t>(m_buffer_clock));
    case HOST_OP_ADD_EVENT:
      // The record is the instance's: copy it during the call.
      if (ptr != nullptr && TakePost(*static_cast<const QXEvent*>(ptr)) &&
          !Post(*static_cast<const QXEvent*>(ptr)))
        ++m_refused_events;
      return 0;
    case HOST_OP_PROCESS_FUNCTION_CHANGED:
      if (m_record != nullptr) m_process_entry = m_record->process_entry;
      return 0;
    case HOST_OP_SLEEP:
      ++m_sleep_requests;
      return 0;
    case HOST_OP_PIN_QUERY:
      return m_query_answer;
    default:
      return 0;
  }
}

bool DspHost::Post(const QXEvent& event) {
  if (m_events.size() >= MAX_PENDING_EVENTS) return false;
  m_events.push_back(event);
  return true;
}

void DspHost::Attach(QXModuleStruct* record) {
  m_record = record;
  m_process_entry = record != nullptr ? record->process_entry : nullptr;
}

// Marks the call into the instance that is running, restoring the outer one.
class DspHost::EntryScope {
 public:
  EntryScope(DspHost& host, Entry entry, int32_t a, int32_t b)
      : m_host(host), m_entry(host.m_entry), m_args{host.m_entry_args[0], host.m_entry_args[1]} {
    host.m_entry = entry;
    host.m_entry_args[0] = a;
    host.m_entry_args[1] = b;
  }
  ~EntryScope() {
    m_host.m_entry = m_entry;
    m_host.m_entry_args[0] = m_args[0];
    m_host.m_entry_args[1] = m_args[1];
  }
  EntryScope(const EntryScope&) = delete;
  EntryScope& operator=(const EntryScope&) = delete;

 private:
  DspHost& m_host;
  Entry m_entry;
  int32_t m_args[2];
};

QXWord DspHost::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  if (m_record == nullptr) return 0;
  const EntryScope entry(*this, Entry::DISPATCH, opcode, 0);
  const ModuleCall call(ModuleCall::Entry::DSP_DISPATCH, opcode, index);
  return m_record->dispatch_entry(m_record, opcode, index, value, ptr, opt);
}

bool DspHost::TakePost(const QXEvent& event) {
  const auto before = [](uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; };
  const uint32_t t = event.time_stamp;
  if (!before(t, m_clock) && (t == m_clock || !before(t, m_processed_to))) return true;
  std::string call;
  switch (m_entry) {
    case Entry::PROCESS:
      call = "process_entry(offset " + std::to_string(m_entry_args[0]) + ", count " +
             std::to_string(m_entry_args[1]) + ")";
      break;
    case Entry::EVENT:
      call = "event_entry(event type " + std::to_string(m_entry_args[0]) + ")";
      break;
    case Entry::DISPATCH:
      call = "dispatch_entry(opcode " + std::to_string(m_entry_args[0]) + ")";
      break;
    case Entry::NONE:
      call = "a call outside the host's";
      break;
  }
  Late(call + " at clock " + std::to_string(m_clock) + " posted an event (type " +
       std::to_string(event.event_type) + ") for clock " + std::to_string(t) +
       (before(t, m_clock) ? ", already past" : ", inside the stretch that call processes"));
  return false;
}

void DspHost::Late(const std::string& what) {
  if (m_late_events++ == 0) m_first_late = what;
}

bool DspHost::Describe() {
  const bool ended = PinDescription::ReadList(*this, &m_descriptions);
  std::fill(m_pins.begin(), m_pins.end(), DspPin{});
  const std::vector<int32_t> ids = PinDescription::DspIds(m_descriptions);
  int32_t next = 0;
  for (size_t i = 0; i < m_descriptions.size(); ++i) {
    const int32_t id = ids[i];
    if (id < 0 || id >= m_pin_count) continue;
    const PinDescription& d = m_descriptions[i];
    m_pins[static_cast<size_t>(id)] = DspPin{d.direction, d.datatype, d.variable_address};
    next = id + 1;
  }
  // The last description may repeat up to the pin count, each repeat with
  // storage of its own.
  if (!m_descriptions.empty()) {
    const PinDescription& last = m_descriptions.back();
    if (!last.GuiOnly() && (last.flags & IO_REPEATING) != 0) {
      for (int32_t id = next; id < m_pin_count; ++id)
        m_pins[static_cast<size_t>(id)] = DspPin{last.direction, last.datatype, nullptr};
    }
  }
  // An audio pin's variable holds its buffer's address, which the host fills.
  for (int32_t id = 0; id < m_pin_count; ++id) {
    const DspPin& p = m_pins[static_cast<size_t>(id)];
    if (p.datatype == DT_FSAMPLE && p.variable != nullptr) {
      float* buffer = Buffer(id).data();
      std::memcpy(p.variable, &buffer, sizeof buffer);
    }
  }
  if (m_watch) WatchOutputs(true);
  return ended;
}

void DspHost::Open() {
  Dispatch(DSP_OP_CHANGE_BLOCK_SIZE, 0, m_block_size);
  Dispatch(DSP_OP_CHANGE_SAMPLE_RATE, 0, 0, nullptr, m_sample_rate);
  Dispatch(DSP_OP_OPEN);
}

QXWord DspHost::Close() {
  const QXWord result = Dispatch(DSP_OP_CLOSE);
  m_record = nullptr;
  m_process_entry = nullptr;
  m_events.clear();
  m_values.clear();
  return result;
}

bool DspHost::SetFormat(float sample_rate, int32_t block_size) {
  if (!(sample_rate > 0.0f) || !std::isfinite(sample_rate) || block_size < 1 || block_size > m_capacity)
    return false;
  if (m_watch) CheckOutsideBlocks();
  const int32_t previous = m_block_size;
  m_sample_rate = sample_rate;
  m_block_size = block_size;
  if (m_watch) {
    // Samples that join the block start as silence, not as the host's pattern.
    for (int32_t id = 0; id < m_pin_count; ++id) {
      if (!IsWatched(id) || block_size <= previous) continue;
      std::fill(Buffer(id).data() + previous, Buffer(id).data() + block_size, 0.0f);
    }
    FillOutsideBlocks();
  }
  Dispatch(DSP_OP_CHANGE_SAMPLE_RATE, 0, 0, nullptr, m_sample_rate);
  Dispatch(DSP_OP_CHANGE_BLOCK_SIZE, 0, m_block_size);
  return true;
}

bool DspHost::TakesValue(int32_t id) const {
  if (id < 0 || id >= m_pin_count) return false;
  const DspPin& p = m_pins[static_cast<size_t>(id)];
  const bool value_type =
      p.datatype == DT_FLOAT || p.datatype == DT_INT || p.datatype == DT_SHORT || p.datatype == DT_BOOL;
  return p.variable != nullptr && value_type;
}

bool DspHost::SetPinValue(int32_t id, double value, uint32_t clock) {
  if (!TakesValue(id)) return false;
  if (static_cast<int32_t>(clock - m_clock) < 0) return false;
  m_values.push_back(PinValue{clock, id, value});
  return true;
}

void DspHost::WriteVariable(const PinValue& change) {
  const DspPin& p = m_pins[static_cast<size_t>(change.id)];
  switch (p.datatype) {
    case DT_FLOAT: {
      const auto single = static_cast<float>(change.value);
      std::memcpy(p.variable, &single, sizeof single);
      break;
    }
    case DT_INT: {
      const auto whole = Clamped<int32_t>(change.value);
      std::memcpy(p.variable, &whole, sizeof whole);
      break;
    }
    case DT_SHORT: {
      const auto whole = Clamped<int16_t>(change.value);
      std::memcpy(p.variable, &whole, sizeof whole);
      break;
    }
    default: {
      const uint8_t flag = change.value != 0.0 ? 1 : 0;
      std::memcpy(p.variable, &flag, sizeof flag);
      break;
    }
  }
}

void DspHost::Process(int32_t offset, int32_t count) {
  if (count <= 0 || m_record == nullptr || m_process_entry == nullptr) return;
  const EntryScope entry(*this, Entry::PROCESS, offset, count);
  const ModuleCall call(ModuleCall::Entry::PROCESS, offset, count);
  m_processed_to = m_clock + static_cast<uint32_t>(count);
  if (!m_watch) {
    m_process_entry(m_record->object, offset, count);
    return;
  }
  const auto block = static_cast<size_t>(m_block_size);
  for (int32_t id = 0, k = 0, i = 0; id < m_pin_count; ++id) {
    if (IsWatched(id))
      std::memcpy(m_before.data() + static_cast<size_t>(k++) * block, Buffer(id).data(),
                  block * sizeof(float));
    if (IsInput(id))
      std::memcpy(m_inputs_before.data() + static_cast<size_t>(i++) * block, Buffer(id).data(),
                  block * sizeof(float));
  }
  m_process_entry(m_record->object, offset, count);
  for (int32_t id = 0, i = 0; id < m_pin_count; ++id) {
    if (!IsInput(id)) continue;
    const long at = FirstDifference(m_inputs_before.data() + static_cast<size_t>(i++) * block,
                                    Buffer(id).data(), 0, m_block_size);
    if (at >= 0 && m_input_writes++ == 0)
      m_first_input_write = "process_entry(offset " + std::to_string(offset) + ", count " +
                            std::to_string(count) + ") wrote input pin " + std::to_string(id) +
                            " at sample " + std::to_string(at) + " (block size " +
                            std::to_string(m_block_size) + ")";
  }
  for (int32_t id = 0, k = 0; id < m_pin_count; ++id) {
    if (!IsWatched(id)) continue;
    const float* before = m_before.data() + static_cast<size_t>(k++) * block;
    const float* now = Buffer(id).data();
    long at = FirstDifference(before, now, 0, offset);
    if (at < 0) at = FirstDifference(before, now, offset + count, m_block_size);
    if (at >= 0) {
      Stray(id, at,
            "process_entry(offset " + std::to_string(offset) + ", count " + std::to_string(count) + ")",
            "outside its stretch");
    }
  }
}

void DspHost::Stray(int32_t id, long sample, const std::string& call, const char* where) {
  if (m_stray_writes++ > 0) return;
  m_first_stray = call + " wrote output pin " + std::to_string(id) + " at sample " + std::to_string(sample) +
                  " (" + where + ", block size " + std::to_string(m_block_size) + ")";
}

bool DspHost::IsInput(int32_t id) const {
  const DspPin& p = m_pins[static_cast<size_t>(id)];
  return p.datatype == DT_FSAMPLE && p.direction != DR_OUT;
}

bool DspHost::IsWatched(int32_t id) const {
  const DspPin& p = m_pins[static_cast<size_t>(id)];
  return p.datatype == DT_FSAMPLE && p.direction == DR_OUT;
}

void DspHost::WatchOutputs(bool on) {
  m_watch = on;
  if (!on) return;
  size_t watched = 0, inputs = 0;
  for (int32_t id = 0; id < m_pin_count; ++id) {
    watched += IsWatched(id) ? 1u : 0u;
    inputs += IsInput(id) ? 1u : 0u;
  }
  m_before.assign(watched * static_cast<size_t>(m_capacity), 0.0f);
  m_inputs_before.assign(inputs * static_cast<size_t>(m_capacity), 0.0f);
  FillOutsideBlocks();
}

size_t DspHost::PastBlock() const {
  return static_cast<size_t>(m_capacity) - static_cast<size_t>(m_block_size) + static_cast<size_t>(GUARD);
}

void DspHost::FillOutsideBlocks() {
  for (int32_t id = 0; id < m_pin_count; ++id) {
    if (!IsWatched(id)) continue;
    float* samples = Buffer(id).data();
    Fill(samples - GUARD, static_cast<size_t>(GUARD));
    Fill(samples + m_block_size, PastBlock());
  }
}

void DspHost::CheckOutsideBlocks() {
  for (int32_t id = 0; id < m_pin_count; ++id) {
    if (!IsWatched(id)) continue;
    float* samples = Buffer(id).data();
    const long before = FirstChanged(samples - GUARD, static_cast<size_t>(GUARD));
    const long past = FirstChanged(samples + m_block_size, PastBlock());
    // Which call wrote there is not known any more, only that one did.
    if (before >= 0) Stray(id, before - GUARD, "a process call", "before the buffer");
    if (past >= 0) Stray(id, m_block_size + past, "a process call", "past the block");
  }
  FillOutsideBlocks();
}

void DspHost::Deliver(const QXEvent& event) {
  if (m_record == nullptr) return;
  QXEvent copy = event;  // the instance gets the host's record, not the caller's
  const EntryScope entry(*this, Entry::EVENT, event.event_type, 0);
  const ModuleCall call(ModuleCall::Entry::EVENT, event.event_type, 0);
  m_record->event_entry(m_record->object, &copy);
}

void DspHost::DeliverDue() {
  // An event is delivered at its own clock or never; one whose clock passed
  // while it was queued (the host's clock was set past it) is dropped.
  const auto late = [this](const QXEvent& e) { return static_cast<int32_t>(e.time_stamp - m_clock) < 0; };
  for (const QXEvent& e : m_events) {
    if (late(e))
      Late("an event (type " + std::to_string(e.event_type) + ") for clock " + std::to_string(e.time_stamp) +
           " was still queued at clock " + std::to_string(m_clock));
  }
  m_events.erase(std::remove_if(m_events.begin(), m_events.end(), late), m_events.end());
  // The user's pin values first: each is written, then its status delivered.
  for (;;) {
    const auto due = std::find_if(m_values.begin(), m_values.end(),
                                  [this](const PinValue& v) { return v.clock == m_clock; });
    if (due == m_values.end() || m_record == nullptr) break;
    const PinValue change = *due;
    m_values.erase(due);
    WriteVariable(change);
    Deliver(QXEvent{m_clock, ET_PIN_STATUS, QX_PIN_STATUS_MOMENTARY, 0, change.id, 0});
  }
  DeliverEventsNow();
}

void DspHost::DeliverEventsNow() {
  // Events posted while delivering, for this same clock, are delivered too.
  for (;;) {
    const auto due = std::find_if(m_events.begin(), m_events.end(),
                                  [this](const QXEvent& e) { return e.time_stamp == m_clock; });
    if (due == m_events.end() || m_record == nullptr) return;
    const QXEvent event = *due;
    m_events.erase(due);
    Deliver(event);
  }
}

void DspHost::Run(int32_t count) {
  while (count > 0 && m_record != nullptr) {
    const int32_t block = std::min(count, m_block_size);
    RunBlock(block);
    count -= block;
  }
  if (m_watch) CheckOutsideBlocks();
}

void DspHost::Stream(const std::vector<Channel>& inputs, const std::vector<Channel>& outputs, int32_t count) {
  int32_t done = 0;
  while (done < count && m_record != nullptr) {
    const int32_t block = std::min(count - done, m_block_size);
    const auto n = static_cast<size_t>(block);
    for (const Channel& in : inputs) std::memcpy(Buffer(in.pin).data(), in.samples + done, n * sizeof(float));
    RunBlock(block);
    for (const Channel& out : outputs)
      std::memcpy(out.samples + done, Buffer(out.pin).data(), n * sizeof(float));
    done += block;
  }
  if (m_watch) CheckOutsideBlocks();
}

void DspHost::RunBlock(int32_t count) {
  const uint32_t start = m_clock;
  m_buffer_clock = start;
  int32_t done = 0;
  while (done < count && m_record != nullptr) {
    DeliverDue();
    // The next event or pin value inside the block ends this stretch.
    int32_t stretch = count - done;
    const auto shorten = [this, &stretch](uint32_t clock) {
      const uint32_t ahead = clock - m_clock;
      if (ahead > 0 && ahead < static_cast<uint32_t>(stretch)) stretch = static_cast<int32_t>(ahead);
    };
    for (const QXEvent& e : m_events) shorten(e.time_stamp);
    for (const PinValue& v : m_values) shorten(v.clock);
    Process(done, stretch);
    // What the call posted for its own clock, before the clock moves on.
    DeliverEventsNow();
    done += stretch;
    m_clock = start + static_cast<uint32_t>(done);
  }
}
