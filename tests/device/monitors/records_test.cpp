#include <gtest/gtest.h>

#include <unordered_set>

#include "device/monitors/serial_device.h"
#include "device/monitors/usb_device.h"
#include "device/monitors/usb_request_type.h"

namespace vistrelle {
namespace {

TEST(UsbRequestType, PacksDirectionTypeAndRecipient) {
  struct Case {
    unsigned direction, type, recipient;
    uint8_t expected;
  };
  const Case cases[] = {
      {0, 0, 0, 0x00},  // standard, host to device, device
      {1, 0, 0, 0x80},  // standard GET_DESCRIPTOR
      {0, 1, 1, 0x21},  // class, interface (HID SET_REPORT)
      {1, 1, 1, 0xA1},  // class, interface (HID GET_REPORT)
      {1, 2, 3, 0xC3},  // vendor, other
      {0, 2, 2, 0x42},  // vendor, endpoint
      {1, 3, 31, 0xFF},
      // Values wider than their fields are cut to them.
      {2, 4, 32, 0x00},
      {3, 7, 63, 0xFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(makeRequestType(c.direction, c.type, c.recipient), c.expected)
        << c.direction << " " << c.type << " " << c.recipient;
  }
}

TEST(UsbDeviceRecord, TravelsThroughItsNotificationForm) {
  USBDevice device;
  device.id = 0xFFFF'0000'0000'0001ull;  // the top bit survives the signed value
  device.vendorId = 0xFFFF;
  device.productId = 0x3F00;
  device.name = "Orvex";
  Value value = device.toValue(42);
  std::optional<USBDevice> back = USBDevice::fromValue(value);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->id, device.id);
  EXPECT_EQ(back->vendorId, 0xFFFF);
  EXPECT_EQ(back->productId, 0x3F00);
  EXPECT_EQ(back->name, "Orvex");
  EXPECT_EQ(USBDevice::handleTokenOf(value), 42u);
  EXPECT_FALSE(USBDevice::handleTokenOf(device.toValue(std::nullopt)).has_value());

  Value::Map broken = *value.asMap();
  broken["vendorId"] = Value(0x10000);
  EXPECT_FALSE(USBDevice::fromValue(Value(broken)).has_value());
  broken = *value.asMap();
  broken.erase("id");
  EXPECT_FALSE(USBDevice::fromValue(Value(broken)).has_value());
  EXPECT_FALSE(USBDevice::fromValue(Value("device")).has_value());
}

TEST(UsbDeviceRecord, NameIsCutTo127BytesOnACharacterBoundary) {
  EXPECT_EQ(USBDevice::truncatedName(std::string(127, 'a')), std::string(127, 'a'));
  EXPECT_EQ(USBDevice::truncatedName(std::string(200, 'a')), std::string(127, 'a'));
  // "é" is two bytes; 126 ASCII bytes then "é" would straddle the limit.
  std::string name = std::string(126, 'a') + "\xC3\xA9" + "b";
  EXPECT_EQ(USBDevice::truncatedName(name), std::string(126, 'a'));
  // A three-byte character ending exactly at byte 127 is kept whole.
  std::string fits = std::string(124, 'a') + "\xE7\x9C\xBC" + "x";
  EXPECT_EQ(USBDevice::truncatedName(fits), std::string(124, 'a') + "\xE7\x9C\xBC");
}

TEST(SerialDeviceRecord, IsTheSamePortWhenThePathIsTheSame) {
  SerialDevice a{"/dev/ttyUSB0", "FT232R", "FTDI", "A1", 0x0403, 0x6001};
  SerialDevice b{"/dev/ttyUSB0", std::nullopt, std::nullopt, std::nullopt, std::nullopt, 7};
  SerialDevice c{"/dev/ttyUSB1", "FT232R", "FTDI", "A1", 0x0403, 0x6001};
  EXPECT_EQ(a, b);
  EXPECT_FALSE(a.sameFields(b));
  EXPECT_NE(a, c);
  EXPECT_EQ(std::hash<SerialDevice>{}(a), std::hash<SerialDevice>{}(b));
  std::unordered_set<SerialDevice> set{a, b, c};
  EXPECT_EQ(set.size(), 2u);
}

TEST(SerialDeviceRecord, NotificationFormCarriesOnlyTheFieldsThatAreSet) {
  SerialDevice full{"/dev/ttyACM0", "Orvex", "Quarnel", "0001", 0x3318, 0x0424};
  Value value = full.toValue();
  EXPECT_EQ(value["path"].stringOr(""), "/dev/ttyACM0");
  EXPECT_EQ(value["vendorName"].stringOr(""), "Quarnel");
  EXPECT_EQ(value["productId"].asInt(), 0x0424);
  std::optional<SerialDevice> back = SerialDevice::fromValue(value);
  ASSERT_TRUE(back.has_value());
  EXPECT_TRUE(back->sameFields(full));

  SerialDevice bare{"/dev/ttyS0", {}, {}, {}, {}, {}};
  Value bareValue = bare.toValue();
  EXPECT_EQ(bareValue.asMap()->size(), 1u);
  back = SerialDevice::fromValue(bareValue);
  ASSERT_TRUE(back.has_value());
  EXPECT_TRUE(back->sameFields(bare));
  EXPECT_FALSE(SerialDevice::fromValue(Value(Value::Map{{"name", "x"}})).has_value());
}

}  // namespace
}  // namespace vistrelle
