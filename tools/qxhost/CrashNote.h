// What `qxhost process` says when the module crashes its process (it runs the
// module in its own process, where a debugger or a memory checker can follow):
// the signal, the call into the module in flight, the sample of the input its
// block starts at, and the crashing thread's stack, written from the signal
// handler without allocating. The signal then goes on to the handler installed
// before this one, and ends the process as it would have.
#ifndef TOOLS_QXHOST_CRASHNOTE_H
#define TOOLS_QXHOST_CRASHNOTE_H

#include <csignal>
#include <string>

#include "DspHost.h"

class CrashNote {
 public:
  // The files' names as the user reads them. One note at a time.
  CrashNote(const DspHost& host, const std::string& module, const std::string& input,
            const std::string& output);
  ~CrashNote();  // the handlers as they were
  CrashNote(const CrashNote&) = delete;
  CrashNote& operator=(const CrashNote&) = delete;

 private:
  static void OnSignal(int signal, siginfo_t* info, void* context);
  void Write(int signal, const void* context) const;

  const DspHost& m_host;
  std::string m_module;
  std::string m_input;
  std::string m_output;
};

#endif  // TOOLS_QXHOST_CRASHNOTE_H
