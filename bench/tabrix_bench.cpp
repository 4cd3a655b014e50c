// Benchmarks of the spreadsheet engine against the floor (inflate + bare expat parse).
//
//   W1  200 small workbooks (100 rows x 10 columns): one worker, and two threads each
//       converting half of the files.
//   W2  one workbook of 300,000 rows x 12 columns, and the same at half size. Each
//       W2 run happens in a child process of its own (fork + exec) so that the peak
//       memory reported (the child's VmHWM) belongs to that run alone.
//
// The workloads are generated once into a work folder (default: the system temp
// folder, "tabrix-bench-v2"; --workdir DIR or TABRIX_BENCH_DIR to choose) and reused.
// Own options: --workdir DIR, --w2-rows N (default 300000). Every other option goes
// to Google Benchmark (--benchmark_filter=W1 and so on).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "floor.h"
#include "workload.h"

#if defined(TABRIX_BENCH_ENGINE) && __has_include("sheets/engine.h")
#include "sheets/engine.h"
#define TABRIX_HAVE_ENGINE 1
#else
#define TABRIX_HAVE_ENGINE 0
#endif

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kW1Files = 200;
constexpr uint32_t kW1Rows = 100;
constexpr uint32_t kW1Cols = 10;
constexpr uint32_t kW2Cols = 12;
constexpr const char* kWorkFolder = "tabrix-bench-v2";

struct Config {
  std::string workdir;
  uint32_t w2_rows = 300000;
} g_config;

struct Workloads {
  std::vector<std::string> w1;
  uint64_t w1_xml_bytes = 0;
  std::string w2;
  std::string w2_half;
} g_work;

// What the summary table shows: the fastest iteration of every benchmark.
struct Figure {
  double seconds = 0;
  long peak_kb = 0;
  bool ok = false;
};
std::map<std::string, Figure> g_figures;

void record(const std::string& name, double seconds, long peak_kb = 0) {
  Figure& f = g_figures[name];
  if (!f.ok || seconds < f.seconds) {
    f.seconds = seconds;
    f.peak_kb = peak_kb;
  }
  f.ok = true;
}

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string out_folder(const std::string& name) {
  fs::path p = fs::path(g_config.workdir) / "out" / name;
  fs::create_directories(p);
  return p.string();
}

// ---------------------------------------------------------------------------
// Work done on the files (in this process or in a child)

bool floor_files(const std::vector<std::string>& files, size_t from, size_t to, std::string& error) {
  for (size_t i = from; i < to; ++i) {
    bench::FloorResult r = bench::inflate_and_count(files[i]);
    if (!r.ok) {
      error = files[i] + ": " + r.error;
      return false;
    }
    benchmark::DoNotOptimize(r.elements);
  }
  return true;
}

bool convert_files(const std::vector<std::string>& files, size_t from, size_t to,
                   const std::string& out, std::string& error) {
#if TABRIX_HAVE_ENGINE
  try {
    for (size_t i = from; i < to; ++i) {
      auto wb = sheets::Workbook::open(files[i]);
      wb->save_csv(0, (fs::path(out) / fs::path(files[i]).filename().replace_extension(".csv")).string());
    }
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
#else
  (void)files, (void)from, (void)to, (void)out;
  error = "built without the engine";
  return false;
#endif
}

// Peak resident memory of this process image in kB. ru_maxrss will not do here: the
// kernel carries the peak of the image that called exec (the forked copy of the
// benchmark, workloads and all) into the new one, while VmHWM belongs to the
// address space of the running program alone.
long own_peak_kb() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  long kb = 0;
  if (f) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      if (std::strncmp(line, "VmHWM:", 6) == 0) {
        kb = std::strtol(line + 6, nullptr, 10);
        break;
      }
    }
    std::fclose(f);
  }
  if (kb == 0) {
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    kb = ru.ru_maxrss;
  }
  return kb;
}

// Child mode: "--child floor|convert WORKBOOK OUTFOLDER"; prints "ok SECONDS PEAK_KB"
// or "error TEXT" on stdout.
int child_main(const std::string& mode, const std::string& path, const std::string& out) {
  std::vector<std::string> files{path};
  std::string error;
  const double t0 = now();
  const bool ok = mode == "floor" ? floor_files(files, 0, 1, error)
                                  : convert_files(files, 0, 1, out, error);
  const double t1 = now();
  if (ok) {
    std::printf("ok %.6f %ld\n", t1 - t0, own_peak_kb());
  } else {
    std::replace(error.begin(), error.end(), '\n', ' ');
    std::printf("error %s\n", error.c_str());
  }
  return ok ? 0 : 1;
}

struct ChildResult {
  bool ok = false;
  double seconds = 0;
  long peak_kb = 0;
  std::string error;
};

