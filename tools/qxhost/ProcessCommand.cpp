#include "ProcessCommand.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "DspHost.h"
#include "FilePath.h"
#include "ModuleSession.h"
#include "SetCommand.h"
#include "TextFormat.h"

#if QX_HAVE_SNDFILE
#include <sndfile.h>

#include "CrashNote.h"
#include "OutputFile.h"
#endif

ProcessCommand::ProcessCommand(CLI::App& tool)
    : ToolCommand(tool, "process",
                  "qxhost process [--block-size N] MODULE IN.wav OUT.wav [PIN=VALUE[@SECONDS]...]",
                  "Runs MODULE's DSP side over the audio file IN through the reference host and writes\n"
                  "OUT: channel k of IN feeds the k-th audio input pin (missing channels are silence),\n"
                  "the audio output pins give OUT's channels, at IN's sample rate and in its format.\n"
                  "Each PIN=VALUE sets a control pin of the DSP side before the first sample;\n"
                  "PIN=VALUE@SECONDS sets it at that time of the file, at its sample (the time rounded\n"
                  "to the nearest sample), as the host does: the pin's variable is written and the\n"
                  "change reported as an event there. A pin's changes are given in time order. The\n"
                  "module is loaded in this process.") {
  Option("--block-size", &m_block_size, "samples per process call, 1 to 4096 (default 512)").TypeName("N");
  Option("MODULE", &m_module, "the module file").Required();
  Option("IN", &m_input, "the audio file to read (any format libsndfile reads)").Required();
  Option("OUT", &m_output, "the audio file to write").Required();
  Option("PIN=VALUE[@SECONDS]", &m_edits,
         "PIN by name or index; VALUE a decimal number; SECONDS from the file's start (default 0)");
}

#if !QX_HAVE_SNDFILE

bool ProcessCommand::Available() { return false; }

int ProcessCommand::Run(std::ostream& /*out*/, std::ostream& err) {
  err << "qxhost process: not built in: this qxhost was built without libsndfile (native builds with "
         "libsndfile1-dev installed have it)\n";
  return FAILED;
}

#else

namespace {

// Whether the process's standard error is a terminal (not a file or a pipe).
bool ErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

struct FileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, FileCloser>;

// The pin with this name, or with this decimal index; -1 if none.
int32_t FindPin(const std::vector<PinDescription>& pins, const std::string& name_or_index) {
  for (const PinDescription& pin : pins) {
    if (pin.name == name_or_index) return pin.index;
  }
  char* end = nullptr;
  const long index = std::strtol(name_or_index.c_str(), &end, 10);
  if (name_or_index.empty() || *end != '\0' || index < 0 || index >= static_cast<long>(pins.size()))
    return -1;
  return static_cast<int32_t>(index);
}

uint32_t Word(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The frames a RIFF WAVE file's header declares (its data chunk's size over
// the format's block size); false if the file is no such file or declares no
// length (a streamed file's 0xFFFFFFFF).
bool DeclaredFrames(const std::string& path, int64_t* frames) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  unsigned char head[12];
  bool found = false;
  uint32_t block_align = 0;
  if (std::fread(head, 1, sizeof head, file) == sizeof head && std::memcmp(head, "RIFF", 4) == 0 &&
      std::memcmp(head + 8, "WAVE", 4) == 0) {
    unsigned char chunk[8];
    while (!found && std::fread(chunk, 1, sizeof chunk, file) == sizeof chunk) {
      const uint32_t size = Word(chunk + 4);
      if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
        unsigned char format[16];
        if (std::fread(format, 1, sizeof format, file) != sizeof format) break;
        block_align = static_cast<uint32_t>(format[12]) | static_cast<uint32_t>(format[13]) << 8;
        if (std::fseek(file, static_cast<long>(size) - 16 + static_cast<long>(size & 1), SEEK_CUR) != 0)
          break;
      } else if (std::memcmp(chunk, "data", 4) == 0) {
        found = block_align > 0 && size != 0xFFFFFFFFu;
        if (found) *frames = static_cast<int64_t>(size / block_align);
      } else if (std::fseek(file, static_cast<long>(size) + static_cast<long>(size & 1), SEEK_CUR) != 0) {
        break;
      }
    }
  }
  std::fclose(file);
  return found;
}

