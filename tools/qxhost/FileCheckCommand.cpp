#include "FileCheckCommand.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <regex>

#include "JsonText.h"
#include "ModuleFile.h"
#include "TextFormat.h"

namespace {

const char* const EXPORTS[] = {"getModuleProperties", "makeModule"};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Libraries every machine of the module's platform has: Windows system DLLs
// (the C and C++ runtimes must be linked in), or the C and C++ runtimes of a
// Linux system.
bool SystemLibrary(const ModuleFile& file, const std::string& name) {
  static const std::regex windows(
      "(kernel32|user32|advapi32|ntdll|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\\.dll");
  static const std::regex linux_(
      "(libc|libm|libgcc_s|libstdc\\+\\+|libpthread|libdl|librt)\\.so(\\.[0-9]+)*|ld-linux[a-z0-9_.-]*");
  const bool pe = file.format == ModuleFile::Format::PE32 || file.format == ModuleFile::Format::PE32_PLUS;
  return std::regex_match(Lower(name), pe ? windows : linux_);
}

const char* FormatName(ModuleFile::Format format) {
  switch (format) {
    case ModuleFile::Format::PE32:
      return "PE32";
    case ModuleFile::Format::PE32_PLUS:
      return "PE32+";
    case ModuleFile::Format::ELF32:
      return "ELF32";
    case ModuleFile::Format::ELF64:
      return "ELF64";
  }
  return "?";
}

std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + TextFormat::Printable(item);
  return text.empty() ? "none" : text;
}

std::string Numbers(const uint16_t (&n)[4]) {
  return std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) + "." +
         std::to_string(n[3]);
}

bool DebugSection(const std::string& name) {
  return name.rfind(".debug", 0) == 0 || name.rfind(".zdebug", 0) == 0 || name.rfind(".stab", 0) == 0;
}

size_t Count(const std::string& haystack, const std::string& needle) {
  size_t count = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size()))
    ++count;
  return count;
}

}  // namespace

FileCheckCommand::FileCheckCommand(CLI::App& tool)
    : ToolCommand(tool, "inspect",
                  "qxhost inspect [--json] [--stripped] [--version X.Y.Z] [--no-path DIR]... MODULE",
                  "Reads MODULE, a PE or ELF library, without loading or running it, and prints its\n"
                  "machine, exports, imported libraries, whether it is stripped, its debug link and its\n"
                  "Windows version resource. Exit status 1 when it breaks a rule of the format: a PE\n"
                  "file is a 32-bit x86 DLL (PE32), an ELF file a shared object; it exports\n"
                  "getModuleProperties and makeModule, undecorated, and nothing else; it imports system\n"
                  "libraries only (Windows DLLs; on Linux the C and C++ runtimes). The options add the\n"
                  "rules of a release.") {
  Flag("--json", &m_json, "one JSON object instead of text");
  Flag("--stripped", &m_stripped,
       "the file has no debug sections and no symbol table, and a debug link naming a file "
       "beside it with the checksum the link gives");
  Option("--version", &m_version, "a Windows version resource: file and product version X.Y.Z")
      .TypeName("X.Y.Z");
  Option("--no-path", &m_no_paths, "the file does not name DIR (a folder of the build machine)")
      .TypeName("DIR")
      .EveryValue();
  Option("MODULE", &m_module, "the module file").Required();
}

