// The reference host's DSP side: answers one DSP instance's callback, keeps the
// sample clock, owns the audio buffers, queues the events the instance posts
// and delivers each at its clock, and runs the process function block by block
// as a real host does. Every call is logged.
#ifndef HOST_DSPHOST_H
#define HOST_DSPHOST_H

#include <cstdint>
#include <vector>

#include "HostLog.h"
#include "QXHostInterface.h"

class DspHost {
 public:
  explicit DspHost(int32_t pin_count, int32_t block_size = 64);
  DspHost(const DspHost&) = delete;
  DspHost& operator=(const DspHost&) = delete;

  static QXWord QX_CALL Callback(void* record, int32_t opcode, int32_t index, int32_t value,
                                 void* ptr, float opt);
  QXWord HostData() { return reinterpret_cast<QXWord>(this); }

  // The instance to drive; the host does not own it. Reads process_entry.
  void Attach(QXModuleStruct* record);
  QXModuleStruct* Record() const { return m_record; }

  QXWord Dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                  float opt = 0.0f);
  // DSP_OP_OPEN, after the block size and sample rate are announced.
  void Open();
  // Sends DSP_OP_CLOSE and forgets the instance; answers what it answered.
  QXWord Close();
  // Runs `count` samples from the current clock, one block at a time (at most
  // the block size announced at open, which is all the buffers hold, each
  // block's buffers starting at its first sample): in each block the process
  // function runs up to each due event, the event is delivered, and so on to
  // the block's end.
  void Run(int32_t count);
  // Queues an event of the host's own (a pin's new status, data): it is
  // delivered at its clock, as the instance's own posted events are.
  void Post(const QXEvent& event) { m_events.push_back(event); }
  // Delivers an event through event_entry exactly as it stands (for tests of
  // what an instance does with events it did not post).
  void Deliver(const QXEvent& event);

  uint32_t Clock() const { return m_clock; }
  void SetClock(uint32_t clock) { m_clock = clock; }
  void SetBufferClock(uint32_t clock) { m_buffer_clock = clock; }
  int32_t PinCount() const { return m_pin_count; }
  // The audio buffer the host keeps for pin `id`: block_size samples.
  std::vector<float>& Buffer(int32_t id) { return m_buffers.at(static_cast<size_t>(id)); }
  const std::vector<QXEvent>& Pending() const { return m_events; }
  uint64_t SleepRequests() const { return m_sleep_requests; }
  // Events dropped because their clock had passed when the host got to them.
  uint64_t LateEvents() const { return m_late_events; }
  QXProcessEntry ProcessEntry() const { return m_process_entry; }
  void SetQueryAnswer(QXWord answer) { m_query_answer = answer; }

  const std::vector<HostCall>& Log() const { return m_log.All(); }
  void ClearLog() { m_log.Clear(); }
  std::vector<HostCall> Calls(int32_t opcode) const { return m_log.Calls(opcode); }
  void SetLogging(bool on) { m_log.SetEnabled(on); }

 private:
  QXWord Answer(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  void RunBlock(int32_t count);
  void Process(int32_t offset, int32_t count);
  void DeliverDue();

  int32_t m_pin_count;
  int32_t m_block_size;
  QXModuleStruct* m_record = nullptr;
  QXProcessEntry m_process_entry = nullptr;
  uint32_t m_clock = 0;
  uint32_t m_buffer_clock = 0;  // clock of each buffer's first sample
  std::vector<std::vector<float>> m_buffers;
  std::vector<QXEvent> m_events;  // posted, not yet delivered, in posting order
  uint64_t m_sleep_requests = 0;
  uint64_t m_late_events = 0;
  QXWord m_query_answer = 0;
  HostLog m_log;
};

#endif  // HOST_DSPHOST_H
