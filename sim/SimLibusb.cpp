// The libusb 0.1 entry points of the simulator, with the real header's types
// and ABI, so that the unchanged program runs against simulated devices when
// this library is preloaded (or linked ahead of the real libusb).

#pragma GCC visibility push(default)
#include <usb.h>
#pragma GCC visibility pop

#include <cerrno>
#include <mutex>

#include "sim/SimWorld.h"

using vorn::sim::CSimWorld;

namespace {

std::unique_lock<std::mutex> Locked() { return std::unique_lock<std::mutex>(CSimWorld::Instance().Lock()); }

// A handle the simulator never gave out, or one already closed, is refused
// rather than followed.
bool CheckHandle(usb_dev_handle* handle, const char* call) {
  CSimWorld& world = CSimWorld::Instance();
  if (world.IsHandle(handle)) return true;
  world.Log().OutOfShape("?", std::string(call) + " on a handle that is not open");
  world.Fail(-EINVAL);
  return false;
}

}  // namespace

struct usb_bus* usb_busses = nullptr;

extern "C" {

void usb_init(void) {}

void usb_set_debug(int /*level*/) {}

int usb_find_busses(void) {
  auto lock = Locked();
  const int changes = CSimWorld::Instance().FindBusses();
  usb_busses = CSimWorld::Instance().Busses();
  return changes;
}

int usb_find_devices(void) {
  auto lock = Locked();
  return CSimWorld::Instance().FindDevices();
}

struct usb_bus* usb_get_busses(void) {
  auto lock = Locked();
  return CSimWorld::Instance().Busses();
}

usb_dev_handle* usb_open(struct usb_device* dev) {
  auto lock = Locked();
  return CSimWorld::Instance().Open(dev);
}

int usb_close(usb_dev_handle* dev) {
  auto lock = Locked();
  if (!CheckHandle(dev, "usb_close")) return -EINVAL;
  CSimWorld::Instance().Close(dev);
  return 0;
}

struct usb_device* usb_device(usb_dev_handle* dev) {
  auto lock = Locked();
  if (!CheckHandle(dev, "usb_device")) return nullptr;
  return dev->device->Record();
}

int usb_get_string_simple(usb_dev_handle* dev, int index, char* buf, size_t buflen) {
  auto lock = Locked();
  if (!CheckHandle(dev, "usb_get_string_simple")) return -EINVAL;
  return CSimWorld::Instance().Fail(dev->device->GetString(index, buf, buflen));
}

int usb_set_configuration(usb_dev_handle* dev, int configuration) {
  auto lock = Locked();
  if (!CheckHandle(dev, "usb_set_configuration")) return -EINVAL;
  return CSimWorld::Instance().Fail(dev->device->SetConfiguration(dev, configuration));
}

int usb_claim_interface(usb_dev_handle* dev, int interface) {
  auto lock = Locked();
  if (!CheckHandle(dev, "usb_claim_interface")) return -EINVAL;
  return CSimWorld::Instance().Fail(dev->device->Claim(dev, interface));
}

int usb_release_interface(usb_dev_handle* dev, int interface) {
  auto lock = Locked();
  if (!CheckHandle(dev, "usb_release_interface")) return -EINVAL;
  return CSimWorld::Instance().Fail(dev->device->Release(dev, interface));
}

int usb_set_altinterface(usb_dev_handle* dev, int alternate) {
  auto lock = Locked();
  if (!CheckHandle(dev, "usb_set_altinterface")) return -EINVAL;
  return CSimWorld::Instance().Fail(dev->device->SetAltSetting(dev, alternate));
}

int usb_control_msg(usb_dev_handle* dev, int requesttype, int request, int value, int index,
                    char* bytes, int size, int timeout) {
  auto lock = Locked();
  if (!CheckHandle(dev, "usb_control_msg")) return -EINVAL;
  return CSimWorld::Instance().Fail(
      dev->device->Control(dev, requesttype, request, value, index, bytes, size, timeout));
}

int usb_bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
  auto lock = Locked();
  if (!CheckHandle(dev, "usb_bulk_read")) return -EINVAL;
  return CSimWorld::Instance().Fail(dev->device->BulkRead(dev, ep, bytes, size, timeout));
}

int usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout) {
  auto lock = Locked();
  if (!CheckHandle(dev, "usb_bulk_write")) return -EINVAL;
  return CSimWorld::Instance().Fail(dev->device->BulkWrite(dev, ep, bytes, size, timeout));
}

char* usb_strerror(void) {
  auto lock = Locked();
  // libusb hands out a char* it keeps; callers only read it.
  return const_cast<char*>(CSimWorld::Instance().LastError());
}

// Calls the unit never needs. A program that makes them is told so in the log.
namespace {
int Unsupported(const char* call) {
  auto lock = Locked();
  CSimWorld::Instance().Log().OutOfShape("?", std::string(call) + " is not simulated");
  return CSimWorld::Instance().Fail(-ENOSYS);
}
}  // namespace

int usb_get_string(usb_dev_handle*, int, int, char*, size_t) { return Unsupported("usb_get_string"); }
int usb_get_descriptor_by_endpoint(usb_dev_handle*, int, unsigned char, unsigned char, void*, int) {
  return Unsupported("usb_get_descriptor_by_endpoint");
}
int usb_get_descriptor(usb_dev_handle*, unsigned char, unsigned char, void*, int) {
  return Unsupported("usb_get_descriptor");
}
int usb_interrupt_write(usb_dev_handle*, int, const char*, int, int) {
  return Unsupported("usb_interrupt_write");
}
int usb_interrupt_read(usb_dev_handle*, int, char*, int, int) { return Unsupported("usb_interrupt_read"); }
int usb_resetep(usb_dev_handle*, unsigned int) { return Unsupported("usb_resetep"); }
int usb_clear_halt(usb_dev_handle*, unsigned int) { return Unsupported("usb_clear_halt"); }
int usb_reset(usb_dev_handle*) { return Unsupported("usb_reset"); }
int usb_get_driver_np(usb_dev_handle*, int, char*, unsigned int) { return Unsupported("usb_get_driver_np"); }
int usb_detach_kernel_driver_np(usb_dev_handle*, int) {
  return Unsupported("usb_detach_kernel_driver_np");
}

}  // extern "C"
