// Runs the benchmark's plan under Wine: every case of the plan is a command line that is started,
// waited for and checked for its expected exit code. After a warm-up, the cases are timed in rounds
// that alternate them run by run (the order flips every round), so slow spells of a noisy machine
// fall on every contender alike; then each case runs a few more times with its memory watched, apart
// from the timed runs since the polling takes the core from the child.
//
//   bench_runner <plan> <warm-up runs> <rounds> <runs.csv> <summary.csv>
//
// A plan line is tab-separated: group, contender, size in bytes, expected exit code, a file to delete
// after each run ("-" for none), and the command line.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kMemoryRuns = 3;

struct BenchCase {
  std::string group;
  std::string contender;
  unsigned long long size = 0;
  DWORD expected_exit_code = 0;
  std::wstring remove_after;
  std::wstring command_line;
  std::vector<double> seconds;
  SIZE_T peak_private_bytes = 0;
  SIZE_T peak_working_set_bytes = 0;
};

struct RunResult {
  bool started = false;
  DWORD exit_code = 0;  // the start's Windows error when it did not start
  double seconds = 0;
};

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                         static_cast<int>(wide.size()));
  wide.resize(length);
  return wide;
}

std::vector<BenchCase> ReadPlan(const char* path) {
  std::vector<BenchCase> cases;
  std::ifstream plan(path);
  std::string line;
  while (std::getline(plan, line)) {
    if (line.empty()) continue;
    std::istringstream fields(line);
    BenchCase bench_case;
    std::string size, exit_code, remove_after, command_line;
    std::getline(fields, bench_case.group, '\t');
    std::getline(fields, bench_case.contender, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, exit_code, '\t');
    std::getline(fields, remove_after, '\t');
    std::getline(fields, command_line);
    bench_case.size = std::stoull(size);
    bench_case.expected_exit_code = static_cast<DWORD>(std::stoul(exit_code));
    if (remove_after != "-") bench_case.remove_after = Widen(remove_after);
    bench_case.command_line = Widen(command_line);
    cases.push_back(std::move(bench_case));
  }
  return cases;
}

// Reads the child's counters. Windows keeps a peak (PeakPagefileUsage, readable after the exit too);
// Wine reports only the present value of the live process (PrivateUsage 0, PagefileUsage and its
// "peak" alike) and zeros once it has exited, so the child is polled while it runs and the highest
// reading kept.
void SampleMemory(HANDLE process, BenchCase& bench_case) {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters))) return;
  bench_case.peak_private_bytes =
      std::max({bench_case.peak_private_bytes, counters.PrivateUsage, counters.PeakPagefileUsage});
  bench_case.peak_working_set_bytes = std::max(bench_case.peak_working_set_bytes, counters.PeakWorkingSetSize);
}

RunResult Run(BenchCase& bench_case, bool watch_memory) {
  std::wstring command_line = bench_case.command_line;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return {false, GetLastError(), 0};
  }
  if (watch_memory) {
    while (WaitForSingleObject(process.hProcess, 1) == WAIT_TIMEOUT) SampleMemory(process.hProcess, bench_case);
  } else {
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  QueryPerformanceCounter(&end);
  if (watch_memory) SampleMemory(process.hProcess, bench_case);
  RunResult result{true, 0, static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart};
  GetExitCodeProcess(process.hProcess, &result.exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (!bench_case.remove_after.empty()) DeleteFileW(bench_case.remove_after.c_str());
  return result;
}

bool Check(const BenchCase& bench_case, const RunResult& result) {
  if (result.started && result.exit_code == bench_case.expected_exit_code) return true;
  std::fprintf(stderr, "bench_runner: %s (%s, %llu bytes) %s %lu, expected %lu\n", bench_case.contender.c_str(),
               bench_case.group.c_str(), bench_case.size, result.started ? "exited with" : "did not start, error",
               result.exit_code, bench_case.expected_exit_code);
  return false;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The median of the floor of the same group and size, or 0 when the group has none.
double FloorMedian(const std::vector<BenchCase>& cases, const BenchCase& bench_case) {
  for (const BenchCase& other : cases) {
    if (other.contender == "floor" && other.group == bench_case.group && other.size == bench_case.size) {
      return Median(other.seconds);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: bench_runner <plan> <warm-up runs> <rounds> <runs.csv> <summary.csv>\n");
    return 2;
  }
  std::vector<BenchCase> cases = ReadPlan(argv[1]);
  const int warm_up_runs = std::atoi(argv[2]);
  const int rounds = std::atoi(argv[3]);
  if (cases.empty() || rounds < 1) {
    std::fprintf(stderr, "bench_runner: empty plan or no rounds\n");
    return 2;
  }

  bool all_passed = true;
  for (int run = 0; run < warm_up_runs; ++run) {
    for (BenchCase& bench_case : cases) all_passed = Check(bench_case, Run(bench_case, false)) && all_passed;
  }
  if (!all_passed) return 1;  // timing a contender that does not do its job would mean nothing

  std::ofstream runs(argv[4]);
  runs << "round,group,contender,size_bytes,seconds,exit_code\n";
  for (int round = 0; round < rounds; ++round) {
    for (size_t index = 0; index < cases.size(); ++index) {
      BenchCase& bench_case = cases[round % 2 == 0 ? index : cases.size() - 1 - index];
      const RunResult result = Run(bench_case, false);
      all_passed = Check(bench_case, result) && all_passed;
      bench_case.seconds.push_back(result.seconds);
      runs << round + 1 << ',' << bench_case.group << ',' << bench_case.contender << ',' << bench_case.size << ','
           << result.seconds << ',' << result.exit_code << '\n';
    }
  }
  for (int run = 0; run < kMemoryRuns; ++run) {
    for (BenchCase& bench_case : cases) all_passed = Check(bench_case, Run(bench_case, true)) && all_passed;
  }

  std::ofstream summary(argv[5]);
  summary << "group,contender,size_bytes,median_seconds,min_seconds,max_seconds,rounds,ratio_to_floor,"
             "peak_private_bytes,peak_working_set_bytes\n";
  for (const BenchCase& bench_case : cases) {
    const double median = Median(bench_case.seconds);
    const double floor_median = FloorMedian(cases, bench_case);
    summary << bench_case.group << ',' << bench_case.contender << ',' << bench_case.size << ',' << median << ','
            << *std::min_element(bench_case.seconds.begin(), bench_case.seconds.end()) << ','
            << *std::max_element(bench_case.seconds.begin(), bench_case.seconds.end()) << ','
            << bench_case.seconds.size() << ',';
    if (floor_median > 0) summary << median / floor_median;
    summary << ',' << bench_case.peak_private_bytes << ',' << bench_case.peak_working_set_bytes << '\n';
  }
  return all_passed ? 0 : 1;
}
