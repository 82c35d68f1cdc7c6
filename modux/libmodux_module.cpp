// modux libmodux_module: the C interface's module calls (libmodux.h): loading from a file or from
// memory with a status per call, freeing, and what a loaded module is. Loading goes through the
// importers' kit and touches no global state, so threads may load at once.
#include <cstdio>
#include <cstring>

#include "import.h"
#include "libmodux.h"

extern "C" {

modux_module *modux_module_load_file(const char *path, modux_status *status) {
  return modux_import::load_path(path, 0, status);
}

modux_module *modux_module_load_file_flags(const char *path, int flags, modux_status *status) {
  return modux_import::load_path(path, flags, status);
}

modux_module *modux_module_load_memory(const void *data, size_t size, modux_status *status) {
  return modux_module_load_memory_flags(data, size, 0, status);
}

modux_module *modux_module_load_memory_flags(const void *data, size_t size, int flags,
                                             modux_status *status) {
  // Beyond any module the engine reads: refused without a look at the bytes.
  const long long held = size > static_cast<size_t>(modux_import::MAX_MODULE_BYTES)
                             ? modux_import::MAX_MODULE_BYTES + 1
                             : static_cast<long long>(size);
  return modux_import::load_memory({static_cast<const unsigned char *>(data), held}, flags, status);
}

void modux_module_destroy(modux_module *module) { destroy_mod(module); }

int modux_module_get_info(const modux_module *module, modux_module_info *info) {
  if (!module || !info) return MODUX_ERROR_ARGUMENT;
  memset(info, 0, sizeof *info);
  info->format = module->format;
  snprintf(info->format_name, sizeof info->format_name, "%s",
           modux_import::family_name(module->format));
  snprintf(info->title, sizeof info->title, "%s", module->name);
  info->channels = module->channel_count;
  info->orders = module->order_count;
  info->patterns = module->pattern_count;
  info->instruments = module->instrument_count;
  info->samples = module->sample_count;
  return MODUX_OK;
}

const char *modux_module_message(const modux_module *module) {
  return module && module->message ? module->message : "";
}

}  // extern "C"
