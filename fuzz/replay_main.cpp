// Replays saved fuzz inputs through a harness without libFuzzer: every file named on
// the command line, and every file under every folder named there (in sorted order,
// so that a run is repeatable), is passed once to LLVMFuzzerTestOneInput.
//
// A crash, a sanitizer report or an exception escaping the harness fails the run;
// a missing argument path fails it too, so that a wrong corpus folder is noticed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool read_file(const fs::path& p, std::vector<uint8_t>& out) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
    return 2;
  }
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      std::vector<fs::path> found;
      for (fs::recursive_directory_iterator it(arg, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec)) found.push_back(it->path());
      }
      if (ec) {
        std::fprintf(stderr, "cannot list %s: %s\n", argv[i], ec.message().c_str());
        return 2;
      }
      std::sort(found.begin(), found.end());
      inputs.insert(inputs.end(), found.begin(), found.end());
    } else if (fs::is_regular_file(arg, ec)) {
      inputs.push_back(arg);
    } else {
      std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
      return 2;
    }
  }
  std::vector<uint8_t> data;
  for (const fs::path& p : inputs) {
    if (!read_file(p, data)) {
      std::fprintf(stderr, "cannot read %s\n", p.c_str());
      return 2;
    }
    std::fprintf(stderr, "replay %s (%zu bytes)\n", p.c_str(), data.size());
    // An empty vector has no data(); give the harness a valid pointer all the same.
    static const uint8_t kNothing = 0;
    LLVMFuzzerTestOneInput(data.empty() ? &kNothing : data.data(), data.size());
  }
  std::fprintf(stderr, "replayed %zu input(s)\n", inputs.size());
  return 0;
}
