#include "uiglean/platform/linux/a11ywindows.h"

#include <set>

#include <gtest/gtest.h>

#include "uiglean/platform/linux/windowserver.h"

namespace uiglean::lx {
namespace {

TEST(StandInWindows, NumbersAreStableDistinctAndNeverX11Ids) {
  std::set<std::uint32_t> seen;
  for (std::int32_t pid : {1, 4242, 65535, 4194304}) {
    for (int object = 0; object < 200; ++object) {
      std::string path = "/org/a11y/atspi/accessible/" + std::to_string(object);
      std::uint32_t n = standInNumber(pid, path);
      EXPECT_EQ(n, standInNumber(pid, path));
      // X11 resource ids stay below 2^29; window numbers are positive 32-bit integers.
      EXPECT_GE(n, 1U << 30);
      EXPECT_LT(n, 1U << 31);
      seen.insert(n);
    }
  }
  EXPECT_EQ(seen.size(), 800U);
}

TEST(StandInWindows, OnlyFramesAndDialogsAreNormalWindows) {
  EXPECT_EQ(standInLayer(role::frame), LAYER_NORMAL);
  EXPECT_EQ(standInLayer(role::dialog), LAYER_NORMAL);
  EXPECT_EQ(standInLayer(role::alert), LAYER_NORMAL);
  EXPECT_EQ(standInLayer(role::fileChooser), LAYER_NORMAL);
  EXPECT_EQ(standInLayer(role::window), LAYER_MENU);  // untitled pop-ups
  EXPECT_EQ(standInLayer(role::toolTip), LAYER_TOOLTIP);
}

}  // namespace
}  // namespace uiglean::lx
