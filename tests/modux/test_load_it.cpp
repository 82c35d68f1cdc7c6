// IT recognition: plain files and UMX packages are recognised, reported with their song name
// and refused with their message; the package search's limits.
#include "loader_fixture.h"

using namespace modimg;

namespace {

using LoadIt = Loader;

TEST_F(LoadIt, PlainFilesAreRecognisedAndRefused) {
  const std::string path = file(build_it("impulse song"));
  EXPECT_EQ(detect_it(path.c_str()), 1);
  expect_info(path, 5, "IT", "impulse song");
  EXPECT_EQ(load_mod(path.c_str()), nullptr);
  EXPECT_STREQ(modux_error, "IT support is not completed yet. Wait a few more versions");
  EXPECT_EQ(detect_it("/nonexistent/x.it"), 0);
  EXPECT_EQ(detect_it(file(build_mod(mod_image{})).c_str()), -1);
}

TEST_F(LoadIt, PackagesAreSearchedWithinTheirFirst500Windows) {
  const struct {
    size_t offset;
    int want;
  } cases[] = {{4, 4}, {200, 200}, {503, 503}, {504, -1}, {600, -1}};
  for (const auto &c : cases) {
    const std::string path = file(wrap_umx(build_it("packed"), c.offset));
    EXPECT_EQ(detect_unreal_it(path.c_str()), c.want) << c.offset;
  }
  const std::string path = file(wrap_umx(build_it("packed"), 200));
  expect_info(path, 9, "Unreal IT (UMX)", "packed");
  EXPECT_EQ(load_mod(path.c_str()), nullptr);
  EXPECT_STREQ(modux_error, "IT support is not completed yet. Wait a few more versions");
  // IT comes first among the packages: a package holding "IMPM" before an XM is IT.
  bytes both = wrap_umx(build_it("first"), 100);
  both.resize(400);
  const bytes xm = build_xm(xm_image{});
  both.insert(both.end(), xm.begin(), xm.end());
  expect_info(file(both), 9, "Unreal IT (UMX)", "first");
  // No package magic: never searched.
  bytes plain = build_it("x");
  plain.insert(plain.begin(), 100, 0);
  EXPECT_EQ(detect_unreal_it(file(plain).c_str()), -1);
  EXPECT_EQ(detect_unreal_it("/nonexistent/x.umx"), 0);
}

}  // namespace
