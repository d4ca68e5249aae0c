// qxhost process through the executable: the gain example over real audio,
// measured apart from the code under test, and what the command refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
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

std::string TempPath(const std::string& name) { return UniqueTempPath("qx-process-test-", name); }

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
  const std::string in = TempPath("sine.wav");
  WriteSine(in, 48000, 1.0, -6.0);
  SF_INFO in_info{};
  const double in_rms = Rms(ReadChannel(in, &in_info));
  std::string first_bytes;
  for (const char* block : {"512", "1", "17", "4096"}) {
    for (const double gain : {-6.0, 3.0}) {
      const std::string out = TempPath("gain.wav");
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

TEST(QXHostProcess, ALongFileShowsItsProgressAShortOneDoesNot) {
  const std::string in = TempPath("long.wav"), out = TempPath("long-out.wav");
  WriteSine(in, 8000, 12.0, -3.0);
  QXHostRun run({"process", QXHostRun::Module("Gain.qxm"), in, out});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.err.find("\rprocess:  50% (6.0 of 12.0 s)"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\rprocess: 100% (12.0 of 12.0 s)\n"), std::string::npos) << run.err;
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
  const std::string in = TempPath("refusal.wav"), stereo = TempPath("stereo.wav"),
                    out = TempPath("refusal-out.wav");
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
        Refusal{"BlockTooLarge",
                {"--block-size", "4097", QXHostRun::Module("Gain.qxm"), "IN", "OUT"},
                2,
                "--block-size"},
        Refusal{"BlockOfNothing",
                {"--block-size", "0", QXHostRun::Module("Gain.qxm"), "IN", "OUT"},
                2,
                "--block-size"}),
    [](const ::testing::TestParamInfo<Refusal>& param) { return std::string(param.param.name); });

#else

TEST(QXHostProcess, SaysItIsNotBuiltIn) {
  QXHostRun run({"process", QXHostRun::Module("Gain.qxm"), TempPath("in.wav"), TempPath("out.wav")});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("qxhost process: not built in: this qxhost was built without libsndfile"),
            std::string::npos)
      << run.err;
}

#endif

}  // namespace
