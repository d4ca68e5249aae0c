// Writes every call between the validator's host and a module, in both
// directions, as JSON lines: one object per call, written when the call
// returns, with the sequence number it got when it began (nested calls finish
// first; sorting by "seq" gives the order of the calls). Lines are written in
// the host's part of each call, where allocations are not counted, so a traced
// run counts the same allocations as an untraced one.
#ifndef VALIDATE_TRACEWRITER_H
#define VALIDATE_TRACEWRITER_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "OpcodeNames.h"
#include "QXHostInterface.h"

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

  // A line that starts the calls of one check on one module; each call line
  // names the check too (checks run side by side append to one file).
  void Start(const std::string& check, const std::string& module);
  uint64_t NextSeq() { return ++m_seq; }
  static double Now();
  void Write(const Entry& entry);

  // The numbering of a dispatch or callback entry's opcode.
  static OpcodeFamily Family(Kind kind);

 private:
  std::FILE* m_file = nullptr;
  uint64_t m_seq = 0;
  std::string m_check;
};

#endif  // VALIDATE_TRACEWRITER_H
