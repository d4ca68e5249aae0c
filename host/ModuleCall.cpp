#include "ModuleCall.h"

#include "FixedText.h"
#include "OpcodeNames.h"

thread_local ModuleCall::Call ModuleCall::t_call{Entry::NONE, {0, 0}};

ModuleCall::ModuleCall(Entry entry, int32_t first, int32_t second) : m_outer(t_call) {
  t_call = Call{entry, {first, second}};
}

ModuleCall::~ModuleCall() { t_call = m_outer; }

namespace {

void Dispatch(FixedText& words, OpcodeFamily family, const char* side, int32_t opcode, int32_t index) {
  const char* name = OpcodeNames::Find(family, opcode);
  if (name != nullptr)
    words << name;
  else
    words << "the " << side << " record's dispatch_entry (opcode " << opcode << ")";
  words << " (index " << index << ")";
}

}  // namespace

void ModuleCall::Describe(char* text, size_t size) {
  FixedText words(text, size);
  const Call call = t_call;
  switch (call.entry) {
    case Entry::NONE:
      break;
    case Entry::LOAD:
      words << "loading (the system loader runs the library's start-up code)";
      break;
    case Entry::GET_PROPERTIES:
      words << "getModuleProperties(" << call.args[0] << ")";
      break;
    case Entry::MAKE_MODULE:
      words << "makeModule(" << call.args[0] << ", " << call.args[1] << ")";
      break;
    case Entry::DSP_DISPATCH:
      Dispatch(words, OpcodeFamily::DSP, "DSP", call.args[0], call.args[1]);
      break;
    case Entry::GUI_DISPATCH:
      Dispatch(words, OpcodeFamily::GUI, "GUI", call.args[0], call.args[1]);
      break;
    case Entry::PROCESS:
      words << "process_entry (offset " << call.args[0] << ", count " << call.args[1] << ")";
      break;
    case Entry::EVENT:
      words << "event_entry (event type " << call.args[0] << ")";
      break;
  }
}
