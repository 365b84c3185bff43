#include "ipc/connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "log/log.h"

namespace ipc {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 65536;
constexpr auto kHelloTimeout = std::chrono::seconds(5);
constexpr auto kWriteTimeout = std::chrono::seconds(30);
constexpr std::size_t kMaxQueuedInvokes = 4096;

Clock::time_point DeadlineFor(Connection::Timeout timeout) {
  return timeout.count() > 0 ? Clock::now() + timeout : Clock::time_point::max();
}

// The time-out argument of poll for a wait until `deadline`: -1 (none) for the far future.
int PollMilliseconds(Clock::time_point deadline) {
  if (deadline == Clock::time_point::max()) return -1;
  const auto now = Clock::now();
  if (deadline <= now) return 0;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + std::chrono::milliseconds(1);
  return static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), INT_MAX));
}

// Reads exactly `size` bytes from a blocking-style wait on a socket, or fails.
bool ReadExactly(int fd, std::uint8_t* data, std::size_t size, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < size) {
    pollfd entry{fd, POLLIN, 0};
    const int timeout = PollMilliseconds(deadline);
    if (timeout == 0) return false;
    const int ready = ::poll(&entry, 1, timeout);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0 || (entry.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    const ssize_t got = ::recv(fd, data + done, size - done, 0);
    if (got == 0) return false;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool DecodeMembers(const blob::Bytes* payload, blobmsg::Members& members, const char* what) {
  members.clear();
  if (payload == nullptr) return true;
  std::string error;
  if (blobmsg::Decode(payload->data(), payload->size(), members, error)) return true;
  LOG_ERROR << "Rejected " << what << " from the bus: " << error;
  return false;
}

}  // namespace

struct Connection::Pending {
  std::uint16_t seq = 0;
  std::uint32_t peer = 0;
  bool done = false;
  int status = kOk;
  std::deque<Message> data;
  std::function<void(const Message&)> on_data_locked;
};

struct Connection::LocalObject {
  std::string path;
  std::vector<ObjectMethod> methods;
  EventHandler event_handler;
};

Connection::Connection(std::string socket_path) : socket_path_(std::move(socket_path)) { Connect(); }

Connection::~Connection() {
  if (fd_ >= 0) ::close(fd_);
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void Connection::Connect() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path_.size() >= sizeof(address.sun_path)) return;
  std::memcpy(address.sun_path, socket_path_.c_str(), socket_path_.size() + 1);
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  std::uint8_t hello[kHeadAndBodyHead];
  const auto deadline = Clock::now() + kHelloTimeout;
  connect_status_ = kUnknownError;
  if (!ReadExactly(fd_, hello, sizeof hello, deadline) || hello[0] != 0 ||
      hello[1] != static_cast<std::uint8_t>(MessageType::kHello)) {
    return;
  }
  const auto body = AnnouncedBodySize(hello);
  client_id_ = blob::ReadU32(hello + 4);
  if (!body || client_id_ <= 1) return;
  blob::Bytes rest(*body - blob::kHeadSize);
  if (!rest.empty() && !ReadExactly(fd_, rest.data(), rest.size(), deadline)) return;
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  connect_status_ = kOk;
}

bool Connection::IsConnected() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return connect_status_ == kOk && !broken_;
}

int Connection::Lookup(const std::string& path, const ObjectHandler& on_object, Timeout timeout) {
  Message message(MessageType::kLookup, 0, 0);
  if (!path.empty()) message.AddString(AttributeId::kObjPath, path);
  return Request(std::move(message), [&](const Message& data) {
    ObjectInfo info;
    const auto object_path = data.String(AttributeId::kObjPath);
    const auto id = data.U32(AttributeId::kObjId);
    if (!object_path || !id) return;
    info.path = *object_path;
    info.id = *id;
    info.type_id = data.U32(AttributeId::kObjType).value_or(0);
    if (!DecodeMembers(data.Raw(AttributeId::kSignature), info.signature, "object signature")) return;
    if (on_object) on_object(info);
  }, timeout);
}

int Connection::LookupId(const std::string& path, std::uint32_t& id, Timeout timeout) {
  if (path.empty()) return kInvalidArgument;
  bool found = false;
  Message message(MessageType::kLookup, 0, 0);
  message.AddString(AttributeId::kObjPath, path);
  const int status = Request(std::move(message), [&](const Message& data) {
    if (const auto object_id = data.U32(AttributeId::kObjId)) {
      id = *object_id;
      found = true;
    }
  }, timeout);
  if (status == kOk && !found) return kNotFound;
  return status;
}

