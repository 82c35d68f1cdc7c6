// modux load_it: recognition of IT modules, as files and inside UMX packages.
// The engine does not play IT: the loader reads the song name and refuses the module with a
// fixed message, so that a caller learns what the file is.
#include "load_image.h"

using namespace modux_import;

namespace {

const char SIGNATURE[4] = {'I', 'M', 'P', 'M'};
const int NAME_AT = 4;
const int NAME_BYTES = 26;

}  // namespace

int detect_it(const char *filename) {
  char sig[4];
  const long got = read_head(filename, 0, sig, 4);
  if (got < 0) return 0;
  return got == 4 && memcmp(sig, SIGNATURE, 4) == 0 ? 1 : -1;
}

int detect_unreal_it(const char *filename) { return umx_search(filename, SIGNATURE, 4, 0); }

MODUX *load_it(const char *filename, int offset) {
  char name[NAME_BYTES];
  if (read_head(filename, static_cast<long>(offset) + NAME_AT, name, NAME_BYTES) < 0) {
    set_error("Unable to open %s", filename);
    return nullptr;
  }
  set_error("IT support is not completed yet. Wait a few more versions");
  return nullptr;
}

int get_it_info(const char *filename, int offset, MODFILE_INFO *info) {
  return head_info(filename, static_cast<long>(offset) + NAME_AT, NAME_BYTES, offset == 0 ? 5 : 9,
                   offset == 0 ? "IT" : "Unreal IT (UMX)", info);
}
