// The console program's entry on Windows: the arguments arrive as wide characters, so paths
// with any letters reach the engine unchanged; the reports are written as UTF-8, and a list of
// paths on standard input is read as UTF-8.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <iostream>

#include "cli/console_program.h"
#include "engine/platform/interrupt_cleanup.h"

int wmain(int argc, wchar_t** argv) {
  ::SetConsoleOutputCP(CP_UTF8);
  // A list of paths on standard input is read as the bytes it is, zero bytes and all.
  ::_setmode(::_fileno(stdin), _O_BINARY);
  ombrix::CleanUpOnInterrupt();
  const std::vector<std::filesystem::path> arguments(argv + 1, argv + argc);
  return ombrix::RunConsoleProgram(arguments, std::cin, std::cout, std::cerr);
}