int Connection::Invoke(std::uint32_t object_id, const std::string& method, const blobmsg::Members& arguments,
                       const DataHandler& on_data, Timeout timeout) {
  Message message(MessageType::kInvoke, 0, object_id);
  message.AddU32(AttributeId::kObjId, object_id)
      .AddString(AttributeId::kMethod, method)
      .AddRaw(AttributeId::kData, blobmsg::Encode(arguments));
  return Request(std::move(message), [&](const Message& data) {
    const blob::Bytes* payload = data.Raw(AttributeId::kData);
    blobmsg::Members members;
    if (payload == nullptr || !DecodeMembers(payload, members, "reply data")) return;
    if (on_data) on_data(members);
  }, timeout);
}

int Connection::SendEvent(const std::string& type, const blobmsg::Members& data, Timeout timeout) {
  Message message(MessageType::kInvoke, 0, kEventObjectId);
  message.AddU32(AttributeId::kObjId, kEventObjectId)
      .AddString(AttributeId::kMethod, "send")
      .AddRaw(AttributeId::kData,
              blobmsg::Encode({blobmsg::Node::String("id", type), blobmsg::Node::Table("data", data)}));
  return Request(std::move(message), nullptr, timeout);
}

int Connection::AddObject(const std::string& path, std::vector<ObjectMethod> methods, std::uint32_t& id,
                          Timeout timeout) {
  blobmsg::Members signature;
  for (const auto& method : methods) {
    blobmsg::Node table = blobmsg::Node::Table(method.name);
    for (const auto& [name, type] : method.arguments) {
      table.children.push_back(blobmsg::Node::Int32(name, static_cast<std::int32_t>(type)));
    }
    signature.push_back(std::move(table));
  }
  auto object = std::make_shared<LocalObject>();
  object->path = path;
  object->methods = std::move(methods);
  Message message(MessageType::kAddObject, 0, 0);
  message.AddString(AttributeId::kObjPath, path).AddRaw(AttributeId::kSignature, blobmsg::Encode(signature));
  return AddLocalObject(std::move(message), std::move(object), id, timeout);
}

int Connection::AddEventObject(EventHandler handler, std::uint32_t& id, Timeout timeout) {
  auto object = std::make_shared<LocalObject>();
  object->event_handler = std::move(handler);
  return AddLocalObject(Message(MessageType::kAddObject, 0, 0), std::move(object), id, timeout);
}

int Connection::AddLocalObject(Message request, std::shared_ptr<LocalObject> object, std::uint32_t& id,
                               Timeout timeout) {
  std::uint32_t added = 0;
  // The object is entered while the answer is dispatched, before any call of it can be.
  const int status = Request(std::move(request), nullptr, timeout, [&, object](const Message& data) {
    if (const auto object_id = data.U32(AttributeId::kObjId)) {
      added = *object_id;
      objects_[added] = object;
    }
  });
  if (status == kOk && added == 0) return kUnknownError;
  id = added;
  return status;
}

int Connection::RegisterEvent(std::uint32_t object_id, const std::string& pattern, Timeout timeout) {
  Message message(MessageType::kInvoke, 0, kEventObjectId);
  message.AddU32(AttributeId::kObjId, kEventObjectId)
      .AddString(AttributeId::kMethod, "register")
      .AddRaw(AttributeId::kData, blobmsg::Encode({blobmsg::Node::Int32("object", static_cast<std::int32_t>(object_id)),
                                                    blobmsg::Node::String("pattern", pattern)}));
  return Request(std::move(message), nullptr, timeout);
}

