// qxhost process through the executable: the gain example over real audio,
// measured apart from the code under test, and what the command refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "QXHostRun.h"
#include "UniqueTempPath.h"

#if QX_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace {

std::string ProcessTempPath(const std::string& name) { return UniqueTempPath("qx-process-test-", name); }

#if QX_HAVE_SNDFILE

// A sine of `dbfs` peak level in 32-bit floats, `channels` times the same.
void WriteSine(const std::string& path, int rate, double seconds, double dbfs, int channels = 1) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  const double amplitude = std::pow(10.0, dbfs / 20.0);
  const auto frames = static_cast<size_t>(seconds * rate);
  std::vector<float> samples(frames * static_cast<size_t>(channels));
  for (size_t n = 0; n < frames; ++n) {
    for (int c = 0; c < channels; ++c)
      samples[n * static_cast<size_t>(channels) + static_cast<size_t>(c)] =
          static_cast<float>(amplitude * std::sin(2.0 * M_PI * 997.0 * static_cast<double>(n) / rate));
  }
  EXPECT_EQ(sf_writef_float(file, samples.data(), static_cast<sf_count_t>(frames)),
            static_cast<sf_count_t>(frames));
  sf_close(file);
}

// The first channel's samples.
std::vector<float> ReadChannel(const std::string& path, SF_INFO* info) {
  std::vector<float> samples;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, info);
  if (file == nullptr) {
    ADD_FAILURE() << path << ": " << sf_strerror(nullptr);
    return samples;
  }
  std::vector<float> frame(static_cast<size_t>(info->channels));
  while (sf_readf_float(file, frame.data(), 1) == 1) samples.push_back(frame[0]);
  sf_close(file);
  return samples;
}

