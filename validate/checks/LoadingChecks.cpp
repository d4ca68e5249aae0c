#include "LoadingChecks.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

#include "ModuleLibrary.h"
#include "TextFormat.h"

namespace {

// The host's record with room behind it: a module must write nothing there.
struct GuardedProperties {
  QXModuleProperties properties;
  uint32_t guard[8];
};

constexpr unsigned char FILL_BYTE = 0xA5;
constexpr uint32_t FILL_WORD = 0xA5A5A5A5u;

GuardedProperties Filled() {
  GuardedProperties record;
  std::memset(&record, FILL_BYTE, sizeof record);
  return record;
}

// Whether a field still holds the host's fill, byte for byte.
template <class T>
bool Untouched(const T& field) {
  unsigned char bytes[sizeof field];
  std::memcpy(bytes, &field, sizeof field);
  for (const unsigned char byte : bytes) {
    if (byte != FILL_BYTE) return false;
  }
  return true;
}

bool GuardIntact(const GuardedProperties& record) {
  for (const uint32_t word : record.guard) {
    if (word != FILL_WORD) return false;
  }
  return true;
}

uint32_t Word(int32_t value) { return static_cast<uint32_t>(value); }

}  // namespace

void LoadingChecks::Add(std::vector<ValidationCheck>* checks) {
  checks->push_back({"loading.exports", "the library loads and exports getModuleProperties and makeModule",
                     false, false, &Exports});
  checks->push_back(
      {"loading.reload", "load, unload and load again; module 0 reads the same", false, false, &Reload});
  checks->push_back({"loading.properties",
                     "module 0 exists, version 2230, 'extra' untouched, nothing written past the record, "
                     "identical on repeated calls",
                     false, true, &Properties});
  checks->push_back({"loading.texts", "name, id and about are terminated, printable texts of bounded length",
                     false, false, &Texts});
  checks->push_back({"loading.time",
                     "loading the library and reading module 0 takes at most 100 ms (a warning), or a second "
                     "(a failure)",
                     false, false, &Time});
  checks->push_back({"loading.other-indices",
                     "other indices are refused, with the framework version written all the same", true,
                     false, &OtherIndices});
}

CheckResult LoadingChecks::Exports(CheckContext& context) {
  std::string error;
  if (!context.Load(&error)) {
    CheckResult result = CheckResult::Fail(error);
    result.stop = true;
    result.unloadable = true;
    return result;
  }
  std::string missing;
  if (context.GetPropertiesExport() == nullptr) missing = "getModuleProperties";
  if (context.MakeModuleExport() == nullptr) missing += missing.empty() ? "makeModule" : " and makeModule";
  if (!missing.empty()) {
    CheckResult result =
        CheckResult::Fail("the library's exports", "getModuleProperties and makeModule", "no " + missing);
    result.stop = true;
    return result;
  }
  return CheckResult::Pass();
}

CheckResult LoadingChecks::Reload(CheckContext& context) {
  CheckResult skip;
  if (!context.Exported(&skip)) return skip;
  QXModuleProperties first{};
  if (!context.GetProperties(0, &first)) return CheckResult::Skip("getModuleProperties(0) answers false");
  const std::string name =
      first.name != nullptr ? std::string(first.name, strnlen(first.name, MAX_NAME)) : "";
  const std::string about =
      first.about != nullptr ? std::string(first.about, strnlen(first.about, MAX_ABOUT)) : "";

  context.Unload();
  std::string error;
  if (!context.Load(&error)) return CheckResult::Fail("loading the library a second time", "success", error);
  if (context.GetPropertiesExport() == nullptr)
    return CheckResult::Fail("the reloaded library's exports", "getModuleProperties", "none");
  QXModuleProperties second{};
  if (!context.GetProperties(0, &second))
    return CheckResult::Fail("getModuleProperties(0) after reloading", "true", "false");
  const std::string name2 =
      second.name != nullptr ? std::string(second.name, strnlen(second.name, MAX_NAME)) : "";
  const std::string about2 =
      second.about != nullptr ? std::string(second.about, strnlen(second.about, MAX_ABOUT)) : "";
  if (name2 != name)
    return CheckResult::Fail("name after reloading", "\"" + name + "\"", "\"" + name2 + "\"");
  if (about2 != about) return CheckResult::Fail("about after reloading", "the same text", "another");
  if (second.sdk_version != first.sdk_version || second.flags != first.flags)
    return CheckResult::Fail("version and flags after reloading", "unchanged", "changed");
  return CheckResult::Pass();
}

