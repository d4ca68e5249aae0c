// A check's process reports to the validator on a channel of its own, apart
// from its standard output and error, which the module shares: a file
// descriptor (a handle on Windows) that the validator hands it and names on
// its command line. Writing allocates nothing, so the harness may write while
// a call into the module is in flight.
#ifndef VALIDATE_REPORTCHANNEL_H
#define VALIDATE_REPORTCHANNEL_H

#include <cstddef>
#include <string>

class ReportChannel {
 public:
  // The channel with the number given on the command line; false if it is
  // not a number.
  bool Open(const std::string& number);
  bool IsOpen() const { return m_open; }
  // Writes `text` whole, as far as the system lets it.
  void Write(const char* text, size_t length) const;
  void Write(const std::string& text) const { Write(text.data(), text.size()); }

 private:
  bool m_open = false;
  unsigned long long m_number = 0;
};

#endif  // VALIDATE_REPORTCHANNEL_H
