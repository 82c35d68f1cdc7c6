// A fixture for the importer tests: loads built images from memory through the C interface (the
// detection series), writes them to scratch files for the file entries, and frees what it loaded.
#ifndef LOADER_FIXTURE_H
#define LOADER_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "libmodux.h"
#include "module_check.h"
#include "module_images.h"

// One field of a loaded module against its expected value, named in the failure message.
struct field {
  template <class T>
  field(const char *n, T g, long long w) : name(n), got(static_cast<long long>(g)), want(w) {}
  const char *name;
  long long got, want;
};
inline void expect_fields(std::initializer_list<field> fields) {
  for (const field &f : fields) EXPECT_EQ(f.got, f.want) << f.name;
}

// What get_mod_info says of a file: its type number, type name and song name.
inline void expect_info(const std::string &path, int type, const char *type_name,
                        const char *name) {
  MODFILE_INFO info;
  ASSERT_EQ(get_mod_info(path.c_str(), &info), 1) << path;
  EXPECT_EQ(std::make_tuple(info.type, std::string(info.type_name), std::string(info.name)),
            std::make_tuple(type, std::string(type_name), std::string(name)));
}

// The refusal of bytes no family knows.
const std::string kUnsupported = "Unsupported MOD type or unable to open file";

// A damaged copy of a good image: `put` written at `at`, then cut to `cut` bytes unless 0.
struct damage {
  std::string message;  // of the refusal
  size_t at;
  modimg::bytes put;
  size_t cut = 0;
};
inline modimg::bytes damaged(modimg::bytes b, const damage &d) {
  std::copy(d.put.begin(), d.put.end(), b.begin() + d.at);
  if (d.cut) b.resize(d.cut);
  return b;
}

class Loader : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { install_allegro(SYSTEM_NONE, &errno, atexit); }
  void TearDown() override {
    for (MODUX *m : loaded_) destroy_mod(m);
    for (const std::string &p : files_) std::remove(p.c_str());
    enable_m15 = 0;
    fast_loading = -1;
  }
  // Writes the image to a new scratch file and answers its path.
  std::string file(const modimg::bytes &b) {
    const std::string path = ::testing::TempDir() + "loader_" + std::to_string(files_.size()) +
                             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    EXPECT_TRUE(modimg::write_file(path, b));
    files_.push_back(path);
    return path;
  }
  // The image loaded from memory through the C interface, its status in status_; the module is
  // freed after the test.
  MODUX *load(const modimg::bytes &b) {
    return keep(modux_module_load_memory(b.data(), b.size(), &status_));
  }
  // The image is refused with this message.
  void refused(const modimg::bytes &b, const std::string &message, const std::string &what = "") {
    EXPECT_EQ(load(b), nullptr) << what;
    EXPECT_EQ(std::string(status_.message), message) << what;
  }
  // Each damaged copy of the good image is refused with its message.
  void refuses_each(const modimg::bytes &good, const std::vector<damage> &cases) {
    for (const damage &d : cases) refused(damaged(good, d), d.message, d.message);
  }
  // Frees the module after the test; it must keep every rule of the model the player relies on.
  MODUX *keep(MODUX *m) {
    if (m) loaded_.push_back(m);
    EXPECT_EQ(m ? modcheck::model_faults(m, m->flags & MODUX_XM) : "", "");
    return m;
  }
  modux_status status_{};
  std::vector<MODUX *> loaded_;
  std::vector<std::string> files_;
};

#endif
