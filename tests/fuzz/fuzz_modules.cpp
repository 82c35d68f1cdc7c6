// Coverage-guided fuzz target of the module importers (clang's libFuzzer). Every input is
// written to a scratch file and handed to the detection series, the probe and the load through
// modcheck::check_file; what loads is played tick by tick. A disagreement aborts like a crash.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "module_check.h"

namespace {

std::string scratch;

void remove_scratch() { remove(scratch.c_str()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const char *dir = getenv("TMPDIR");
  scratch = std::string(dir ? dir : "/tmp") + "/fuzz_modules." + std::to_string(getpid());
  modcheck::install_engine();
  atexit(remove_scratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *f = fopen(scratch.c_str(), "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  const std::string fault = modcheck::check_file_both_ways(scratch.c_str(), 300);
  if (!fault.empty()) {
    fprintf(stderr, "fuzz_modules: %s\n", fault.c_str());
    abort();
  }
  return 0;
}
