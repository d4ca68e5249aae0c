#include "MemoryChecker.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "ChildRunner.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// `name` found on PATH, or "".
std::string OnPath(const std::string& name) {
#ifdef _WIN32
  (void)name;
  return "";
#else
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
#endif
}

// The length of valgrind's "==PID== " prefix at the start of `line`; 0 if it has none.
size_t PrefixLength(const std::string& line) {
  if (line.compare(0, 2, "==") != 0) return 0;
  size_t at = 2;
  while (at < line.size() && line[at] >= '0' && line[at] <= '9') ++at;
  if (at == 2 || line.compare(at, 2, "==") != 0) return 0;
  at += 2;
  return at < line.size() && line[at] == ' ' ? at + 1 : at;
}

}  // namespace

bool MemoryChecker::Sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

std::vector<std::string> MemoryChecker::Command() {
  const char* chosen = std::getenv("QXHOST_MEMORY_CHECKER");
  const std::string program = chosen != nullptr && *chosen != '\0' ? chosen : OnPath("valgrind");
  if (program.empty() || program == "none" || Sanitized() || !ChildRunner::Launcher().empty()) return {};
  // Not quiet: a crash that no memory error comes before is shown with its stack.
  return {program, "--exit-on-first-error=yes", "--error-exitcode=99", "--num-callers=8"};
}

std::string MemoryChecker::FirstError(const std::string& output) {
  // Valgrind's banner and its closing summaries are no report.
  const auto starts = [](const std::string& text, const char* word) { return text.rfind(word, 0) == 0; };
  std::istringstream lines(output);
  std::string error;
  size_t kept = 0;
  for (std::string line; std::getline(lines, line);) {
    const size_t prefix = PrefixLength(line);
    if (prefix == 0) continue;
    const std::string text = line.substr(prefix);
    // A report ends at the checker's first empty line after it.
    if (text.find_first_not_of(' ') == std::string::npos) {
      if (!error.empty()) break;
      continue;
    }
    if (error.empty() &&
        (starts(text, "Memcheck, ") || starts(text, "Copyright (C)") || starts(text, "Using Valgrind") ||
         starts(text, "Command: ") || starts(text, "Parent PID: ")))
      continue;
    if (error.empty() && (starts(text, "HEAP SUMMARY") || starts(text, "ERROR SUMMARY") ||
                          starts(text, "All heap blocks were freed")))
      break;
    // Valgrind's closing advice is not part of the error.
    if (starts(text, "Exit program on first error")) break;
    if (++kept > 40) break;
    error += text + "\n";
  }
  if (!error.empty()) error.pop_back();
  return error;
}

std::string MemoryChecker::Explain(const std::string& program, double timeout, const ChildRequest& request) {
  std::vector<std::string> command = Command();
  if (command.empty()) return "";
  command.push_back(program);
  const ChildRunner::Outcome again = ChildRunner::Run(command, std::max(60.0, 20 * timeout), request);
  const std::string error = FirstError(again.err);
  if (error.empty()) return "run again under " + command[0] + ": no memory error found, and no crash";
  // With no memory error before it, valgrind shows the crash and its stack.
  if (error.rfind("Process terminating", 0) == 0)
    return "run again under " + command[0] + ", no memory error came before the end:\n" + error;
  return "its first memory error, run again under " + command[0] + ":\n" + error;
}
