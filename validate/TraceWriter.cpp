#include "TraceWriter.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstring>

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

// Appends a JSON string (module paths and check names are plain text).
void AppendString(std::string* out, const std::string& text) {
  *out += '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') *out += '\\';
    if (static_cast<unsigned char>(c) >= 0x20) *out += c;
  }
  *out += '"';
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
  std::string line = "{\"event\": \"start\", \"check\": ";
  AppendString(&line, check);
  line += ", \"module\": ";
  AppendString(&line, module);
  char time[48];
  std::snprintf(time, sizeof time, ", \"time\": %.6f}\n", Now());
  line += time;
  std::fputs(line.c_str(), m_file);
  std::fflush(m_file);
}

void TraceWriter::Write(const Entry& e) {
  if (m_file == nullptr) return;
  const bool to_module = e.kind != Kind::DSP_CALLBACK && e.kind != Kind::GUI_CALLBACK;
  char opt[32];
  if (std::isfinite(e.opt)) {
    std::snprintf(opt, sizeof opt, "%.9g", static_cast<double>(e.opt));
  } else {
    std::snprintf(opt, sizeof opt, "\"%s\"", std::isnan(e.opt) ? "nan" : e.opt > 0 ? "inf" : "-inf");
  }
  char args[256];
  switch (e.kind) {
    case Kind::GET_PROPERTIES:
      std::snprintf(args, sizeof args, "\"index\": %" PRId32 ", \"properties\": \"%p\"", e.index, e.ptr);
      break;
    case Kind::MAKE_MODULE:
      std::snprintf(args, sizeof args, "\"index\": %" PRId32 ", \"type\": %" PRId32 ", \"callback\": \"%p\"",
                    e.index, e.value, e.ptr);
      break;
    case Kind::PROCESS:
      std::snprintf(args, sizeof args, "\"offset\": %" PRId32 ", \"count\": %" PRId32, e.index, e.value);
      break;
    case Kind::EVENT:
      std::snprintf(args, sizeof args, "\"event\": \"%p\"", e.ptr);
      break;
    default: {
      const char* name = OpcodeNames::Find(Family(e.kind), e.opcode);
      std::snprintf(args, sizeof args,
                    "\"opcode\": %" PRId32 ", \"name\": \"%s\", \"index\": %" PRId32 ", \"value\": %" PRId32
                    ", \"ptr\": \"%p\", \"opt\": %s",
                    e.opcode, name != nullptr ? name : "unknown", e.index, e.value, e.ptr, opt);
    }
  }
  std::fprintf(m_file,
               "{\"check\": \"%s\", \"seq\": %" PRIu64 ", \"time\": %.6f, \"direction\": \"%s\", \"call\": "
               "\"%s\", \"depth\": %d, \"record\": \"%p\", %s, \"result\": %" PRIdPTR "}\n",
               m_check.c_str(), e.seq, e.time, to_module ? "host>module" : "module>host", KindName(e.kind), e.depth, e.record, args,
               static_cast<intptr_t>(e.result));
  std::fflush(m_file);
}
