// The results of one validation run and their three forms: a line per check
// for people, a JSON document and a JUnit XML file for tools.
#ifndef VALIDATE_VALIDATIONREPORT_H
#define VALIDATE_VALIDATIONREPORT_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "CheckResult.h"

class ValidationReport {
 public:
  struct Entry {
    std::string check;
    bool randomised;
    uint64_t seed;  // of the round it ran in
    CheckResult result;
  };
  struct Module {
    std::string path;
    bool unloadable = false;
    std::vector<Entry> entries;
  };

  ValidationReport(uint64_t seed, int size, double timeout)
      : m_seed(seed), m_size(size), m_timeout(timeout) {}

  Module& AddModule(const std::string& path);
  // The first line of every JUnit report.
  static constexpr const char* JUNIT_DECLARATION = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const std::vector<Module>& Modules() const { return m_modules; }
  // How many checks ended with `status`, over all modules.
  int Count(CheckStatus status) const;
  // How many checks applied to their module: the others (inapplicable) are
  // in the JSON report alone, with the reason.
  int Total() const;
  static bool Listed(const Entry& entry);

  // "  fail     dsp.lifecycle   DSP_OP_CLOSE: expected 1, got 0 [seed N]", a
  // line for each further failure, then the check's output, indented, if it
  // failed; control characters escaped. Nothing for a check that does not
  // apply.
  std::string Line(const Entry& entry) const;
  // The one line that ends every run.
  std::string Summary(double seconds) const;
  void WriteJson(std::ostream& out, int exit_code, double seconds) const;
  // The report as JUnit XML.
  std::string Junit(double seconds) const;

  // Text for XML: the reserved characters as entities, control characters as
  // in the text report; in an `attribute`, line breaks as character
  // references.
  static std::string XmlText(const std::string& text, bool attribute = false);

 private:
  uint64_t m_seed;
  int m_size;
  double m_timeout;
  std::vector<Module> m_modules;
};

#endif  // VALIDATE_VALIDATIONREPORT_H
