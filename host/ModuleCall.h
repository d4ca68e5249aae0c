// The call into a module that the current thread is making, kept in plain
// values that a crash handler may read: which export or entry, and two of its
// arguments. Each call into a module holds a ModuleCall for its length; when
// it ends, the call around it (the module called the host, which called the
// module again) is the one in flight again.
#ifndef HOST_MODULECALL_H
#define HOST_MODULECALL_H

#include <cstddef>
#include <cstdint>

class ModuleCall {
 public:
  enum class Entry {
    NONE,
    LOAD,            // the system loader runs the library's start-up code
    GET_PROPERTIES,  // getModuleProperties(index)
    MAKE_MODULE,     // makeModule(index, type)
    DSP_DISPATCH,    // a DSP record's dispatch_entry(opcode, index)
    GUI_DISPATCH,    // a GUI record's dispatch_entry(opcode, index)
    PROCESS,         // process_entry(offset, count)
    EVENT            // event_entry, an event of a type
  };

  ModuleCall(Entry entry, int32_t first, int32_t second);
  ~ModuleCall();
  ModuleCall(const ModuleCall&) = delete;
  ModuleCall& operator=(const ModuleCall&) = delete;

  // The call in flight on this thread in words, such as
  // "GUI_OP_PIN_VALUE_CHANGED (index 1)" or "makeModule(0, 2)", in `text`
  // (at most `size` bytes with the ending 0); "" when there is none. Takes no
  // lock and allocates nothing: a signal handler may call it.
  static void Describe(char* text, size_t size);

 private:
  struct Call {
    Entry entry;
    int32_t args[2];
  };
  static thread_local Call t_call;
  Call m_outer;
};

#endif  // HOST_MODULECALL_H
