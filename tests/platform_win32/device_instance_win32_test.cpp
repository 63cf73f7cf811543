#include "platform/win32/device_instance_win32.h"

#include <gtest/gtest.h>

namespace tarnwick::win32 {
namespace {

TEST(DeviceInstanceTest, InterfacePathGivesTheInstanceOfItsDeviceInUpperCase) {
  struct Case {
    const char* path;
    const char* instance;
  };
  const Case cases[] = {
      {"\\\\?\\USBSTOR#Disk&Ven_HALDREN&Prod_X#7&2a1b&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
       "USBSTOR\\DISK&VEN_HALDREN&PROD_X\\7&2A1B&0"},
      // A device with a serial number of its own.
      {"\\\\?\\usbstor#disk&ven_x&prod_y&rev_1.00#0123abc&0#{53f56307}",
       "USBSTOR\\DISK&VEN_X&PROD_Y&REV_1.00\\0123ABC&0"},
      {"\\\\?\\SCSI#Disk&Ven_ATA#4&1#{53f56307}", "SCSI\\DISK&VEN_ATA\\4&1"},
      // Not an interface path.
      {"E: F:", ""},
      {"\\\\.\\PhysicalDrive5", ""},
      {"\\\\?\\USBSTOR#Disk#1", ""},
      {"\\\\?\\#{53f56307}", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DeviceInstanceOfInterfacePath(c.path), c.instance) << c.path;
  }
}

}  // namespace
}  // namespace tarnwick::win32
