// modux import: the importers' shared kit (import.h): reading a file once, the status of a load,
// the model's constructors and limits, effect translation, and the table of module families that
// tells a file's format from its bytes and loads it.
#include "import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace modux_import {

// ---------------------------------------------------------------------------------------------
// Status of a load
// ---------------------------------------------------------------------------------------------

load_state::load_state(modux_status *s) : status(s) {
  status->code = MODUX_OK;
  status->message[0] = '\0';
  status->note[0] = '\0';
}

bool vfail_code(load_state &load, int code, const char *format, va_list args) {
  load.status->code = code;
  vsnprintf(load.status->message, sizeof load.status->message, format, args);
  return false;
}

bool fail_code(load_state &load, int code, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vfail_code(load, code, format, args);
  va_end(args);
  return false;
}

bool fail(load_state &load, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vfail_code(load, MODUX_ERROR_DAMAGED, format, args);
  va_end(args);
  return false;
}

bool no_memory(load_state &load, const char *what) {
  return fail_code(load, MODUX_ERROR_MEMORY, "Unable to allocate enough memory for %s", what);
}

void note_short(load_state &load, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(load.status->note, sizeof load.status->note, format, args);
  va_end(args);
}

MODUX *refuse(load_state &load, MODUX *mod, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vfail_code(load, MODUX_ERROR_DAMAGED, format, args);
  va_end(args);
  return abandon(mod);
}

namespace {

// The system's text for an error number, written into buf when it has none of its own (the
// text of strerror may be overwritten by another thread).
const char *reason(int error, char *buf, size_t n) { return strerror_r(error, buf, n); }

// Copies text into a buffer of n bytes, cut to fit and terminated.
void copy_text(char *to, size_t n, const char *text) {
  const size_t length = strnlen(text, n - 1);
  memcpy(to, text, length);
  to[length] = '\0';
}

}  // namespace

void publish_legacy(const modux_status &status, bool failed) {
  if (failed) copy_text(modux_error, sizeof modux_error, status.message);
  copy_text(modux_note, sizeof modux_note, status.note);
}

// ---------------------------------------------------------------------------------------------
// Reading files
// ---------------------------------------------------------------------------------------------

bool read_file(load_state &load, const char *path, image &img, long limit, bool whole) {
  char text[64];
  struct stat st;
  if (stat(path, &st) != 0)
    return fail_code(load, MODUX_ERROR_OPEN, "Unable to open %s: %s", path,
                     reason(errno, text, sizeof text));
  if (!S_ISREG(st.st_mode))
    return fail_code(load, MODUX_ERROR_OPEN, "Unable to open %s: not a regular file", path);
  // Non-blocking, and checked again once open: what is opened may not be what stat saw.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return fail_code(load, MODUX_ERROR_OPEN, "Unable to open %s: %s", path,
                     reason(errno, text, sizeof text));
  struct stat opened;
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    close(fd);
    return fail_code(load, MODUX_ERROR_OPEN, "Unable to open %s: not a regular file", path);
  }
  // One byte beyond the limit tells a file that is too large; the size stat gave is only a hint
  // (the file may grow or shrink meanwhile).
  const long long hint = opened.st_size < limit ? opened.st_size : limit;
  long capacity = static_cast<long>(hint) + 1;
  img.data = static_cast<unsigned char *>(malloc(capacity));
  if (!img.data) {
    close(fd);
    return no_memory(load, "the file");
  }
  img.size = 0;
  for (;;) {
    if (img.size == capacity) {
      if (capacity > limit) break;
      const long grown = capacity * 2 > limit + 1 ? limit + 1 : capacity * 2;
      unsigned char *more = static_cast<unsigned char *>(realloc(img.data, grown));
      if (!more) {
        close(fd);
        return no_memory(load, "the file");
      }
      img.data = more;
      capacity = grown;
    }
    const ssize_t got = read(fd, img.data + img.size, capacity - img.size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int why = errno;
      close(fd);
      return fail_code(load, MODUX_ERROR_OPEN, "Unable to read %s: %s", path,
                       reason(why, text, sizeof text));
    }
    if (got == 0) break;
    img.size += got;
  }
  close(fd);
  if (img.size > limit) {
    if (whole)
      return fail_code(load, MODUX_ERROR_LIMIT, "File larger than %ld MB", MAX_MODULE_BYTES >> 20);
    img.size = limit;
  }
  return true;
}

