#include "uiglean/ax/readers.h"

#include <gtest/gtest.h>

#include "uiglean/front/globals.h"
#include "uiglean/platform/scripted/scripted.h"

namespace uiglean {
namespace {

// Loads a scene whose app 1 is frontmost and returns the element with id "e".
Element sceneElement(const std::string& elementJson) {
  useScene(parseScene(R"({"frontmost": 1, "apps": [{"pid": 1, "element": {"AXChildren": [)" +
                          elementJson + "]}}]}",
                      "test"));
  startGlobals({});
  auto front = frontmostApp();
  EXPECT_TRUE(front.has_value());
  return children(front->element).at(0);
}

TEST(Readers, ChildrenAreCutAndMissingListsAreEmpty) {
  std::string kids;
  for (int i = 0; i < 150; ++i) kids += std::string(i ? "," : "") + "{}";
  EXPECT_EQ(children(sceneElement(R"({"AXChildren": [)" + kids + "]}")).size(), 96u);
  EXPECT_TRUE(children(sceneElement("{}")).empty());
  // A list holding something other than elements counts as no list.
  EXPECT_TRUE(children(sceneElement(R"({"AXChildren": [{}, "text"]})")).empty());
  EXPECT_TRUE(children(sceneElement(R"({"AXChildren": [{}], "errors": {"AXChildren": -25204}})")).empty());
}

TEST(Readers, FramesNeedBothPositionAndSize) {
  EXPECT_EQ(frameOf(sceneElement(R"({"AXPosition": {"point": [3, 4]}})")), ZERO_FRAME);
  EXPECT_EQ(frameOf(sceneElement(R"({"AXSize": {"size": [3, 4]}})")), ZERO_FRAME);
  EXPECT_EQ(frameOf(sceneElement(R"({"AXPosition": {"size": [3, 4]}, "AXSize": {"size": [1, 2]}})")),
            ZERO_FRAME);
  Frame f = frameOf(sceneElement(R"({"AXPosition": {"point": [-3.5, 4]}, "AXSize": {"size": [1, 2.25]}})"));
  EXPECT_EQ(f, (Frame{-3.5, 4, 1, 2.25}));
}

TEST(Readers, ValueText) {
  EXPECT_EQ(valueString(sceneElement(R"({"AXValue": 0})")), "0");
  EXPECT_EQ(valueString(sceneElement(R"({"AXValue": 1})")), "1");
  EXPECT_EQ(valueString(sceneElement(R"({"AXValue": -3})")), "-3");
  EXPECT_EQ(valueString(sceneElement(R"({"AXValue": 0.5})")), "0.5");
  EXPECT_EQ(valueString(sceneElement(R"({"AXValue": 2.0})")), "2");
  EXPECT_EQ(valueString(sceneElement(R"({"AXValue": true})")), "1");
  EXPECT_EQ(valueString(sceneElement(R"({"AXValue": false})")), "0");
  EXPECT_EQ(valueString(sceneElement(R"({"AXValue": "  "})")), "  ");
  EXPECT_EQ(valueString(sceneElement(R"({"AXValue": ""})")), std::nullopt);
  EXPECT_EQ(valueString(sceneElement(R"({"AXValue": null})")), std::nullopt);
  EXPECT_EQ(valueString(sceneElement(R"({"AXValue": {"range": [1, 2]}})")), std::nullopt);
  EXPECT_EQ(valueString(sceneElement(R"({"AXValue": {"other": "date"}})")), std::nullopt);
}

TEST(Readers, InterestingActionsWithoutPrefix) {
  EXPECT_EQ(actionsOf(sceneElement(R"({"actions": ["AXPress", "AXRaise", "AXShowMenu"]})")),
            (std::vector<std::string>{"Press", "ShowMenu"}));
  EXPECT_EQ(actionsOf(sceneElement(R"({"actions": ["AXRaise", "press"]})")), std::nullopt);
  EXPECT_EQ(actionsOf(sceneElement(R"({"actions": []})")), std::nullopt);
  EXPECT_EQ(actionsOf(sceneElement(R"({"actions": ["AXPress"], "actionNamesError": -25204})")),
            std::nullopt);
}

TEST(Readers, BooleansAndBlankness) {
  Element e = sceneElement(R"({"AXA": true, "AXB": false, "AXC": "true", "AXD": 2})");
  EXPECT_EQ(boolAttr(e, "AXA"), true);
  EXPECT_EQ(boolAttr(e, "AXB"), false);
  EXPECT_EQ(boolAttr(e, "AXC"), std::nullopt);
  EXPECT_EQ(boolAttr(e, "AXD"), true);
  EXPECT_EQ(boolAttr(e, "AXMissing"), std::nullopt);
  EXPECT_EQ(nonEmpty(std::string(" \t")), std::nullopt);
  EXPECT_EQ(nonEmpty(std::string("\n\r\xC2\xA0\xE3\x80\x80")), std::nullopt);
  EXPECT_EQ(nonEmpty(std::string(" word ")), " word ");
  EXPECT_EQ(nonEmpty(std::string("\xC3\xA9")), "\xC3\xA9");
  EXPECT_EQ(nonEmpty(std::nullopt), std::nullopt);
}

}  // namespace
}  // namespace uiglean
