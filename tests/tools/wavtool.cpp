// Test signals and their measurement, apart from the code under test:
//   wavtool sine FILE RATE HZ DBFS SECONDS   writes a sine, one channel of 32-bit floats
//   wavtool gain IN OUT [FROM TO]            prints OUT's level against IN's, in dB (RMS
//                                            of each file's first channel, in double),
//                                            over the whole files or from FROM to TO seconds
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int Usage() {
  std::fprintf(stderr, "usage: wavtool sine FILE RATE HZ DBFS SECONDS | wavtool gain IN OUT [FROM TO]\n");
  return 2;
}

int Sine(const char* path, int rate, double hz, double dbfs, double seconds) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path, SFM_WRITE, &info);
  if (file == nullptr) {
    std::fprintf(stderr, "wavtool: %s: %s\n", path, sf_strerror(nullptr));
    return 1;
  }
  const double amplitude = std::pow(10.0, dbfs / 20.0);
  std::vector<float> samples(static_cast<size_t>(std::lround(seconds * rate)));
  for (size_t n = 0; n < samples.size(); ++n)
    samples[n] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(n) / rate));
  const auto count = static_cast<sf_count_t>(samples.size());
  const bool written = sf_writef_float(file, samples.data(), count) == count;
  sf_close(file);
  return written ? 0 : 1;
}

// Root mean square of the first channel from `from` to `to` seconds (to < 0:
// the end); -1 if the file cannot be read or the stretch holds no sample.
double Rms(const char* path, double from, double to) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  if (file == nullptr) {
    std::fprintf(stderr, "wavtool: %s: %s\n", path, sf_strerror(nullptr));
    return -1.0;
  }
  std::vector<float> frame(static_cast<size_t>(info.channels));
  double sum = 0.0;
  sf_count_t frames = 0;
  const auto first = static_cast<sf_count_t>(std::llround(from * info.samplerate));
  const auto end = to < 0 ? info.frames : static_cast<sf_count_t>(std::llround(to * info.samplerate));
  for (sf_count_t n = 0; n < end && sf_readf_float(file, frame.data(), 1) == 1; ++n) {
    if (n < first) continue;
    sum += static_cast<double>(frame[0]) * frame[0];
    ++frames;
  }
  sf_close(file);
  if (frames == 0 && to >= 0) return -1.0;
  return frames > 0 ? std::sqrt(sum / static_cast<double>(frames)) : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "sine" && argc == 7)
    return Sine(argv[2], std::atoi(argv[3]), std::atof(argv[4]), std::atof(argv[5]), std::atof(argv[6]));
  if (command == "gain" && (argc == 4 || argc == 6)) {
    const double from = argc == 6 ? std::atof(argv[4]) : 0.0, to = argc == 6 ? std::atof(argv[5]) : -1.0;
    const double in = Rms(argv[2], from, to), out = Rms(argv[3], from, to);
    if (in <= 0.0 || out < 0.0) return 1;
    std::printf("gain: %.4f dB\n", 20.0 * std::log10(out / in));
    return 0;
  }
  return Usage();
}
