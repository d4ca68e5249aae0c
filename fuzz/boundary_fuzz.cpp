// Drives the module through its exports the way a hostile or broken host
// might: long sequences of dispatcher calls, events and process calls with
// arbitrary opcodes and arguments, answered by a host callback that answers
// arbitrarily. Built without contract checks, so every broken contract must be
// refused; a crash or a sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "QXHostInterface.h"

extern "C" bool QX_CALL getModuleProperties(int32_t index, QXModuleProperties* properties);
extern "C" void* QX_CALL makeModule(int32_t index, int32_t type, qxaudioMaster callback, QXWord host_data);

namespace {

// The fuzzer's bytes, read as the run goes; once used up, every read is 0.
struct Input {
  const uint8_t* data = nullptr;
  size_t size = 0;

  uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  uint32_t Word() {
    uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w = (w << 8) | Byte();
    return w;
  }
  int32_t Int() { return static_cast<int32_t>(Word()); }
  float Float() {
    const uint32_t bits = Word();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  // Mostly small numbers, the ones the tables use, sometimes anything.
  int32_t Small() {
    const uint8_t b = Byte();
    return b < 224 ? static_cast<int32_t>(b % 28) - 3 : Int();
  }
};

Input g_input;
uint32_t g_clock = 0;                    // the host's sample clock
alignas(16) unsigned char g_record[64];  // a host-owned record for ptr arguments
alignas(16) float g_samples[4096];       // an audio buffer the host can hand out
const char g_text[] = "host text";
QXGuiStruct* g_gui = nullptr;
int g_echo_depth = 0;
// The code words the current DSP instance posted in run-function events: a
// host hands back only those, so the fuzzer delivers no other.
QXModuleStruct* g_dsp = nullptr;
QXWord g_posted[64];
size_t g_posted_count = 0;

void* AnyPtr() {
  if (g_input.Byte() & 1) return nullptr;
  for (unsigned char& b : g_record) b = g_input.Byte();
  return g_record;
}

QXWord QX_CALL DspCallback(void* record, int32_t opcode, int32_t, int32_t, void* ptr, float) {
  if (record == nullptr) __builtin_trap();
  switch (opcode) {
    case HOST_OP_GET_SAMPLE_CLOCK:
      return static_cast<QXWord>(static_cast<uintptr_t>(g_clock));
    case HOST_OP_GET_PIN_BUFFER:
      return g_input.Byte() & 1 ? reinterpret_cast<QXWord>(g_samples) : 0;
    case HOST_OP_ADD_EVENT: {
      QXEvent copy;  // the host copies the posted record during the call
      std::memcpy(&copy, ptr, sizeof copy);
      if (copy.event_type == ET_RUN_FUNCTION && record == g_dsp && g_posted_count < 64)
        g_posted[g_posted_count++] = copy.arg3;
      return copy.event_type == 0x7fffffff;
    }
    default:
      return g_input.Int();
  }
}

QXWord QX_CALL GuiCallback(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float) {
  if (record == nullptr) __builtin_trap();
  switch (opcode) {
    case GUIHOST_OP_READ_PIN_VALUE: {
      const uint32_t bits = g_input.Word();
      std::memcpy(ptr, &bits, sizeof bits);
      return 0;
    }
    case GUIHOST_OP_WRITE_PIN_VALUE:
      // Sometimes report the write back from inside it, as some hosts do.
      if (g_gui != nullptr && g_echo_depth < 2 && (g_input.Byte() & 3) == 0) {
        ++g_echo_depth;
        g_gui->dispatch_entry(g_gui, GUI_OP_PIN_VALUE_CHANGED, index, 0, nullptr, 0.0f);
        --g_echo_depth;
      }
      return 0;
    case GUIHOST_OP_READ_PIN_TEXT:
      return g_input.Byte() & 1 ? reinterpret_cast<QXWord>(g_text) : 0;
    case GUIHOST_OP_READ_PIN_TEXT_W:
      if (value > 0 && ptr != nullptr) {
        for (int32_t i = 0; i < value; ++i)
          static_cast<char16_t*>(ptr)[i] = static_cast<char16_t>(g_input.Byte());
      }
      return g_input.Small();
    default:
      return g_input.Int();
  }
}

QXModuleStruct* NewDsp() {
  g_posted_count = 0;
  g_dsp = static_cast<QXModuleStruct*>(makeModule(0, QX_INSTANCE_DSP, &DspCallback, 0x1234));
  return g_dsp;
}

QXGuiStruct* NewGui() {
  return static_cast<QXGuiStruct*>(makeModule(0, QX_INSTANCE_GUI, &GuiCallback, 0x5678));
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_input = Input{data, size};
  g_clock = 0;
  QXModuleStruct* dsp = NewDsp();
  g_gui = NewGui();
  Check(dsp != nullptr && g_gui != nullptr);

  for (int step = 0; step < 512 && g_input.size > 0; ++step) {
    switch (g_input.Byte() % 8) {
      case 0: {  // DSP dispatcher
        const int32_t opcode = g_input.Small();
        const int32_t index = g_input.Small(), value = g_input.Int();
        void* ptr = AnyPtr();
        const QXWord answer = dsp->dispatch_entry(dsp, opcode, index, value, ptr, g_input.Float());
        if (opcode == DSP_OP_CLOSE) {
          Check(answer == 1);
          dsp = NewDsp();
        } else {
          Check(dsp->magic == QX_MAGIC_DSP && dsp->version == 1);
        }
        break;
      }
      case 1: {  // GUI dispatcher
        const int32_t opcode = g_input.Small();
        const int32_t index = g_input.Small(), value = g_input.Int();
        void* ptr = AnyPtr();
        const QXWord answer = g_gui->dispatch_entry(g_gui, opcode, index, value, ptr, g_input.Float());
        if (opcode == GUI_OP_CLOSE) {
          Check(answer == 1);
          g_gui = NewGui();
        }
        break;
      }
      case 2: {  // an event the host delivers
        QXEvent e;
        e.time_stamp = g_input.Byte() & 1 ? g_clock : g_input.Word();
        e.event_type = g_input.Small();
        e.arg1 = g_input.Int();
        e.arg2 = g_input.Int();
        e.arg3 = g_input.Byte() & 1 ? g_input.Small() : static_cast<QXWord>(g_input.Word()) * 2 + 1;
        e.arg4 = g_input.Int();
        if (e.event_type == ET_RUN_FUNCTION) {
          // Only a word this instance posted; none posted, no such event.
          if (g_posted_count == 0) break;
          e.arg3 = g_posted[g_input.Byte() % g_posted_count];
        }
        dsp->event_entry(dsp->object, &e);
        break;
      }
      case 3:  // a process call
        dsp->process_entry(dsp->object, g_input.Small(), g_input.Small());
        break;
      case 4:
        g_clock = g_input.Word();
        break;
      case 5: {
        QXModuleProperties p;
        std::memset(&p, 0, sizeof p);
        const bool known = getModuleProperties(g_input.Small(), &p);
        Check(p.sdk_version == QX_SDK_VERSION && (!known || p.name == p.id));
        break;
      }
      case 6: {  // the factory with arbitrary arguments
        const int32_t index = g_input.Small(), type = g_input.Small();
        void* record = makeModule(index, type, type == QX_INSTANCE_DSP ? &DspCallback : &GuiCallback, 0);
        Check(record == nullptr || (index == 0 && (type == 1 || type == 2)));
        if (type == QX_INSTANCE_DSP && record != nullptr) {
          auto* s = static_cast<QXModuleStruct*>(record);
          Check(s->dispatch_entry(s, DSP_OP_CLOSE, 0, 0, nullptr, 0.0f) == 1);
        } else if (record != nullptr) {
          auto* s = static_cast<QXGuiStruct*>(record);
          Check(s->dispatch_entry(s, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f) == 1);
        }
        break;
      }
      default: {  // the process description, read back
        const auto* info = reinterpret_cast<const QXProcessFunctionInfo*>(
            dsp->dispatch_entry(dsp, DSP_OP_GET_PROCESS_INFO, 0, 0, nullptr, 0.0f));
        Check(info != nullptr && info->kind == 1 && info->tag == 1002);
        unsigned char words[2 * sizeof(void*)];
        std::memcpy(words, info->address, sizeof words);
        break;
      }
    }
  }
  Check(dsp->dispatch_entry(dsp, DSP_OP_CLOSE, 0, 0, nullptr, 0.0f) == 1);
  QXGuiStruct* gui = g_gui;
  g_gui = nullptr;
  Check(gui->dispatch_entry(gui, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f) == 1);
  return 0;
}
