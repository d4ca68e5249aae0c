#include "UnwindTable.h"

#include "DwarfCursor.h"

namespace {

// A pointer as `encoding` (DW_EH_PE_*) stores it, at the cursor, which lies at
// `address` + its offset in the process. Absolute and pc-relative ones only.
bool Pointer(DwarfCursor* cursor, uint8_t encoding, uint32_t address, uint32_t* value) {
  const uint32_t here = address + static_cast<uint32_t>(cursor->at);
  switch (encoding & 0x0f) {
    case 0x00:  // absptr, 4 bytes here
    case 0x03:  // udata4
    case 0x0b:  // sdata4
      *value = cursor->Fixed(4);
      break;
    case 0x02:  // udata2
      *value = cursor->Fixed(2);
      break;
    case 0x0a:  // sdata2
      *value = static_cast<uint32_t>(static_cast<int16_t>(cursor->Fixed(2)));
      break;
    case 0x01:
      *value = cursor->Unsigned();
      break;
    case 0x09:
      *value = static_cast<uint32_t>(cursor->Signed());
      break;
    default:
      return false;
  }
  switch (encoding & 0xf0) {
    case 0x00:
      break;
    case 0x10:  // pc-relative
      *value += here;
      break;
    default:  // relative to a base this does not know, or indirect
      return false;
  }
  return cursor->ok;
}

// How a register of the caller is found: as it is; at the frame's address
// (CFA) plus an offset; at the address an expression gives (`expression`,
// `size`: where it lies in the table); or by a rule this does not follow.
enum class Rule : uint8_t { SAME, AT_OFFSET, AT_EXPRESSION, UNKNOWN };

struct RegisterRule {
  Rule rule = Rule::SAME;
  int32_t offset = 0;
  uint32_t expression = 0;
  uint32_t size = 0;
};

struct State {
  // The CFA: a register plus an offset, or where an expression is nonzero,
  // its value (GCC's rule for a function that realigns its stack).
  uint32_t cfa_register = UnwindTable::ESP;
  int32_t cfa_offset = 0;
  uint32_t cfa_expression = 0;
  uint32_t cfa_size = 0;
  RegisterRule saved[UnwindTable::COUNT];
};

// A DWARF expression of the kinds GCC writes for a function that realigns its
// stack: a register plus an offset, read from memory, added to. The CFA is
// pushed first where `cfa` is given; anything else fails.
bool Evaluate(DwarfCursor cursor, const UnwindTable::Registers& registers, const uint32_t* cfa,
              UnwindTable::Read read, void* data, uint32_t* result) {
  uint32_t stack[8];
  int depth = 0;
  if (cfa != nullptr) stack[depth++] = *cfa;
  while (cursor.More()) {
    const uint32_t op = cursor.Byte();
    if ((op >= 0x30 && op <= 0x4f) || (op >= 0x70 && op <= 0x77)) {  // lit0..31, breg0..7
      if (depth == 8) return false;
      stack[depth++] =
          op < 0x70 ? op - 0x30 : registers.value[op - 0x70] + static_cast<uint32_t>(cursor.Signed());
    } else if (op == 0x06) {  // deref
      if (depth == 0 || !read(stack[depth - 1], &stack[depth - 1], data)) return false;
    } else if (op == 0x23) {  // plus_uconst
      if (depth == 0) return false;
      stack[depth - 1] += cursor.Unsigned();
    } else if (op == 0x22 || op == 0x1c) {  // plus, minus
      if (depth < 2) return false;
      const uint32_t right = stack[--depth];
      stack[depth - 1] = op == 0x22 ? stack[depth - 1] + right : stack[depth - 1] - right;
    } else {
      return false;
    }
  }
  if (!cursor.ok || depth == 0) return false;
  *result = stack[depth - 1];
  return true;
}

// What the functions of an FDE share: their CIE.
struct Common {
  uint32_t code_align = 1;
  int32_t data_align = 0;
  uint32_t return_column = UnwindTable::EIP;
  uint8_t encoding = 0;    // of the FDE's addresses
  bool augmented = false;  // each FDE has augmentation data
  size_t instructions = 0;
  size_t end = 0;
};

bool ReadCommon(const unsigned char* bytes, size_t size, size_t at, Common* common) {
  DwarfCursor cursor{bytes, at, size};
  const uint32_t length = cursor.Fixed(4);
  if (!cursor.ok || length == 0xffffffff || length > size - cursor.at) return false;
  cursor.end = common->end = cursor.at + length;
  if (cursor.Fixed(4) != 0) return false;  // an FDE where its CIE should be
  const uint32_t version = cursor.Byte();
  char augmentation[8] = {};
  for (size_t i = 0;; ++i) {
    const auto letter = static_cast<char>(cursor.Byte());
    if (!cursor.ok || i == sizeof augmentation) return false;
    augmentation[i] = letter;
    if (letter == '\0') break;
  }
  if (augmentation[0] != '\0' && augmentation[0] != 'z') return false;  // "eh" and the like
  common->code_align = cursor.Unsigned();
  common->data_align = cursor.Signed();
  common->return_column = version == 1 ? cursor.Byte() : cursor.Unsigned();
  common->augmented = augmentation[0] == 'z';
  if (common->augmented) {
    const uint32_t data_size = cursor.Unsigned();
    const size_t data_end = cursor.at + data_size;
    for (const char* letter = augmentation + 1; *letter != '\0' && cursor.ok; ++letter) {
      if (*letter == 'R') {
        common->encoding = static_cast<uint8_t>(cursor.Byte());
      } else if (*letter == 'P') {
        uint32_t personality = 0;
        if (!Pointer(&cursor, static_cast<uint8_t>(cursor.Byte() & 0x7f), 0, &personality)) return false;
      } else if (*letter == 'L') {
        cursor.Byte();
      } else if (*letter != 'S') {
        break;  // the size says where the data ends
      }
    }
    if (!cursor.ok || data_end > cursor.end) return false;
    cursor.at = data_end;
  }
  common->instructions = cursor.at;
  return cursor.ok && common->return_column < UnwindTable::COUNT;
}

// Runs the instructions from `cursor` for the code from `location` up to and
// including `pc`. `initial` is the state the CIE's own instructions left,
// which DW_CFA_restore goes back to.
bool Run(DwarfCursor cursor, const Common& common, uint32_t location, uint32_t pc, const State& initial,
         State* state) {
  State remembered[4];
  int depth = 0;
  const auto set = [state](uint32_t reg, Rule rule, int32_t offset) {
    if (reg >= UnwindTable::COUNT) return;  // a register a caller need not have back
    state->saved[reg] = RegisterRule{rule, offset, 0, 0};
  };
  const auto restore = [state, &initial](uint32_t reg) {
    if (reg < UnwindTable::COUNT) state->saved[reg] = initial.saved[reg];
  };
  // An expression's place in the table, passed over.
  const auto expression = [&cursor](uint32_t* at, uint32_t* size) {
    *size = cursor.Unsigned();
    *at = static_cast<uint32_t>(cursor.at);
    cursor.Skip(*size);
  };
  const auto advance = [&location, pc, &common](uint32_t delta) {
    location += delta * common.code_align;
    return location <= pc;
  };
  while (cursor.More()) {
    const uint32_t op = cursor.Byte();
    const uint32_t low = op & 0x3f;
    switch (op >> 6) {
      case 1:  // advance_loc
        if (!advance(low)) return true;
        continue;
      case 2:  // offset
        set(low, Rule::AT_OFFSET, static_cast<int32_t>(cursor.Unsigned()) * common.data_align);
        continue;
      case 3:  // restore
        restore(low);
        continue;
      default:
        break;
    }
    switch (op) {
      case 0x00:  // nop
        break;
      case 0x01: {  // set_loc
        uint32_t to = 0;
        if (!Pointer(&cursor, common.encoding, 0, &to)) return false;
        if (to > pc) return true;
        location = to;
        break;
      }
      case 0x02:
        if (!advance(cursor.Fixed(1))) return true;
        break;
      case 0x03:
        if (!advance(cursor.Fixed(2))) return true;
        break;
      case 0x04:
        if (!advance(cursor.Fixed(4))) return true;
        break;
      case 0x05: {  // offset_extended
        const uint32_t reg = cursor.Unsigned();
        set(reg, Rule::AT_OFFSET, static_cast<int32_t>(cursor.Unsigned()) * common.data_align);
        break;
      }
      case 0x06:  // restore_extended
        restore(cursor.Unsigned());
        break;
      case 0x07:    // undefined
      case 0x09: {  // register: in another register, which this does not follow
        const uint32_t reg = cursor.Unsigned();
        if (op == 0x09) cursor.Unsigned();
        set(reg, Rule::UNKNOWN, 0);
        break;
      }
      case 0x08:  // same_value
        set(cursor.Unsigned(), Rule::SAME, 0);
        break;
      case 0x0a:  // remember_state
        if (depth == 4) return false;
        remembered[depth++] = *state;
        break;
      case 0x0b:  // restore_state
        if (depth == 0) return false;
        *state = remembered[--depth];
        break;
      case 0x0c:  // def_cfa
        state->cfa_register = cursor.Unsigned();
        state->cfa_offset = static_cast<int32_t>(cursor.Unsigned());
        state->cfa_expression = 0;
        break;
      case 0x0d:  // def_cfa_register
        state->cfa_register = cursor.Unsigned();
        state->cfa_expression = 0;
        break;
      case 0x0e:  // def_cfa_offset
        state->cfa_offset = static_cast<int32_t>(cursor.Unsigned());
        break;
      case 0x0f:  // def_cfa_expression
        expression(&state->cfa_expression, &state->cfa_size);
        break;
      case 0x10: {  // expression
        const uint32_t reg = cursor.Unsigned();
        RegisterRule rule{Rule::AT_EXPRESSION, 0, 0, 0};
        expression(&rule.expression, &rule.size);
        if (reg < UnwindTable::COUNT) state->saved[reg] = rule;
        break;
      }
      case 0x16: {  // val_expression: not followed, passed over
        const uint32_t reg = cursor.Unsigned();
        cursor.Skip(cursor.Unsigned());
        set(reg, Rule::UNKNOWN, 0);
        break;
      }
      case 0x11: {  // offset_extended_sf
        const uint32_t reg = cursor.Unsigned();
        set(reg, Rule::AT_OFFSET, cursor.Signed() * common.data_align);
        break;
      }
      case 0x12:  // def_cfa_sf
        state->cfa_register = cursor.Unsigned();
        state->cfa_offset = cursor.Signed() * common.data_align;
        state->cfa_expression = 0;
        break;
      case 0x13:  // def_cfa_offset_sf
        state->cfa_offset = cursor.Signed() * common.data_align;
        break;
      case 0x2e:  // GNU_args_size
        cursor.Unsigned();
        break;
      case 0x2f: {  // GNU_negative_offset_extended
        const uint32_t reg = cursor.Unsigned();
        set(reg, Rule::AT_OFFSET, -static_cast<int32_t>(cursor.Unsigned()) * common.data_align);
        break;
      }
      default:  // val_offset and what is not for x86
        return false;
    }
  }
  return cursor.ok;
}

}  // namespace