double Rms(const std::vector<float>& samples) {
  double sum = 0.0;
  for (const float s : samples) sum += static_cast<double>(s) * s;
  return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(QXHostProcess, TheGainExampleChangesTheLevelByItsPin) {
  const std::string in = ProcessTempPath("sine.wav");
  WriteSine(in, 48000, 1.0, -6.0);
  SF_INFO in_info{};
  const double in_rms = Rms(ReadChannel(in, &in_info));
  std::string first_bytes;
  for (const char* block : {"512", "1", "17", "4096"}) {
    for (const double gain : {-6.0, 3.0}) {
      const std::string out = ProcessTempPath("gain.wav");
      char edit[32];
      std::snprintf(edit, sizeof edit, "Gain (dB)=%g", gain);
      QXHostRun run({"process", "--block-size", block, QXHostRun::Module("Gain.qxm"), in, out, edit});
      ASSERT_EQ(run.code, 0) << run.err;
      EXPECT_NE(run.out.find(": 48000 samples at 48000 Hz, 1 channel from 1 audio input, block size " +
                             std::string(block)),
                std::string::npos)
          << run.out;
      SF_INFO out_info{};
      const std::vector<float> samples = ReadChannel(out, &out_info);
      EXPECT_EQ(out_info.samplerate, 48000);
      EXPECT_EQ(out_info.format, in_info.format) << "the input's format";
      ASSERT_EQ(samples.size(), 48000u);
      const double measured = 20.0 * std::log10(Rms(samples) / in_rms);
      EXPECT_NEAR(measured, gain, 0.01) << "block size " << block;
      if (gain == -6.0) {
        std::printf("measured gain at block size %s: %.4f dB\n", block, measured);
        // Same input, same file, whatever the block size.
        if (first_bytes.empty()) first_bytes = Bytes(out);
        EXPECT_EQ(Bytes(out), first_bytes) << "block size " << block;
      }
      std::remove(out.c_str());
    }
  }
  std::remove(in.c_str());
}

// "Gain (dB)" from -6 to 0 dB at 0.5 s: the level of each stretch, away from
// the 5 ms ramp, and the very sample the ramp starts at, whatever the block size.
TEST(QXHostProcess, APinChangeInTimeTakesEffectAtItsSample) {
  const std::string in = ProcessTempPath("change.wav"), out = ProcessTempPath("change-out.wav");
  WriteSine(in, 48000, 1.0, -6.0);
  SF_INFO in_info{};
  const std::vector<float> input = ReadChannel(in, &in_info);
  std::string first_bytes;
  for (const char* block : {"512", "17", "4096"}) {
    QXHostRun run({"process", "--block-size", block, QXHostRun::Module("Gain.qxm"), in, out, "Gain (dB)=-6",
                   "Gain (dB)=0@0.5"});
    ASSERT_EQ(run.code, 0) << run.err;
    SF_INFO out_info{};
    const std::vector<float> output = ReadChannel(out, &out_info);
    ASSERT_EQ(output.size(), input.size());
    const auto stretch = [](const std::vector<float>& v, size_t from, size_t to) {
      return std::vector<float>(v.begin() + static_cast<std::ptrdiff_t>(from),
                                v.begin() + static_cast<std::ptrdiff_t>(to));
    };
    const double before = 20.0 * std::log10(Rms(stretch(output, 0, 24000)) / Rms(stretch(input, 0, 24000)));
    const double after =
        20.0 * std::log10(Rms(stretch(output, 24480, 48000)) / Rms(stretch(input, 24480, 48000)));
    EXPECT_NEAR(before, -6.0, 0.005) << "block size " << block;
    EXPECT_NEAR(after, 0.0, 0.005) << "block size " << block;
    // Sample 23999 still has the old gain exactly; the ramp's first step is at 24000.
    const float old_gain = std::pow(10.0f, -6.0f / 20.0f);
    EXPECT_FLOAT_EQ(output[23999], input[23999] * old_gain);
    EXPECT_GT(std::fabs(output[24000]), std::fabs(input[24000] * old_gain)) << "block size " << block;
    if (first_bytes.empty()) first_bytes = Bytes(out);
    EXPECT_EQ(Bytes(out), first_bytes) << "block size " << block;
  }
  std::remove(in.c_str());
  std::remove(out.c_str());
}

TEST(QXHostProcess, ALongFileShowsItsProgressAShortOneDoesNot) {
  const std::string in = ProcessTempPath("long.wav"), out = ProcessTempPath("long-out.wav");
  WriteSine(in, 8000, 12.0, -3.0);
  QXHostRun run({"process", QXHostRun::Module("Gain.qxm"), in, out});
  EXPECT_EQ(run.code, 0) << run.err;
  // Its error stream is a file here, as in a log: a line at the start and
  // one at the end, no carriage return.
  EXPECT_NE(run.err.find("process:   0% (0.0 of 12.0 s)\nprocess: 100% (12.0 of 12.0 s)\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find('\r'), std::string::npos) << run.err;
#ifndef _WIN32
  // On a terminal (script(1) gives it one), the line counts up in place.
  if (std::system("script --version >/dev/null 2>&1") == 0) {
    const std::string emulator = QX_EMULATOR;
    const std::string command = (emulator.empty() ? "" : emulator + " ") + QX_QXHOST + " process " +
                                QXHostRun::Module("Gain.qxm") + " " + in + " " + out;
    const ChildRunner::Outcome terminal =
        ChildRunner::Run({"/bin/sh", "-c", "script -qec '" + command + "' /dev/null </dev/null"}, 120);
    EXPECT_EQ(terminal.end, ChildRunner::End::EXITED) << terminal.err;
    EXPECT_EQ(terminal.code, 0) << terminal.out << terminal.err;
    EXPECT_NE(terminal.out.find("\rprocess:  50% (6.0 of 12.0 s)"), std::string::npos) << terminal.out;
  }
#endif
  WriteSine(in, 8000, 9.0, -3.0);
  QXHostRun short_run({"process", QXHostRun::Module("Gain.qxm"), in, out});
  EXPECT_EQ(short_run.code, 0) << short_run.err;
  EXPECT_EQ(short_run.err, "");
  std::remove(in.c_str());
  std::remove(out.c_str());
}

struct Refusal {
  const char* name;
  std::vector<std::string> args;  // after "process"; IN is a one-channel sine, STEREO a two-channel one
  long code;
  std::string message;
};

class QXHostProcessRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(QXHostProcessRefuses, WithOneLineAndItsStatus) {
  const std::string in = ProcessTempPath("refusal.wav"), stereo = ProcessTempPath("stereo.wav"),
                    out = ProcessTempPath("refusal-out.wav");
  WriteSine(in, 44100, 0.1, -6.0);
  WriteSine(stereo, 44100, 0.1, -6.0, 2);
  std::vector<std::string> args = {"process"};
  for (const std::string& arg : GetParam().args)
    args.push_back(arg == "IN" ? in : arg == "STEREO" ? stereo : arg == "OUT" ? out : arg);
  QXHostRun run(args);
  EXPECT_EQ(run.code, GetParam().code) << run.out << run.err;
  EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
  for (const std::string& path : {in, stereo, out}) std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    QXHostProcess, QXHostProcessRefuses,
    ::testing::Values(
        Refusal{"NoAudioOutput", {QX_PRODUCT, "IN", "OUT"}, 1, "has no audio output pin"},
        Refusal{"MoreChannelsThanInputs",
                {QXHostRun::Module("Gain.qxm"), "STEREO", "OUT"},
                1,
                "has 2 channels, " + QXHostRun::Module("Gain.qxm") + " 1 audio input pin"},
        Refusal{"UnreadableInput",
                {QXHostRun::Module("Gain.qxm"), "/nonexistent/in.wav", "OUT"},
                1,
                "cannot read /nonexistent/in.wav"},
        Refusal{"UnwritableOutput",
                {QXHostRun::Module("Gain.qxm"), "IN", "/nonexistent/out.wav"},
                1,
                "cannot write /nonexistent/out.wav"},
        Refusal{"UnknownPin", {QXHostRun::Module("Gain.qxm"), "IN", "OUT", "Volume=3"}, 2, "no pin 'Volume'"},
        Refusal{"AudioPinTakesNoValue",
                {QXHostRun::Module("Gain.qxm"), "IN", "OUT", "In=3"},
                2,
                "pin 'In' takes no value on the DSP side"},
        Refusal{"BadValue", {QXHostRun::Module("Gain.qxm"), "IN", "OUT", "2=loud"}, 2, "bad edit '2=loud'"},
        Refusal{"BadTime",
                {QXHostRun::Module("Gain.qxm"), "IN", "OUT", "2=1@-0.5"},
                2,
                "bad edit '2=1@-0.5': SECONDS is a decimal number, 0 or more"},
        Refusal{"TimeAfterTheEnd",
                {QXHostRun::Module("Gain.qxm"), "IN", "OUT", "2=1@0.1"},
                2,
                "bad edit '2=1@0.1': after the end of"},
        Refusal{"ChangesOutOfOrder",
                {QXHostRun::Module("Gain.qxm"), "IN", "OUT", "Gain (dB)=1@0.05", "2=3@0.01"},
                2,
                "bad edit '2=3@0.01': the changes of a pin go in time order"},
        Refusal{"BlockTooLarge",
                {"--block-size", "4097", QXHostRun::Module("Gain.qxm"), "IN", "OUT"},
                2,
                "--block-size"},
        Refusal{"BlockOfNothing",
                {"--block-size", "0", QXHostRun::Module("Gain.qxm"), "IN", "OUT"},
                2,
                "--block-size"}),
    [](const ::testing::TestParamInfo<Refusal>& param) { return std::string(param.param.name); });

// A 16-bit WAV file written byte by byte: `channels` interleaved, each frame
// `frames[n]`, with a header that declares `rate` and `declared` frames.
void WriteWav(const std::string& path, uint32_t rate, const std::vector<std::vector<int16_t> >& frames,
              size_t declared) {
  const auto channels = static_cast<uint32_t>(frames.empty() ? 1 : frames[0].size());
  std::string bytes;
  const auto word = [&bytes](uint32_t w, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((w >> (8 * i)) & 0xFF);
  };
  const auto data = static_cast<uint32_t>(declared * channels * 2);
  bytes += "RIFF";
  word(36 + data, 4);
  bytes += "WAVEfmt ";
  word(16, 4);
  word(1, 2);
  word(channels, 2);
  word(rate, 4);
  word(rate * channels * 2, 4);
  word(channels * 2, 2);
  word(16, 2);
  bytes += "data";
  word(data, 4);
  for (const auto& frame : frames)
    for (const int16_t sample : frame) word(static_cast<uint16_t>(sample), 2);
  std::ofstream(path, std::ios::binary) << bytes;
}

// `count` mono frames of a ramp.
std::vector<std::vector<int16_t> > Ramp(size_t count) {
  std::vector<std::vector<int16_t> > frames;
  for (size_t n = 0; n < count; ++n) frames.push_back({static_cast<int16_t>(n * 100 % 30000)});
  return frames;
}

// Files in `folder` whose names hold `part`.
std::vector<std::string> FilesNaming(const std::string& folder, const std::string& part) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(part) != std::string::npos) names.push_back(name);
  }
  return names;
}

