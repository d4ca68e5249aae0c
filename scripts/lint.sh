#!/usr/bin/env bash
# The project's declared style, enforced: clang-format over every C and C++
# source of the project, and clang-tidy, with warnings as errors, over the
# code that ships or runs modules (framework, module, tools, validator, hosts,
# the test modules and the example). The test suites are formatted but not
# tidied: the analyzer reads the self-deleting instances they drive as leaks,
# and the stage's time goes where faults would matter. Third-party headers
# are left alone. Usage: scripts/lint.sh
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h')
echo "clang-format: ${#sources[@]} files"
clang-format --dry-run -Werror "${sources[@]}"

# The debug preset's compile commands, one per source file (the lint preset):
# configuring is enough.
cmake --preset lint >/dev/null
tidied="$(pwd)/(qx_sdk2|level_converter|common|host|validate|tools|tests/modules|examples)/"
echo "clang-tidy: the files under $tidied"
# A file found clean is not analysed again until it or anything it includes,
# its compile command or the configuration changes (scripts/clang-tidy-cached.py).
run-clang-tidy -clang-tidy-binary "$(pwd)/scripts/clang-tidy-cached.py" -p build/lint -j "$(nproc)" -quiet \
  "$tidied" >build/lint/clang-tidy.log 2>&1 || {
  grep -E "(error|warning):" build/lint/clang-tidy.log | sort -u
  echo "clang-tidy found the above (whole log: build/lint/clang-tidy.log)"
  exit 1
}
