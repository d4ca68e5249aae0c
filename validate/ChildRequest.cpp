#include "ChildRequest.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#endif

namespace {

// The first word of every request: a file that is not one is refused.
const char MAGIC[] = "qxrequest1";

}  // namespace

std::string ChildRequest::Encode() const {
  // Words end with a NUL, which no command-line word holds.
  std::string text = std::string(MAGIC) + '\0';
  for (const std::string* word : {&token, &results, &calls}) text += *word + '\0';
  for (const std::string& arg : args) text += arg + '\0';
  return text;
}

bool ChildRequest::Decode(const std::string& text) {
  std::vector<std::string> words;
  size_t from = 0;
  for (size_t end; (end = text.find('\0', from)) != std::string::npos; from = end + 1)
    words.push_back(text.substr(from, end - from));
  if (from != text.size() || words.size() < 4 || words[0] != MAGIC) return false;
  token = words[1];
  results = words[2];
  calls = words[3];
  args.assign(words.begin() + 4, words.end());
  return !token.empty();
}

bool ChildRequest::Take(const std::string& number, ChildRequest* request) {
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long long value = std::strtoull(number.c_str(), nullptr, 10);
  std::string text;
  char buffer[4096];
#ifdef _WIN32
  const HANDLE file = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
#else
  const int fd = static_cast<int>(value);
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
#endif
  return request->Decode(text);
}