// Runs qxhost in `folder` as its working folder.
QXHostRun RunIn(const std::string& folder, const std::vector<std::string>& args) {
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  QXHostRun run(args);
  std::filesystem::current_path(here);
  return run;
}

// A folder of its own for each test, emptied at the end.
struct Folder {
  explicit Folder(const std::string& name) : path(ProcessTempPath(name)) {
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
  }
  ~Folder() { std::filesystem::remove_all(path); }
  std::string operator/(const std::string& file) const { return path + "/" + file; }
  std::string path;
};

TEST(QXHostProcess, NeverWritesItsInputWhateverItsSpelling) {
  Folder folder("same-file");
  const std::string in = folder / "in.wav";
  WriteSine(in, 44100, 0.1, -6.0);
  const std::string before = Bytes(in);
  std::filesystem::create_symlink(in, folder / "link.wav");
  std::filesystem::create_hard_link(in, folder / "hard.wav");
  const std::string gain = QXHostRun::Module("Gain.qxm");
  for (const std::string& out : {in, std::string("./in.wav"),
                                 "../" + std::filesystem::path(folder.path).filename().string() + "/in.wav",
                                 folder / "link.wav", folder / "hard.wav"}) {
    QXHostRun run = RunIn(folder.path, {"process", gain, "in.wav", out});
    EXPECT_EQ(run.code, 2) << out << ": " << run.out << run.err;
    EXPECT_NE(run.err.find("is the input file"), std::string::npos) << run.err;
    EXPECT_EQ(Bytes(in), before) << out;
  }
  // Nor the module it runs.
  const std::string module = folder / "Gain.qxm";
  std::filesystem::copy_file(gain, module);
  const std::string module_bytes = Bytes(module);
  QXHostRun run = RunIn(folder.path, {"process", module, "in.wav", "./Gain.qxm"});
  EXPECT_EQ(run.code, 2) << run.out << run.err;
  EXPECT_NE(run.err.find("is the module file"), std::string::npos) << run.err;
  EXPECT_EQ(Bytes(module), module_bytes);
}

