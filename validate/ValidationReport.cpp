#include "ValidationReport.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "JsonText.h"
#include "TextFormat.h"

namespace {

const CheckStatus STATUSES[] = {CheckStatus::PASS,         CheckStatus::WARN, CheckStatus::SKIP,
                                CheckStatus::INAPPLICABLE, CheckStatus::FAIL, CheckStatus::CRASH,
                                CheckStatus::TIMEOUT};

// Durations in JSON, to the millisecond.
double Milliseconds(double seconds) { return std::round(seconds * 1000.0) / 1000.0; }

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

// The last `lines` lines of `text`, without its final line break.
std::string LastLines(const std::string& text, size_t lines) {
  size_t end = text.size();
  if (end > 0 && text[end - 1] == '\n') --end;
  size_t start = end;
  size_t count = 0;
  while (start > 0) {
    const size_t nl = text.rfind('\n', start - 1);
    if (nl == std::string::npos) {
      start = 0;
      break;
    }
    if (++count == lines) {
      start = nl + 1;
      break;
    }
    start = nl;
  }
  return text.substr(start, end - start);
}

}  // namespace

ValidationReport::Module& ValidationReport::AddModule(const std::string& path) {
  m_modules.push_back(Module{path, false, {}});
  return m_modules.back();
}

int ValidationReport::Count(CheckStatus status) const {
  int count = 0;
  for (const Module& m : m_modules) {
    for (const Entry& e : m.entries) count += e.result.status == status ? 1 : 0;
  }
  return count;
}

int ValidationReport::Total() const {
  int count = 0;
  for (const Module& m : m_modules) count += static_cast<int>(m.entries.size());
  return count - Count(CheckStatus::INAPPLICABLE);
}

bool ValidationReport::Listed(const Entry& entry) { return entry.result.status != CheckStatus::INAPPLICABLE; }

std::string ValidationReport::Line(const Entry& entry) const {
  if (!Listed(entry)) return "";
  char head[96];
  std::snprintf(head, sizeof head, "  %-8s %-26s", CheckResult::StatusName(entry.result.status),
                entry.check.c_str());
  std::string line = head;
  // One failure a line: the first beside the check's name, the others under it.
  const std::string indent(line.size() + 1, ' ');
  size_t start = 0;
  for (bool first = true; start < entry.result.message.size(); first = false) {
    const size_t end = entry.result.message.find('\n', start);
    const std::string text = entry.result.message.substr(start, end == std::string::npos ? end : end - start);
    line += (first ? " " : "\n" + indent) + TextFormat::Printable(text);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (entry.randomised) line += " [seed " + std::to_string(entry.seed) + "]";
  while (!line.empty() && line.back() == ' ') line.pop_back();
  line += "\n";
  if (entry.result.Failed() && !entry.result.output.empty()) {
    std::string output = LastLines(entry.result.output, 12);
    start = 0;
    while (start < output.size()) {
      const size_t end = output.find('\n', start);
      std::string text = output.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (text.size() > 160) text = text.substr(0, 157) + "...";
      line += "           | " + TextFormat::Printable(text) + "\n";
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  return line;
}

std::string ValidationReport::Summary(double seconds) const {
  const size_t modules = m_modules.size();
  char text[256];
  std::snprintf(
      text, sizeof text,
      "summary: %d checks on %zu module%s: %d passed, %d warned, %d skipped, %d failed, %d crashed, "
      "%d timed out (%.2f s)\n",
      Total(), modules, modules == 1 ? "" : "s", Count(CheckStatus::PASS), Count(CheckStatus::WARN),
      Count(CheckStatus::SKIP), Count(CheckStatus::FAIL), Count(CheckStatus::CRASH),
      Count(CheckStatus::TIMEOUT), seconds);
  return text;
}

std::string ValidationReport::XmlText(const std::string& text, bool attribute) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      // In an attribute a reader turns a raw line break into a space.
      case '\n':
        out += attribute ? "&#10;" : "\n";
        break;
      case '\t':
        out += attribute ? "&#9;" : "\t";
        break;
      default:
        // XML 1.0 allows no other control characters: they are written as
        // text ("\x1B"), as in the text report; bytes past ASCII go as '?'.
        if (byte < 0x20 || byte == 0x7F) {
          out += TextFormat::Printable(std::string(1, c));
        } else {
          out += byte > 0x7F ? '?' : c;
        }
    }
  }
  return out;
}

