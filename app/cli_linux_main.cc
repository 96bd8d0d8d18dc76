// The console program's entry on Linux: hands the arguments to the console program.
#include <csignal>
#include <iostream>

#include "cli/console_program.h"
#include "engine/platform/interrupt_cleanup.h"
#include "frontend/run_words.h"

int main(int argc, char** argv) {
  // A file-size limit reached while writing is a write that fails, and a closed standard
  // output a failed write to report, not signals that end the program.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  ombrix::CleanUpOnInterrupt(ombrix::kInterruptedNotUndone);
  const std::vector<std::filesystem::path> arguments(argv + 1, argv + argc);
  return ombrix::RunConsoleProgram(arguments, std::cin, std::cout, std::cerr);
}