// A pin change of the command line: PIN=VALUE or PIN=VALUE@SECONDS.
struct Edit {
  std::string text;
  std::string pin;
  double value;
  double seconds;
};

// Seconds from the file's start: a plain decimal, 0 or more.
bool ParseSeconds(const std::string& text, double* seconds) {
  const size_t point = text.find('.');
  if (text.empty() || text == "." || text.find_first_not_of("0123456789.") != std::string::npos ||
      (point != std::string::npos && text.find('.', point + 1) != std::string::npos))
    return false;
  *seconds = std::strtod(text.c_str(), nullptr);
  return std::isfinite(*seconds);
}

}  // namespace

bool ProcessCommand::Available() { return true; }

int ProcessCommand::Run(std::ostream& out, std::ostream& err) {
  const auto block = static_cast<int32_t>(Whole("--block-size", m_block_size, 1, DspHost::MAX_BLOCK));
  std::vector<Edit> edits;
  for (const std::string& edit : m_edits) {
    const size_t eq = edit.find('=');
    const size_t at = edit.find('@', eq == std::string::npos ? 0 : eq);
    double value = 0, seconds = 0;
    std::string why = "expected PIN=VALUE or PIN=VALUE@SECONDS with a decimal VALUE";
    if (eq == std::string::npos || eq == 0 ||
        !SetCommand::ParseValue(edit.substr(eq + 1, at - eq - 1), &value, &why))
      throw UsageError("bad edit '" + TextFormat::Printable(edit) + "': " + why);
    if (at != std::string::npos && !ParseSeconds(edit.substr(at + 1), &seconds))
      throw UsageError("bad edit '" + TextFormat::Printable(edit) +
                       "': SECONDS is a decimal number, 0 or more");
    edits.push_back(Edit{edit, edit.substr(0, eq), value, seconds});
  }
  // Every path as a file before the module runs: a module that changes the
  // working folder cannot move them.
  const std::string module_path = FilePath::Absolute(m_module);
  const std::string input_path = FilePath::Absolute(m_input);
  const std::string output_path = FilePath::Absolute(m_output);
  const std::string module = TextFormat::Printable(m_module);
  const std::string input_name = TextFormat::Printable(m_input);
  const std::string output_name = TextFormat::Printable(m_output);
  // A file the user gave to be read is never written.
  if (FilePath::SameFile(input_path, output_path))
    throw UsageError("OUT " + output_name + " is the input file " + input_name + ": it would be overwritten");
  if (FilePath::SameFile(module_path, output_path))
    throw UsageError("OUT " + output_name + " is the module file " + module + ": it would be overwritten");

  SF_INFO in_info{};
  SoundFile input(sf_open(input_path.c_str(), SFM_READ, &in_info));
  if (!input) {
    err << "qxhost: cannot read " << input_name << ": " << TextFormat::Printable(sf_strerror(nullptr))
        << "\n";
    return FAILED;
  }
  // The host announces the rate as a 32-bit float: one it would round is
  // another rate.
  const auto announced = static_cast<float>(in_info.samplerate);
  if (in_info.samplerate <= 0 || static_cast<double>(announced) != static_cast<double>(in_info.samplerate)) {
    err << "qxhost: " << input_name << ": a sample rate of " << in_info.samplerate
        << " Hz, which the host cannot announce (a 32-bit float holds it only approximately)\n";
    return FAILED;
  }
  int64_t declared = 0;
  if (DeclaredFrames(input_path, &declared) && declared > in_info.frames)
    err << "qxhost: warning: " << input_name << " is shorter than its header says: " << declared
        << " samples declared, " << in_info.frames << " in the file\n";

  std::optional<ModuleLibrary> library = Load(module_path, err);
  if (!library) return FAILED;
  std::vector<PinDescription> pins;
  std::string error;
  if (!ModuleSession::DescribePins(*library, &pins, &error)) {
    err << "qxhost: " << TextFormat::Printable(error) << "\n";
    return FAILED;
  }

  // Buffers of one block: memory in proportion to the block and the pins.
  DspHost host(PinDescription::DspCount(pins), block, block);
  host.SetLogging(false);  // a log entry per call would grow with the file
  // A crash says where, before the process ends.
  const CrashNote crash_note(host, module, input_name, output_name);
  auto* record = static_cast<QXModuleStruct*>(
      library->MakeModule(0, QX_INSTANCE_DSP, &DspHost::Callback, host.HostData()));
  if (record == nullptr) {
    err << "qxhost: " << module << ": makeModule(0, 1) gave no DSP instance\n";
    return FAILED;
  }
  host.Attach(record);
  host.Describe();
  // Closes the instance however this ends.
  struct Closer {
    DspHost& host;
    ~Closer() {
      if (host.Record() != nullptr) host.Close();
    }
  } closer{host};

  std::vector<int32_t> inputs, outputs;
  for (int32_t id = 0; id < host.PinCount(); ++id) {
    if (host.Pin(id).datatype == DT_FSAMPLE)
      (host.Pin(id).direction == DR_OUT ? outputs : inputs).push_back(id);
  }
  if (outputs.empty()) {
    err << "qxhost: " << module << " has no audio output pin (data type DT_FSAMPLE, direction out)\n";
    return FAILED;
  }
  if (in_info.channels > static_cast<int>(inputs.size())) {
    err << "qxhost: " << input_name << " has " << in_info.channels << " channels, " << module << " "
        << inputs.size() << " audio input pin" << (inputs.size() == 1 ? "" : "s") << "\n";
    return FAILED;
  }
  // Each change at its sample, in time order (a stable sort keeps a pin's own
  // order); handed to the host with the stretch of audio that holds it.
  const std::vector<int32_t> ids = PinDescription::DspIds(pins);
  struct Change {
    int32_t id;
    double value;
    sf_count_t sample;
  };
  std::vector<Change> changes;
  for (const Edit& edit : edits) {
    const int32_t index = FindPin(pins, edit.pin);
    if (index < 0) throw UsageError("no pin '" + TextFormat::Printable(edit.pin) + "' in " + module);
    const int32_t id = ids[static_cast<size_t>(index)];
    if (!host.TakesValue(id))
      throw UsageError("pin '" + TextFormat::Printable(edit.pin) +
                       "' takes no value on the DSP side (it is " +
                       "no control pin with a variable of its module's)");
    // Rounded only once known to lie within the file.
    const double at = std::round(edit.seconds * in_info.samplerate);
    if (at > 0 && at >= static_cast<double>(in_info.frames))
      throw UsageError("bad edit '" + TextFormat::Printable(edit.text) + "': after the end of " +
                       TextFormat::Printable(m_input) + " (" + std::to_string(in_info.frames) + " samples)");
    const auto sample = static_cast<sf_count_t>(at);
    for (const Change& earlier : changes) {
      if (earlier.id == id && earlier.sample > sample)
        throw UsageError("bad edit '" + TextFormat::Printable(edit.text) +
                         "': the changes of a pin go in time order");
    }
    changes.push_back(Change{id, edit.value, sample});
  }
  std::stable_sort(changes.begin(), changes.end(),
                   [](const Change& a, const Change& b) { return a.sample < b.sample; });

  // OUT is written beside itself and takes its place only when complete.
  OutputFile output_file;
  if (!output_file.Create(output_path, &error)) {
    err << "qxhost: cannot write " << output_name << ": " << TextFormat::Printable(error) << "\n";
    return FAILED;
  }
  SF_INFO out_info{};
  out_info.samplerate = in_info.samplerate;
  out_info.channels = static_cast<int>(outputs.size());
  out_info.format = in_info.format;
  SoundFile output(sf_open_fd(output_file.Descriptor(), SFM_WRITE, &out_info, SF_FALSE));
  if (!output) {
    err << "qxhost: cannot write " << output_name << ": " << TextFormat::Printable(sf_strerror(nullptr))
        << "\n";
    return FAILED;
  }
  sf_command(output.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
  // No PEAK chunk: it holds the time of writing, and the same input should
  // give the same file.
  sf_command(output.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);

  host.SetFormat(announced, block);
  host.Open();
  // One block at a time: memory in proportion to the block size and the
  // channels, whatever rate the file declares.
  const auto chunk = static_cast<size_t>(block);
  const auto in_channels = static_cast<size_t>(in_info.channels);
  std::vector<float> interleaved(chunk * std::max(in_channels, outputs.size()));
  std::vector<std::vector<float> > in_signals(inputs.size(), std::vector<float>(chunk));
  std::vector<std::vector<float> > out_signals(outputs.size(), std::vector<float>(chunk));
  std::vector<DspHost::Channel> in_channels_list, out_channels_list;
  for (size_t k = 0; k < inputs.size(); ++k) in_channels_list.push_back({inputs[k], in_signals[k].data()});
  for (size_t k = 0; k < outputs.size(); ++k)
    out_channels_list.push_back({outputs[k], out_signals[k].data()});

  const double seconds = static_cast<double>(in_info.frames) / in_info.samplerate;
  const bool progress = seconds > PROGRESS_SECONDS;
  // A line that rewrites itself on a terminal; in a log, one line at the
  // start and one at the end.
  const bool terminal = &err == &std::cerr && ErrorIsTerminal();
  const auto show = [&](sf_count_t frames, int percent) {
    char line[96];
    std::snprintf(line, sizeof line, "%sprocess: %3d%% (%.1f of %.1f s)%s", terminal ? "\r" : "", percent,
                  static_cast<double>(frames) / in_info.samplerate, seconds, terminal ? "" : "\n");
    err << line << std::flush;
  };
  if (progress && !terminal) show(0, 0);
  sf_count_t done = 0;
  size_t next_change = 0;
  int shown = -1;
  for (;;) {
    const sf_count_t got = sf_readf_float(input.get(), interleaved.data(), static_cast<sf_count_t>(chunk));
    if (got <= 0) break;
    const auto frames = static_cast<size_t>(got);
    // The changes within this stretch, at their samples (the host's clock
    // counts the file's samples from 0).
    for (; next_change < changes.size() && changes[next_change].sample < done + got; ++next_change) {
      const Change& change = changes[next_change];
      host.SetPinValue(change.id, change.value, static_cast<uint32_t>(change.sample));
    }
    for (size_t k = 0; k < inputs.size(); ++k) {
      for (size_t n = 0; n < frames; ++n)
        in_signals[k][n] = k < in_channels ? interleaved[n * in_channels + k] : 0.0f;
    }
    host.Stream(in_channels_list, out_channels_list, static_cast<int32_t>(frames));
    for (size_t n = 0; n < frames; ++n) {
      for (size_t k = 0; k < outputs.size(); ++k) interleaved[n * outputs.size() + k] = out_signals[k][n];
    }
    if (sf_writef_float(output.get(), interleaved.data(), got) != got) {
      err << "qxhost: cannot write " << output_name << ": "
          << TextFormat::Printable(sf_strerror(output.get())) << "\n";
      return FAILED;
    }
    done += got;
    const int percent = in_info.frames > 0 ? static_cast<int>(done * 100 / in_info.frames) : 100;
    if (progress && terminal && percent != shown) {
      show(done, percent);
      shown = percent;
    }
  }
  if (progress && terminal) err << "\n";
  if (progress && !terminal)
    show(done, in_info.frames > 0 ? static_cast<int>(done * 100 / in_info.frames) : 100);
  // Events the module posted for a clock already past are lost: say so.
  if (host.LateEvents() > 0)
    err << "qxhost: warning: " << host.LateEvents()
        << " event(s) never delivered; the first: " << TextFormat::Printable(host.FirstLateEvent()) << "\n";
  if (host.RefusedEvents() > 0)
    err << "qxhost: warning: " << module << " posted " << host.RefusedEvents() << " events beyond the "
        << DspHost::MAX_PENDING_EVENTS << " the host keeps pending; they were refused\n";
  host.Close();
  // libsndfile writes the header's sizes when it closes the file.
  const int closed = sf_close(output.release());
  if (closed != 0 || !output_file.Commit(&error)) {
    err << "qxhost: cannot write " << output_name << ": "
        << TextFormat::Printable(closed != 0 ? sf_error_number(closed) : error) << "\n";
    return FAILED;
  }
  out << output_name << ": " << done << " samples at " << in_info.samplerate << " Hz, " << outputs.size()
      << (outputs.size() == 1 ? " channel" : " channels") << " from " << inputs.size()
      << (inputs.size() == 1 ? " audio input" : " audio inputs") << ", block size " << block << "\n";
  return OK;
}

#endif
