#include "ModuleCall.h"

#include "OpcodeNames.h"

thread_local ModuleCall::Call ModuleCall::t_call{Entry::NONE, {0, 0}};

ModuleCall::ModuleCall(Entry entry, int32_t first, int32_t second) : m_outer(t_call) {
  t_call = Call{entry, {first, second}};
}

ModuleCall::~ModuleCall() { t_call = m_outer; }

namespace {

// Text put together in a caller's buffer, always ended by 0.
class Words {
 public:
  Words(char* text, size_t size) : m_text(text), m_size(size) {
    if (m_size > 0) m_text[0] = '\0';
  }
  Words& operator<<(const char* words) {
    while (*words != '\0' && m_used + 1 < m_size) m_text[m_used++] = *words++;
    if (m_size > 0) m_text[m_used] = '\0';
    return *this;
  }
  Words& operator<<(int32_t number) {
    char digits[12];
    int count = 0;
    uint32_t magnitude = number < 0 ? 0U - static_cast<uint32_t>(number) : static_cast<uint32_t>(number);
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0) *this << "-";
    char reversed[12];
    for (int i = 0; i < count; ++i) reversed[i] = digits[count - 1 - i];
    reversed[count] = '\0';
    return *this << reversed;
  }

 private:
  char* m_text;
  size_t m_size;
  size_t m_used = 0;
};

void Dispatch(Words& words, OpcodeFamily family, const char* side, int32_t opcode, int32_t index) {
  const char* name = OpcodeNames::Find(family, opcode);
  if (name != nullptr)
    words << name;
  else
    words << "the " << side << " record's dispatch_entry (opcode " << opcode << ")";
  words << " (index " << index << ")";
}

}  // namespace

void ModuleCall::Describe(char* text, size_t size) {
  Words words(text, size);
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
