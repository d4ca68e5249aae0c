// The reference host's DSP side: answers one DSP instance's callback, keeps the
// sample clock, owns the audio buffers, queues the events the instance posts
// (a bounded number) and delivers each at its clock, sets control pins at a clock, and runs the
// process function block by block as a real host does. Every call is logged.
#ifndef HOST_DSPHOST_H
#define HOST_DSPHOST_H

#include <cstdint>
#include <string>
#include <vector>

#include "HostLog.h"
#include "PinDescription.h"
#include "QXHostInterface.h"

// One pin's audio buffer as a module sees it: `size` samples at an address
// that never changes. A view; the host owns the samples.
class AudioBuffer {
 public:
  AudioBuffer(float* samples, size_t size) : m_samples(samples), m_size(size) {}
  float* data() const { return m_samples; }
  size_t size() const { return m_size; }
  float& operator[](size_t i) const { return m_samples[i]; }
  float* begin() const { return m_samples; }
  float* end() const { return m_samples + m_size; }

 private:
  float* m_samples;
  size_t m_size;
};

class DspHost {
 public:
  // The largest block a host of this kind announces: what `capacity` is for
  // a host that plays every block size.
  static constexpr int32_t MAX_BLOCK = 4096;
  // Samples on either side of each buffer that only the host touches: a write
  // there is a module's write outside its buffer.
  static constexpr int32_t GUARD = 64;
  // Most events pending at once (posted by the instance or the host, not yet
  // delivered): an event at every sample of two of the largest blocks. A post
  // beyond it is refused, so a module that floods the host costs it bounded
  // memory and time.
  static constexpr size_t MAX_PENDING_EVENTS = 2 * static_cast<size_t>(MAX_BLOCK);
  static_assert(MAX_PENDING_EVENTS == 8192, "the bound that QXHostInterface.h and the README state");

  // Buffers of `capacity` samples (at least `block_size`; 0 for exactly
  // `block_size`), made here once: their addresses never change, so an
  // instance may keep what it got at open.
  explicit DspHost(int32_t pin_count, int32_t block_size = 64, int32_t capacity = 0);
  DspHost(const DspHost&) = delete;
  DspHost& operator=(const DspHost&) = delete;

  static QXWord QX_CALL Callback(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt);
  QXWord HostData() { return reinterpret_cast<QXWord>(this); }

  // The instance to drive; the host does not own it. Reads process_entry.
  void Attach(QXModuleStruct* record);
  QXModuleStruct* Record() const { return m_record; }

