#include "TraceWriter.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "JsonText.h"
#include "OpcodeNames.h"

namespace {

const char* KindName(TraceWriter::Kind kind) {
  switch (kind) {
    case TraceWriter::Kind::GET_PROPERTIES: return "getModuleProperties";
    case TraceWriter::Kind::MAKE_MODULE: return "makeModule";
    case TraceWriter::Kind::DSP_DISPATCH: return "dsp_dispatch";
    case TraceWriter::Kind::GUI_DISPATCH: return "gui_dispatch";
    case TraceWriter::Kind::PROCESS: return "process";
    case TraceWriter::Kind::EVENT: return "event";
    case TraceWriter::Kind::DSP_CALLBACK: return "dsp_callback";
    case TraceWriter::Kind::GUI_CALLBACK: return "gui_callback";
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
    case Kind::DSP_DISPATCH: return OpcodeFamily::DSP;
    case Kind::GUI_DISPATCH: return OpcodeFamily::GUI;
    case Kind::GUI_CALLBACK: return OpcodeFamily::GUIHOST;
    default: return OpcodeFamily::HOST;
  }
}

bool TraceWriter::Open(const std::string& path, bool append, std::string* error) {
  Close();
  m_file = std::fopen(path.c_str(), append ? "a" : "w");
  if (m_file == nullptr) {
    *error = path + ": cannot write the trace (" + std::strerror(errno) + ")";
    return false;
  }
  return true;
}

void TraceWriter::Close() {
  if (m_file != nullptr) std::fclose(m_file);
  m_file = nullptr;
}

double TraceWriter::Now() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(since).count();
}

void TraceWriter::Start(const std::string& check, const std::string& module) {
  m_check = check;
  if (m_file == nullptr) return;
  const Json line = {{"event", "start"}, {"check", check}, {"module", module}, {"time", Now()}};
  std::fprintf(m_file, "%s\n", JsonText::Line(line).c_str());
  std::fflush(m_file);
}

void TraceWriter::Write(const Entry& e) {
  if (m_file == nullptr) return;
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
  std::fprintf(m_file, "%s\n", JsonText::Line(line).c_str());
  std::fflush(m_file);
}
