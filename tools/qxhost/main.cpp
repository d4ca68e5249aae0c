// qxhost: the reference host as a command-line tool.
#include <iostream>
#include <string>
#include <vector>

#include "QXHostTool.h"

int main(int argc, char** argv) {
  QXHostTool tool(std::cout, std::cerr);
  return tool.Run(std::vector<std::string>(argv + 1, argv + argc));
}
