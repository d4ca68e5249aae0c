// The log a reference host keeps of the calls a module makes to it.
#ifndef HOST_HOSTLOG_H
#define HOST_HOSTLOG_H

#include <cstdint>
#include <vector>

#include "HostCall.h"

class HostLog {
 public:
  // Keeps the call unless logging is off (an entry allocates).
  void Add(const HostCall& call) {
    if (m_enabled) m_calls.push_back(call);
  }
  const std::vector<HostCall>& All() const { return m_calls; }
  // The calls with one opcode, in order.
  std::vector<HostCall> Calls(int32_t opcode) const;
  void Clear() { m_calls.clear(); }
  void SetEnabled(bool on) { m_enabled = on; }

 private:
  std::vector<HostCall> m_calls;
  bool m_enabled = true;
};

#endif  // HOST_HOSTLOG_H
