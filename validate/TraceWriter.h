// Writes every call between the validator's host and a module, in both
// directions, as JSON lines: a line marked "begin" before the call is made and
// a line with its result when it returns, both with the sequence number the call got
// when it began (nested calls finish first; sorting by "seq" gives the order of
// the calls). Lines are written in the host's part of each call, where
// allocations are not counted, so a traced run counts the same allocations as
// an untraced one.
//
// In a check's own process the writer also reports each call's beginning and
// end on the report channel, so that the validator can name the call in
// flight when the process dies or hangs; that part allocates nothing.
#ifndef VALIDATE_TRACEWRITER_H
#define VALIDATE_TRACEWRITER_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "JsonText.h"
#include "OpcodeNames.h"
#include "QXHostInterface.h"
#include "ReportChannel.h"

class TraceWriter {
 public:
  enum class Kind {
    GET_PROPERTIES,  // getModuleProperties(index, record)
    MAKE_MODULE,     // makeModule(index, type in value, callback in ptr, host_data)
    DSP_DISPATCH,    // host to a DSP record's dispatch_entry
    GUI_DISPATCH,    // host to a GUI record's dispatch_entry
    PROCESS,         // host to process_entry: offset in index, count in value
    EVENT,           // host to event_entry: the event in ptr
    DSP_CALLBACK,    // a DSP instance to the host
    GUI_CALLBACK     // a GUI instance to the host
  };
  struct Entry {
    Kind kind;
    uint64_t seq;
    double time;  // seconds since the epoch, when the call began
    int depth;    // calls into the module open around this one
    const void* record;
    int32_t opcode;
    int32_t index;
    int32_t value;
    const void* ptr;
    float opt;
    QXWord result;
  };

  TraceWriter() = default;
  ~TraceWriter() { Close(); }
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Opens FILE, emptied first unless `append`; false and `error` on failure.
  bool Open(const std::string& path, bool append, std::string* error);
  void Close();
  bool IsOpen() const { return m_file != nullptr; }
  // Writes the line that starts a run (its modules and seed) at once: a file
  // that takes no line says so before any check runs. False and `error` if
  // it could not be written.
  bool StartRun(const std::vector<std::string>& modules, uint64_t seed, std::string* error);
  // Whether a line could not be written since Open, and why ("" if none).
  bool Failed() const { return !m_error.empty(); }
  const std::string& Error() const { return m_error; }

  // Also reports each call's beginning and end on `channel`, the calls
  // channel of a check's process (see ChildReport).
  void ReportCallsTo(const ReportChannel* channel);
  // Whether anything is written at all.
  bool Active() const { return m_file != nullptr || m_channel != nullptr; }

  // A line that starts the calls of one check on one module; each call line
  // names the check too (checks run side by side append to one file).
  void Start(const std::string& check, const std::string& module);
  // Before the call: gives `entry` its sequence number and time, and writes
  // its beginning.
  void Begin(Entry* entry);
  // After the call: writes it with its result.
  void End(const Entry& entry);
  // A stretch of a check (one run of dsp.process-formats...) in flight: a
  // crash inside it names it, after the call it crashed in. `text` says what
  // it is ("the run at 22050 Hz, block size 512").
  void BeginPart(const std::string& text);
  void EndPart();
  // A part in flight while this object lives; nothing without a trace.
  class Part {
   public:
    Part(TraceWriter* trace, const std::string& text) : m_trace(trace) {
      if (m_trace != nullptr) m_trace->BeginPart(text);
    }
    ~Part() {
      if (m_trace != nullptr) m_trace->EndPart();
    }
    Part(const Part&) = delete;
    Part& operator=(const Part&) = delete;

   private:
    TraceWriter* m_trace;
  };
  static double Now();
  // What the call is, in the validator's messages: "DSP_OP_OPEN (index 0,
  // value 0)", "process_entry (offset 0, count 64)"... Allocates nothing.
  static void Describe(const Entry& entry, char* text, size_t size);

  // The numbering of a dispatch or callback entry's opcode.
  static OpcodeFamily Family(Kind kind);

 private:
  // The call as a JSON object, its result included.
  Json Line(const Entry& entry) const;
  void Mark(bool begin, const char* text);
  // Writes one line and flushes it; the first failure is kept.
  void Write(const Json& line);

  std::FILE* m_file = nullptr;
  std::string m_path;
  std::string m_error;
  uint64_t m_seq = 0;
  std::string m_check;
  const ReportChannel* m_channel = nullptr;
  int m_open_calls = 0;
};

#endif  // VALIDATE_TRACEWRITER_H