int FileCheckCommand::Run(std::ostream& out, std::ostream& err) {
  static const std::regex version_form("([0-9]{1,5})\\.([0-9]{1,5})\\.([0-9]{1,5})");
  std::smatch version_parts;
  if (!m_version.empty() && !std::regex_match(m_version, version_parts, version_form))
    throw UsageError("--version: '" + TextFormat::Printable(m_version) + "' is not X.Y.Z");
  for (std::string& path : m_no_paths) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || path == "/") throw UsageError("--no-path: give a folder other than the root");
  }

  const std::string shown = TextFormat::Printable(m_module);
  std::string bytes, error;
  ModuleFile file;
  if (!ModuleFile::ReadBytes(m_module, &bytes, &error) || !ModuleFile::Parse(bytes, &file, &error)) {
    err << "qxhost: " << shown << ": " << error << "\n";
    return FAILED;
  }
  const bool pe = file.format == ModuleFile::Format::PE32 || file.format == ModuleFile::Format::PE32_PLUS;
  std::vector<std::string> faults;

  // The format's rules.
  if (pe && (file.format != ModuleFile::Format::PE32 || file.machine != 0x14c))
    faults.push_back(std::string("machine ") + file.machine_name + ", " + FormatName(file.format) +
                     ": the host loads 32-bit x86 PE32 files only");
  if (!file.library)
    faults.push_back(pe ? "not a DLL (no DLL flag in its characteristics)" : "not a shared object");
  size_t extra = 0;
  for (const std::string& name : file.exports) {
    if (std::find(std::begin(EXPORTS), std::end(EXPORTS), name) != std::end(EXPORTS)) continue;
    std::string bare = name.substr(name.empty() || (name[0] != '_' && name[0] != '@') ? 0 : 1);
    bare = bare.substr(0, bare.find('@'));
    if (std::find(std::begin(EXPORTS), std::end(EXPORTS), bare) != std::end(EXPORTS))
      faults.push_back("export '" + TextFormat::Printable(name) +
                       "' is decorated (export the plain C name in the cdecl convention)");
    else if (++extra <= 5)
      faults.push_back("exports '" + TextFormat::Printable(name) +
                       "' besides getModuleProperties and makeModule");
  }
  if (extra > 5)
    faults.push_back("exports " + std::to_string(extra - 5) +
                     " more names besides getModuleProperties and makeModule");
  for (const char* wanted : EXPORTS) {
    if (std::find(file.exports.begin(), file.exports.end(), wanted) == file.exports.end())
      faults.push_back(std::string("does not export '") + wanted + "'");
  }
  if (pe && file.export_entries != 2)
    faults.push_back("has " + std::to_string(file.export_entries) + " exports, expected exactly 2");
  for (const std::string& library : file.imports) {
    if (SystemLibrary(file, library)) continue;
    const std::string lower = Lower(library);
    if (pe && (lower.rfind("libstdc++", 0) == 0 || lower.rfind("libgcc", 0) == 0 ||
               lower.rfind("libwinpthread", 0) == 0))
      faults.push_back("imports " + TextFormat::Printable(library) +
                       ": link the C and C++ runtimes statically");
    else
      faults.push_back("imports " + TextFormat::Printable(library) + ", which is not a system library");
  }

  // Stripped, and the debug file behind the link.
  std::vector<std::string> debug_sections;
  for (const std::string& name : file.sections) {
    if (DebugSection(name)) debug_sections.push_back(name);
  }
  const bool stripped = debug_sections.empty() && !file.symbol_table;
  std::string link_state = "none";
  Json link = nullptr;
  if (file.debug_link) {
    const std::string& name = file.debug_link->name;
    const size_t slash = m_module.find_last_of("/\\");
    const std::string beside = (slash == std::string::npos ? "" : m_module.substr(0, slash + 1)) + name;
    std::string debug_bytes, debug_error;
    const bool plain = !name.empty() && name.find_first_of("/\\") == std::string::npos;
    const bool found = plain && ModuleFile::ReadBytes(beside, &debug_bytes, &debug_error);
    const bool matches = found && ModuleFile::Crc32(debug_bytes) == file.debug_link->crc;
    link_state = TextFormat::Printable(name) + " (" +
                 (!found    ? "not beside the file"
                  : matches ? "beside the file, checksum matches"
                            : "beside the file, checksum differs") +
                 ")";
    link = {{"name", name},
            {"crc32", TextFormat::Hex(file.debug_link->crc)},
            {"found", found},
            {"matches", matches}};
    if (m_stripped && !found)
      faults.push_back("the debug link names " + TextFormat::Printable(name) +
                       ", which is not beside the file");
    if (m_stripped && found && !matches)
      faults.push_back("the debug link names " + TextFormat::Printable(name) +
                       ", whose checksum differs (not the debug file of this build)");
  }
  if (m_stripped) {
    if (!debug_sections.empty())
      faults.push_back("has debug sections (" + Join(debug_sections) + "): strip them into the debug file");
    if (file.symbol_table) faults.push_back("has a symbol table: strip it");
    if (!file.debug_link)
      faults.push_back("has no debug link (.gnu_debuglink): a crash report could not be read");
  }

  // The version resource.
  Json version = nullptr;
  std::string version_text = pe ? "none" : "none (an ELF file has none)";
  if (!file.version_error.empty()) version_text = "unreadable: " + file.version_error;
  if (file.version) {
    const ModuleFile::Version& v = *file.version;
    Json strings = Json::object();
    for (const auto& entry : v.strings) strings[entry.first] = entry.second;
    version = {{"file", Numbers(v.file)},
               {"product", Numbers(v.product)},
               {"file_type", v.file_type},
               {"strings", strings}};
    const auto text = [&](const char* key) {
      const auto it = v.strings.find(key);
      return it == v.strings.end() ? std::string() : it->second;
    };
    version_text = "file " + Numbers(v.file) + ", product " + Numbers(v.product) + ", \"" +
                   TextFormat::Printable(text("ProductName")) + "\": \"" +
                   TextFormat::Printable(text("FileDescription")) + "\"";
  }
  if (!m_version.empty()) {
    if (!file.version) {
      faults.push_back(file.version_error.empty() ? "has no version resource" : file.version_error);
    } else {
      const ModuleFile::Version& v = *file.version;
      const std::string numbers = m_version + ".0";
      if (Numbers(v.file) != numbers)
        faults.push_back("version resource: file version is " + Numbers(v.file) + ", expected " + numbers);
      if (Numbers(v.product) != numbers)
        faults.push_back("version resource: product version is " + Numbers(v.product) + ", expected " +
                         numbers);
      if (v.file_type != 2)
        faults.push_back("version resource: file type is " + std::to_string(v.file_type) +
                         ", expected 2 (a DLL)");
      for (const char* key : {"FileVersion", "ProductVersion"}) {
        const auto it = v.strings.find(key);
        const std::string got = it == v.strings.end() ? "" : it->second;
        if (got != m_version)
          faults.push_back(std::string("version resource: ") + key + " is '" + TextFormat::Printable(got) +
                           "', expected '" + m_version + "'");
      }
      for (const char* key : {"ProductName", "FileDescription"}) {
        const auto it = v.strings.find(key);
        if (it == v.strings.end() || it->second.empty())
          faults.push_back(std::string("version resource: no ") + key);
      }
    }
  }

  // Folders of the build machine.
  Json paths = Json::object();
  std::string paths_text;
  for (const std::string& path : m_no_paths) {
    const size_t count = Count(bytes, path);
    paths[path] = count;
    paths_text += (paths_text.empty() ? "" : ", ") + TextFormat::Printable(path) + " " +
                  std::to_string(count) + " times";
    if (count != 0)
      faults.push_back("names " + TextFormat::Printable(path) + " " + std::to_string(count) +
                       " times (a path of the build machine)");
  }

  if (m_json) {
    Json report = {{"file", m_module},
                   {"format", FormatName(file.format)},
                   {"machine", file.machine_name},
                   {"machine_code", file.machine},
                   {"library", file.library},
                   {"exports", file.exports},
                   {"imports", file.imports},
                   {"stripped", stripped},
                   {"symbol_table", file.symbol_table},
                   {"debug_sections", debug_sections},
                   {"debug_link", link},
                   {"version", version},
                   {"paths", paths},
                   {"faults", faults},
                   {"ok", faults.empty()}};
    out << JsonText::Line(report) << "\n";
  } else {
    out << shown << ": " << FormatName(file.format) << " " << (pe ? "DLL" : "shared object")
        << (file.library ? "" : " (no: see below)") << ", machine " << file.machine_name << "\n"
        << "  exports:     " << Join(file.exports) << "\n"
        << "  imports:     " << Join(file.imports) << "\n"
        << "  stripped:    "
        << (stripped ? "yes"
                     : std::string("no") + (file.symbol_table ? ", a symbol table" : "") +
                           (debug_sections.empty() ? "" : ", debug sections " + Join(debug_sections)))
        << "\n"
        << "  debug link:  " << link_state << "\n"
        << "  version:     " << version_text << "\n";
    if (!m_no_paths.empty()) out << "  build paths: " << paths_text << "\n";
    for (const std::string& fault : faults) out << "fault: " << fault << "\n";
    out << (faults.empty() ? "ok"
                           : std::to_string(faults.size()) + (faults.size() == 1 ? " fault" : " faults"))
        << "\n";
  }
  return faults.empty() ? OK : FAILED;
}
