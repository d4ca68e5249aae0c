#include "FuzzCommand.h"

FuzzCommand::FuzzCommand(CLI::App& tool)
    : ToolCommand(
          tool, "fuzz",
          "qxhost fuzz [--duration SECONDS] [--jobs N] [--seed N] [--steps N] [--timeout SECONDS]\n"
          "                   [--replay] MODULE",
          "Drives MODULE with random host behaviour that the format allows (instances made and closed,\n"
          "opened, sample rates, block sizes, processing with events, pin edits under every echo policy,\n"
          "unknown opcodes), in episodes of a few hundred steps, each in a process of its own, until the\n"
          "time is up. A crash, a hang or a broken rule is a finding: it is printed with the seed and the\n"
          "shortest replay, '--seed N --steps K --replay', which says each step as it takes it.\n"
          "Exit status: 0 no finding, 1 a finding, 2 bad usage or an unusable module.") {
  Option("--duration", &m_duration, "seconds of episodes (default 20)").TypeName("SECONDS");
  Option("--jobs", &m_jobs, "episodes side by side (default: one per processor)").TypeName("N");
  Option("--seed", &m_seed, "seed of the first episode (printed); the next ones count up").TypeName("N");
  Option("--steps", &m_steps, "steps in an episode (default 200)").TypeName("N");
  Option("--timeout", &m_timeout, "time limit of one episode (default 10)").TypeName("SECONDS");
  Flag("--replay", &m_replay, "run the one episode of --seed and --steps, saying each step");
  Flag("--run-episode", &m_run_episode).Hidden();
  Option("MODULE", &m_options.module, "the module file").Required();
}

int FuzzCommand::Run(std::ostream& out, std::ostream& err) {
  if (!m_duration.empty()) m_options.duration = Seconds("--duration", m_duration, 86400.0);
  if (!m_jobs.empty()) m_options.jobs = static_cast<int>(Whole("--jobs", m_jobs, 1, 64));
  if (!m_seed.empty()) {
    m_options.seed = Unsigned("--seed", m_seed);
    m_options.seed_given = true;
  }
  if (!m_steps.empty()) m_options.steps = static_cast<int>(Whole("--steps", m_steps, 1, 1000000));
  if (!m_timeout.empty()) m_options.timeout = Seconds("--timeout", m_timeout, 86400.0);
  if (m_run_episode) {
    if (!IsChildProcess()) throw UsageError("--run-episode is for the processes qxhost fuzz starts");
    return Fuzzer::RunEpisode(m_options.module, m_options.seed, m_options.steps, Request(), m_replay, out);
  }
  if (m_replay && !m_options.seed_given) throw UsageError("--replay needs the --seed of the episode");
  Fuzzer fuzzer(m_options, out, err);
  return m_replay ? fuzzer.Replay() : fuzzer.Run();
}
