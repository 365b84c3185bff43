#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "afalg/alg_socket.h"

namespace sim::afalg {

// The emulated AF_ALG sockets of the process, by descriptor. Each is backed by a real
// descriptor (an eventfd), so the number is the process's own and close and poll work on it.
// The lock is recursive: OpenSSL, called inside it, may read files through the wrapped calls.
class SocketTable {
 public:
  static SocketTable& Instance();

  void Add(int fd, std::unique_ptr<AlgSocket> socket);
  // Runs `use` on the socket of `fd` under the lock; false when `fd` is not an AF_ALG socket.
  bool With(int fd, const std::function<void(AlgSocket&)>& use);
  void Remove(int fd);

 private:
  SocketTable() = default;

  std::recursive_mutex lock_;
  std::map<int, std::unique_ptr<AlgSocket>> sockets_;
};

}  // namespace sim::afalg
