#include "uiglean/actions/resolve.h"

#include <gtest/gtest.h>

#include "uiglean/ax/readers.h"
#include "uiglean/front/globals.h"
#include "uiglean/platform/scripted/scripted.h"

namespace uiglean {
namespace {

using Path = std::vector<std::int64_t>;

TEST(ParseRef, Grammar) {
  EXPECT_EQ(parseRef("w0"), (Path{0}));
  EXPECT_EQ(parseRef("w0.3"), (Path{0, 3}));
  EXPECT_EQ(parseRef("w0..3"), (Path{0, 3}));
  EXPECT_EQ(parseRef(".w0.3"), (Path{0, 3}));
  EXPECT_EQ(parseRef("w0.3."), (Path{0, 3}));
  EXPECT_EQ(parseRef("w+1"), (Path{1}));
  EXPECT_EQ(parseRef("w007"), (Path{7}));
  EXPECT_EQ(parseRef("w0.-1"), (Path{0, -1}));  // malformed only once resolved
  for (const char* bad : {"", ".", "..", "w", "0", "x0", "W0", "w 1", "w1a", "w1.2x", "w0. 1",
                          "w99999999999999999999", "w0.+"}) {
    EXPECT_EQ(parseRef(bad), std::nullopt) << bad;
  }
}

TEST(ResolveRef, WalksTheLiveTree) {
  std::string windows;
  for (int i = 0; i < 8; ++i) {
    windows += std::string(i ? "," : "") + R"({"id": "w)" + std::to_string(i) +
               R"(", "AXChildren": [{"id": "a)" + std::to_string(i) + R"("}, {"id": "b)" +
               std::to_string(i) + R"("}]})";
  }
  std::string kids;
  for (int i = 0; i < 120; ++i) kids += std::string(i ? "," : "") + "{}";
  useScene(parseScene(R"({"frontmost": 1, "apps": [{"pid": 1, "element": {"AXWindows": [)" + windows +
                          R"(]}}, {"pid": 2, "element": {"AXWindows": [{"AXChildren": [)" + kids +
                          R"(]}]}}, {"pid": 3}]})",
                      "test"));
  startGlobals({});
  Element app = axCreateApplication(1);
  auto name = [&](const std::string& ref) -> std::string {
    auto e = resolveRef(app, ref);
    return e ? e->impl->name : "-";
  };
  EXPECT_EQ(name("w0"), "w0");
  EXPECT_EQ(name("w7"), "w7");  // beyond what a snapshot prints, but the app has it
  EXPECT_EQ(name("w8"), "-");
  EXPECT_EQ(name("w1.1"), "b1");
  EXPECT_EQ(name("w01.01"), "b1");
  EXPECT_EQ(name("w1.2"), "-");
  EXPECT_EQ(name("w1.1.0"), "-");
  EXPECT_EQ(name("w-1"), "-");
  // Child positions stop at 96 whatever the element really has.
  Element app2 = axCreateApplication(2);
  EXPECT_TRUE(resolveRef(app2, "w0.95").has_value());
  EXPECT_FALSE(resolveRef(app2, "w0.96").has_value());
  // No AXWindows at all: nothing resolves.
  EXPECT_FALSE(resolveRef(axCreateApplication(3), "w0").has_value());
}

}  // namespace
}  // namespace uiglean