int Connection::Request(Message message, const std::function<void(const Message&)>& on_data, Timeout timeout,
                        std::function<void(const Message&)> on_data_locked) {
  Pending pending;
  pending.peer = message.peer;
  pending.on_data_locked = std::move(on_data_locked);
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (connect_status_ != kOk || broken_) return kConnectionFailed;
    message.seq = ++seq_;
    pending.seq = message.seq;
    pending_.push_back(&pending);
  }
  // However this request ends (even by an exception from a handler), it leaves the list.
  struct Unlist {
    Connection& connection;
    Pending& pending;
    ~Unlist() {
      const std::lock_guard<std::mutex> guard(connection.lock_);
      connection.pending_.remove(&pending);
    }
  } unlist{*this, pending};
  const blob::Bytes bytes = Encode(message);
  if (bytes.size() - kHeaderSize > kMaxBodySize) return kInvalidArgument;
  std::unique_lock<std::mutex> lock(lock_, std::defer_lock);
  const bool written = Write(bytes);
  lock.lock();
  if (!written) BreakLocked("cannot write to the bus");

  const auto deadline = DeadlineFor(timeout);
  for (;;) {
    if (!pending.data.empty()) {
      std::deque<Message> batch;
      batch.swap(pending.data);
      lock.unlock();
      for (const auto& data : batch) {
        if (on_data) on_data(data);
      }
      lock.lock();
      continue;
    }
    if (pending.done) break;
    if (Clock::now() >= deadline) {
      pending.status = kTimeout;
      break;
    }
    if (!reading_) {
      reading_ = true;
      lock.unlock();
      ReadAvailable(deadline);
      lock.lock();
      reading_ = false;
      changed_.notify_all();
    } else if (deadline == Clock::time_point::max()) {
      changed_.wait(lock);
    } else {
      changed_.wait_until(lock, deadline);
    }
  }
  return pending.status;
}

void Connection::ReadAvailable(Clock::time_point deadline) {
  pollfd entries[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
  if (::poll(entries, 2, PollMilliseconds(deadline)) <= 0) return;
  if (entries[1].revents & POLLIN) {
    std::uint64_t count = 0;
    if (::read(wake_fd_, &count, sizeof count) < 0) count = 0;
  }
  if ((entries[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) return;

  bool closed = false;
  chunk_.resize(kReadChunk);
  for (;;) {
    const ssize_t got = ::recv(fd_, chunk_.data(), chunk_.size(), 0);
    if (got > 0) {
      input_.insert(input_.end(), chunk_.begin(), chunk_.begin() + got);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    closed = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    break;
  }
  std::vector<Message> messages;
  const bool framing_ok = ExtractMessages(messages);
  const std::lock_guard<std::mutex> guard(lock_);
  for (auto& message : messages) DispatchLocked(std::move(message));
  if (!framing_ok) {
    BreakLocked("the bus sent a message with an impossible length");
  } else if (closed) {
    BreakLocked("the bus closed the connection");
  }
}

bool Connection::ExtractMessages(std::vector<Message>& out) {
  std::size_t offset = 0;
  bool framing_ok = true;
  while (input_.size() - offset >= kHeadAndBodyHead) {
    const auto body = AnnouncedBodySize(input_.data() + offset);
    if (!body) {
      framing_ok = false;
      break;
    }
    const std::size_t total = kHeaderSize + *body;
    if (input_.size() - offset < total) break;
    std::string error;
    auto message = Decode(input_.data() + offset, total, error);
    if (message) {
      out.push_back(std::move(*message));
    } else {
      LOG_ERROR << "Rejected a message from the bus: " << error;
    }
    offset += total;
  }
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(offset));
  return framing_ok;
}

void Connection::DispatchLocked(Message message) {
  switch (message.type) {
    case MessageType::kStatus:
    case MessageType::kData: {
      const auto match = std::find_if(pending_.begin(), pending_.end(), [&](const Pending* pending) {
        return pending->seq == message.seq && pending->peer == message.peer && !pending->done;
      });
      if (match == pending_.end()) return;  // late or stray answer
      Pending& pending = **match;
      if (message.type == MessageType::kStatus) {
        const auto status = message.U32(AttributeId::kStatus);
        pending.status = status ? static_cast<int>(*status) : kInvalidArgument;
        pending.done = true;
      } else {
        if (pending.on_data_locked) pending.on_data_locked(message);
        pending.data.push_back(std::move(message));
      }
      changed_.notify_all();
      return;
    }
    case MessageType::kInvoke:
      if (invokes_.size() >= kMaxQueuedInvokes) {
        LOG_ERROR << "Dropped a call from the bus: too many waiting";
        return;
      }
      invokes_.push_back(std::move(message));
      changed_.notify_all();
      return;
    default:
      return;
  }
}

void Connection::BreakLocked(const std::string& reason) {
  if (broken_) return;
  broken_ = true;
  LOG_ERROR << "ubus connection lost: " << reason;
  for (Pending* pending : pending_) {
    if (pending->done) continue;
    pending->status = kConnectionFailed;
    pending->done = true;
  }
  changed_.notify_all();
  InterruptReader();
}

bool Connection::Write(const blob::Bytes& bytes) {
  const std::lock_guard<std::mutex> guard(write_lock_);
  const auto deadline = Clock::now() + kWriteTimeout;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t sent = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && Clock::now() < deadline) {
      pollfd entry{fd_, POLLOUT, 0};
      ::poll(&entry, 1, 100);
      continue;
    }
    return false;
  }
  return true;
}

void Connection::Serve(const std::atomic<bool>& stop) {
  std::unique_lock<std::mutex> lock(lock_);
  ++serving_;
  while (!stop && connect_status_ == kOk && !broken_) {
    if (!invokes_.empty()) {
      lock.unlock();
      RunQueuedInvokes();
      lock.lock();
      continue;
    }
    if (!reading_) {
      reading_ = true;
      lock.unlock();
      ReadAvailable(Clock::time_point::max());
      lock.lock();
      reading_ = false;
      changed_.notify_all();
    } else {
      // Another thread reads; it signals when it hands the role back or queues a call.
      changed_.wait(lock);
    }
  }
  --serving_;
}

void Connection::Wake() {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    changed_.notify_all();
  }
  InterruptReader();
}

