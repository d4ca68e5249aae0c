// A Windows program that starts a copy of itself and ends at once, leaving the
// copy behind; the copy waits two seconds, then creates the file named on the
// command line. Started as a check's process is, it shows whether what a
// child starts outlives the child. Usage: leaves_descendant FILE
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--mark") {
    Sleep(2000);
    HANDLE file =
        CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(file);
    return 0;
  }
  if (argc != 2) return 2;
  char self[MAX_PATH];
  if (GetModuleFileNameA(nullptr, self, MAX_PATH) == 0) return 1;
  std::string command = std::string("\"") + self + "\" --mark \"" + argv[1] + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return 1;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}