void ValidationReport::WriteJson(std::ostream& out, int exit_code, double seconds) const {
  Json modules = Json::array();
  for (const Module& module : m_modules) {
    Json checks = Json::array();
    for (const Entry& e : module.entries) {
      checks.push_back({{"name", e.check},
                        {"status", CheckResult::StatusName(e.result.status)},
                        {"message", e.result.message},
                        {"output", e.result.output},
                        {"seconds", Milliseconds(e.result.seconds)},
                        {"seed", e.randomised ? Json(e.seed) : Json(nullptr)}});
    }
    modules.push_back({{"path", module.path}, {"loadable", !module.unloadable}, {"checks", checks}});
  }
  Json summary = {{"checks", Total()}};
  for (const CheckStatus s : STATUSES) summary[CheckResult::StatusName(s)] = Count(s);
  summary["seconds"] = Milliseconds(seconds);
  const Json report = {{"seed", m_seed},     {"size", m_size},     {"timeout", m_timeout},
                       {"modules", modules}, {"summary", summary}, {"exit_code", exit_code}};
  out << JsonText::Line(report) << "\n";
}

std::string ValidationReport::Junit(double seconds) const {
  std::ostringstream out;
  const int failures = Count(CheckStatus::FAIL);
  const int errors = Count(CheckStatus::CRASH) + Count(CheckStatus::TIMEOUT);
  out << JUNIT_DECLARATION << "<testsuites name=\"qxhost validate\" tests=\"" << Total() << "\" failures=\""
      << failures << "\" errors=\"" << errors << "\" skipped=\"" << Count(CheckStatus::SKIP) << "\" time=\""
      << Seconds(seconds) << "\">\n";
  for (const Module& module : m_modules) {
    int module_failures = 0, module_errors = 0, module_skipped = 0;
    int module_tests = 0;
    double module_seconds = 0.0;
    for (const Entry& e : module.entries) {
      module_tests += Listed(e) ? 1 : 0;
      module_failures += e.result.status == CheckStatus::FAIL;
      module_errors += e.result.status == CheckStatus::CRASH || e.result.status == CheckStatus::TIMEOUT;
      module_skipped += e.result.status == CheckStatus::SKIP;
      module_seconds += e.result.seconds;
    }
    out << "  <testsuite name=\"" << XmlText(module.path, true) << "\" tests=\"" << module_tests
        << "\" failures=\"" << module_failures << "\" errors=\"" << module_errors << "\" skipped=\""
        << module_skipped << "\" time=\"" << Seconds(module_seconds) << "\">\n"
        << "    <properties><property name=\"seed\" value=\"" << m_seed << "\"/></properties>\n";
    for (const Entry& e : module.entries) {
      if (!Listed(e)) continue;
      const CheckResult& r = e.result;
      out << "    <testcase classname=\"" << XmlText(module.path, true) << "\" name=\"" << XmlText(e.check)
          << "\" time=\"" << Seconds(r.seconds) << "\"";
      const char* element = r.status == CheckStatus::FAIL                                        ? "failure"
                            : r.status == CheckStatus::CRASH || r.status == CheckStatus::TIMEOUT ? "error"
                            : r.status == CheckStatus::SKIP                                      ? "skipped"
                                                                                                 : nullptr;
      if (element == nullptr && r.status == CheckStatus::PASS) {
        out << "/>\n";
        continue;
      }
      out << ">\n";
      if (element != nullptr) {
        out << "      <" << element << " type=\"" << CheckResult::StatusName(r.status) << "\" message=\""
            << XmlText(r.message, true) << "\"";
        if (r.output.empty() || r.status == CheckStatus::SKIP) {
          out << "/>\n";
        } else {
          out << ">" << XmlText(r.output) << "</" << element << ">\n";
        }
      } else {
        out << "      <system-out>warn: " << XmlText(r.message) << "</system-out>\n";
      }
      out << "    </testcase>\n";
    }
    out << "  </testsuite>\n";
  }
  out << "</testsuites>\n";
  return out.str();
}