bool read_rest(load_state &load, PACKFILE *f, image &img) {
  long capacity = 0;
  for (;;) {
    if (img.size == capacity) {
      if (capacity >= MAX_MODULE_BYTES + 1) break;
      const long grown = capacity == 0 ? 65536 : capacity * 2;
      const long next = grown > MAX_MODULE_BYTES + 1 ? MAX_MODULE_BYTES + 1 : grown;
      unsigned char *more = static_cast<unsigned char *>(realloc(img.data, next));
      if (!more) return no_memory(load, "the file");
      img.data = more;
      capacity = next;
    }
    const long got = modux_fread(img.data + img.size, capacity - img.size, f);
    if (got <= 0) break;
    img.size += got;
  }
  if (img.size > MAX_MODULE_BYTES)
    return fail_code(load, MODUX_ERROR_LIMIT, "File larger than %ld MB", MAX_MODULE_BYTES >> 20);
  return true;
}

long read_head(load_state &load, const char *filename, long offset, void *buf, long n) {
  memset(buf, 0, n);
  image img;
  if (!filename || offset < 0 || !read_file(load, filename, img, offset + n, false)) return -1;
  const long got = img.size > offset ? img.size - offset : 0;
  if (got > 0) memcpy(buf, img.data + offset, got);
  return got;
}

// ---------------------------------------------------------------------------------------------
// Building the model
// ---------------------------------------------------------------------------------------------

MODUX *new_module(load_state &load) {
  MODUX *mod = static_cast<MODUX *>(calloc(1, sizeof(MODUX)));
  if (!mod) no_memory(load, "MODUX structure");
  return mod;
}

void *new_records(load_state &load, long long count, size_t size, const char *what) {
  if (count <= 0) return nullptr;
  void *p = calloc(static_cast<size_t>(count), size);
  if (!p) no_memory(load, what);
  return p;
}

bool charge_sample(load_state &load, long long bytes, const char *format_name, int number) {
  if (bytes < 0 || bytes > MAX_SAMPLE_BYTES - load.sample_bytes)
    return fail_code(load, MODUX_ERROR_LIMIT,
                     "%s: sample %d needs %lld bytes, over the module limit of %lld MiB",
                     format_name, number, bytes, MAX_SAMPLE_BYTES >> 20);
  load.sample_bytes += bytes;
  return true;
}

NOTE_INFO *new_cells(load_state &load, long long count, const char *format_name, int number) {
  if (count < 1) count = 1;
  if (count > MAX_PATTERN_CELLS - load.pattern_cells) {
    fail_code(load, MODUX_ERROR_LIMIT,
              "%s: pattern %d needs %lld cells, over the module limit of %lld", format_name, number,
              count, MAX_PATTERN_CELLS);
    return nullptr;
  }
  load.pattern_cells += count;
  return static_cast<NOTE_INFO *>(new_records(load, count, sizeof(NOTE_INFO), "NOTE_INFO"));
}

bool new_sample(load_state &load, SAMPLE &spl, SAMPLE_INFO &info, int len, int bits) {
  spl.bits = bits;
  spl.stereo = 0;
  spl.freq = 1000;
  spl.priority = 192;
  spl.param = -1;
  spl.len = len;
  spl.loop_start = 0;
  spl.loop_end = len;
  spl.data = calloc(len > 0 ? len : 1, bits / 8);
  info.length = len;
  info.loop_start = 0;
  info.loop_end = len;
  return spl.data != nullptr || no_memory(load, "sample data");
}

void fit_loop(SAMPLE &spl, SAMPLE_INFO &info, long long start, long long end, int flags) {
  const long long len = spl.len;
  if (end > len) end = len;
  if (!(flags & 3) || start < 0 || start >= end) {
    info.loop_flags = 0;
    start = 0;
    end = len;
  } else {
    info.loop_flags = flags & 3;
  }
  spl.loop_start = info.loop_start = static_cast<int>(start);
  spl.loop_end = info.loop_end = static_cast<int>(end);
}

long long adpcm_frames(const cursor &c, long long frames) {
  const long long packed = c.left() - ADPCM_TABLE_BYTES;
  if (packed <= 0) return 0;
  return frames < 2 * packed ? frames : 2 * packed;
}

