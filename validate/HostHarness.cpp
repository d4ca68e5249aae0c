#include "HostHarness.h"

#include <cstdio>

#include "AllocationCounter.h"
#include "OpcodeNames.h"

thread_local HostHarness* HostHarness::s_current = nullptr;

namespace {

std::string Hex(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

std::string OpText(TraceWriter::Kind kind, int32_t opcode) {
  return OpcodeNames::Text(TraceWriter::Family(kind), opcode);
}

bool IsPinRequest(int32_t opcode) {
  return opcode == GUIHOST_OP_READ_PIN_VALUE || opcode == GUIHOST_OP_WRITE_PIN_VALUE ||
         opcode == GUIHOST_OP_READ_PIN_TEXT || opcode == GUIHOST_OP_READ_PIN_TEXT_W ||
         opcode == GUIHOST_OP_WRITE_PIN_TEXT;
}

}  // namespace

HostHarness::HostHarness(QXMakeModuleFunction make_module, TraceWriter* trace)
    : m_make_module(make_module), m_trace(trace), m_previous(s_current) {
  s_current = this;
  m_stack.reserve(MAX_DEPTH + 1);
}

HostHarness::~HostHarness() {
  // Instances a check left open are closed, the last made first.
  for (auto it = m_instances.rbegin(); it != m_instances.rend(); ++it) {
    if ((*it)->live) Close((*it)->id);
  }
  s_current = m_previous;
}

void HostHarness::Problem(Trouble kind, const std::string& text) {
  const auto k = static_cast<size_t>(kind);
  // The same problem again (a storm repeats one fault) is said once.
  for (const std::string& known : m_problems[k]) {
    if (known == text) return;
  }
  ++m_problem_count[k];
  if (m_problems[k].size() < MAX_PROBLEMS) m_problems[k].push_back(text);
}

std::string HostHarness::ProblemText(Trouble kind) const {
  const auto k = static_cast<size_t>(kind);
  std::string text;
  for (const std::string& p : m_problems[k]) text += (text.empty() ? "" : "\n") + p;
  if (m_problem_count[k] > m_problems[k].size())
    text += "\n(and " + std::to_string(m_problem_count[k] - m_problems[k].size()) + " more)";
  return text;
}

TraceWriter::Entry HostHarness::BeginTrace(TraceWriter::Kind kind, const void* record, int32_t opcode,
                                           int32_t index, int32_t value, const void* ptr, float opt) {
  TraceWriter::Entry entry{kind, 0,   0.0, static_cast<int>(m_stack.size()), record, opcode, index, value,
                           ptr,  opt, 0};
  if (m_trace != nullptr && m_trace->Active()) m_trace->Begin(&entry);
  return entry;
}

void HostHarness::EndTrace(TraceWriter::Entry& entry, QXWord result) {
  entry.result = result;
  if (m_trace != nullptr && m_trace->Active()) m_trace->End(entry);
}

void* HostHarness::Make(Instance* instance, int32_t index, int32_t type, qxaudioMaster callback,
                        QXWord host_data) {
  TraceWriter::Entry trace = BeginTrace(TraceWriter::Kind::MAKE_MODULE, nullptr, 0, index, type,
                                        reinterpret_cast<const void*>(callback), 0.0f);
  m_constructing = instance;
  m_constructing_record = nullptr;
  if (instance != nullptr) m_stack.push_back(instance);
  void* record;
  {
    AllocationCounter::Scope module(true);
    record = m_make_module(index, type, callback, host_data);
  }
  if (instance != nullptr) m_stack.pop_back();
  m_constructing = nullptr;
  trace.record = record;
  EndTrace(trace, reinterpret_cast<QXWord>(record));
  if (record != nullptr && m_constructing_record != nullptr && m_constructing_record != record) {
    Problem(Trouble::CALLBACK, "the constructor called the host with record " + Hex(m_constructing_record) +
                                   ": expected the record makeModule returned, " + Hex(record));
  }
  return record;
}

void* HostHarness::MakeRaw(int32_t index, int32_t type) {
  return Make(nullptr, index, type,
              type == QX_INSTANCE_DSP ? &HostHarness::DspCallback : &HostHarness::GuiCallback, 0);
}

int HostHarness::MakeGui(int32_t pins, GuiHost::Echo echo, const std::vector<float>& start_values) {
  auto instance = std::make_unique<Instance>();
  instance->id = static_cast<int>(m_instances.size());
  instance->gui = true;
  instance->pins = pins;
  instance->gui_host = std::make_unique<GuiHost>(pins, echo);
  instance->gui_host->SetLogging(false);
  for (size_t i = 0; i < start_values.size() && i < static_cast<size_t>(pins); ++i)
    instance->gui_host->SetFloat(static_cast<int32_t>(i), start_values[i]);
  // The host's stand-in record: the host finds itself through host_data and
  // calls the module through GuiEntry.
  instance->gui_shadow.magic = QX_MAGIC_GUI;
  instance->gui_shadow.version = 1;
  instance->gui_shadow.dispatch_entry = &HostHarness::GuiEntry;
  instance->gui_shadow.host_data = instance->gui_host->HostData();
  instance->gui_shadow.object = instance.get();

  void* record =
      Make(instance.get(), 0, QX_INSTANCE_GUI, &HostHarness::GuiCallback, instance->gui_host->HostData());
  if (record == nullptr) return -1;
  instance->real = record;
  Adopt(*instance);
  instance->gui_host->Attach(&instance->gui_shadow);
  m_instances.push_back(std::move(instance));
  return m_instances.back()->id;
}

int HostHarness::MakeDsp(int32_t pin_count, bool with_callback, int32_t capacity) {
  auto instance = std::make_unique<Instance>();
  instance->id = static_cast<int>(m_instances.size());
  instance->pins = pin_count;
  instance->dsp_host = std::make_unique<DspHost>(pin_count, 64, capacity);
  instance->dsp_host->SetLogging(false);
  QXModuleStruct& shadow = instance->dsp_shadow;
  shadow.magic = QX_MAGIC_DSP;
  shadow.version = 1;
  shadow.host_data = instance->dsp_host->HostData();
  shadow.dispatch_entry = &HostHarness::DspEntry;

  void* record = Make(instance.get(), 0, QX_INSTANCE_DSP, with_callback ? &HostHarness::DspCallback : nullptr,
                      instance->dsp_host->HostData());
  auto* real = static_cast<QXModuleStruct*>(record);
  if (real == nullptr) return -1;
  instance->real = record;
  Adopt(*instance);
  instance->process_entry = real->process_entry;
#if QX_HARNESS_DIRECT_PROCESS
  shadow.object = real->object;
  shadow.process_entry = real->process_entry;
  shadow.event_entry = real->event_entry;
#else
  shadow.object = &shadow;
  shadow.process_entry = &HostHarness::ProcessEntry;
  shadow.event_entry = &HostHarness::EventEntry;
#endif
  instance->dsp_host->Attach(&shadow);
  m_instances.push_back(std::move(instance));
  return m_instances.back()->id;
}

int HostHarness::OpenDsp(int32_t pin_count) {
  const int id = MakeDsp(pin_count);
  if (id < 0 || !IsLive(id)) return -1;
  Dsp(id).Open();
  return id;
}

void HostHarness::Adopt(Instance& instance) {
  const int32_t* words = static_cast<const int32_t*>(instance.real);
  instance.magic = words[0];
  instance.version = words[1];
  // A record without a dispatch entry cannot be called; the factory check says so.
  instance.live = instance.gui ? static_cast<QXGuiStruct*>(instance.real)->dispatch_entry != nullptr
                               : static_cast<QXModuleStruct*>(instance.real)->dispatch_entry != nullptr;
}

QXWord HostHarness::Close(int id) {
  Instance& instance = Get(id);
  if (!instance.live) return 0;
  return instance.gui ? instance.gui_host->Close() : instance.dsp_host->Close();
}

HostHarness::Instance* HostHarness::FindShadow(const void* shadow) {
  for (auto& instance : m_instances) {
    if (&instance->gui_shadow == shadow || &instance->dsp_shadow == shadow) return instance.get();
  }
  return nullptr;
}

HostHarness::Instance* HostHarness::FindCaller(const void* record, bool gui) {
  for (auto& instance : m_instances) {
    if (instance->live && instance->gui == gui && instance->real == record) return instance.get();
  }
  if (m_constructing != nullptr && m_constructing->gui == gui) {
    // makeModule has not returned the record yet: the first one seen is it.
    if (m_constructing_record == nullptr) m_constructing_record = record;
    if (record == m_constructing_record) return m_constructing;
  }
  return nullptr;
}

bool HostHarness::Enter(const char* call) {
  if (m_stack.size() >= static_cast<size_t>(MAX_DEPTH)) {
    if (!m_depth_exceeded) {
      Problem(Trouble::DEPTH,
              std::string(call) + " nested " + std::to_string(MAX_DEPTH) +
                  " calls deep: expected the module to stop re-entering, got recursion without bound");
    }
    m_depth_exceeded = true;
    return false;
  }
  return true;
}

void HostHarness::Leave() { m_stack.pop_back(); }

QXWord HostHarness::CallDispatch(Instance& instance, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt) {
  const TraceWriter::Kind kind =
      instance.gui ? TraceWriter::Kind::GUI_DISPATCH : TraceWriter::Kind::DSP_DISPATCH;
  if (!instance.live) {
    Problem(Trouble::CALLBACK, "the host called a closed instance with " + OpText(kind, opcode));
    return 0;
  }
  if (!Enter(OpText(kind, opcode).c_str())) return 0;
  TraceWriter::Entry trace = BeginTrace(kind, instance.real, opcode, index, value, ptr, opt);
  m_stack.push_back(&instance);
  QXWord result;
  {
    AllocationCounter::Scope module(true);
    if (instance.gui) {
      auto* real = static_cast<QXGuiStruct*>(instance.real);
      result = real->dispatch_entry(real, opcode, index, value, ptr, opt);
    } else {
      auto* real = static_cast<QXModuleStruct*>(instance.real);
      result = real->dispatch_entry(real, opcode, index, value, ptr, opt);
    }
  }
  Leave();
  const int32_t close_opcode =
      instance.gui ? static_cast<int32_t>(GUI_OP_CLOSE) : static_cast<int32_t>(DSP_OP_CLOSE);
  const bool close = opcode == close_opcode;
  if (close) {
    // The record is gone with the instance, whatever the module answered.
    instance.live = false;
  } else {
    const int32_t* words = static_cast<const int32_t*>(instance.real);
    if (words[0] != instance.magic || words[1] != instance.version) {
      char text[200];
      std::snprintf(
          text, sizeof text,
          "after %s the record reads magic 0x%08X version %d: expected them unchanged, 0x%08X and %d",
          OpText(kind, opcode).c_str(), static_cast<unsigned>(words[0]), words[1],
          static_cast<unsigned>(instance.magic), instance.version);
      Problem(Trouble::RECORD, text);
    }
  }
  EndTrace(trace, result);
  return result;
}

QXWord HostHarness::GuiEntry(QXGuiStruct* shadow, int32_t opcode, int32_t index, int32_t value, void* ptr,
                             float opt) {
  Instance* instance = s_current != nullptr ? s_current->FindShadow(shadow) : nullptr;
  return instance != nullptr ? s_current->CallDispatch(*instance, opcode, index, value, ptr, opt) : 0;
}

QXWord HostHarness::DspEntry(QXModuleStruct* shadow, int32_t opcode, int32_t index, int32_t value, void* ptr,
                             float opt) {
  Instance* instance = s_current != nullptr ? s_current->FindShadow(shadow) : nullptr;
  return instance != nullptr ? s_current->CallDispatch(*instance, opcode, index, value, ptr, opt) : 0;
}

#if !QX_HARNESS_DIRECT_PROCESS
void HostHarness::ProcessEntry(void* shadow, int32_t offset, int32_t count) {
  Instance* instance = s_current != nullptr ? s_current->FindShadow(shadow) : nullptr;
  if (instance != nullptr) s_current->CallProcess(*instance, offset, count);
}

void HostHarness::EventEntry(void* shadow, QXEvent* event) {
  Instance* instance = s_current != nullptr ? s_current->FindShadow(shadow) : nullptr;
  if (instance != nullptr) s_current->CallEvent(*instance, event);
}
#endif

void HostHarness::CallProcess(Instance& instance, int32_t offset, int32_t count) {
  if (!instance.live || instance.process_entry == nullptr || !Enter("process_entry")) return;
  auto* real = static_cast<QXModuleStruct*>(instance.real);
  TraceWriter::Entry trace = BeginTrace(TraceWriter::Kind::PROCESS, real, 0, offset, count, nullptr, 0.0f);
  m_stack.push_back(&instance);
  {
    AllocationCounter::Scope module(true);
    instance.process_entry(real->object, offset, count);
  }
  Leave();
  EndTrace(trace, 0);
}

void HostHarness::CallEvent(Instance& instance, QXEvent* event) {
  auto* real = static_cast<QXModuleStruct*>(instance.real);
  if (!instance.live || real->event_entry == nullptr || !Enter("event_entry")) return;
  TraceWriter::Entry trace =
      BeginTrace(TraceWriter::Kind::EVENT, real, event != nullptr ? event->event_type : 0, 0, 0, event, 0.0f);
  m_stack.push_back(&instance);
  {
    AllocationCounter::Scope module(true);
    real->event_entry(real->object, event);
  }
  Leave();
  EndTrace(trace, 0);
}

QXWord HostHarness::GuiCallback(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                float opt) {
  AllocationCounter::Scope host(false);
  return s_current != nullptr ? s_current->OnCallback(true, record, opcode, index, value, ptr, opt) : 0;
}

QXWord HostHarness::DspCallback(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                float opt) {
  AllocationCounter::Scope host(false);
  return s_current != nullptr ? s_current->OnCallback(false, record, opcode, index, value, ptr, opt) : 0;
}

HostHarness::Instance* HostHarness::Answerer(Instance* caller) {
  if (!m_stack.empty()) return m_stack.back();
  return caller;
}

QXWord HostHarness::OnCallback(bool gui, void* record, int32_t opcode, int32_t index, int32_t value,
                               void* ptr, float opt) {
  const TraceWriter::Kind kind = gui ? TraceWriter::Kind::GUI_CALLBACK : TraceWriter::Kind::DSP_CALLBACK;
  TraceWriter::Entry trace = BeginTrace(kind, record, opcode, index, value, ptr, opt);
  ++m_callbacks;
  const std::string call = std::string(gui ? "GUI" : "DSP") + " callback " + OpText(kind, opcode);
  Instance* caller = FindCaller(record, gui);
  if (caller == nullptr) {
    bool closed = false;
    for (auto& instance : m_instances) closed = closed || (!instance->live && instance->real == record);
    Problem(Trouble::CALLBACK, call + " with record " + Hex(record) + ": expected the record of a live " +
                                   (gui ? "GUI" : "DSP") + " instance, got " +
                                   (closed ? "that of an instance already closed" : "an unknown address"));
  } else if (m_stack.empty()) {
    Problem(Trouble::CALLBACK,
            call + ": expected calls only while the host calls the instance, got one outside any call");
  } else if (m_stack.back() != caller) {
    Problem(Trouble::CALLBACK, call + " with the record of instance " + std::to_string(caller->id) +
                                   ": expected the record of instance " + std::to_string(m_stack.back()->id) +
                                   ", which the host was calling");
  }
  Instance* answerer = Answerer(caller);
  QXWord result = 0;
  if (answerer != nullptr && answerer->gui != gui) answerer = nullptr;
  if (OpcodeNames::Find(TraceWriter::Family(kind), opcode) == nullptr) {
    Problem(Trouble::CALLBACK, call + ": expected a known host opcode, got " + std::to_string(opcode));
  } else if (answerer == nullptr) {
    // Nobody to answer: the call goes unanswered (0).
  } else if (gui) {
    if (IsPinRequest(opcode) && (index < 0 || index >= answerer->pins)) {
      Problem(Trouble::CALLBACK, call + " for pin " + std::to_string(index) +
                                     ": expected a pin index below " + std::to_string(answerer->pins));
    }
    if (opcode == GUIHOST_OP_WRITE_PIN_VALUE) m_writes.push_back(Write{answerer->id, index, value, opt});
    result = GuiHost::Callback(&answerer->gui_shadow, opcode, index, value, ptr, opt);
  } else {
    if (opcode == HOST_OP_PROCESS_FUNCTION_CHANGED) {
      auto* real = static_cast<QXModuleStruct*>(answerer->real);
      if (real != nullptr) {
        answerer->process_entry = real->process_entry;
#if QX_HARNESS_DIRECT_PROCESS
        answerer->dsp_shadow.process_entry = real->process_entry;
#endif
      }
    }
    result = DspHost::Callback(&answerer->dsp_shadow, opcode, index, value, ptr, opt);
  }
  EndTrace(trace, result);
  return result;
}
