// The console program's entry on Windows: the arguments arrive as wide characters, so paths
// with any letters reach the engine unchanged; the reports are written as UTF-8.
#include <windows.h>

#include <iostream>

#include "cli/console_program.h"
#include "engine/interrupt_cleanup.h"

int wmain(int argc, wchar_t** argv) {
  ::SetConsoleOutputCP(CP_UTF8);
  ombrix::CleanUpOnInterrupt();
  const std::vector<std::filesystem::path> arguments(argv + 1, argv + argc);
  return ombrix::RunConsoleProgram(arguments, std::cout, std::cerr);
}