void Connection::InterruptReader() {
  if (wake_fd_ < 0) return;
  const std::uint64_t one = 1;
  if (::write(wake_fd_, &one, sizeof one) < 0) return;
}

void Connection::RunQueuedInvokes() {
  for (;;) {
    Message message;
    {
      const std::lock_guard<std::mutex> guard(lock_);
      if (invokes_.empty()) return;
      message = std::move(invokes_.front());
      invokes_.pop_front();
    }
    HandleInvoke(message);
  }
}

void Connection::HandleInvoke(const Message& message) {
  const std::uint32_t object_id = message.U32(AttributeId::kObjId).value_or(0);
  std::shared_ptr<LocalObject> object;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = objects_.find(object_id);
    if (found != objects_.end()) object = found->second;
  }
  if (!object) return SendStatus(message, kNotFound, 0);
  const auto method = message.String(AttributeId::kMethod);
  if (!method) return SendStatus(message, kInvalidArgument, object_id);

  if (object->event_handler) {
    blobmsg::Members data;
    try {
      if (DecodeMembers(message.Raw(AttributeId::kData), data, "event data")) object->event_handler(*method, data);
    } catch (const std::exception& error) {
      LOG_ERROR << "Event " << *method << " handler failed: " << error.what();
    }
    return SendStatus(message, kOk, object_id);
  }
  const auto found = std::find_if(object->methods.begin(), object->methods.end(),
                                 [&](const ObjectMethod& candidate) { return candidate.name == *method; });
  if (found == object->methods.end()) return SendStatus(message, kMethodNotFound, object_id);
  InvokeRequest request;
  request.object_id = object_id;
  request.method = *method;
  request.user = message.String(AttributeId::kUser).value_or("");
  request.group = message.String(AttributeId::kGroup).value_or("");
  request.caller = message.peer;
  const blob::Bytes* data = message.Raw(AttributeId::kData);
  if (data == nullptr || !DecodeMembers(data, request.arguments, "call arguments")) {
    return SendStatus(message, kInvalidArgument, object_id);
  }
  const ReplySender reply = [&](const blobmsg::Members& table) {
    Message answer(MessageType::kData, message.seq, message.peer);
    answer.AddU32(AttributeId::kObjId, object_id).AddRaw(AttributeId::kData, blobmsg::Encode(table));
    Write(Encode(answer));
  };
  int status = kOk;
  try {
    if (found->handler) status = found->handler(request, reply);
  } catch (const std::exception& error) {
    LOG_ERROR << "Method " << *method << " failed: " << error.what();
    status = kUnknownError;
  }
  if (status != kDeferReply && !message.U8(AttributeId::kNoReply).value_or(0)) SendStatus(message, status, object_id);
}

void Connection::SendStatus(const Message& request, int status, std::uint32_t object_id) {
  Message answer(MessageType::kStatus, request.seq, request.peer);
  answer.AddU32(AttributeId::kStatus, static_cast<std::uint32_t>(status)).AddU32(AttributeId::kObjId, object_id);
  Write(Encode(answer));
}

}  // namespace ipc
