#include "platform/bus/bus_value.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/bus/bus_method_call.h"
#include "platform/bus/bus_names.h"
#include "platform/bus/bus_signal_match.h"

namespace vistrelle::bus {
namespace {

TEST(BusValue, SignaturesFollowTheValues) {
  struct Case {
    BusValue value;
    std::string signature;
  };
  const Case cases[] = {
      {BusValue(true), "b"},
      {BusValue::byte(1), "y"},
      {BusValue(int32_t{1}), "i"},
      {BusValue(uint32_t{1}), "u"},
      {BusValue(int64_t{1}), "x"},
      {BusValue(uint64_t{1}), "t"},
      {BusValue(0.5), "d"},
      {BusValue("text"), "s"},
      {BusValue(), "s"},
      {BusValue::objectPath("/a"), "o"},
      {BusValue::array("s", {}), "as"},
      {BusValue::dict("s", "v", {}), "a{sv}"},
      {BusValue::structOf({BusValue(int32_t{1}), BusValue::array("y", {})}), "(iay)"},
      {BusValue::variant(BusValue(true)), "v"},
      {BusValue::array("a{sv}", {BusValue::dict("s", "v", {})}), "aa{sv}"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value.signature(), c.signature);
    EXPECT_FALSE(c.value.invalidReason()) << c.signature << ": " << *c.value.invalidReason();
  }
  EXPECT_EQ(signatureOf({BusValue("a"), BusValue("b"), BusValue(uint32_t{3})}), "ssu");
}

TEST(BusValue, ValuesThatCannotBeSentSayWhy) {
  const BusValue cases[] = {
      BusValue::array("s", {BusValue(int32_t{1})}),
      BusValue::array("", {}),
      BusValue::array("ss", {}),
      BusValue::dict("v", "s", {}),
      BusValue::dict("s", "v", {{BusValue("k"), BusValue("not boxed")}}),
      BusValue::structOf({}),
      BusValue::objectPath("relative/path"),
      BusValue::objectPath("/trailing/"),
      BusValue(std::string("nul\0inside", 10)),
      BusValue("\xc3\x28"),
      BusValue::unixFd(dispatch::UniqueFd()),
      BusValue::variant(BusValue::array("i", {BusValue("nested bad")})),
  };
  for (const BusValue& value : cases) EXPECT_TRUE(value.invalidReason()) << value.signature();
}

TEST(BusValue, ReadsAreStrictAndVariantsUnbox) {
  const BusValue number(uint32_t{7});
  EXPECT_EQ(number.asUInt32(), 7u);
  EXPECT_FALSE(number.asInt32());
  EXPECT_FALSE(number.asBool());
  EXPECT_EQ(number.asString(), nullptr);
  const BusValue boxed = BusValue::variant(BusValue(true));
  EXPECT_FALSE(boxed.asBool());
  EXPECT_EQ(boxed.unboxed().asBool(), true);
  EXPECT_EQ(number.unboxed(), number);
  EXPECT_NE(BusValue(int32_t{1}), BusValue(uint32_t{1}));
  EXPECT_EQ(BusValue::variant(BusValue("a")), BusValue::variant(BusValue("a")));
}

TEST(BusValue, AnFdIsSharedByCopiesAndClosedWithTheLast) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  dispatch::UniqueFd reader(fds[0]);
  std::optional<BusValue> value = BusValue::unixFd(dispatch::UniqueFd(fds[1]));
  std::optional<BusValue> copy = *value;
  EXPECT_EQ(copy->asFd(), fds[1]);
  dispatch::UniqueFd own = value->duplicateFd();
  ASSERT_TRUE(own.valid());
  EXPECT_NE(own.get(), fds[1]);
  value.reset();
  EXPECT_NE(fcntl(fds[1], F_GETFD), -1);  // the copy still holds it
  copy.reset();
  own.reset();
  ASSERT_EQ(fcntl(reader.get(), F_SETFL, O_NONBLOCK), 0);
  char byte;
  EXPECT_EQ(read(reader.get(), &byte, 1), 0);  // every writer closed
  EXPECT_EQ(BusValue(true).asFd(), -1);
  EXPECT_FALSE(BusValue(true).duplicateFd().valid());
}

TEST(BusValue, SignatureParsing) {
  for (const char* good : {"b", "as", "a{sv}", "(iiay)", "aa{s(ii)}", "v", "a(sa{sv})"})
    EXPECT_TRUE(BusValue::isSingleCompleteType(good)) << good;
  for (const char* bad : {"", "ss", "a", "a{vs}", "()", "(i", "{sv}", "a{s}", "a{svv}", "z", "n"})
    EXPECT_FALSE(BusValue::isSingleCompleteType(bad)) << bad;
  EXPECT_FALSE(BusValue::isSingleCompleteType(std::string(100000, 'a') + "i"));
}

TEST(BusNames, FollowTheDbusRules) {
  EXPECT_TRUE(isValidObjectPath("/"));
  EXPECT_TRUE(isValidObjectPath("/org/freedesktop/login1/session/_31"));
  for (const char* bad : {"", "org", "//", "/a//b", "/a/", "/a-b", "/a.b"})
    EXPECT_FALSE(isValidObjectPath(bad)) << bad;

  EXPECT_TRUE(isValidInterfaceName("org.freedesktop.login1.Session"));
  for (const char* bad : {"", "org", "org.", ".org", "org..a", "org.1a", "org.a-b"})
    EXPECT_FALSE(isValidInterfaceName(bad)) << bad;
  EXPECT_FALSE(isValidInterfaceName("a." + std::string(300, 'b')));

  EXPECT_TRUE(isValidMemberName("SetBrightness"));
  EXPECT_TRUE(isValidMemberName("_x1"));
  for (const char* bad : {"", "1a", "a.b", "a-b"}) EXPECT_FALSE(isValidMemberName(bad)) << bad;

  for (const char* good : {"org.freedesktop.login1", ":1.42", "org.kde.StatusNotifierItem-12-1"})
    EXPECT_TRUE(isValidBusName(good)) << good;
  for (const char* bad : {"", ":", "org", "org.1a", ":1", "org..x"})
    EXPECT_FALSE(isValidBusName(bad)) << bad;

  EXPECT_TRUE(isValidUtf8Text("眼镜 ok"));
  EXPECT_TRUE(isValidUtf8Text("\xf0\x9f\x98\x80"));
  for (const char* bad : {"\xff", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe6\x9c"})
    EXPECT_FALSE(isValidUtf8Text(bad)) << bad;
}

TEST(BusCallsAndMatches, AreCheckedBeforeSending) {
  BusMethodCall call{"org.freedesktop.login1",
                     "/org/freedesktop/login1",
                     "org.freedesktop.login1.Manager",
                     "Inhibit",
                     {BusValue("sleep")}};
  EXPECT_FALSE(call.invalidReason());
  BusMethodCall noTime = call;
  noTime.timeout = std::chrono::milliseconds(0);
  EXPECT_TRUE(noTime.invalidReason());
  BusMethodCall badArg = call;
  badArg.args = {BusValue::objectPath("x")};
  EXPECT_TRUE(badArg.invalidReason());

  const BusSignalMatch match{"org.freedesktop.login1", "/org/freedesktop/login1",
                             "org.freedesktop.login1.Manager", "PrepareForSleep"};
  EXPECT_EQ(match.rule(),
            "type='signal',sender='org.freedesktop.login1',path='/org/freedesktop/login1',"
            "interface='org.freedesktop.login1.Manager',member='PrepareForSleep'");
  EXPECT_EQ(BusSignalMatch{}.rule(), "type='signal'");
  EXPECT_TRUE((BusSignalMatch{"", "/", "x", ""}.invalidReason()));
  EXPECT_TRUE((BusSignalMatch{"org.x',eavesdrop='true", "", "", ""}.invalidReason()));
}

}  // namespace
}  // namespace vistrelle::bus
