#include <windows.h>

#include <thread>

#include "engine/testing/run_program.h"

namespace ombrix::test {
namespace {

// Quotes an argument so that the program's start-up code splits it back out unchanged.
std::wstring Quoted(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

std::string ReadAll(HANDLE pipe) {
  std::string text;
  char chunk[4096];
  DWORD count = 0;
  while (::ReadFile(pipe, chunk, sizeof(chunk), &count, nullptr) && count > 0) {
    text.append(chunk, count);
  }
  return text;
}

}  // namespace

ProgramResult RunProgram(const std::filesystem::path& program,
                         const std::vector<std::filesystem::path>& arguments) {
  std::wstring command_line = Quoted(program.wstring());
  for (const auto& argument : arguments) command_line += L" " + Quoted(argument.wstring());

  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  if (!::CreatePipe(&out_read, &out_write, &inherit, 0) ||
      !::CreatePipe(&err_read, &err_write, &inherit, 0)) {
    return {};
  }
  ::SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION process{};
  const BOOL started =
      ::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                       CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  ::CloseHandle(out_write);
  ::CloseHandle(err_write);

  ProgramResult result;
  if (started) {
    std::thread err_reader([&] { result.err = ReadAll(err_read); });
    result.out = ReadAll(out_read);
    err_reader.join();
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (::GetExitCodeProcess(process.hProcess, &code)) result.exit_code = static_cast<int>(code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  ::CloseHandle(out_read);
  ::CloseHandle(err_read);
  return result;
}

std::filesystem::path ProgramBesideTest(const std::string& name) {
  wchar_t self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return std::filesystem::path(std::wstring(self, length)).parent_path() / (name + ".exe");
}

}  // namespace ombrix::test