TEST(QXHostProcess, ARunThatFailsLeavesAnExistingOutAsItWasAndNoPartialFile) {
  Folder folder("failed-run");
  const std::string in = folder / "in.wav", out = folder / "out.wav";
  WriteWav(in, 44100, {{1000, -1000}, {2000, -2000}, {3000, -3000}}, 3);
  std::ofstream(out) << "the user's file";
  const std::string stereo = QXHostRun::Module("stereo_gain.qxm");
  // Refused after the module is loaded; stopped by the module in the middle.
  QXHostRun refused({"process", stereo, in, out, "Volume=2"});
  EXPECT_EQ(refused.code, 2) << refused.err;
  WriteWav(in, 44100, std::vector<std::vector<int16_t> >(3000, {1000, -1000}), 3000);
  QXHostRun crashed({"process", "--block-size", "64", stereo, in, out, "Gain=-1"});
  EXPECT_FALSE(crashed.exited && crashed.code == 0) << crashed.err;
  // The crash says where: the call in flight, its sample, and the stack
  // through the module's own frames.
  EXPECT_NE(crashed.err.find("stereo_gain.qxm: the module crashed the process (SIGABRT) during process_entry "
                             "(offset 0, count 64), at sample 64 of " +
                             in + "; " + out + " was not written\nqxhost: the crashing thread's stack"),
            std::string::npos)
      << crashed.err;
  const size_t frame = crashed.err.find("stereo_gain.qxm(");
  ASSERT_NE(frame, std::string::npos) << crashed.err;
#ifdef __GLIBC__
  // Named from the module's symbol table, though the module exports no such
  // function (optimised, the name may be of the part the compiler split off).
  EXPECT_NE(crashed.err[frame + std::strlen("stereo_gain.qxm(")], '+') << crashed.err;
#else
  EXPECT_EQ(crashed.err.compare(frame, std::strlen("stereo_gain.qxm(+0x"), "stereo_gain.qxm(+0x"), 0)
      << crashed.err;
#endif
  EXPECT_EQ(Bytes(out), "the user's file");
  EXPECT_EQ(FilesNaming(folder.path, "qxhost"), std::vector<std::string>{});
  // A run that succeeds replaces it whole.
  QXHostRun done({"process", stereo, in, out});
  EXPECT_EQ(done.code, 0) << done.err;
  SF_INFO info{};
  EXPECT_EQ(ReadChannel(out, &info).size(), 3000u);
  EXPECT_EQ(FilesNaming(folder.path, "qxhost"), std::vector<std::string>{});
}

