// Coverage-guided fuzz target of the module importers (clang's libFuzzer). Every input is
// written to a scratch file and handed to the detection series, the probe and the load through
// modcheck::check_file; what loads is played tick by tick. A disagreement aborts like a crash.
// At exit it prints the largest single allocation the importers made and the file size that
// caused it, for the native format and the foreign ones alike.
#include <sanitizer/allocator_interface.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "module_check.h"

namespace {

std::string scratch;
std::atomic<size_t> largest{0}, largest_file{0}, input_size{0};
std::atomic<double> largest_ratio{0};
std::atomic<size_t> ratio_alloc{0}, ratio_file{0};

void on_malloc(const volatile void *, size_t size) {
  if (input_size == 0) return;  // set-up, or libFuzzer's own work between inputs
  if (size > largest) {
    largest = size;
    largest_file = input_size.load();
  }
  const size_t file = input_size.load();
  // The file is read in 64 KB blocks at least: below that size the ratio says nothing.
  const double ratio = static_cast<double>(size) / static_cast<double>(file < 65536 ? 65536 : file);
  if (ratio > largest_ratio) {
    largest_ratio = ratio;
    ratio_alloc = size;
    ratio_file = file;
  }
}
void on_free(const volatile void *) {}

void report() {
  remove(scratch.c_str());
  fprintf(stderr, "fuzz_modules: largest allocation %zu bytes (for a %zu-byte file); "
                  "largest per file size %.1f x (%zu bytes for a %zu-byte file, files under 64 KB counted as 64 KB)\n",
          largest.load(), largest_file.load(), largest_ratio.load(), ratio_alloc.load(), ratio_file.load());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const char *dir = getenv("TMPDIR");
  scratch = std::string(dir ? dir : "/tmp") + "/fuzz_modules." + std::to_string(getpid());
  modcheck::install_engine();
  __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
  atexit(report);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *f = fopen(scratch.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  // Allocations are watched only while an input is checked.
  input_size = size;
  const std::string fault = modcheck::check_file_both_ways(scratch.c_str(), 300);
  input_size = 0;
  if (!fault.empty()) {
    fprintf(stderr, "fuzz_modules: %s\n", fault.c_str());
    abort();
  }
  return 0;
}