void decode_adpcm(cursor &c, unsigned char *out, long long frames) {
  signed char steps[ADPCM_TABLE_BYTES];
  c.bytes(steps, ADPCM_TABLE_BYTES);
  int value = 0;  // the running value, wrapping as a signed byte does
  for (long long k = 0; k < frames; k += 2) {
    const int b = c.byte();
    value = (value + steps[b & 15]) & 0xFF;
    out[k] = static_cast<unsigned char>(value ^ 0x80);
    if (k + 1 == frames) break;
    value = (value + steps[b >> 4]) & 0xFF;
    out[k + 1] = static_cast<unsigned char>(value ^ 0x80);
  }
}

void translate_effect(const effect_entry *table, int n, int extended, const int *sub_table,
                      int *command, int *param) {
  const int effect = *command;
  if (effect < 0 || effect >= n) {
    *command = *param = 0;
    return;
  }
  if (effect == extended) {
    const int sub = sub_table[(*param >> 4) & 15];
    if (sub < 0) {
      *command = *param = 0;
      return;
    }
    *command = CMD_EXTENDED;
    *param = sub + (*param & 15);
    return;
  }
  *command = table[effect].code;
  if (!table[effect].keep) *param = 0;
}

// ---------------------------------------------------------------------------------------------
// Detection
// ---------------------------------------------------------------------------------------------

int umx_search(view v, const char *sig, int n, int place) {
  if (v.size < 4 || memcmp(v.data, UMX_MAGIC, 4) != 0) return -1;
  for (int start = 4; start < 4 + UMX_WINDOWS && start + n <= v.size; start++) {
    if (start - place > 0 && memcmp(v.data + start, sig, n) == 0) return start - place;
  }
  return -1;
}

int detect_file(const char *filename, int (*detect)(view), int fail_answer) {
  modux_status status;
  load_state load(&status);
  image img;
  if (!filename || !read_file(load, filename, img, HEAD_BYTES, false)) return fail_answer;
  return detect(img);
}

int head_info(const char *filename, long at, int name_bytes, int type, const char *type_name,
              MODFILE_INFO *info) {
  char name[sizeof info->name];
  if (name_bytes > static_cast<int>(sizeof name)) name_bytes = sizeof name;
  modux_status status;
  load_state load(&status);
  if (read_head(load, filename, at, name, name_bytes) < 0) {
    publish_legacy(status, true);
    return -1;
  }
  memset(info, 0, sizeof *info);
  info->type = type;
  snprintf(info->type_name, sizeof info->type_name, "%s", type_name);
  memcpy(info->name, name, name_bytes);
  return 1;
}

MODUX *load_file_with(const char *filename, MODUX *(*loader)(load_state &, view, int), int arg) {
  modux_status status;
  load_state load(&status);
  MODUX *mod = nullptr;
  image img;
  if (!filename)
    fail_code(load, MODUX_ERROR_ARGUMENT, "No module file named");
  else if (read_file(load, filename, img, MAX_MODULE_BYTES, true))
    mod = loader(load, img, arg);
  publish_legacy(status, mod == nullptr);
  return mod;
}

namespace {

// One family the loading interface knows. detect answers above 0 for a match (the package
// formats answer the offset of the embedded module); that answer is handed on to load. The song
// name of its info lies name_bytes long at name_at, counted from that offset for a package.
struct module_family {
  int (*detect)(view v);
  MODUX *(*load)(load_state &load, view v, int detected);
  int type;  // MODFILE_INFO::type
  long name_at;
  int name_bytes;
  bool packaged;
  bool mod15;  // the 15-sample MODs: tried only when the load asks for them (MODUX_LOAD_MOD15)
};

// Tried in this order, first match wins. IT comes before XM and S3M; the packages are searched
// only after the plain formats; 15-sample MODs, which have no signature, come last and only when
// the load asks for them. A MUX name is read with the reserved byte after it, which ends a
// full-length name.
const module_family families[] = {
    {detect_mux_bytes, load_mux_bytes, 6, MUX_MAGIC_SIZE, 29, false, false},
    {detect_it_bytes, load_it_bytes, 5, 4, 26, false, false},
    {detect_xm_bytes, load_xm_bytes, 4, 17, 20, false, false},
    {detect_s3m_bytes, load_s3m_bytes, 3, 0, 28, false, false},
    {detect_m31_bytes, load_m31_bytes, 2, 0, 20, false, false},
    {detect_unreal_it_bytes, load_it_bytes, 9, 4, 26, true, false},
    {detect_unreal_xm_bytes, load_xm_bytes, 8, 17, 20, true, false},
    {detect_unreal_s3m_bytes, load_s3m_bytes, 7, 0, 28, true, false},
    {detect_unreal_mod_bytes, load_m31_bytes, 10, 0, 20, true, false},
    {detect_m15_bytes, load_m15_bytes, 1, 0, 20, false, true},
};

const char *const family_names[] = {"",
                                    "MOD (15 Samples)",
                                    "MOD (31 Samples)",
                                    "S3M",
                                    "XM",
                                    "IT",
                                    "MUX",
                                    "Unreal S3M (UMX)",
                                    "Unreal XM (UMX)",
                                    "Unreal IT (UMX)",
                                    "Unreal MOD (UMX)"};

const char UNSUPPORTED[] = "Unsupported MOD type or unable to open file";

// The first family whose detector matches, with its answer in *detected; null for none.
const module_family *find_family(view v, int flags, int *detected) {
  for (const module_family &family : families) {
    if (family.mod15 && !(flags & MODUX_LOAD_MOD15)) continue;
    *detected = family.detect(v);
    if (*detected > 0) return &family;
  }
  return nullptr;
}

// A status of the caller's, or one that is thrown away.
modux_status *status_or_scratch(modux_status *status, modux_status &scratch) {
  return status ? status : &scratch;
}

}  // namespace

