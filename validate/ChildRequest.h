// What a qxhost process hands a child process it starts, apart from the
// child's command line: the words of the command to run, the run's token and
// the numbers of the channels the child reports on. It travels in a file of
// its own that the child reads and closes before it loads a module, so the
// token is on no command line and in no environment a module can read, and
// the user's words reach the child as they were given, never mixed with the
// words qxhost adds nor rewritten.
#ifndef VALIDATE_CHILDREQUEST_H
#define VALIDATE_CHILDREQUEST_H

#include <string>
#include <vector>

class ChildRequest {
 public:
  // The option a child's command line holds, followed by the number of its
  // request (a file descriptor; a handle's value on Windows).
  static constexpr const char* OPTION = "--qxhost-child";

  std::string token;
  // The channel for the child's results (a pipe it can only write) and the
  // one for its calls in flight (a file that survives a crash).
  std::string results;
  std::string calls;
  std::vector<std::string> args;

  // The request as one text, and its reading (false if it is not one).
  std::string Encode() const;
  bool Decode(const std::string& text);
  // Reads the request from channel `number` and closes the channel; false if
  // there is none to read.
  static bool Take(const std::string& number, ChildRequest* request);
};

#endif  // VALIDATE_CHILDREQUEST_H