ChildResult run_child(const std::string& mode, const std::string& path, const std::string& out) {
  ChildResult r;
  int fds[2];
  if (pipe(fds) != 0) return r.error = "pipe failed", r;
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return r.error = "fork failed", r;
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    const char* argv[] = {"tabrix_bench", "--child", mode.c_str(), path.c_str(), out.c_str(), nullptr};
    execv("/proc/self/exe", const_cast<char* const*>(argv));
    _exit(127);
  }
  close(fds[1]);
  std::string text;
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  struct rusage ru {};
  if (wait4(pid, &status, 0, &ru) < 0) return r.error = "wait failed", r;
  if (text.rfind("ok ", 0) == 0) {
    r.ok = true;
    char* end = nullptr;
    r.seconds = std::strtod(text.c_str() + 3, &end);
    r.peak_kb = std::strtol(end, nullptr, 10);
  } else {
    r.error = text.rfind("error ", 0) == 0 ? text.substr(6) : "child failed (status " + std::to_string(status) + ")";
    while (!r.error.empty() && r.error.back() == '\n') r.error.pop_back();
  }
  return r;
}

// ---------------------------------------------------------------------------
// Benchmarks

void set_counters(benchmark::State& state, double rows, double xml_bytes) {
  state.counters["rows/s"] = benchmark::Counter(rows, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["XML_MB/s"] = benchmark::Counter(
      xml_bytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_W1(benchmark::State& state, bool floor, int threads) {
  const auto& files = g_work.w1;
  const std::string out = out_folder(floor ? "w1-floor" : "w1");
  for (auto _ : state) {
    const double t0 = now();
    std::vector<std::string> errors(threads);
    std::vector<char> ok(threads, 0);
    auto work = [&](int t) {
      const size_t from = files.size() * t / threads, to = files.size() * (t + 1) / threads;
      ok[t] = floor ? floor_files(files, from, to, errors[t])
                    : convert_files(files, from, to, out, errors[t]);
    };
    if (threads == 1) {
      work(0);
    } else {
      std::vector<std::thread> pool;
      for (int t = 0; t < threads; ++t) pool.emplace_back(work, t);
      for (auto& th : pool) th.join();
    }
    const double seconds = now() - t0;
    state.SetIterationTime(seconds);
    for (int t = 0; t < threads; ++t) {
      if (!ok[t]) {
        state.SkipWithError(errors[t].c_str());
        return;
      }
    }
    record(std::string("W1/") + (floor ? "floor/" : "convert/") + std::to_string(threads), seconds);
  }
  set_counters(state, double(files.size()) * (kW1Rows + 1), double(g_work.w1_xml_bytes));
}

void BM_W2(benchmark::State& state, bool floor, bool half) {
  const std::string& path = half ? g_work.w2_half : g_work.w2;
  const uint32_t rows = half ? g_config.w2_rows / 2 : g_config.w2_rows;
  const std::string out = out_folder(half ? "w2-half" : "w2");
  for (auto _ : state) {
    ChildResult r = run_child(floor ? "floor" : "convert", path, out);
    if (!r.ok) {
      state.SkipWithError(r.error.c_str());
      return;
    }
    state.SetIterationTime(r.seconds);
    state.counters["peak_MB"] = double(r.peak_kb) / 1024.0;
    record(std::string("W2/") + (floor ? "floor/" : "convert/") + (half ? "half" : "full"), r.seconds,
           r.peak_kb);
  }
  fs::remove_all(out);
  set_counters(state, rows + 1.0, double(bench::entry_size(path)));
}

// ---------------------------------------------------------------------------
// Workloads

bool prepare() {
  fs::create_directories(g_config.workdir);
  const fs::path w1 = fs::path(g_config.workdir) / "w1";
  fs::create_directories(w1);
  for (uint32_t i = 0; i < kW1Files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "book%03u.xlsx", i);
    const fs::path p = w1 / name;
    if (!fs::exists(p) && !bench::write_workload(p.string(), {kW1Rows, kW1Cols, 1000u + i}))
      return false;
    g_work.w1.push_back(p.string());
    g_work.w1_xml_bytes += bench::entry_size(p.string());
  }
  auto big = [&](uint32_t rows, std::string& path) {
    path = (fs::path(g_config.workdir) / ("w2-" + std::to_string(rows) + ".xlsx")).string();
    if (fs::exists(path)) return true;
    std::fprintf(stderr, "generating %s ...\n", path.c_str());
    const std::string tmp = path + ".part";
    if (!bench::write_workload(tmp, {rows, kW2Cols, 2})) return false;
    fs::rename(tmp, path);
    return true;
  };
  if (!big(g_config.w2_rows, g_work.w2) || !big(g_config.w2_rows / 2, g_work.w2_half)) return false;
  std::fprintf(stderr, "W2: %s, %.1f MB zipped, %.1f MB of sheet XML, %.1f MB of shared strings\n",
               g_work.w2.c_str(), double(fs::file_size(g_work.w2)) / 1e6,
               double(bench::entry_size(g_work.w2)) / 1e6,
               double(bench::entry_size(g_work.w2, "xl/sharedStrings.xml")) / 1e6);
  return true;
}

void print_summary() {
  struct Line {
    const char* label;
    const char* run;
    const char* floor;
    const std::string* book;
  };
  const Line lines[] = {
      {"W1 (200 files), 1 worker", "W1/convert/1", "W1/floor/1", nullptr},
      {"W1 (200 files), 2 threads", "W1/convert/2", "W1/floor/2", nullptr},
      {"W2 (full)", "W2/convert/full", "W2/floor/full", &g_work.w2},
      {"W2 (half)", "W2/convert/half", "W2/floor/half", &g_work.w2_half},
  };
  auto find = [](const char* name) -> const Figure* {
    auto it = g_figures.find(name);
    return it == g_figures.end() ? nullptr : &it->second;
  };
  // The shared strings are held in memory by design; the peak beyond them is what
  // must stay flat when the row count doubles.
  std::printf("\n%-28s %10s %10s %7s %10s %10s %10s\n", "workload", "time", "floor", "ratio", "peak",
              "floor peak", "strings");
  for (const Line& l : lines) {
    const Figure* run = find(l.run);
    const Figure* floor = find(l.floor);
    if (!run && !floor) continue;
    char t[32] = "-", fl[32] = "-", ratio[32] = "-", peak[32] = "-", fpeak[32] = "-", sst[32] = "-";
    if (l.book) {
      std::snprintf(sst, sizeof sst, "%.1f MB",
                    double(bench::entry_size(*l.book, "xl/sharedStrings.xml")) / (1024.0 * 1024.0));
    }
    if (run) std::snprintf(t, sizeof t, "%.3f s", run->seconds);
    if (floor) std::snprintf(fl, sizeof fl, "%.3f s", floor->seconds);
    if (run && floor && floor->seconds > 0) std::snprintf(ratio, sizeof ratio, "%.2f", run->seconds / floor->seconds);
    if (run && run->peak_kb) std::snprintf(peak, sizeof peak, "%.1f MB", run->peak_kb / 1024.0);
    if (floor && floor->peak_kb) std::snprintf(fpeak, sizeof fpeak, "%.1f MB", floor->peak_kb / 1024.0);
    std::printf("%-28s %10s %10s %7s %10s %10s %10s\n", l.label, t, fl, ratio, peak, fpeak, sst);
  }
  std::printf("time: the best of the iterations (W1: 5, W2: 1); peak: the child's own peak RSS;\n"
              "strings: the shared-strings part, which the engine holds by design\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::strcmp(argv[1], "--child") == 0) return child_main(argv[2], argv[3], argv[4]);

  const char* env = std::getenv("TABRIX_BENCH_DIR");
  g_config.workdir = env && *env ? env : (fs::temp_directory_path() / kWorkFolder).string();
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--workdir") == 0 && i + 1 < argc) {
      g_config.workdir = argv[++i];
    } else if (std::strcmp(argv[i], "--w2-rows") == 0 && i + 1 < argc) {
      g_config.w2_rows = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
      if (g_config.w2_rows < 2) g_config.w2_rows = 2;
    } else {
      rest.push_back(argv[i]);
    }
  }
  int rest_argc = static_cast<int>(rest.size());
  benchmark::Initialize(&rest_argc, rest.data());
  if (benchmark::ReportUnrecognizedArguments(rest_argc, rest.data())) return 2;
  if (!prepare()) return 1;
  if (!TABRIX_HAVE_ENGINE) std::fprintf(stderr, "built without the engine: measuring the floor only\n");

  for (int threads : {1, 2}) {
    benchmark::RegisterBenchmark(("W1/floor/" + std::to_string(threads)).c_str(), BM_W1, true, threads)
        ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
    if (TABRIX_HAVE_ENGINE)
      benchmark::RegisterBenchmark(("W1/convert/" + std::to_string(threads)).c_str(), BM_W1, false, threads)
          ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
  }
  for (bool half : {false, true}) {
    const std::string size = half ? "half" : "full";
    benchmark::RegisterBenchmark(("W2/floor/" + size).c_str(), BM_W2, true, half)
        ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
    if (TABRIX_HAVE_ENGINE)
      benchmark::RegisterBenchmark(("W2/convert/" + size).c_str(), BM_W2, false, half)
          ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  print_summary();
  return 0;
}
