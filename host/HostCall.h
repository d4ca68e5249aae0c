// One call that a module made to the reference host, as the host's log keeps it.
#ifndef HOST_HOSTCALL_H
#define HOST_HOSTCALL_H

#include <cstdint>

#include "QXHostInterface.h"

struct HostCall {
  const void* record;  // the record the module passed as its identity
  int32_t opcode;
  int32_t index;
  int32_t value;
  const void* ptr;
  float opt;
};

#endif  // HOST_HOSTCALL_H
