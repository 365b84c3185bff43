#include "ubusd/broker.h"

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

namespace sim::ubusd {

namespace {

constexpr std::size_t kMaxBacklog = 1048576;

std::string UserName(uid_t uid) {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) return found->pw_name;
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  group entry{};
  group* found = nullptr;
  char buffer[4096];
  if (::getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) return found->gr_name;
  return std::to_string(gid);
}

}  // namespace

Broker::Broker(std::string socket_path) : socket_path_(std::move(socket_path)), random_(std::random_device{}()) {}

Broker::~Broker() {
  for (auto& [id, client] : clients_) ::close(client.fd);
  if (listen_fd_ >= 0) {
    ::close(listen_fd_);
    ::unlink(socket_path_.c_str());
  }
  if (signal_fd_ >= 0) ::close(signal_fd_);
}

bool Broker::Listen() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path_.size() >= sizeof(address.sun_path)) {
    errno = ENAMETOOLONG;
    return false;
  }
  // Bound and listening under a temporary name first, then renamed into place, so the
  // socket never appears before it accepts connections.
  const std::string staging = socket_path_ + ".new";
  if (staging.size() >= sizeof(address.sun_path)) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(address.sun_path, staging.c_str(), staging.size() + 1);
  std::error_code ignored;
  const auto directory = std::filesystem::path(socket_path_).parent_path();
  if (!directory.empty()) std::filesystem::create_directories(directory, ignored);
  ::unlink(staging.c_str());
  listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listen_fd_ < 0) return false;
  if (::bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return false;
  ::chmod(staging.c_str(), 0666);
  if (::listen(listen_fd_, 64) != 0) return false;
  if (::rename(staging.c_str(), socket_path_.c_str()) != 0) return false;
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  signal_fd_ = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  return true;
}

void Broker::Run() {
  for (;;) {
    std::vector<pollfd> entries{{listen_fd_, POLLIN, 0}, {signal_fd_, POLLIN, 0}};
    std::vector<std::uint32_t> owners{0, 0};
    for (const auto& [id, client] : clients_) {
      entries.push_back({client.fd, static_cast<short>(POLLIN | (client.output.empty() ? 0 : POLLOUT)), 0});
      owners.push_back(id);
    }
    if (::poll(entries.data(), entries.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (entries[1].revents & POLLIN) return;
    if (entries[0].revents & POLLIN) Accept();
    for (std::size_t index = 2; index < entries.size(); ++index) {
      const auto found = clients_.find(owners[index]);
      if (found == clients_.end()) continue;
      if (entries[index].revents & POLLOUT) Flush(found->second);
      if (entries[index].revents & (POLLIN | POLLHUP | POLLERR)) ReadFrom(owners[index]);
    }
  }
}

void Broker::Accept() {
  for (;;) {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    Client client;
    client.fd = fd;
    client.id = NewId(ClientIds());
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0) {
      client.user = UserName(credentials.uid);
      client.group = GroupName(credentials.gid);
    }
    const std::uint32_t id = client.id;
    clients_.emplace(id, std::move(client));
    // The 12-byte HELLO goes out in one write on the fresh socket.
    Send(id, ipc::Message(ipc::MessageType::kHello, 0, id));
  }
}

void Broker::ReadFrom(std::uint32_t client_id) {
  Client& client = clients_.at(client_id);
  std::uint8_t chunk[65536];
  bool closed = false;
  for (;;) {
    const ssize_t got = ::recv(client.fd, chunk, sizeof chunk, 0);
    if (got > 0) {
      client.input.insert(client.input.end(), chunk, chunk + got);
      if (client.input.size() > ipc::kMaxBodySize + 2 * ipc::kHeadAndBodyHead + sizeof chunk) break;
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    closed = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    break;
  }
  std::size_t offset = 0;
  while (client.input.size() - offset >= ipc::kHeadAndBodyHead) {
    const auto body = ipc::AnnouncedBodySize(client.input.data() + offset);
    if (!body) return Drop(client_id, "announced an impossible body length");
    const std::size_t total = ipc::kHeaderSize + *body;
    if (client.input.size() - offset < total) break;
    std::string error;
    const auto message = ipc::Decode(client.input.data() + offset, total, error);
    if (!message) return Drop(client_id, error);
    offset += total;
    Handle(client, *message);
    if (clients_.find(client_id) == clients_.end()) return;
  }
  client.input.erase(client.input.begin(), client.input.begin() + static_cast<std::ptrdiff_t>(offset));
  if (closed) Drop(client_id, "closed");
}

void Broker::Send(std::uint32_t client_id, const ipc::Message& message) {
  const auto found = clients_.find(client_id);
  if (found == clients_.end()) return;
  Client& client = found->second;
  ipc::blob::Bytes bytes = ipc::Encode(message);
  if (client.backlog + bytes.size() > kMaxBacklog) {
    std::cerr << "ubusd: output queue of client " << client_id << " is full, message dropped\n";
    return;
  }
  client.backlog += bytes.size();
  client.output.push_back(std::move(bytes));
  if (client.output.size() == 1) Flush(client);
}

void Broker::Flush(Client& client) {
  while (!client.output.empty()) {
    const auto& front = client.output.front();
    const ssize_t sent = ::send(client.fd, front.data() + client.output_offset, front.size() - client.output_offset,
                                MSG_NOSIGNAL);
    if (sent < 0) return;  // full (retried on POLLOUT) or broken (noticed by the next read)
    client.output_offset += static_cast<std::size_t>(sent);
    if (client.output_offset < front.size()) return;
    client.backlog -= front.size();
    client.output.pop_front();
    client.output_offset = 0;
  }
}

void Broker::Drop(std::uint32_t client_id, const std::string& reason) {
  const auto found = clients_.find(client_id);
  if (found == clients_.end()) return;
  if (reason != "closed") std::cerr << "ubusd: dropping client " << client_id << ": " << reason << "\n";
  ::close(found->second.fd);
  clients_.erase(found);
  std::vector<std::uint32_t> owned;
  for (const auto& [id, object] : objects_) {
    if (object.owner == client_id) owned.push_back(id);
  }
  for (const auto id : owned) RemoveObject(id);
  FailForwardedCalls(client_id, false);
  forwarded_.erase(std::remove_if(forwarded_.begin(), forwarded_.end(),
                                  [&](const ForwardedCall& call) { return call.caller == client_id; }),
                   forwarded_.end());
}

void Broker::SendStatus(const Client& client, const ipc::Message& request, int status) {
  ipc::Message answer(ipc::MessageType::kStatus, request.seq, request.peer);
  answer.AddU32(ipc::AttributeId::kStatus, static_cast<std::uint32_t>(status));
  Send(client.id, answer);
}

std::uint32_t Broker::NewId(const std::set<std::uint32_t>& used) {
  for (;;) {
    const std::uint32_t id = random_();
    if (id >= 1024 && used.count(id) == 0) return id;
  }
}

std::set<std::uint32_t> Broker::ClientIds() const {
  std::set<std::uint32_t> ids;
  for (const auto& entry : clients_) ids.insert(entry.first);
  return ids;
}

std::set<std::uint32_t> Broker::ObjectIds() const {
  std::set<std::uint32_t> ids;
  for (const auto& entry : objects_) ids.insert(entry.first);
  return ids;
}

std::set<std::uint32_t> Broker::TypeIds() const {
  std::set<std::uint32_t> ids;
  for (const auto& entry : types_) ids.insert(entry.first);
  return ids;
}

}  // namespace sim::ubusd