  QXWord Dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                  float opt = 0.0f);
  // Reads the instance's pin descriptions as a host does before open, and
  // keeps each DSP-side pin's data type, direction and variable. The variable
  // of an audio pin receives its buffer's address. False if the list does not
  // end within PinDescription::MAX_LIST.
  bool Describe();
  // The descriptions Describe read, and what it kept of DSP-side pin `id`
  // (a pin it did not learn has no variable and data type -1).
  const std::vector<PinDescription>& Descriptions() const { return m_descriptions; }
  struct DspPin {
    int32_t direction = DR_IN;
    int32_t datatype = -1;
    void* variable = nullptr;
  };
  const DspPin& Pin(int32_t id) const { return m_pins.at(static_cast<size_t>(id)); }
  // DSP_OP_OPEN, after the block size and sample rate are announced.
  void Open();
  // Sends DSP_OP_CLOSE and forgets the instance; answers what it answered.
  QXWord Close();

  // The sample rate and block size: announced at Open, and at once to an
  // instance already attached (DSP_OP_CHANGE_SAMPLE_RATE, then
  // DSP_OP_CHANGE_BLOCK_SIZE). From then on no process call covers more
  // samples than `block_size`. False, and nothing changed, for a rate that is
  // not above 0 or a block size outside 1 .. capacity.
  bool SetFormat(float sample_rate, int32_t block_size);
  float SampleRate() const { return m_sample_rate; }
  int32_t BlockSize() const { return m_block_size; }
  int32_t Capacity() const { return m_capacity; }

  // Runs `count` samples from the current clock, one block at a time (at most
  // the block size last announced, each block's buffers starting at its first
  // sample): in each block the process function runs up to each due event,
  // the event is delivered, and so on to the block's end. An event a call
  // posts for the clock it runs at is delivered right after that call, before
  // the clock moves on.
  void Run(int32_t count);
  // One pin's signal in a Stream: `samples` holds the stream's samples from
  // its first.
  struct Channel {
    int32_t pin;
    float* samples;
  };
  // Runs `count` samples as Run does, and before each block copies the
  // block's samples of each input channel into its pin's buffer, after it
  // each output pin's buffer into its channel. Allocates nothing.
  void Stream(const std::vector<Channel>& inputs, const std::vector<Channel>& outputs, int32_t count);

  // Queues an event of the host's own (a pin's new status, data): it is
  // delivered at its clock, as the instance's own posted events are. False,
  // and nothing queued, when MAX_PENDING_EVENTS are pending.
  bool Post(const QXEvent& event);
  // The user sets control pin `id` to `value`, effective at `clock`: when the
  // clock reaches it, the host writes the instance's variable for the pin (as
  // its data type holds the value) and delivers ET_PIN_STATUS for the pin with
  // status QX_PIN_STATUS_MOMENTARY, before the instance's own events of that
  // clock. False if Describe found no variable of a value type for the pin,
  // or the clock has passed.
  bool SetPinValue(int32_t id, double value, uint32_t clock);
  // Whether SetPinValue takes values for pin `id`: Describe found a variable
  // of a value type for it.
  bool TakesValue(int32_t id) const;
  // Delivers an event through event_entry exactly as it stands (for tests of
  // what an instance does with events it did not post).
  void Deliver(const QXEvent& event);

  // Watches every output audio pin that Describe found: a process call may
  // write only the stretch [offset, offset + count) of each output buffer.
  // Each write elsewhere in the buffer, before it or past the block, is
  // counted; past the block and before the buffer it is seen when a Run or
  // Stream ends. The samples past the block hold a pattern of the host's while
  // watching.
  // While watching, the input audio buffers are watched too: after each
  // process call they must hold what the host put there, in the whole block.
  void WatchOutputs(bool on);
  uint64_t StrayWrites() const { return m_stray_writes; }
  // Process calls that changed an input buffer, and the first of them, as
  // "process_entry(offset O, count C) wrote input pin P at sample S (block
  // size B)".
  uint64_t InputWrites() const { return m_input_writes; }
  const std::string& FirstInputWrite() const { return m_first_input_write; }
  // The first of them, as "process_entry(offset O, count C) wrote output pin P
  // at sample S (outside its stretch, block size B)".
  const std::string& FirstStrayWrite() const { return m_first_stray; }

  uint32_t Clock() const { return m_clock; }
  void SetClock(uint32_t clock) { m_clock = m_processed_to = clock; }
  void SetBufferClock(uint32_t clock) { m_buffer_clock = clock; }
  int32_t PinCount() const { return m_pin_count; }
  // The audio buffer the host keeps for pin `id`: `capacity` samples.
  AudioBuffer Buffer(int32_t id);
  const std::vector<QXEvent>& Pending() const { return m_events; }
  uint64_t SleepRequests() const { return m_sleep_requests; }
  // Events posted for a clock already past (before the current one, or
  // inside the stretch the current call processes), or still queued when the
  // clock passed theirs: none is delivered.
  uint64_t LateEvents() const { return m_late_events; }
  // The first of them, naming the call that posted it: "process_entry(offset
  // O, count C) at clock K posted an event (type T) for clock X, already
  // past".
  const std::string& FirstLateEvent() const { return m_first_late; }
  // The instance's posts (HOST_OP_ADD_EVENT) refused because
  // MAX_PENDING_EVENTS were pending.
  uint64_t RefusedEvents() const { return m_refused_events; }
  QXProcessEntry ProcessEntry() const { return m_process_entry; }
  void SetQueryAnswer(QXWord answer) { m_query_answer = answer; }

  const std::vector<HostCall>& Log() const { return m_log.All(); }
  void ClearLog() { m_log.Clear(); }
  std::vector<HostCall> Calls(int32_t opcode) const { return m_log.Calls(opcode); }
  void SetLogging(bool on) { m_log.SetEnabled(on); }

 private:
  // The call into the instance now running (NONE between calls) and its two
  // arguments (opcode and 0; event type and 0; offset and count), which a
  // late event's message names.
  enum class Entry { NONE, DISPATCH, PROCESS, EVENT };
  // A control pin's value, written at its clock.
  struct PinValue {
    uint32_t clock;
    int32_t id;
    double value;
  };

  QXWord Answer(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  void RunBlock(int32_t count);
  void Process(int32_t offset, int32_t count);
  void DeliverDue();
  // Delivers the queued events for the current clock, and those they post for it.
  void DeliverEventsNow();
  // A post the host takes; false, counted and described, for a clock past.
  bool TakePost(const QXEvent& event);
  void Late(const std::string& what);
  void WriteVariable(const PinValue& change);
  bool IsWatched(int32_t id) const;
  // An audio pin the module reads: the host's buffer, which it must not write.
  bool IsInput(int32_t id) const;
  // The host's pattern past the block and in the guards, put back or compared.
  void FillOutsideBlocks();
  void CheckOutsideBlocks();
  // Samples from the block's end to the buffer's, and the guard after it.
  size_t PastBlock() const;
  void Stray(int32_t id, long sample, const std::string& call, const char* where);

  int32_t m_pin_count;
  int32_t m_block_size;
  int32_t m_capacity;
  float m_sample_rate = 44100.0f;
  QXModuleStruct* m_record = nullptr;
  QXProcessEntry m_process_entry = nullptr;
  uint32_t m_clock = 0;
  uint32_t m_buffer_clock = 0;  // clock of each buffer's first sample
  // Every pin's buffer, each between two guards: GUARD, capacity, GUARD.
  std::vector<float> m_storage;
  std::vector<PinDescription> m_descriptions;
  std::vector<DspPin> m_pins;      // by DSP-side pin id
  std::vector<QXEvent> m_events;   // posted, not yet delivered, in posting order
  std::vector<PinValue> m_values;  // set, not yet written, in order of setting
  bool m_watch = false;
  std::vector<float> m_before;         // the watched buffers' blocks before a process call
  std::vector<float> m_inputs_before;  // the input buffers before a watched call
  uint64_t m_input_writes = 0;
  std::string m_first_input_write;
  uint64_t m_stray_writes = 0;
  std::string m_first_stray;
  uint64_t m_sleep_requests = 0;
  uint64_t m_late_events = 0;
  std::string m_first_late;
  // The end of the stretch the last process call at this clock covered: a post
  // for a clock before it, other than the current one, comes too late.
  uint32_t m_processed_to = 0;
  class EntryScope;
  // The call into the instance now running, to name the one that posts late.
  Entry m_entry = Entry::NONE;
  int32_t m_entry_args[2] = {0, 0};
  uint64_t m_refused_events = 0;
  QXWord m_query_answer = 0;
  HostLog m_log;
};

#endif  // HOST_DSPHOST_H
