#include "TraceWriter.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>

#include "ChildReport.h"
#include "JsonText.h"
#include "OpcodeNames.h"

namespace {

const char* KindName(TraceWriter::Kind kind) {
  switch (kind) {
    case TraceWriter::Kind::GET_PROPERTIES:
      return "getModuleProperties";
    case TraceWriter::Kind::MAKE_MODULE:
      return "makeModule";
    case TraceWriter::Kind::DSP_DISPATCH:
      return "dsp_dispatch";
    case TraceWriter::Kind::GUI_DISPATCH:
      return "gui_dispatch";
    case TraceWriter::Kind::PROCESS:
      return "process";
    case TraceWriter::Kind::EVENT:
      return "event";
    case TraceWriter::Kind::DSP_CALLBACK:
      return "dsp_callback";
    case TraceWriter::Kind::GUI_CALLBACK:
      return "gui_callback";
  }
  return "?";
}

// Addresses as the system prints them.
std::string Address(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

}  // namespace

OpcodeFamily TraceWriter::Family(Kind kind) {
  switch (kind) {
    case Kind::DSP_DISPATCH:
      return OpcodeFamily::DSP;
    case Kind::GUI_DISPATCH:
      return OpcodeFamily::GUI;
    case Kind::GUI_CALLBACK:
      return OpcodeFamily::GUIHOST;
    default:
      return OpcodeFamily::HOST;
  }
}

bool TraceWriter::Open(const std::string& path, bool append, std::string* error) {
  Close();
  m_path = path;
  m_error.clear();
  m_file = std::fopen(path.c_str(), append ? "a" : "w");
  if (m_file == nullptr) {
    *error = path + ": cannot write the trace (" + std::strerror(errno) + ")";
    return false;
  }
  return true;
}

bool TraceWriter::StartRun(const std::vector<std::string>& modules, uint64_t seed, std::string* error) {
  if (m_file == nullptr) return true;
  Write({{"event", "run"}, {"modules", modules}, {"seed", seed}, {"time", Now()}});
  if (Failed()) *error = m_error;
  return !Failed();
}

void TraceWriter::Write(const Json& line) {
  const std::string text = JsonText::Line(line) + "\n";
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), m_file) == text.size();
  if ((!written || std::fflush(m_file) != 0) && m_error.empty())
    m_error = m_path + ": cannot write the trace (" + std::strerror(errno != 0 ? errno : EIO) + ")";
}

void TraceWriter::Close() {
  if (m_file != nullptr && std::fclose(m_file) != 0 && m_error.empty())
    m_error = m_path + ": cannot write the trace (" + std::strerror(errno) + ")";
  m_file = nullptr;
}

double TraceWriter::Now() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(since).count();
}

void TraceWriter::Start(const std::string& check, const std::string& module) {
  m_check = check;
  if (m_file == nullptr) return;
  Write({{"event", "start"}, {"check", check}, {"module", module}, {"time", Now()}});
}

void TraceWriter::ReportCallsTo(const ReportChannel* channel) { m_channel = channel; }

void TraceWriter::Describe(const Entry& e, char* text, size_t size) {
  switch (e.kind) {
    case Kind::GET_PROPERTIES:
      std::snprintf(text, size, "getModuleProperties(%d)", static_cast<int>(e.index));
      return;
    case Kind::MAKE_MODULE:
      std::snprintf(text, size, "makeModule(%d, %d)", static_cast<int>(e.index), static_cast<int>(e.value));
      return;
    case Kind::PROCESS:
      std::snprintf(text, size, "process_entry (offset %d, count %d)", static_cast<int>(e.index),
                    static_cast<int>(e.value));
      return;
    case Kind::EVENT:
      std::snprintf(text, size, "event_entry (event type %d)", static_cast<int>(e.opcode));
      return;
    default: {
      const char* name = OpcodeNames::Find(Family(e.kind), e.opcode);
      const bool callback = e.kind == Kind::DSP_CALLBACK || e.kind == Kind::GUI_CALLBACK;
      char opcode[24];
      std::snprintf(opcode, sizeof opcode, "opcode %d", static_cast<int>(e.opcode));
      std::snprintf(text, size, "%s%s (index %d, value %d)",
                    callback ? "the module's call of the host, " : "", name != nullptr ? name : opcode,
                    static_cast<int>(e.index), static_cast<int>(e.value));
    }
  }
}

void TraceWriter::Mark(bool begin, const char* text) {
  if (m_channel == nullptr) return;
  char line[320];
  m_channel->Write(line, ChildReport::CallLine(line, sizeof line, begin, m_open_calls, text));
}

void TraceWriter::Begin(Entry* entry) {
  entry->seq = ++m_seq;
  entry->time = m_file != nullptr ? Now() : 0.0;
  if (m_channel != nullptr) {
    char text[200];
    Describe(*entry, text, sizeof text);
    Mark(true, text);
  }
  ++m_open_calls;
  if (m_file == nullptr) return;
  Json line = Line(*entry);
  line.erase("result");
  line["begin"] = true;
  Write(line);
}

void TraceWriter::End(const Entry& entry) {
  if (m_open_calls > 0) --m_open_calls;
  Mark(false, "");
  if (m_file == nullptr) return;
  Write(Line(entry));
}

void TraceWriter::BeginPart(const std::string& text) {
  Mark(true, text.c_str());
  ++m_open_calls;
}

void TraceWriter::EndPart() {
  if (m_open_calls > 0) --m_open_calls;
  Mark(false, "");
}

Json TraceWriter::Line(const Entry& e) const {
  const bool to_module = e.kind != Kind::DSP_CALLBACK && e.kind != Kind::GUI_CALLBACK;
  Json line = {{"check", m_check},
               {"seq", e.seq},
               {"time", e.time},
               {"direction", to_module ? "host>module" : "module>host"},
               {"call", KindName(e.kind)},
               {"depth", e.depth},
               {"record", Address(e.record)}};
  switch (e.kind) {
    case Kind::GET_PROPERTIES:
      line["index"] = e.index;
      line["properties"] = Address(e.ptr);
      break;
    case Kind::MAKE_MODULE:
      line["index"] = e.index;
      line["type"] = e.value;
      line["callback"] = Address(e.ptr);
      break;
    case Kind::PROCESS:
      line["offset"] = e.index;
      line["count"] = e.value;
      break;
    case Kind::EVENT:
      line["event"] = Address(e.ptr);
      break;
    default: {
      const char* name = OpcodeNames::Find(Family(e.kind), e.opcode);
      line["opcode"] = e.opcode;
      line["name"] = name != nullptr ? name : "unknown";
      line["index"] = e.index;
      line["value"] = e.value;
      line["ptr"] = Address(e.ptr);
      line["opt"] = e.opt;
    }
  }
  line["result"] = static_cast<int64_t>(e.result);
  return line;
}
