// The names of the host interface's opcodes, in their four separate
// numberings: the one place that says whether an opcode is known, for the
// trace, the validator's messages and its checks of the host callback.
#ifndef COMMON_OPCODENAMES_H
#define COMMON_OPCODENAMES_H

#include <cstdint>
#include <string>

// Which numbering an opcode belongs to.
enum class OpcodeFamily {
  DSP,     // host to a DSP record's dispatch_entry: DSP_OP_*
  GUI,     // host to a GUI record's dispatch_entry: GUI_OP_*
  HOST,    // a DSP instance to the host callback: HOST_OP_*
  GUIHOST  // a GUI instance to the host callback: GUIHOST_OP_*
};

class OpcodeNames {
 public:
  // "DSP_OP_OPEN", ..., or null for an opcode the family lacks.
  static const char* Find(OpcodeFamily family, int32_t opcode);
  // The name, or "opcode N" for an unknown one.
  static std::string Text(OpcodeFamily family, int32_t opcode);
};

#endif  // COMMON_OPCODENAMES_H
