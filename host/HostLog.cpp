#include "HostLog.h"

#include <algorithm>
#include <iterator>

std::vector<HostCall> HostLog::Calls(int32_t opcode) const {
  std::vector<HostCall> calls;
  std::copy_if(m_calls.begin(), m_calls.end(), std::back_inserter(calls),
               [opcode](const HostCall& call) { return call.opcode == opcode; });
  return calls;
}
