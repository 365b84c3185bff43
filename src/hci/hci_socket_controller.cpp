#include "hci/hci_socket_controller.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <bluetooth/hci_lib.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

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

HciController::VendorAnswer HciSocketController::SendVendorCommand(std::uint16_t ocf,
                                                                   const std::vector<std::uint8_t>& parameters,
                                                                   std::size_t answer_size,
                                                                   std::chrono::milliseconds wait) {
  const int device = ::hci_get_route(nullptr);
  const Socket hci(device < 0 ? -1 : ::hci_open_dev(device));
  if (!hci.IsOpen()) return {VendorStatus::open_failed, {}};

  hci_filter filter{};
  hci_filter_clear(&filter);
  hci_filter_set_ptype(HCI_EVENT_PKT, &filter);
  hci_filter_all_events(&filter);
  if (::setsockopt(hci.Get(), SOL_HCI, HCI_FILTER, &filter, sizeof(filter)) < 0) return {VendorStatus::filter_failed, {}};

  std::vector<std::uint8_t> block(parameters);
  if (::hci_send_cmd(hci.Get(), 0x3F, ocf, static_cast<std::uint8_t>(block.size()), block.data()) < 0) {
    return {VendorStatus::send_failed, {}};
  }

  // Events of other lengths (status events, unrelated traffic) are passed over until the
  // answer comes or the wait is over.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::array<std::uint8_t, HCI_MAX_EVENT_SIZE> buffer{};
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {VendorStatus::timed_out, {}};
    pollfd readable{hci.Get(), POLLIN, 0};
    const int ready = ::poll(&readable, 1, static_cast<int>(left.count()));
    if (ready < 0) return {VendorStatus::read_failed, {}};
    if (ready == 0) continue;
    const ssize_t length = ::read(hci.Get(), buffer.data(), buffer.size());
    if (length < 0) return {VendorStatus::read_failed, {}};
    if (static_cast<std::size_t>(length) == answer_size) {
      return {VendorStatus::ok, std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + length)};
    }
  }
}
