#include "app/hci_socket_controller.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Owns a socket descriptor for the length of one request.
class Socket {
 public:
  explicit Socket(int descriptor) : descriptor_(descriptor) {}
  ~Socket() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int Get() const { return descriptor_; }
  bool IsOpen() const { return descriptor_ >= 0; }

 private:
  int descriptor_;
};

}  // namespace

HciController::Reading HciSocketController::ReadCommandCount(int device) {
  const Socket hci(::socket(AF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC, BTPROTO_HCI));
  if (!hci.IsOpen()) return {Status::socket_failed, 0};
  hci_dev_info info{};
  info.dev_id = static_cast<std::uint16_t>(device);
  if (::ioctl(hci.Get(), HCIGETDEVINFO, static_cast<void*>(&info)) != 0) return {Status::info_failed, 0};
  return {Status::ok, info.stat.cmd_tx};
}
