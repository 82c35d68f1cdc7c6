// A fixture for the importer tests: writes built images to scratch files, loads them through
// load_mod (the detection series) or a loader of its own, and frees what it loaded.
#ifndef LOADER_FIXTURE_H
#define LOADER_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "modux.h"
#include "module_images.h"

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
    const std::string path = ::testing::TempDir() + "loader_" + std::to_string(files_.size()) + "_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    EXPECT_TRUE(modimg::write_file(path, b));
    files_.push_back(path);
    return path;
  }
  // load_mod of the image; the module is freed after the test.
  MODUX *load(const modimg::bytes &b) { return keep(load_mod(file(b).c_str())); }
  MODUX *keep(MODUX *m) {
    if (m) loaded_.push_back(m);
    return m;
  }
  std::vector<MODUX *> loaded_;
  std::vector<std::string> files_;
};

#endif