const char *family_name(int type) {
  const int n = sizeof family_names / sizeof family_names[0];
  return type >= 0 && type < n ? family_names[type] : "";
}

MODUX *load_memory(view v, int flags, modux_status *status) {
  modux_status scratch;
  load_state load(status_or_scratch(status, scratch));
  if (!v.data) {
    fail_code(load, MODUX_ERROR_ARGUMENT, "No module data");
    return nullptr;
  }
  if (v.size > MAX_MODULE_BYTES) {
    fail_code(load, MODUX_ERROR_LIMIT, "File larger than %ld MB", MAX_MODULE_BYTES >> 20);
    return nullptr;
  }
  int detected = 0;
  const module_family *family = find_family(v, flags, &detected);
  if (!family) {
    fail_code(load, MODUX_ERROR_FORMAT, "%s", UNSUPPORTED);
    return nullptr;
  }
  MODUX *mod = family->load(load, v, family->packaged ? detected : 0);
  if (mod) {
    mod->format = family->type;
  } else if (load.status->code == MODUX_OK) {
    fail(load, "%s: the module could not be loaded", family_name(family->type));
  }
  return mod;
}

MODUX *load_path(const char *path, int flags, modux_status *status) {
  modux_status scratch;
  status = status_or_scratch(status, scratch);
  image img;
  {
    load_state load(status);
    if (!path) {
      fail_code(load, MODUX_ERROR_ARGUMENT, "No module file named");
      return nullptr;
    }
    if (!read_file(load, path, img, MAX_MODULE_BYTES, true)) return nullptr;
  }
  return load_memory(img, flags, status);
}

int info_memory(view v, int flags, MODFILE_INFO *info, modux_status *status) {
  modux_status scratch;
  load_state load(status_or_scratch(status, scratch));
  if (!info || !v.data)
    return fail_code(load, MODUX_ERROR_ARGUMENT, "No module data or no summary"), -1;
  int detected = 0;
  const module_family *family = find_family(v, flags, &detected);
  if (!family) return fail_code(load, MODUX_ERROR_FORMAT, "%s", UNSUPPORTED), -1;
  memset(info, 0, sizeof *info);
  info->type = family->type;
  snprintf(info->type_name, sizeof info->type_name, "%s", family_name(family->type));
  const long long at = (family->packaged ? detected : 0) + family->name_at;
  if (family->type == 6 && v.size < at + family->name_bytes)
    return fail(load, "MUX: file ends inside the header"), -1;
  const long long there = v.size > at ? v.size - at : 0;
  memcpy(info->name, v.data + at, there < family->name_bytes ? there : family->name_bytes);
  return 1;
}

int path_info(const char *path, int flags, MODFILE_INFO *info, modux_status *status) {
  modux_status scratch;
  status = status_or_scratch(status, scratch);
  image img;
  {
    load_state load(status);
    if (!path) return fail_code(load, MODUX_ERROR_ARGUMENT, "No module file named"), -1;
    if (!read_file(load, path, img, HEAD_BYTES, false)) return -1;
  }
  return info_memory(img, flags, info, status);
}

}  // namespace modux_import
