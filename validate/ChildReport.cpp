#include "ChildReport.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>
#include <vector>

#include "TextFormat.h"

namespace {

const char RESULT[] = "@qxresult ";
const char CALL[] = "@qxcall ";

std::string Escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

CheckResult Crashed(const std::string& text) {
  CheckResult result = CheckResult::Fail(text);
  result.status = CheckStatus::CRASH;
  return result;
}

}  // namespace

std::string ChildReport::NewToken() {
  std::random_device device;
  std::string token;
  char digits[12];
  for (int i = 0; i < 4; ++i) {
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(device()));
    token += digits;
  }
  return token;
}

std::string ChildReport::ResultLine(const std::string& token, const CheckResult& result) {
  // On a line of its own, whatever a module left unfinished on the channel.
  return "\n" + std::string(RESULT) + token + " " + CheckResult::StatusName(result.status) + " " +
         (result.stop ? "1" : "0") + " " + (result.unloadable ? "1" : "0") + " " + Escape(result.message) +
         "\n";
}

size_t ChildReport::CallLine(char* line, size_t size, bool begin, int open, const char* text) {
  const int length = begin ? std::snprintf(line, size, "%sbegin %d %s\n", CALL, open, text)
                           : std::snprintf(line, size, "%send %d\n", CALL, open);
  if (length <= 0 || size == 0) return 0;
  // A line cut at the buffer's end still ends the line.
  const size_t written = std::min(static_cast<size_t>(length), size - 1);
  if (written == size - 1 && written > 0) line[written - 1] = '\n';
  return written;
}

bool ChildReport::Read(const std::string& report, const std::string& calls, const std::string& token,
                       CheckResult* result, std::string* in_flight) {
  const std::string result_tag = RESULT + token + " ";
  std::vector<std::string> open;  // the calls open, outermost first
  std::istringstream call_lines(calls);
  for (std::string line; std::getline(call_lines, line);) {
    if (line.compare(0, sizeof CALL - 1, CALL) != 0) continue;
    std::istringstream words(line.substr(sizeof CALL - 1));
    std::string moment;
    size_t depth = 0;
    words >> moment >> depth;
    open.resize(std::min(open.size(), depth));
    if (moment == "begin") {
      std::string text;
      std::getline(words >> std::ws, text);
      open.push_back(text);
    }
  }
  in_flight->clear();
  for (auto call = open.rbegin(); call != open.rend(); ++call)
    *in_flight += (in_flight->empty() ? "" : ", inside ") + *call;
  int answers = 0;
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, result_tag.size(), result_tag) != 0) continue;
    // STATUS STOP UNLOADABLE MESSAGE
    const std::string rest = line.substr(result_tag.size());
    const size_t s1 = rest.find(' ');
    CheckStatus status;
    if (s1 == std::string::npos || rest.size() < s1 + 5 ||
        !CheckResult::ParseStatus(rest.substr(0, s1), &status))
      continue;
    *result = CheckResult{};
    result->status = status;
    result->stop = rest[s1 + 1] == '1';
    result->unloadable = rest[s1 + 3] == '1';
    result->message = Unescape(rest.size() > s1 + 5 ? rest.substr(s1 + 5) : "");
    ++answers;
  }
  if (answers > 1) {
    // Only the harness knows the token, and it reports once: the module
    // found the token and wrote a result of its own.
    *result = CheckResult::Fail(std::to_string(answers) +
                                " results came from one process: the module wrote results of its own");
  }
  return answers > 0;
}

CheckResult ChildReport::Classify(const ChildRunner::Outcome& outcome, const std::string& token,
                                  double timeout, const std::string& what) {
  CheckResult result;
  std::string in_flight;
  const bool answered = Read(outcome.report, outcome.calls, token, &result, &in_flight);
  // The module's own output, both streams: nothing there is taken for a result.
  const std::string output = outcome.out + outcome.err;
  const std::string headline = ChildRunner::Headline(output);
  const std::string because = headline.empty() ? "" : ": " + headline;
  const std::string during = in_flight.empty() ? "" : " during " + in_flight;
  switch (outcome.end) {
    case ChildRunner::End::NOT_STARTED:
      result = Crashed("could not run the " + what + ": " + outcome.error);
      break;
    case ChildRunner::End::TIMED_OUT: {
      result = CheckResult::Fail("no result within " + TextFormat::Float(static_cast<float>(timeout)) + " s" +
                                 during + "; the " + what + "'s process was killed");
      result.status = CheckStatus::TIMEOUT;
      break;
    }
    case ChildRunner::End::SIGNALLED:
      result = Crashed("the " + what + "'s process died of " + ChildRunner::SignalName(outcome.code) +
                       during + because);
      break;
    case ChildRunner::End::EXITED:
      if (outcome.report_cut)
        result = CheckResult::Fail("the " + what + "'s process wrote more than " +
                                   std::to_string(ChildRunner::MAX_REPORT >> 20) +
                                   " MiB on its results channel: the module wrote on it");
      else if (!answered)
        result = Crashed("the " + what + "'s process ended before reporting (exit status " +
                         std::to_string(outcome.code) + ")" + during + because);
      break;
  }
  result.output = output;
  result.seconds = outcome.seconds;
  return result;
}
