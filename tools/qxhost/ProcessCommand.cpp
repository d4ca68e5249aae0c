#include "ProcessCommand.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "DspHost.h"
#include "ModuleSession.h"
#include "SetCommand.h"
#include "TextFormat.h"

#if QX_HAVE_SNDFILE
#include <sndfile.h>
#endif

ProcessCommand::ProcessCommand(CLI::App& tool)
    : ToolCommand(tool, "process", "qxhost process [--block-size N] MODULE IN.wav OUT.wav [PIN=VALUE...]",
                  "Runs MODULE's DSP side over the audio file IN through the reference host and writes\n"
                  "OUT: channel k of IN feeds the k-th audio input pin (missing channels are silence),\n"
                  "the audio output pins give OUT's channels, at IN's sample rate and in its format.\n"
                  "Each PIN=VALUE sets a control pin of the DSP side before the first sample. The\n"
                  "module is loaded in this process.") {
  App()
      ->add_option("--block-size", m_block_size, "samples per process call, 1 to 4096 (default 512)")
      ->type_name("N");
  App()->add_option("MODULE", m_module, "the module file")->required();
  App()->add_option("IN", m_input, "the audio file to read (any format libsndfile reads)")->required();
  App()->add_option("OUT", m_output, "the audio file to write")->required();
  App()->add_option("PIN=VALUE", m_edits, "PIN by name or index; VALUE a decimal number");
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

}  // namespace

bool ProcessCommand::Available() { return true; }

int ProcessCommand::Run(std::ostream& out, std::ostream& err) {
  const auto block = static_cast<int32_t>(Whole("--block-size", m_block_size, 1, DspHost::MAX_BLOCK));
  std::vector<std::pair<std::string, double> > edits;
  for (const std::string& edit : m_edits) {
    const size_t eq = edit.find('=');
    double value = 0;
    std::string why = "expected PIN=VALUE with a decimal VALUE";
    if (eq == std::string::npos || eq == 0 || !SetCommand::ParseValue(edit.substr(eq + 1), &value, &why))
      throw UsageError("bad edit '" + TextFormat::Printable(edit) + "': " + why);
    edits.emplace_back(edit.substr(0, eq), value);
  }

  SF_INFO in_info{};
  SoundFile input(sf_open(m_input.c_str(), SFM_READ, &in_info));
  if (!input) {
    err << "qxhost: cannot read " << TextFormat::Printable(m_input) << ": " << sf_strerror(nullptr) << "\n";
    return FAILED;
  }
  std::optional<ModuleLibrary> library = Load(m_module, err);
  if (!library) return FAILED;
  std::vector<PinDescription> pins;
  std::string error;
  if (!ModuleSession::DescribePins(*library, &pins, &error)) {
    err << "qxhost: " << error << "\n";
    return FAILED;
  }

  DspHost host(PinDescription::DspCount(pins), block, DspHost::MAX_BLOCK);
  host.SetLogging(false);  // a log entry per call would grow with the file
  auto* record = static_cast<QXModuleStruct*>(
      library->MakeModule(0, QX_INSTANCE_DSP, &DspHost::Callback, host.HostData()));
  if (record == nullptr) {
    err << "qxhost: " << library->Path() << ": makeModule(0, 1) gave no DSP instance\n";
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
  const std::string module = TextFormat::Printable(m_module);
  if (outputs.empty()) {
    err << "qxhost: " << module << " has no audio output pin (data type DT_FSAMPLE, direction out)\n";
    return FAILED;
  }
  if (in_info.channels > static_cast<int>(inputs.size())) {
    err << "qxhost: " << TextFormat::Printable(m_input) << " has " << in_info.channels << " channels, "
        << module << " " << inputs.size() << " audio input pin" << (inputs.size() == 1 ? "" : "s") << "\n";
    return FAILED;
  }
  const std::vector<int32_t> ids = PinDescription::DspIds(pins);
  for (const auto& edit : edits) {
    const int32_t index = FindPin(pins, edit.first);
    if (index < 0) throw UsageError("no pin '" + TextFormat::Printable(edit.first) + "' in " + module);
    const int32_t id = ids[static_cast<size_t>(index)];
    if (id < 0 || !host.SetPinValue(id, edit.second, 0))
      throw UsageError("pin '" + TextFormat::Printable(edit.first) +
                       "' takes no value on the DSP side (it is " +
                       "no control pin with a variable of its module's)");
  }

  host.SetFormat(static_cast<float>(in_info.samplerate), block);
  host.Open();
  SF_INFO out_info{};
  out_info.samplerate = in_info.samplerate;
  out_info.channels = static_cast<int>(outputs.size());
  out_info.format = in_info.format;
  SoundFile output(sf_open(m_output.c_str(), SFM_WRITE, &out_info));
  if (!output) {
    err << "qxhost: cannot write " << TextFormat::Printable(m_output) << ": " << sf_strerror(nullptr) << "\n";
    return FAILED;
  }
  sf_command(output.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
  // No PEAK chunk: it holds the time of writing, and the same input should
  // give the same file.
  sf_command(output.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);

  // A second of audio at a time, at least a block.
  const auto chunk = static_cast<size_t>(std::max(in_info.samplerate, block));
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
  sf_count_t done = 0;
  int shown = -1;
  for (;;) {
    const sf_count_t got = sf_readf_float(input.get(), interleaved.data(), static_cast<sf_count_t>(chunk));
    if (got <= 0) break;
    const auto frames = static_cast<size_t>(got);
    for (size_t k = 0; k < inputs.size(); ++k) {
      for (size_t n = 0; n < frames; ++n)
        in_signals[k][n] = k < in_channels ? interleaved[n * in_channels + k] : 0.0f;
    }
    host.Stream(in_channels_list, out_channels_list, static_cast<int32_t>(frames));
    for (size_t n = 0; n < frames; ++n) {
      for (size_t k = 0; k < outputs.size(); ++k) interleaved[n * outputs.size() + k] = out_signals[k][n];
    }
    if (sf_writef_float(output.get(), interleaved.data(), got) != got) {
      err << "qxhost: cannot write " << TextFormat::Printable(m_output) << ": " << sf_strerror(output.get())
          << "\n";
      return FAILED;
    }
    done += got;
    const int percent = in_info.frames > 0 ? static_cast<int>(done * 100 / in_info.frames) : 100;
    if (progress && percent != shown) {
      char line[96];
      std::snprintf(line, sizeof line, "\rprocess: %3d%% (%.1f of %.1f s)", percent,
                    static_cast<double>(done) / in_info.samplerate, seconds);
      err << line << std::flush;
      shown = percent;
    }
  }
  if (progress) err << "\n";
  // Events the module posted for a clock already past are lost: say so.
  if (host.LateEvents() > 0)
    err << "qxhost: warning: " << host.LateEvents()
        << " event(s) never delivered; the first: " << TextFormat::Printable(host.FirstLateEvent()) << "\n";
  host.Close();
  out << TextFormat::Printable(m_output) << ": " << done << " samples at " << in_info.samplerate << " Hz, "
      << outputs.size() << (outputs.size() == 1 ? " channel" : " channels") << " from " << inputs.size()
      << (inputs.size() == 1 ? " audio input" : " audio inputs") << ", block size " << block << "\n";
  return OK;
}

#endif