TEST(QXHostProcess, PathsAreResolvedBeforeTheModuleChangesTheWorkingFolder) {
  // stereo_gain changes the working folder to the root when it opens.
  Folder folder("relative");
  WriteWav(folder / "in.wav", 8000, {{1, 2}, {3, 4}}, 2);
  const std::string name = "qx-process-test-relative-out.wav";
  QXHostRun run = RunIn(folder.path, {"process", QXHostRun::Module("stereo_gain.qxm"), "in.wav", name});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(folder / name));
  EXPECT_FALSE(std::filesystem::exists("/" + name));
  std::filesystem::remove("/" + name);
}

TEST(QXHostProcess, ChannelsReachTheirInputsAndAControlPinGoesByItsDspId) {
  // Left and right differ; the Gain pin is description 5 and DSP pin 4,
  // after a GUI-only pin.
  Folder folder("stereo");
  const std::string in = folder / "in.wav", out = folder / "out.wav";
  std::vector<std::vector<int16_t> > frames;
  for (int16_t n = 0; n < 600; ++n)
    frames.push_back({static_cast<int16_t>(n * 40), static_cast<int16_t>(-n * 8)});
  WriteWav(in, 48000, frames, frames.size());
  for (const char* edit : {"Gain=0.5", "5=0.5"}) {
    QXHostRun run({"process", "--block-size", "64", QXHostRun::Module("stereo_gain.qxm"), in, out, edit});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("600 samples at 48000 Hz, 2 channels from 2 audio inputs"), std::string::npos)
        << run.out;
    SF_INFO info{};
    SNDFILE* file = sf_open(out.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(info.channels, 2);
    std::vector<short> samples(1200);
    EXPECT_EQ(sf_readf_short(file, samples.data(), 600), 600);
    sf_close(file);
    for (size_t n = 0; n < 600; ++n) {
      ASSERT_EQ(samples[2 * n], frames[n][0] / 2) << edit << " left, frame " << n;
      ASSERT_EQ(samples[2 * n + 1], frames[n][1] / 2) << edit << " right, frame " << n;
    }
  }
}

