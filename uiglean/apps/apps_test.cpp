#include <gtest/gtest.h>

#include <limits>

#include "uiglean/apps/activate.h"
#include "uiglean/apps/world.h"
#include "uiglean/front/output.h"
#include "uiglean/platform/scripted/scripted.h"

namespace uiglean {
namespace {

RunningApp app(std::int32_t pid, std::optional<std::string> name,
               std::optional<std::string> bundleId) {
  RunningApp a;
  a.pid = pid;
  a.localizedName = std::move(name);
  a.bundleIdentifier = std::move(bundleId);
  return a;
}

std::optional<std::int32_t> pidOf(const std::optional<RunningApp>& a) {
  if (!a) return std::nullopt;
  return a->pid;
}

TEST(RunningAppMatching, PassesRunInOrderOfStrength) {
  const std::vector<RunningApp> apps = {
      app(1, "Notes Helper", "com.example.helper"),
      app(2, "Notes", "com.example.notes"),
      app(3, "Mail", "com.example.NOTES-mail"),
      app(4, std::nullopt, "com.example.mail"),
  };
  // Bundle identifier equality beats an earlier name containment.
  EXPECT_EQ(pidOf(runningAppMatching(apps, "COM.EXAMPLE.NOTES")), 2);
  // Whole-name equality beats an earlier containment.
  EXPECT_EQ(pidOf(runningAppMatching(apps, "notes")), 2);
  // Containment: the earlier application wins.
  EXPECT_EQ(pidOf(runningAppMatching(apps, "ote")), 1);
  // Part of a bundle identifier is no match by identifier, only by name.
  EXPECT_EQ(pidOf(runningAppMatching(apps, "helper")), 1);
  EXPECT_EQ(pidOf(runningAppMatching(apps, "mail")), 3);
  EXPECT_EQ(pidOf(runningAppMatching(apps, "com.example.mail")), 4);
  EXPECT_EQ(pidOf(runningAppMatching(apps, "example")), std::nullopt);
  EXPECT_EQ(pidOf(runningAppMatching({}, "Notes")), std::nullopt);
}

TEST(RunningAppMatching, EmptyQueryMatchesOnlyEmptyNamesOrIdentifiers) {
  EXPECT_EQ(pidOf(runningAppMatching({app(1, "Notes", "a.b")}, "")), std::nullopt);
  EXPECT_EQ(pidOf(runningAppMatching({app(1, "Notes", "a.b"), app(2, "", std::nullopt)}, "")), 2);
  EXPECT_EQ(pidOf(runningAppMatching({app(1, "Notes", ""), app(2, "", std::nullopt)}, "")), 1);
}

TEST(RunningAppMatching, NonAsciiNames) {
  const std::vector<RunningApp> apps = {app(1, "Übersetzer", std::nullopt),
                                        app(2, "Почта", std::nullopt)};
  EXPECT_EQ(pidOf(runningAppMatching(apps, "übersetzer")), 1);
  EXPECT_EQ(pidOf(runningAppMatching(apps, "ПОЧ")), 2);
}

TEST(DisplayFor, LargestOverlapWinsAndTiesGoToTheEarlierDisplay) {
  const std::vector<DisplayEntry> displays = {{1, {0, 0, 1000, 800}}, {2, {1000, 0, 1000, 800}}};
  EXPECT_EQ(displayFor(displays, {900, 100, 300, 300}), 2u);   // 100 vs 200 wide
  EXPECT_EQ(displayFor(displays, {800, 100, 300, 300}), 1u);   // 200 vs 100 wide
  EXPECT_EQ(displayFor(displays, {850, 100, 300, 300}), 1u);   // equal shares
  EXPECT_EQ(displayFor(displays, {1500, 100, 300, 300}), 2u);  // one display only
  // Order matters for ties, not the identifiers.
  const std::vector<DisplayEntry> reversed = {displays[1], displays[0]};
  EXPECT_EQ(displayFor(reversed, {850, 100, 300, 300}), 2u);
}

TEST(DisplayFor, NoDisplayForOutsideOrEdgeOnlyRectangles) {
  const std::vector<DisplayEntry> displays = {{1, {0, 0, 1000, 800}}};
  EXPECT_EQ(displayFor(displays, {1000, 0, 200, 200}), std::nullopt);  // touches the edge
  EXPECT_EQ(displayFor(displays, {0, 800, 200, 200}), std::nullopt);
  EXPECT_EQ(displayFor(displays, {5000, 5000, 200, 200}), std::nullopt);
  EXPECT_EQ(displayFor(displays, {10, 10, 0, 0}), std::nullopt);  // empty rectangle
  EXPECT_EQ(displayFor({}, {10, 10, 200, 200}), std::nullopt);
  // Negative sizes are standardised first.
  EXPECT_EQ(displayFor(displays, {300, 300, -200, -200}), 1u);
  EXPECT_EQ(displayFor({{3, {1000, 800, -1000, -800}}}, {10, 10, 200, 200}), 3u);
}

TEST(Standardized, FlipsNegativeSides) {
  Rect r = standardized({100, 50, -40, -10});
  EXPECT_EQ(r.x, 60);
  EXPECT_EQ(r.y, 40);
  EXPECT_EQ(r.width, 40);
  EXPECT_EQ(r.height, 10);
}

// A window server may hand out bounds that are not finite; such a window cannot be written as
// JSON, so it is left out instead of failing the whole survey.
TEST(SurveyWorld, WindowWithNonFiniteBoundsIsLeftOut) {
  Scene scene =
      parseScene(R"({"apps": [{"pid": 5, "name": "Ed"}], "screenCaptureAccess": false})", "t.json");
  auto window = [](double x, const std::string& name) {
    PlistDict bounds = {{"X", {x}}, {"Y", {0.0}}, {"Width", {500.0}}, {"Height", {500.0}}};
    PlistDict d = {{"kCGWindowLayer", {std::int64_t{0}}},
                   {"kCGWindowAlpha", {1.0}},
                   {"kCGWindowName", {name}},
                   {"kCGWindowBounds", {bounds}},
                   {"kCGWindowOwnerPID", {std::int64_t{5}}}};
    return PlistValue{d};
  };
  scene.windowList = PlistValue{PlistArray{window(std::numeric_limits<double>::infinity(), "inf"),
                                           window(std::numeric_limits<double>::quiet_NaN(), "nan"),
                                           window(10, "fine")}};
  useScene(std::move(scene));
  WorldPayload p = surveyWorld(0);
  ASSERT_EQ(p.windows.size(), 1u);
  EXPECT_EQ(p.windows[0].title, "fine");
  EXPECT_TRUE(p.screenRecordingGranted);  // the left-out windows were named
  EXPECT_NO_THROW(encode(p));
}

}  // namespace
}  // namespace uiglean
