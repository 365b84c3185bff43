#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ipc/blobmsg.h"
#include "ipc/bus_defaults.h"
#include "ipc/bus_object.h"
#include "ipc/message.h"
#include "ipc/status.h"

namespace ipc {

// One client connection to the bus broker, speaking the wire protocol itself.
// Requests may come from several threads at once: each gets the answers that carry its own
// seq and peer. Whichever thread waits takes the role of the reader; the others wait for it
// to hand them their answers. Calls to this connection's objects and event deliveries are
// queued and run only by Serve, so their handlers always run on the serving thread.
// A broken connection completes every waiting request at once with kConnectionFailed.
// Nothing here waits in time slices: the reader sleeps in poll on the socket and a wake-up
// descriptor, the others on a condition that every change signals.
class Connection {
 public:
  using Timeout = std::chrono::milliseconds;  // zero: wait without limit
  using DataHandler = std::function<void(const blobmsg::Members&)>;
  using ObjectHandler = std::function<void(const ObjectInfo&)>;

  // Connects and reads the broker's HELLO; ConnectStatus tells how that went.
  explicit Connection(std::string socket_path = kDefaultSocket);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  int ConnectStatus() const { return connect_status_; }
  bool IsConnected() const;
  std::uint32_t ClientId() const { return client_id_; }

  // Objects whose path is `path`, or that start with it when it ends in '*', or all when
  // it is empty. Not found: kNotFound.
  int Lookup(const std::string& path, const ObjectHandler& on_object, Timeout timeout);
  int LookupId(const std::string& path, std::uint32_t& id, Timeout timeout);
  int Invoke(std::uint32_t object_id, const std::string& method, const blobmsg::Members& arguments,
             const DataHandler& on_data, Timeout timeout);
  int SendEvent(const std::string& type, const blobmsg::Members& data, Timeout timeout);

  int AddObject(const std::string& path, std::vector<ObjectMethod> methods, std::uint32_t& id, Timeout timeout);
  // An anonymous object that receives the events it registers for.
  int AddEventObject(EventHandler handler, std::uint32_t& id, Timeout timeout);
  int RegisterEvent(std::uint32_t object_id, const std::string& pattern, Timeout timeout);

  // Runs calls of this connection's objects and event deliveries until `stop` is set (see
  // Wake) or the connection breaks. Between them it sleeps without a time-out.
  void Serve(const std::atomic<bool>& stop);
  // Interrupts a waiting Serve so it sees its stop flag at once.
  void Wake();

 private:
  struct Pending;
  struct LocalObject;

  void Connect();
  // Sends an add-object request and enters `object` under the identifier the bus gives it.
  int AddLocalObject(Message request, std::shared_ptr<LocalObject> object, std::uint32_t& id, Timeout timeout);
  int Request(Message message, const std::function<void(const Message&)>& on_data, Timeout timeout,
              std::function<void(const Message&)> on_data_locked = nullptr);
  void ReadAvailable(std::chrono::steady_clock::time_point deadline);
  bool ExtractMessages(std::vector<Message>& out);
  void DispatchLocked(Message message);
  void BreakLocked(const std::string& reason);
  // Ends the reader's wait in poll.
  void InterruptReader();
  bool Write(const blob::Bytes& bytes);
  void RunQueuedInvokes();
  void HandleInvoke(const Message& message);
  void SendStatus(const Message& request, int status, std::uint32_t object_id);

  const std::string socket_path_;
  int fd_ = -1;
  int wake_fd_ = -1;
  int connect_status_ = kConnectionFailed;
  std::uint32_t client_id_ = 0;

  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool reading_ = false;
  bool broken_ = false;
  std::uint16_t seq_ = 0;
  std::list<Pending*> pending_;
  std::deque<Message> invokes_;
  std::map<std::uint32_t, std::shared_ptr<LocalObject>> objects_;
  int serving_ = 0;

  std::mutex write_lock_;
  // Touched only by the thread holding the reader role.
  blob::Bytes input_;
  blob::Bytes chunk_;  // one read from the socket; kept off the reader's stack
};

}  // namespace ipc
