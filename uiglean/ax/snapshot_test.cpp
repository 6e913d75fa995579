#include "uiglean/ax/snapshot.h"

#include <gtest/gtest.h>

#include <limits>

#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"
#include "uiglean/platform/scripted/scripted.h"

namespace uiglean {
namespace {

TEST(Snapshot, RecordsEncodeInFieldOrder) {
  AXNode leaf;
  leaf.ref = "w0.0";
  leaf.role = "AXButton";
  leaf.enabled = false;
  leaf.selected = true;
  leaf.acts = std::vector<std::string>{"Press"};
  leaf.frame = {0.5, 1, 2, 3};
  AXNode window;
  window.ref = "w0";
  window.role = "AXWindow";
  window.title = "A/B";
  window.children.push_back(leaf);
  AXPayload p{"Mail", std::nullopt, 42, 0, false, {window}};
  EXPECT_EQ(encode(p),
            R"({"app":"Mail","pid":42,"frontWindow":0,"secureInput":false,"windows":[{"ref":"w0",)"
            R"("role":"AXWindow","title":"A\/B","frame":[0,0,0,0],"children":[{"ref":"w0.0",)"
            R"("role":"AXButton","enabled":false,"selected":true,"acts":["Press"],)"
            R"("frame":[0.5,1,2,3],"children":[]}]}]})");
}

TEST(Snapshot, NonFiniteFrameCannotBeEncoded) {
  AXNode n;
  n.ref = "w0";
  n.role = "AXWindow";
  n.frame = {0, std::numeric_limits<double>::infinity(), 1, 1};
  AXPayload p{"X", std::nullopt, 1, 0, false, {n}};
  EXPECT_THROW(encode(p), EncodeError);
}

TEST(Snapshot, LimitsAreReadFromTheGlobals) {
  useScene(parseScene(R"({"frontmost": 1, "apps": [{"pid": 1, "element": {"AXWindows": [
      {"AXChildren": [{"AXChildren": [{}, {}]}, {}]}, {}]}}]})",
                      "test"));
  startGlobals({});
  Element app = axCreateApplication(1);
  MAX_NODES = 3;
  auto windows = snapshotWindows(app);
  EXPECT_EQ(nodeCount, 3);
  ASSERT_EQ(windows.size(), 1u);  // the second window found the limit reached
  EXPECT_EQ(windows[0].children[0].children.size(), 1u);
  EXPECT_EQ(windows[0].children[0].children[0].ref, "w0.0.0");
  MAX_NODES = 4000;
  MAX_DEPTH = 0;
  windows = snapshotWindows(app);
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_TRUE(windows[0].children.empty());
  MAX_WINDOWS = 1;
  EXPECT_EQ(snapshotWindows(app).size(), 1u);
}

}  // namespace
}  // namespace uiglean
