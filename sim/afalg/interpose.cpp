// The socket calls of libc, wrapped for AF_ALG: a process that loads this library (with
// LD_PRELOAD) gets working AF_ALG sockets on a kernel without them, computed with OpenSSL.
// Every other descriptor and address family goes straight to libc.

#include <dlfcn.h>
#include <linux/if_alg.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "afalg/socket_table.h"

using sim::afalg::AlgControl;
using sim::afalg::AlgSocket;
using sim::afalg::Bytes;
using sim::afalg::SocketTable;

namespace {

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// libc's own function, looked up once.
#define LIBC(name) (*[] { static const auto next = Next<decltype(&::name)>(#name); return next; }())

// A result of the emulation (a count or -errno) as libc returns it.
ssize_t Result(ssize_t value) {
  if (value >= 0) return value;
  errno = static_cast<int>(-value);
  return -1;
}

int EventDescriptor(int socket_flags) {
  int flags = 0;
  if ((socket_flags & SOCK_CLOEXEC) != 0) flags |= EFD_CLOEXEC;
  if ((socket_flags & SOCK_NONBLOCK) != 0) flags |= EFD_NONBLOCK;
  return eventfd(0, flags);
}

// The SOL_ALG control messages of `message`; false when one is malformed.
bool ParseControl(const msghdr& message, AlgControl& control) {
  for (const cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(const_cast<msghdr*>(&message), const_cast<cmsghdr*>(header))) {
    if (header->cmsg_level != SOL_ALG) continue;
    const std::size_t size = header->cmsg_len - CMSG_LEN(0);
    const auto* data = CMSG_DATA(header);
    control.present = true;
    switch (header->cmsg_type) {
      case ALG_SET_OP:
        if (size < sizeof(std::uint32_t)) return false;
        std::memcpy(&control.operation, data, sizeof(std::uint32_t));
        break;
      case ALG_SET_AEAD_ASSOCLEN:
        if (size < sizeof(std::uint32_t)) return false;
        std::memcpy(&control.assoc_length, data, sizeof(std::uint32_t));
        break;
      case ALG_SET_IV: {
        std::uint32_t length = 0;
        if (size < sizeof length) return false;
        std::memcpy(&length, data, sizeof length);
        if (size < sizeof length + length) return false;
        control.iv = Bytes(data + sizeof length, data + sizeof length + length);
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

Bytes Gather(const iovec* vectors, std::size_t count) {
  Bytes data;
  for (std::size_t index = 0; index < count; ++index) {
    const auto* base = static_cast<const std::uint8_t*>(vectors[index].iov_base);
    data.insert(data.end(), base, base + vectors[index].iov_len);
  }
  return data;
}

ssize_t Scatter(AlgSocket& socket, const iovec* vectors, std::size_t count) {
  std::size_t total = 0;
  for (std::size_t index = 0; index < count; ++index) total += vectors[index].iov_len;
  Bytes buffer(total);
  const ssize_t received = socket.Receive(buffer.data(), buffer.size());
  if (received < 0) return received;
  std::size_t offset = 0;
  for (std::size_t index = 0; index < count && offset < static_cast<std::size_t>(received); ++index) {
    const std::size_t part = std::min(vectors[index].iov_len, static_cast<std::size_t>(received) - offset);
    std::memcpy(vectors[index].iov_base, buffer.data() + offset, part);
    offset += part;
  }
  return received;
}

bool SendData(int fd, const void* buffer, std::size_t size, int flags, ssize_t& result) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  return SocketTable::Instance().With(fd, [&](AlgSocket& socket) {
    result = Result(socket.Send(AlgControl{}, Bytes(bytes, bytes + size), (flags & MSG_MORE) != 0));
  });
}

bool ReceiveData(int fd, void* buffer, std::size_t size, ssize_t& result) {
  return SocketTable::Instance().With(fd, [&](AlgSocket& socket) {
    result = Result(socket.Receive(static_cast<std::uint8_t*>(buffer), size));
  });
}

int AcceptAlg(int fd, int flags, bool& handled) {
  int result = -1;
  handled = SocketTable::Instance().With(fd, [&](AlgSocket& socket) {
    std::unique_ptr<AlgSocket> made;
    const int error = socket.Accept(made);
    if (error < 0) {
      errno = -error;
      return;
    }
    result = EventDescriptor(flags);
    if (result >= 0) SocketTable::Instance().Add(result, std::move(made));
  });
  return result;
}

}  // namespace

#define EXPORTED __attribute__((visibility("default")))

extern "C" {

EXPORTED int socket(int domain, int type, int protocol) {
  if (domain != AF_ALG) return LIBC(socket)(domain, type, protocol);
  if ((type & ~(SOCK_CLOEXEC | SOCK_NONBLOCK)) != SOCK_SEQPACKET) return static_cast<int>(Result(-ESOCKTNOSUPPORT));
  if (protocol != 0) return static_cast<int>(Result(-EPROTONOSUPPORT));
  const int fd = EventDescriptor(type);
  if (fd >= 0) SocketTable::Instance().Add(fd, std::make_unique<AlgSocket>());
  return fd;
}

EXPORTED int bind(int fd, const sockaddr* address, socklen_t length) {
  int result = 0;
  const bool handled = SocketTable::Instance().With(fd, [&](AlgSocket& socket) {
    if (address == nullptr || length < sizeof(sockaddr_alg) || address->sa_family != AF_ALG) {
      result = static_cast<int>(Result(-EINVAL));
      return;
    }
    sockaddr_alg alg{};
    std::memcpy(&alg, address, sizeof alg);
    const std::string type(reinterpret_cast<const char*>(alg.salg_type), strnlen(reinterpret_cast<const char*>(alg.salg_type), sizeof alg.salg_type));
    const std::string name(reinterpret_cast<const char*>(alg.salg_name), strnlen(reinterpret_cast<const char*>(alg.salg_name), sizeof alg.salg_name));
    result = static_cast<int>(Result(socket.Bind(type, name)));
  });
  return handled ? result : LIBC(bind)(fd, address, length);
}

EXPORTED int setsockopt(int fd, int level, int name, const void* value, socklen_t length) {
  int result = 0;
  const bool handled = SocketTable::Instance().With(fd, [&](AlgSocket& socket) {
    if (level != SOL_ALG) {
      result = static_cast<int>(Result(-ENOPROTOOPT));
    } else if (name == ALG_SET_KEY) {
      const auto* bytes = static_cast<const std::uint8_t*>(value);
      result = static_cast<int>(Result(value == nullptr ? -EINVAL : socket.SetKey(Bytes(bytes, bytes + length))));
    } else if (name == ALG_SET_AEAD_AUTHSIZE) {
      result = static_cast<int>(Result(socket.SetAuthSize(length)));
    } else {
      result = static_cast<int>(Result(-ENOPROTOOPT));
    }
  });
  return handled ? result : LIBC(setsockopt)(fd, level, name, value, length);
}

EXPORTED int accept4(int fd, sockaddr* address, socklen_t* length, int flags) {
  bool handled = false;
  const int result = AcceptAlg(fd, flags, handled);
  return handled ? result : LIBC(accept4)(fd, address, length, flags);
}

EXPORTED int accept(int fd, sockaddr* address, socklen_t* length) {
  bool handled = false;
  const int result = AcceptAlg(fd, 0, handled);
  return handled ? result : LIBC(accept)(fd, address, length);
}

EXPORTED ssize_t sendmsg(int fd, const msghdr* message, int flags) {
  ssize_t result = 0;
  const bool handled = SocketTable::Instance().With(fd, [&](AlgSocket& socket) {
    AlgControl control;
    if (!ParseControl(*message, control)) {
      result = Result(-EINVAL);
      return;
    }
    const Bytes data = Gather(message->msg_iov, message->msg_iovlen);
    result = Result(socket.Send(control, data, (flags & MSG_MORE) != 0));
  });
  return handled ? result : LIBC(sendmsg)(fd, message, flags);
}

EXPORTED ssize_t send(int fd, const void* buffer, size_t size, int flags) {
  ssize_t result = 0;
  return SendData(fd, buffer, size, flags, result) ? result : LIBC(send)(fd, buffer, size, flags);
}

EXPORTED ssize_t sendto(int fd, const void* buffer, size_t size, int flags, const sockaddr* address, socklen_t length) {
  ssize_t result = 0;
  return SendData(fd, buffer, size, flags, result) ? result : LIBC(sendto)(fd, buffer, size, flags, address, length);
}

EXPORTED ssize_t write(int fd, const void* buffer, size_t size) {
  ssize_t result = 0;
  return SendData(fd, buffer, size, 0, result) ? result : LIBC(write)(fd, buffer, size);
}

EXPORTED ssize_t read(int fd, void* buffer, size_t size) {
  ssize_t result = 0;
  return ReceiveData(fd, buffer, size, result) ? result : LIBC(read)(fd, buffer, size);
}

EXPORTED ssize_t recv(int fd, void* buffer, size_t size, int flags) {
  ssize_t result = 0;
  return ReceiveData(fd, buffer, size, result) ? result : LIBC(recv)(fd, buffer, size, flags);
}

EXPORTED ssize_t recvfrom(int fd, void* buffer, size_t size, int flags, sockaddr* address, socklen_t* length) {
  ssize_t result = 0;
  return ReceiveData(fd, buffer, size, result) ? result : LIBC(recvfrom)(fd, buffer, size, flags, address, length);
}

EXPORTED ssize_t readv(int fd, const iovec* vectors, int count) {
  ssize_t result = 0;
  const bool handled = SocketTable::Instance().With(
      fd, [&](AlgSocket& socket) { result = Result(Scatter(socket, vectors, static_cast<std::size_t>(count))); });
  return handled ? result : LIBC(readv)(fd, vectors, count);
}

EXPORTED ssize_t recvmsg(int fd, msghdr* message, int flags) {
  ssize_t result = 0;
  const bool handled = SocketTable::Instance().With(fd, [&](AlgSocket& socket) {
    result = Result(Scatter(socket, message->msg_iov, message->msg_iovlen));
    message->msg_controllen = 0;
    message->msg_flags = 0;
  });
  return handled ? result : LIBC(recvmsg)(fd, message, flags);
}

EXPORTED int close(int fd) {
  SocketTable::Instance().Remove(fd);
  return LIBC(close)(fd);
}

}  // extern "C"
