// The validator's host: creates a module's DSP and GUI instances and drives
// them through the reference hosts (DspHost, GuiHost), while it watches every
// call in both directions. The reference hosts hold a stand-in record for each
// instance whose entries lead through this class to the module's own record,
// and the module is given this class's callbacks, which lead on to the
// reference hosts. On the way, each call is traced, module code is marked for
// the allocation counter, nesting is bounded, and misuse of the callback is
// noted as a problem: a record that is no live instance's, another instance's
// record, an unknown opcode, a pin outside the pin list, a call after close.
//
// One harness is active per thread at a time (the callbacks find it through a
// thread-local pointer): a thread drives the instances of its own harness,
// and several threads may each drive theirs at once.
#ifndef VALIDATE_HOSTHARNESS_H
#define VALIDATE_HOSTHARNESS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DspHost.h"
#include "GuiHost.h"
#include "QXHostInterface.h"
#include "TraceWriter.h"

// On 32-bit Windows process_entry is a thiscall member function, which a plain
// function cannot stand in for: there the host calls the module's process and
// event entries directly, and those two kinds of call are neither traced nor
// nested-counted.
#if defined(_WIN32) && !defined(_WIN64)
#define QX_HARNESS_DIRECT_PROCESS 1
#else
#define QX_HARNESS_DIRECT_PROCESS 0
#endif

class HostHarness {
 public:
  // A pin value the module wrote (GUIHOST_OP_WRITE_PIN_VALUE).
  struct Write {
    int instance;
    int32_t pin;
    int32_t value;
    float opt;
  };
  // Deepest nesting of calls into the module; deeper calls are refused.
  static constexpr int MAX_DEPTH = 32;
  // Problems kept in full; the rest are counted.
  static constexpr size_t MAX_PROBLEMS = 16;

  HostHarness(QXMakeModuleFunction make_module, TraceWriter* trace);
  ~HostHarness();
  HostHarness(const HostHarness&) = delete;
  HostHarness& operator=(const HostHarness&) = delete;

  // A GUI instance with `pins` float pins, all 0 but those set with
  // `start_values` before creation; its id, or -1 if makeModule gave null.
  int MakeGui(int32_t pins, GuiHost::Echo echo, const std::vector<float>& start_values = {});
  // A DSP instance whose host answers `pin_count`; without the callback if
  // `with_callback` is false; its host's buffers hold `capacity` samples (0:
  // the block of 64). Its id, or -1.
  int MakeDsp(int32_t pin_count, bool with_callback = true, int32_t capacity = 0);
  // A DSP instance as the host uses it: made with a host that answers
  // `pin_count`, then opened. Its id, or -1 if makeModule gave no usable
  // record (then nothing is opened).
  int OpenDsp(int32_t pin_count);
  // makeModule with any index and type (for the refused ones): traced, and
  // the record, if any, is not adopted.
  void* MakeRaw(int32_t index, int32_t type);
  // The reference host of an instance (its Dispatch, Edit... go through the
  // harness) and the module's own record.
  GuiHost& Gui(int id) { return *Get(id).gui_host; }
  DspHost& Dsp(int id) { return *Get(id).dsp_host; }
  QXGuiStruct* GuiRecord(int id) { return static_cast<QXGuiStruct*>(Get(id).real); }
  QXModuleStruct* DspRecord(int id) { return static_cast<QXModuleStruct*>(Get(id).real); }
  bool IsLive(int id) { return Get(id).live; }
  // Sends the close opcode and answers what the module answered.
  QXWord Close(int id);

  // What a problem is about: each check reports the kinds it is about, so one
  // broken rule fails one check.
  enum class Trouble {
    CALLBACK,  // the module's use of the host callback
    RECORD,    // the record's magic or version changed during a call
    DEPTH      // nesting reached MAX_DEPTH
  };
  static constexpr size_t TROUBLE_KINDS = static_cast<size_t>(Trouble::DEPTH) + 1;
  bool HasProblems(Trouble kind) const { return Count(kind) > 0; }
  // One problem a line: "problem 1\nproblem 2\n(and N more)"
  std::string ProblemText(Trouble kind) const;
  uint64_t Callbacks() const { return m_callbacks; }
  std::vector<Write>& Writes() { return m_writes; }

 private:
  struct Instance {
    int id = 0;
    bool gui = false;
    bool live = false;
    int32_t pins = 0;
    void* real = nullptr;  // the module's record
    std::unique_ptr<GuiHost> gui_host;
    std::unique_ptr<DspHost> dsp_host;
    QXGuiStruct gui_shadow{};                // what the GUI host holds
    QXModuleStruct dsp_shadow{};             // what the DSP host holds
    QXProcessEntry process_entry = nullptr;  // as the host last took it
    int32_t magic = 0;                       // the record's first two words at creation
    int32_t version = 0;
  };

  static QXWord QX_CALL GuiCallback(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                    float opt);
  static QXWord QX_CALL DspCallback(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                    float opt);
  static QXWord QX_CALL GuiEntry(QXGuiStruct* shadow, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt);
  static QXWord QX_CALL DspEntry(QXModuleStruct* shadow, int32_t opcode, int32_t index, int32_t value,
                                 void* ptr, float opt);
#if !QX_HARNESS_DIRECT_PROCESS
  static void QX_MEMBER_CALL ProcessEntry(void* shadow, int32_t offset, int32_t count);
  static void QX_CALL EventEntry(void* shadow, QXEvent* event);
#endif

  void Adopt(Instance& instance);
  Instance& Get(int id) { return *m_instances.at(static_cast<size_t>(id)); }
  Instance* FindShadow(const void* shadow);
  // The live instance whose record this is, or the one being constructed.
  Instance* FindCaller(const void* record, bool gui);
  // Whose calls the host answers: the instance it is calling, whatever record
  // the module passed (a wrong record is a problem of its own and must not
  // change what the other checks see), else the record's instance.
  Instance* Answerer(Instance* caller);
  QXWord OnCallback(bool gui, void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                    float opt);
  QXWord CallDispatch(Instance& instance, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  void CallProcess(Instance& instance, int32_t offset, int32_t count);
  void CallEvent(Instance& instance, QXEvent* event);
  void* Make(Instance* instance, int32_t index, int32_t type, qxaudioMaster callback, QXWord host_data);
  bool Enter(const char* call);
  void Leave();
  void Problem(Trouble kind, const std::string& text);
  size_t Count(Trouble kind) const { return m_problem_count[static_cast<size_t>(kind)]; }
  // A call's two moments in the trace: before it is made, and with its result.
  TraceWriter::Entry BeginTrace(TraceWriter::Kind kind, const void* record, int32_t opcode, int32_t index,
                                int32_t value, const void* ptr, float opt);
  void EndTrace(TraceWriter::Entry& entry, QXWord result);

  // The harness of this thread: each thread drives its own instances.
  static thread_local HostHarness* s_current;

  QXMakeModuleFunction m_make_module;
  TraceWriter* m_trace;
  std::vector<std::unique_ptr<Instance>> m_instances;
  Instance* m_constructing = nullptr;
  const void* m_constructing_record = nullptr;
  std::vector<Instance*> m_stack;  // the instances being called, innermost last
  bool m_depth_exceeded = false;   // said once per harness
  uint64_t m_callbacks = 0;
  HostHarness* m_previous;  // the harness active before this one
  std::vector<std::string> m_problems[TROUBLE_KINDS];
  size_t m_problem_count[TROUBLE_KINDS] = {};
  std::vector<Write> m_writes;
};

#endif  // VALIDATE_HOSTHARNESS_H
