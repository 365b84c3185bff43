#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ipc/blob.h"
#include "ipc/bus_defaults.h"
#include "ipc/message.h"

namespace sim::ubusd {

// The bus broker: accepts clients on a Unix socket, answers lookups and object
// registrations, routes calls between clients and delivers events, speaking the same
// wire protocol as OpenWrt's ubusd. Single-threaded; every client has its own output
// queue, so a slow client never blocks the others.
class Broker {
 public:
  explicit Broker(std::string socket_path = ipc::kDefaultSocket);
  ~Broker();
  Broker(const Broker&) = delete;
  Broker& operator=(const Broker&) = delete;

  // Creates the socket (and its directory), removing a stale one. False with errno set.
  bool Listen();
  // Serves until SIGTERM or SIGINT arrives (they must be blocked by the caller).
  void Run();

 private:
  struct Client {
    int fd = -1;
    std::uint32_t id = 0;
    std::string user;
    std::string group;
    ipc::blob::Bytes input;
    std::deque<ipc::blob::Bytes> output;
    std::size_t output_offset = 0;
    std::size_t backlog = 0;
  };
  struct Object {
    std::uint32_t owner = 0;
    std::string path;
    std::uint32_t type = 0;  // 0: no type, never listed
  };
  struct ObjectType {
    ipc::blob::Bytes signature;
    int objects = 0;
  };
  struct Registration {
    std::string prefix;  // the pattern without a final '*'
    bool wildcard = false;
    std::uint32_t object = 0;
    std::uint64_t order = 0;
  };
  struct ForwardedCall {
    std::uint32_t caller = 0;
    std::uint16_t seq = 0;
    std::uint32_t object = 0;
    std::uint32_t provider = 0;
  };

  void Accept();
  void ReadFrom(std::uint32_t client_id);
  void Flush(Client& client);
  void Drop(std::uint32_t client_id, const std::string& reason);
  void Send(std::uint32_t client_id, const ipc::Message& message);
  void SendStatus(const Client& client, const ipc::Message& request, int status);

  void Handle(Client& client, const ipc::Message& message);
  void HandleLookup(Client& client, const ipc::Message& message);
  void HandleAddObject(Client& client, const ipc::Message& message);
  void HandleRemoveObject(Client& client, const ipc::Message& message);
  void HandleInvoke(Client& client, const ipc::Message& message);
  void HandleAnswer(Client& client, const ipc::Message& message);
  void HandleEventObject(Client& client, const ipc::Message& message);
  int RegisterEvent(const Client& client, const ipc::blob::Bytes& data);
  int SendEvent(const Client& client, const ipc::blob::Bytes& data);
  void Deliver(const std::string& type, const ipc::blob::Bytes& payload, std::uint32_t sender);
  void RemoveObject(std::uint32_t object_id);
  void FailForwardedCalls(std::uint32_t provider_or_object, bool by_object);

  std::uint32_t NewId(const std::set<std::uint32_t>& used);
  std::set<std::uint32_t> ClientIds() const;
  std::set<std::uint32_t> ObjectIds() const;
  std::set<std::uint32_t> TypeIds() const;

  const std::string socket_path_;
  int listen_fd_ = -1;
  int signal_fd_ = -1;
  std::map<std::uint32_t, Client> clients_;
  std::map<std::uint32_t, Object> objects_;
  std::map<std::string, std::uint32_t> paths_;
  std::map<std::uint32_t, ObjectType> types_;
  std::vector<Registration> registrations_;
  std::vector<ForwardedCall> forwarded_;
  std::uint64_t registration_order_ = 0;
  std::uint16_t event_seq_ = 0;
  std::mt19937 random_;
};

}  // namespace sim::ubusd
