// The CoreFoundation conversions over a small stand-in for CF values: what the accessibility and
// window-server answers become, without a Mac.
#include "uiglean/platform/macos/cfvalues.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <vector>

namespace uiglean::macos {
namespace {

// A CF value as the tests write it.
struct Fake {
  CfKind kind = CfKind::null;
  std::optional<std::string> text;  // a string; nothing for one without a UTF-8 form
  bool boolean = false;
  NumberReading number;
  AxValueReading ax;
  bool elementAlive = true;  // an element that the reader can wrap
  std::vector<std::shared_ptr<Fake>> items;                                         // array
  std::vector<std::pair<std::shared_ptr<Fake>, std::shared_ptr<Fake>>> entries;    // dictionary
};
using FakeRef = std::shared_ptr<Fake>;

struct FakeReader {
  CfKind kind(const Fake* n) const { return n ? n->kind : CfKind::null; }
  std::optional<std::string> string(const Fake* n) const { return n->text; }
  bool boolean(const Fake* n) const { return n->boolean; }
  NumberReading number(const Fake* n) const { return n->number; }
  AxValueReading axValue(const Fake* n) const { return n->ax; }
  Element element(const Fake* n) const {
    return n->elementAlive ? Element{std::shared_ptr<ElementImpl>(
                                 reinterpret_cast<ElementImpl*>(new int(1)),
                                 [](ElementImpl* p) { delete reinterpret_cast<int*>(p); })}
                           : Element{};
  }
  std::string describe(const Fake*) const { return "fake"; }
  template <class F>
  void forEachItem(const Fake* n, F&& f) const {
    for (const auto& item : n->items) f(item.get());
  }
  template <class F>
  void forEachEntry(const Fake* n, F&& f) const {
    for (const auto& [k, v] : n->entries) f(k.get(), v.get());
  }
};

FakeRef str(std::string s) {
  auto n = std::make_shared<Fake>();
  n->kind = CfKind::string;
  n->text = std::move(s);
  return n;
}
FakeRef boolean(bool b) {
  auto n = std::make_shared<Fake>();
  n->kind = CfKind::boolean;
  n->boolean = b;
  return n;
}
FakeRef integer(std::int64_t i, int type = cfnumber::sint32) {
  auto n = std::make_shared<Fake>();
  n->kind = CfKind::number;
  n->number = NumberReading{type, i, static_cast<double>(i)};
  return n;
}
FakeRef real(double d, int type = cfnumber::cgFloat) {
  auto n = std::make_shared<Fake>();
  n->kind = CfKind::number;
  n->number = NumberReading{type, std::nullopt, d};
  return n;
}
FakeRef element(bool alive = true) {
  auto n = std::make_shared<Fake>();
  n->kind = CfKind::element;
  n->elementAlive = alive;
  return n;
}
FakeRef array(std::vector<FakeRef> items) {
  auto n = std::make_shared<Fake>();
  n->kind = CfKind::array;
  n->items = std::move(items);
  return n;
}
FakeRef dict(std::vector<std::pair<FakeRef, FakeRef>> entries) {
  auto n = std::make_shared<Fake>();
  n->kind = CfKind::dictionary;
  n->entries = std::move(entries);
  return n;
}
FakeRef other() {
  auto n = std::make_shared<Fake>();
  n->kind = CfKind::other;
  return n;
}

Value value(const FakeRef& n) { return valueOf(FakeReader{}, static_cast<const Fake*>(n.get())); }
PlistValue plist(const FakeRef& n) { return plistOf(FakeReader{}, static_cast<const Fake*>(n.get())); }

TEST(CfNumbers, IntegerTypesKeepTheirExactValueAndRealsStayReal) {
  for (int type : {cfnumber::sint8, cfnumber::sint16, cfnumber::sint32, cfnumber::sint64,
                   cfnumber::charType, cfnumber::shortType, cfnumber::intType, cfnumber::longType,
                   cfnumber::longLongType, cfnumber::cfIndex, cfnumber::nsInteger}) {
    EXPECT_FALSE(isFloatNumberType(type)) << type;
    Number n = numberOf(NumberReading{type, 9007199254740993, 9007199254740992.0});
    EXPECT_TRUE(n.isInteger);
    EXPECT_FALSE(n.isBool);
    ASSERT_TRUE(n.integer.has_value());
    EXPECT_EQ(*n.integer, 9007199254740993);  // one more than a double holds
  }
  for (int type : {cfnumber::float32, cfnumber::float64, cfnumber::floatType,
                   cfnumber::doubleType, cfnumber::cgFloat}) {
    EXPECT_TRUE(isFloatNumberType(type)) << type;
    // A real that happens to be whole is still a real.
    Number n = numberOf(NumberReading{type, 3, 3.0});
    EXPECT_FALSE(n.isInteger);
    EXPECT_FALSE(n.integer.has_value());
    EXPECT_EQ(n.value, 3.0);
  }
  // An unsigned value above 2^63 - 1: an integer known only as a double.
  Number big = numberOf(NumberReading{cfnumber::sint64, std::nullopt, 1.8446744073709552e19});
  EXPECT_TRUE(big.isInteger);
  EXPECT_FALSE(big.integer.has_value());
  EXPECT_EQ(big.value, 1.8446744073709552e19);
}

TEST(CfValues, AttributeValuesBecomeTheLayersKinds) {
  EXPECT_EQ(std::get<std::string>(value(str("Save"))), "Save");
  EXPECT_TRUE(std::holds_alternative<OtherValue>(value([] {
    auto s = str("");
    s->text.reset();  // no UTF-8 form
    return s;
  }())));
  Number t = std::get<Number>(value(boolean(true)));
  EXPECT_TRUE(t.isBool);
  EXPECT_EQ(t.value, 1.0);
  EXPECT_EQ(std::get<Number>(value(boolean(false))).value, 0.0);
  Number i = std::get<Number>(value(integer(-7)));
  EXPECT_FALSE(i.isBool);
  EXPECT_EQ(i.integer, -7);
  EXPECT_TRUE(std::holds_alternative<NoValue>(value(nullptr)));
  EXPECT_TRUE(std::holds_alternative<OtherValue>(value(dict({}))));
  EXPECT_TRUE(std::holds_alternative<OtherValue>(value(other())));
  EXPECT_TRUE(std::holds_alternative<Element>(value(element())));
  EXPECT_TRUE(std::holds_alternative<OtherValue>(value(element(false))));
}

TEST(CfValues, AxValuesGivePointsSizesAndRangesOnlyWhenReadable) {
  auto ax = [](int type, bool ok, double a, double b, std::int64_t loc = 0, std::int64_t len = 0) {
    auto n = std::make_shared<Fake>();
    n->kind = CfKind::axValue;
    n->ax = AxValueReading{type, ok, a, b, 0, 0, loc, len};
    return n;
  };
  Point p = std::get<Point>(value(ax(axvalue::cgPoint, true, 10.5, -3)));
  EXPECT_EQ(p.x, 10.5);
  EXPECT_EQ(p.y, -3);
  Size s = std::get<Size>(value(ax(axvalue::cgSize, true, 640, 480)));
  EXPECT_EQ(s.width, 640);
  EXPECT_EQ(s.height, 480);
  Range r = std::get<Range>(value(ax(axvalue::cfRange, true, 0, 0, 4, 2)));
  EXPECT_EQ(r.location, 4);
  EXPECT_EQ(r.length, 2);
  // A point that could not be read is not a point at (0, 0).
  EXPECT_TRUE(std::holds_alternative<OtherValue>(value(ax(axvalue::cgPoint, false, 0, 0))));
  EXPECT_TRUE(std::holds_alternative<OtherValue>(value(ax(axvalue::cgRect, true, 1, 2))));
  EXPECT_TRUE(std::holds_alternative<OtherValue>(value(ax(axvalue::axError, true, 0, 0))));
}

TEST(CfValues, ArraysAreElementListsOnlyWhenEveryEntryIsAnElement) {
  EXPECT_EQ(std::get<ElementList>(value(array({element(), element(), element()}))).size(), 3u);
  EXPECT_TRUE(std::get<ElementList>(value(array({}))).empty());
  EXPECT_TRUE(std::holds_alternative<OtherValue>(value(array({element(), str("x")}))));
  EXPECT_TRUE(std::holds_alternative<OtherValue>(value(array({str("AXPress")}))));
  EXPECT_TRUE(std::holds_alternative<OtherValue>(value(array({element(), element(false)}))));
}

// A window-list entry as the window server hands it out.
FakeRef windowEntry() {
  return dict({
      {str("kCGWindowLayer"), integer(0, cfnumber::intType)},
      {str("kCGWindowAlpha"), real(1.0)},
      {str("kCGWindowName"), str("Untitled")},
      {str("kCGWindowOwnerPID"), integer(4242, cfnumber::intType)},
      {str("kCGWindowNumber"), integer(77, cfnumber::sint64)},
      {str("kCGWindowIsOnscreen"), boolean(true)},
      {str("kCGWindowBounds"),
       dict({{str("X"), real(0)}, {str("Y"), real(25)}, {str("Width"), real(800)},
             {str("Height"), real(600.5)}})},
      {integer(5), str("a key that is not a string")},
      {str("kCGWindowSharingState"), other()},
  });
}

TEST(WindowList, EntriesKeepIntegersRealsAndBooleansApart) {
  PlistValue list = plist(array({windowEntry()}));
  const auto& entries = std::get<PlistArray>(list.v);
  ASSERT_EQ(entries.size(), 1u);
  const PlistValue& w = entries[0];
  EXPECT_EQ(std::get<std::int64_t>(plistLookup(w, "kCGWindowLayer")->v), 0);
  EXPECT_EQ(std::get<double>(plistLookup(w, "kCGWindowAlpha")->v), 1.0);
  EXPECT_EQ(std::get<std::string>(plistLookup(w, "kCGWindowName")->v), "Untitled");
  EXPECT_EQ(std::get<std::int64_t>(plistLookup(w, "kCGWindowOwnerPID")->v), 4242);
  EXPECT_EQ(std::get<std::int64_t>(plistLookup(w, "kCGWindowNumber")->v), 77);
  EXPECT_EQ(std::get<bool>(plistLookup(w, "kCGWindowIsOnscreen")->v), true);
  const PlistValue* bounds = plistLookup(w, "kCGWindowBounds");
  ASSERT_NE(bounds, nullptr);
  // Bounds are CGFloats: reals even when whole.
  EXPECT_EQ(std::get<double>(plistLookup(*bounds, "X")->v), 0.0);
  EXPECT_EQ(std::get<double>(plistLookup(*bounds, "Height")->v), 600.5);
  // A value of a kind the layer does not carry is present but empty; a non-string key is gone.
  EXPECT_TRUE(std::holds_alternative<std::monostate>(plistLookup(w, "kCGWindowSharingState")->v));
  EXPECT_EQ(std::get<PlistDict>(w.v).size(), 8u);
}

TEST(WindowList, LargeIntegersNestingAndNonListAnswers) {
  // An unsigned 64-bit number beyond the signed range becomes the nearest real.
  auto huge = std::make_shared<Fake>();
  huge->kind = CfKind::number;
  huge->number = NumberReading{cfnumber::sint64, std::nullopt, 1.8446744073709552e19};
  EXPECT_EQ(std::get<double>(plist(huge).v), 1.8446744073709552e19);

  // Nesting past the limit is cut off instead of recursing without end.
  FakeRef deep = str("bottom");
  for (int i = 0; i < kMaxPlistDepth + 5; ++i) deep = array({deep});
  const PlistValue* v = nullptr;
  PlistValue top = plist(deep);
  v = &top;
  int levels = 0;
  while (auto* a = std::get_if<PlistArray>(&v->v)) {
    ASSERT_EQ(a->size(), 1u);
    v = &(*a)[0];
    ++levels;
  }
  EXPECT_EQ(levels, kMaxPlistDepth + 1);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(v->v));

