// Stands in for setup programs built with a C runtime: it lets msvcrt.dll and ucrtbase.dll each split
// its own command line, narrow and wide, exactly as their start-up code does for main and wmain,
// and says through its exit code which of the four splits yield an argument, after the program
// name, that the installer refuses to pass on.
//
// Exit code: bit 0 msvcrt narrow, bit 1 msvcrt wide, bit 2 ucrtbase narrow, bit 3 ucrtbase wide;
// 16 when a runtime could not be asked.
#include <windows.h>

namespace {

constexpr int kUnexpandedArguments = 1;  // the runtimes' own "no wildcard expansion" mode
constexpr int kNotAsked = 16;

struct StartupInfo {
  int new_mode;
};

template <typename Function>
Function Export(HMODULE runtime, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(runtime, name)));
}

bool IsRefused(const char* argument) {
  return lstrcmpiA(argument, "--cleanup") == 0 || lstrcmpiA(argument, "--drelix-frame") == 0;
}

bool IsRefused(const wchar_t* argument) {
  return lstrcmpiW(argument, L"--cleanup") == 0 || lstrcmpiW(argument, L"--drelix-frame") == 0;
}

// 1 when an argument after the program name is refused, 0 when none is, kNotAsked without a split.
template <typename Char>
int Verdict(int count, Char** arguments) {
  if (arguments == nullptr) return kNotAsked;
  for (int index = 1; index < count; ++index) {
    if (IsRefused(arguments[index])) return 1;
  }
  return 0;
}

// msvcrt.dll fills argc and argv through __getmainargs or __wgetmainargs.
template <typename Char>
int AskMsvcrt(HMODULE runtime, const char* export_name) {
  using GetMainArgs = int(__cdecl*)(int*, Char***, Char***, int, StartupInfo*);
  const auto get_main_args = Export<GetMainArgs>(runtime, export_name);
  if (get_main_args == nullptr) return kNotAsked;
  int count = 0;
  Char** arguments = nullptr;
  Char** environment = nullptr;
  StartupInfo startup_info = {0};
  if (get_main_args(&count, &arguments, &environment, 0, &startup_info) != 0) return kNotAsked;
  return Verdict(count, arguments);
}

// ucrtbase.dll splits through _configure_narrow_argv or _configure_wide_argv and hands the result out
// through __p___argc and __p___argv or __p___wargv.
template <typename Char>
int AskUcrt(HMODULE runtime, const char* configure_name, const char* arguments_name) {
  using Configure = int(__cdecl*)(int);
  using ArgumentCount = int*(__cdecl*)();
  using Arguments = Char***(__cdecl*)();
  const auto configure = Export<Configure>(runtime, configure_name);
  const auto argument_count = Export<ArgumentCount>(runtime, "__p___argc");
  const auto arguments = Export<Arguments>(runtime, arguments_name);
  if (configure == nullptr || argument_count == nullptr || arguments == nullptr) return kNotAsked;
  if (configure(kUnexpandedArguments) != 0) return kNotAsked;
  return Verdict(*argument_count(), *arguments());
}

}  // namespace

int wmain() {
  HMODULE msvcrt = LoadLibraryW(L"msvcrt.dll");
  HMODULE ucrt = LoadLibraryW(L"ucrtbase.dll");
  if (msvcrt == nullptr || ucrt == nullptr) return kNotAsked;
  const int verdicts[] = {AskMsvcrt<char>(msvcrt, "__getmainargs"), AskMsvcrt<wchar_t>(msvcrt, "__wgetmainargs"),
                          AskUcrt<char>(ucrt, "_configure_narrow_argv", "__p___argv"),
                          AskUcrt<wchar_t>(ucrt, "_configure_wide_argv", "__p___wargv")};
  int exit_code = 0;
  for (int index = 0; index < 4; ++index) {
    if (verdicts[index] == kNotAsked) return kNotAsked;
    exit_code |= verdicts[index] << index;
  }
  return exit_code;
}