TEST(QXHostProcess, MemoryFollowsTheBlockNotTheDeclaredRate) {
  Folder folder("rates");
  const std::string in = folder / "in.wav", out = folder / "out.wav";
  // 100 samples declared at 200 MHz: one block of buffers, not a second's.
  WriteWav(in, 200000000, Ramp(100), 100);
  QXHostRun fast({"process", QXHostRun::Module("Gain.qxm"), in, out}, 60.0);
  EXPECT_TRUE(fast.exited) << "took " << fast.seconds << " s";
  EXPECT_EQ(fast.code, 0) << fast.err;
  EXPECT_NE(fast.out.find("100 samples at 200000000 Hz"), std::string::npos) << fast.out;
  // A rate the host cannot announce as a float is refused, and no OUT made.
  std::filesystem::remove(out);
  WriteWav(in, 2147483647, Ramp(100), 100);
  QXHostRun refused({"process", QXHostRun::Module("Gain.qxm"), in, out}, 60.0);
  EXPECT_EQ(refused.code, 1) << refused.err;
  EXPECT_NE(refused.err.find("a sample rate of 2147483647 Hz, which the host cannot announce"),
            std::string::npos)
      << refused.err;
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(QXHostProcess, AFileShorterThanItsHeaderSaysGetsAWarning) {
  Folder folder("short");
  const std::string in = folder / "in.wav", out = folder / "out.wav";
  WriteWav(in, 44100, Ramp(50), 4410);
  QXHostRun run({"process", QXHostRun::Module("Gain.qxm"), in, out});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.err.find("qxhost: warning: " + in +
                         " is shorter than its header says: 4410 samples "
                         "declared, 50 in the file"),
            std::string::npos)
      << run.err;
  WriteWav(in, 44100, Ramp(50), 50);
  QXHostRun whole({"process", QXHostRun::Module("Gain.qxm"), in, out});
  EXPECT_EQ(whole.err, "");
}

TEST(QXHostProcess, AModuleThatFloodsTheHostIsRefusedBeyondTheBoundAndTold) {
  // 100000 events a process call, for a clock far ahead: the host keeps 8192.
  Folder folder("storm");
  WriteSine(folder / "in.wav", 8000, 0.5, -6.0);
  QXHostRun run({"process", QXHostRun::Module("event_storm.qxm"), folder / "in.wav", folder / "out.wav"},
                120.0);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.err.find(" events beyond the 8192 the host keeps pending; they were refused"),
            std::string::npos)
      << run.err;
  SF_INFO info{};
  EXPECT_EQ(ReadChannel(folder / "out.wav", &info).size(), 4000u);
}

TEST(QXHostProcess, ALoadErrorShowsThePathEscaped) {
  Folder folder("load-error");
  WriteWav(folder / "in.wav", 8000, Ramp(10), 10);
  QXHostRun run({"process",
                 "/nonexistent/\x1b]0;t\x07\x9b"
                 "2J.qxm",
                 folder / "in.wav", folder / "out.wav"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("\\x1B]0;t\\x07\\x9B2J.qxm"), std::string::npos) << run.err;
  for (const char raw : {'\x1b', '\x07', static_cast<char>(0x9b)})
    EXPECT_EQ(run.err.find(raw), std::string::npos);
}

#else

TEST(QXHostProcess, SaysItIsNotBuiltIn) {
  QXHostRun run(
      {"process", QXHostRun::Module("Gain.qxm"), ProcessTempPath("in.wav"), ProcessTempPath("out.wav")});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("qxhost process: not built in: this qxhost was built without libsndfile"),
            std::string::npos)
      << run.err;
}

#endif

}  // namespace
