#include <windows.h>

#include <algorithm>
#include <string>

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

// Moves what `pipe` holds now into `text`, without waiting for more: a process that the program
// started and that outlives it may hold the pipe open for ever.
void Drain(HANDLE pipe, std::string& text) {
  DWORD available = 0;
  while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    char chunk[4096];
    DWORD count = 0;
    if (!::ReadFile(pipe, chunk, std::min<DWORD>(available, sizeof(chunk)), &count, nullptr) ||
        count == 0) {
      return;
    }
    text.append(chunk, count);
  }
}

// A job whose processes all end when its handle is closed; none where the system has no jobs.
HANDLE EndingJob() {
  const HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job != nullptr &&
      !::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
    ::CloseHandle(job);
    return nullptr;
  }
  return job;
}

// Far longer than any run of the project's programs takes, even under Wine on a busy machine:
// only a program that hangs meets it.
constexpr ULONGLONG kHangsAfterMs = 120000;

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
  // An empty standard input: a program that reads it ends instead of waiting on the test's.
  const HANDLE in = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION process{};
  // In a job of its own, so that should it hang it ends together with whatever it started.
  const HANDLE job = EndingJob();
  const BOOL started =
      ::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                       CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup, &process);
  ::CloseHandle(in);
  ::CloseHandle(out_write);
  ::CloseHandle(err_write);

  ProgramResult result;
  if (started) {
    if (job != nullptr) ::AssignProcessToJobObject(job, process.hProcess);
    ::ResumeThread(process.hThread);
    // Read as it comes, never waiting on the pipes themselves: they end only when every process
    // that holds them does.
    const ULONGLONG deadline = ::GetTickCount64() + kHangsAfterMs;
    bool hung = false;
    for (DWORD waited = WAIT_TIMEOUT; waited == WAIT_TIMEOUT && !hung;) {
      waited = ::WaitForSingleObject(process.hProcess, 10);
      Drain(out_read, result.out);
      Drain(err_read, result.err);
      hung = waited == WAIT_TIMEOUT && ::GetTickCount64() > deadline;
    }
    DWORD code = 0;
    if (hung) {
      result.err += "[the program did not end; it was ended with whatever it started]";
      if (job == nullptr || !::TerminateJobObject(job, 1)) ::TerminateProcess(process.hProcess, 1);
      ::WaitForSingleObject(process.hProcess, 10000);
    } else if (::GetExitCodeProcess(process.hProcess, &code)) {
      result.exit_code = static_cast<int>(code);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  if (job != nullptr) ::CloseHandle(job);  // ends what the program left running
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
