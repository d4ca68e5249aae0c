// A bare host callback for tests that must see exactly what an instance sends,
// with scripted answers and 4-byte values written for reads.
#ifndef TESTS_HOSTCALLBACKRECORDER_H
#define TESTS_HOSTCALLBACKRECORDER_H

#include <cstring>
#include <functional>
#include <vector>

#include "HostCall.h"
#include "QXHostInterface.h"

class HostCallbackRecorder {
 public:
  HostCallbackRecorder() { s_current = this; }
  ~HostCallbackRecorder() { s_current = nullptr; }

  static QXWord QX_CALL Callback(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt) {
    HostCallbackRecorder* self = s_current;
    self->calls.push_back(HostCall{record, opcode, index, value, ptr, opt});
    return self->answer ? self->answer(opcode, index, value, ptr) : 0;
  }

  std::vector<HostCall> calls;
  // Answers a call; may write through ptr. Unset: every call answers 0.
  std::function<QXWord(int32_t opcode, int32_t index, int32_t value, void* ptr)> answer;

 private:
  static inline HostCallbackRecorder* s_current = nullptr;
};

#endif  // TESTS_HOSTCALLBACKRECORDER_H
