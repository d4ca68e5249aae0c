// What the child runner does the same on every system; ChildRunnerPosix.cpp
// and ChildRunnerWindows.cpp start, watch and end the child.
#include "ChildRunner.h"

#include <chrono>
#include <cstdlib>
#include <thread>

std::string ChildRunner::Tail(std::string text) {
  if (text.size() > static_cast<size_t>(MAX_OUTPUT))
    text.erase(0, text.size() - static_cast<size_t>(MAX_OUTPUT));
  return text;
}

void ChildRunner::Keep(const char* data, size_t size) {
  const size_t room = static_cast<size_t>(MAX_REPORT) - m_report.size();
  if (size > room) m_report_cut = true;
  m_report.append(data, size < room ? size : room);
}

std::string ChildRunner::Headline(const std::string& output) {
  static const char* const MARKERS[] = {"Assertion failed", "ERROR: AddressSanitizer", "runtime error",
                                        "terminate called", "AddressSanitizer",        "Sanitizer"};
  for (const char* marker : MARKERS) {
    const size_t at = output.find(marker);
    if (at == std::string::npos) continue;
    const size_t start = output.rfind('\n', at);
    const size_t begin = start == std::string::npos ? 0 : start + 1;
    const size_t end = output.find('\n', at);
    return output.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  }
  return "";
}

std::vector<std::string> ChildRunner::Launcher() {
  std::vector<std::string> words;
  const char* launcher = std::getenv("QXHOST_CHILD_LAUNCHER");
  if (launcher == nullptr) return words;
  std::string word;
  for (const char* c = launcher;; ++c) {
    if (*c == ' ' || *c == '\0') {
      if (!word.empty()) words.push_back(word);
      word.clear();
      if (*c == '\0') break;
    } else {
      word += *c;
    }
  }
  return words;
}

std::vector<std::string> ChildRunner::Command(const std::string& program) {
  std::vector<std::string> command = Launcher();
  command.push_back(program);
  return command;
}

ChildRunner::Outcome ChildRunner::Run(const std::vector<std::string>& command, double timeout_seconds,
                                      ChildRequest request) {
  ChildRunner child;
  child.Start(command, timeout_seconds, std::move(request));
  Outcome outcome;
  auto pause = std::chrono::microseconds(200);
  while (!child.Poll(&outcome)) {
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(10)) pause *= 2;
  }
  return outcome;
}