bool UnwindTable::Step(Registers* registers, bool returned, Read read, void* data) const {
  // The return address may be the first byte after a call that ends its
  // function: the call is what is looked up.
  const uint32_t pc = registers->value[EIP] - (returned ? 1 : 0);
  Common common;  // the CIE last read: most FDEs of a file share one
  size_t common_at = m_size;
  for (size_t at = 0; at + 8 <= m_size;) {
    DwarfCursor cursor{m_table, at, m_size};
    const uint32_t length = cursor.Fixed(4);
    if (length == 0 || length == 0xffffffff || length > m_size - cursor.at) return false;
    const size_t next = cursor.at + length;
    cursor.end = next;
    const size_t id_at = cursor.at;
    const uint32_t id = cursor.Fixed(4);
    at = next;
    if (id == 0 || id > id_at) continue;  // a CIE, or an FDE whose CIE is not in the table
    uint32_t start = 0;
    uint32_t range = 0;
    if (id_at - id != common_at) {
      common = Common{};
      if (!ReadCommon(m_table, m_size, id_at - id, &common)) return false;
      common_at = id_at - id;
    }
    if (!Pointer(&cursor, common.encoding, m_address, &start) ||
        !Pointer(&cursor, static_cast<uint8_t>(common.encoding & 0x0f), 0, &range))
      return false;
    if (pc - start >= range) continue;
    State initial;
    initial.saved[common.return_column].rule = Rule::UNKNOWN;
    if (!Run(DwarfCursor{m_table, common.instructions, common.end}, common, start, ~uint32_t{0}, initial,
             &initial))
      return false;
    State state = initial;
    // The FDE's augmentation data (where the CIE's augmentation has a "z"), then its instructions.
    DwarfCursor instructions = cursor;
    if (common.augmented) instructions.Skip(instructions.Unsigned());
    if (!instructions.ok || !Run(instructions, common, start, pc, initial, &state)) return false;

    uint32_t cfa = 0;
    if (state.cfa_expression != 0) {
      if (!Evaluate(DwarfCursor{m_table, state.cfa_expression, state.cfa_expression + state.cfa_size},
                    *registers, nullptr, read, data, &cfa))
        return false;
    } else if (state.cfa_register < COUNT) {
      cfa = registers->value[state.cfa_register] + static_cast<uint32_t>(state.cfa_offset);
    } else {
      return false;
    }
    const Rule returns = state.saved[common.return_column].rule;
    if (returns != Rule::AT_OFFSET && returns != Rule::AT_EXPRESSION) return false;
    Registers caller = *registers;
    for (int reg = 0; reg < COUNT; ++reg) {
      const RegisterRule& rule = state.saved[reg];
      uint32_t address = cfa + static_cast<uint32_t>(rule.offset);
      if (rule.rule == Rule::AT_EXPRESSION &&
          !Evaluate(DwarfCursor{m_table, rule.expression, rule.expression + rule.size}, *registers, &cfa,
                    read, data, &address))
        return false;
      if (rule.rule != Rule::SAME && rule.rule != Rule::UNKNOWN && !read(address, &caller.value[reg], data))
        return false;
    }
    caller.value[EIP] = caller.value[common.return_column];
    caller.value[ESP] = cfa;
    *registers = caller;
    return true;
  }
  return false;
}