CheckResult LoadingChecks::Properties(CheckContext& context) {
  CheckResult skip;
  if (!context.Exported(&skip)) return skip;
  GuardedProperties first = Filled();
  const QXModuleProperties& p = first.properties;
  ModuleLibrary::Failure refused;
  std::string reason;
  if (!ModuleLibrary::Admit(context.GetProperties(0, &first.properties), p, &refused, &reason)) {
    if (refused == ModuleLibrary::Failure::NO_MODULE)
      return CheckResult::Fail("getModuleProperties(0)", "true", "false");
    return CheckResult::Fail("getModuleProperties(0) sdk_version", std::to_string(QX_SDK_VERSION),
                             std::to_string(p.sdk_version));
  }
  if (Word(p.extra) != FILL_WORD)
    return CheckResult::Fail("getModuleProperties(0) extra",
                             "left as the host set it, " + TextFormat::Hex(FILL_WORD),
                             TextFormat::Hex(Word(p.extra)));
  if (!GuardIntact(first))
    return CheckResult::Fail("getModuleProperties(0)", "nothing written past the record's end",
                             "a write there");

  // The same answer every time: the host may ask whenever it likes.
  const int repeats = 8 + context.Size() / 16;
  for (int i = 0; i < repeats; ++i) {
    GuardedProperties again = Filled();
    if (!context.GetProperties(0, &again.properties))
      return CheckResult::Fail("getModuleProperties(0), call " + std::to_string(i + 2), "true", "false");
    const QXModuleProperties& q = again.properties;
    const struct {
      const char* field;
      const void* was;
      const void* now;
    } pointers[] = {{"name", p.name, q.name}, {"id", p.id, q.id}, {"about", p.about, q.about}};
    for (const auto& f : pointers) {
      if (f.was != f.now)
        return CheckResult::Fail("getModuleProperties(0), call " + std::to_string(i + 2) + ", " + f.field,
                                 TextFormat::Pointer(f.was) + " as on the first call",
                                 TextFormat::Pointer(f.now));
    }
    if (q.flags != p.flags || q.sdk_version != p.sdk_version)
      return CheckResult::Fail(
          "getModuleProperties(0), call " + std::to_string(i + 2) + ", flags and version",
          std::to_string(p.flags) + " and " + std::to_string(p.sdk_version),
          std::to_string(q.flags) + " and " + std::to_string(q.sdk_version));
  }
  return CheckResult::Pass();
}

CheckResult LoadingChecks::Texts(CheckContext& context) {
  CheckResult skip;
  if (!context.Exported(&skip)) return skip;
  QXModuleProperties p{};
  if (!context.GetProperties(0, &p)) return CheckResult::Skip("getModuleProperties(0) answers false");
  const struct {
    const char* field;
    const char* text;
    size_t bound;
  } texts[] = {{"name", p.name, MAX_NAME}, {"id", p.id, MAX_NAME}, {"about", p.about, MAX_ABOUT}};
  for (const auto& t : texts) {
    const std::string call = std::string("getModuleProperties(0) ") + t.field;
    if (t.text == nullptr) return CheckResult::Fail(call, "a text", "null");
    const size_t length = strnlen(t.text, t.bound);
    if (length == t.bound)
      return CheckResult::Fail(call, "a terminated text shorter than " + std::to_string(t.bound) + " bytes",
                               "no terminator within " + std::to_string(t.bound) + " bytes");
    if (length == 0 && t.bound == MAX_NAME) return CheckResult::Fail(call, "a text", "an empty one");
    // The host shows these texts: a control character in them would steer a
    // terminal or break a dialog's layout. Only the about text has lines.
    const std::string text(t.text, length);
    if (TextFormat::Printable(text, t.bound == MAX_ABOUT) != text)
      return CheckResult::Fail(
          call, std::string("printable text") + (t.bound == MAX_ABOUT ? " (and line breaks)" : ""),
          "\"" + TextFormat::Printable(text) + "\"");
  }
  return CheckResult::Pass();
}

CheckResult LoadingChecks::OtherIndices(CheckContext& context) {
  CheckResult skip;
  if (!context.Exported(&skip)) return skip;
  std::vector<int32_t> indices = {1, 2, -1, 255, INT32_MAX, INT32_MIN};
  std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
  for (int i = 0; i < 4; ++i) {
    const int32_t index = any(context.Random());
    if (index != 0) indices.push_back(index);
  }
  for (const int32_t index : indices) {
    const std::string call = "getModuleProperties(" + std::to_string(index) + ")";
    GuardedProperties record = Filled();
    if (context.GetProperties(index, &record.properties)) return CheckResult::Fail(call, "false", "true");
    const QXModuleProperties& p = record.properties;
    if (p.sdk_version != QX_SDK_VERSION)
      return CheckResult::Fail(
          call + " sdk_version", std::to_string(QX_SDK_VERSION) + ", written for every index",
          Word(p.sdk_version) == FILL_WORD ? "nothing written" : std::to_string(p.sdk_version));
    // Field by field: the record's padding is nobody's.
    if (!Untouched(p.name) || !Untouched(p.id) || !Untouched(p.about) || !Untouched(p.extra) ||
        !Untouched(p.flags) || !GuardIntact(record))
      return CheckResult::Fail(call, "no field but sdk_version written", "other bytes of the record changed");
  }
  return CheckResult::Pass();
}

CheckResult LoadingChecks::Time(CheckContext& context) {
  CheckResult skip;
  if (!context.Exported(&skip)) return skip;
  // The host loads every module and reads module 0 when it starts. The
  // fastest of three loads counts, so that a cold file cache does not.
  double fastest = 0.0;
  for (int load = 0; load < 3; ++load) {
    context.Unload();
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    if (!context.Load(&error)) return CheckResult::Fail("loading the library again", "success", error);
    QXModuleProperties p{};
    if (context.GetPropertiesExport() == nullptr || !context.GetProperties(0, &p))
      return CheckResult::Skip("getModuleProperties(0) answers false");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (load == 0 || seconds < fastest) fastest = seconds;
  }
  char took[96];
  std::snprintf(took, sizeof took, "%.0f ms", fastest * 1000.0);
  const std::string call = "loading the library and getModuleProperties(0)";
  if (fastest > TOO_SLOW_LOAD) return CheckResult::Fail(call, "at most 1 s", took);
  if (fastest > SLOW_LOAD)
    return CheckResult::Warn(call + " took " + took +
                             ": a host's start waits for it; expected at most 100 ms");
  return CheckResult::Pass(took);
}
