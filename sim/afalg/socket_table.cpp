#include "afalg/socket_table.h"

#include <new>

namespace sim::afalg {

// Never destroyed: libc still writes (flushing its streams) after static destructors ran, and
// every write asks the table.
SocketTable& SocketTable::Instance() {
  alignas(SocketTable) static unsigned char storage[sizeof(SocketTable)];
  static SocketTable* const table = new (storage) SocketTable();
  return *table;
}

void SocketTable::Add(int fd, std::unique_ptr<AlgSocket> socket) {
  const std::lock_guard<std::recursive_mutex> guard(lock_);
  sockets_[fd] = std::move(socket);
}

bool SocketTable::With(int fd, const std::function<void(AlgSocket&)>& use) {
  const std::lock_guard<std::recursive_mutex> guard(lock_);
  const auto found = sockets_.find(fd);
  if (found == sockets_.end()) return false;
  use(*found->second);
  return true;
}

void SocketTable::Remove(int fd) {
  const std::lock_guard<std::recursive_mutex> guard(lock_);
  sockets_.erase(fd);
}

}  // namespace sim::afalg
