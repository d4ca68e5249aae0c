// qxhost: the reference host as a command-line tool.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "QXHostTool.h"

int main(int argc, char** argv) {
  QXHostTool tool(std::cout, std::cerr);
  const int code = tool.Run(std::vector<std::string>(argv + 1, argv + argc));
  if (tool.EndsAtOnce()) {
    // A check's own process: its result is out; what the module left behind
    // (destructors at exit, threads) must not change how the process ends.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(code);
  }
  return code;
}
