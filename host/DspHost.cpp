#include "DspHost.h"

#include <algorithm>

DspHost::DspHost(int32_t pin_count, int32_t block_size)
    : m_pin_count(std::max(pin_count, 0)),
      m_block_size(std::max(block_size, 1)),
      m_buffers(static_cast<size_t>(m_pin_count), std::vector<float>(static_cast<size_t>(m_block_size))) {}

QXWord DspHost::Callback(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                         float opt) {
  auto* dsp = static_cast<QXModuleStruct*>(record);
  if (dsp == nullptr || dsp->host_data == 0) return 0;
  return reinterpret_cast<DspHost*>(dsp->host_data)->Answer(record, opcode, index, value, ptr, opt);
}

QXWord DspHost::Answer(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                       float opt) {
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
      if (ptr != nullptr) m_events.push_back(*static_cast<const QXEvent*>(ptr));
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

void DspHost::Attach(QXModuleStruct* record) {
  m_record = record;
  m_process_entry = record != nullptr ? record->process_entry : nullptr;
}

QXWord DspHost::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  if (m_record == nullptr) return 0;
  return m_record->dispatch_entry(m_record, opcode, index, value, ptr, opt);
}

void DspHost::Open() {
  Dispatch(DSP_OP_CHANGE_BLOCK_SIZE, 0, m_block_size);
  Dispatch(DSP_OP_CHANGE_SAMPLE_RATE, 0, 0, nullptr, 44100.0f);
  Dispatch(DSP_OP_OPEN);
}

QXWord DspHost::Close() {
  const QXWord result = Dispatch(DSP_OP_CLOSE);
  m_record = nullptr;
  m_process_entry = nullptr;
  m_events.clear();
  return result;
}

void DspHost::Process(int32_t offset, int32_t count) {
  if (count > 0 && m_record != nullptr && m_process_entry != nullptr)
    m_process_entry(m_record->object, offset, count);
}

void DspHost::Deliver(const QXEvent& event) {
  if (m_record == nullptr) return;
  QXEvent copy = event;  // the instance gets the host's record, not the caller's
  m_record->event_entry(m_record->object, &copy);
}

void DspHost::DeliverDue() {
  // An event is delivered at its own clock or never; one whose clock has
  // passed (posted inside a stretch already processed) is dropped.
  const auto late = [this](const QXEvent& e) { return static_cast<int32_t>(e.time_stamp - m_clock) < 0; };
  const auto kept = std::remove_if(m_events.begin(), m_events.end(), late);
  m_late_events += static_cast<uint64_t>(m_events.end() - kept);
  m_events.erase(kept, m_events.end());
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
}

void DspHost::RunBlock(int32_t count) {
  const uint32_t start = m_clock;
  m_buffer_clock = start;
  int32_t done = 0;
  while (done < count && m_record != nullptr) {
    DeliverDue();
    // The next event inside the block ends this stretch of processing.
    int32_t stretch = count - done;
    for (const QXEvent& e : m_events) {
      const uint32_t ahead = e.time_stamp - m_clock;
      if (ahead > 0 && ahead < static_cast<uint32_t>(stretch)) stretch = static_cast<int32_t>(ahead);
    }
    Process(done, stretch);
    done += stretch;
    m_clock = start + static_cast<uint32_t>(done);
  }
}