  // Elements and AX values have no property-list form.
  EXPECT_TRUE(std::holds_alternative<std::monostate>(plist(element()).v));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(plist(nullptr).v));
}

TEST(SetValues, EachLayerValueHasItsWrittenForm) {
  EXPECT_EQ(setKindOf(Value{std::string("x")}), SetKind::string);
  EXPECT_EQ(setKindOf(Value{booleanNumber(true)}), SetKind::boolean);
  EXPECT_EQ(setKindOf(Value{Number(5.0, false, true, 5)}), SetKind::integer);
  // An integer known only as a double is written as an integer while it is whole and in range.
  EXPECT_EQ(setKindOf(Value{Number(12.0, false, true)}), SetKind::integer);
  EXPECT_EQ(integerOf(Number(12.0, false, true)), 12);
  EXPECT_EQ(setKindOf(Value{Number(1.8446744073709552e19, false, true)}), SetKind::real);
  EXPECT_EQ(setKindOf(Value{Number(std::numeric_limits<double>::quiet_NaN(), false, true)}),
            SetKind::real);
  EXPECT_EQ(setKindOf(Value{Number(0.5)}), SetKind::real);
  EXPECT_EQ(setKindOf(Value{Range{1, 2}}), SetKind::range);
  EXPECT_EQ(setKindOf(Value{Point{}}), SetKind::point);
  EXPECT_EQ(setKindOf(Value{Size{}}), SetKind::size);
  EXPECT_EQ(setKindOf(Value{ElementList{}}), SetKind::elements);
  EXPECT_EQ(setKindOf(Value{NoValue{}}), SetKind::none);
  EXPECT_EQ(setKindOf(Value{OtherValue{"date"}}), SetKind::none);
}

}  // namespace
}  // namespace uiglean::macos
