// Coverage-guided fuzz target of the module importers (clang's libFuzzer). Every input is handed
// as memory to the probe and to the load through modcheck::check_bytes_both_ways; what loads is
// played tick by tick. A disagreement aborts like a crash.
#include <cstdint>
#include <cstdlib>

#include "module_check.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  modcheck::install_engine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string fault = modcheck::check_bytes_both_ways(data, size, 300);
  if (!fault.empty()) {
    fprintf(stderr, "fuzz_modules: %s\n", fault.c_str());
    abort();
  }
  return 0;
}
