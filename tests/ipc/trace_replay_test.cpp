// The client replays recorded conversations: a scripted peer plays the broker's side of a
// trace and checks that every byte the client sends is the byte the platform's client sent.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "ipc/blobmsg.h"
#include "ipc/blobmsg_json.h"
#include "ipc/connection.h"
#include "ipc/message.h"
#include "ipc/trace_file.h"
#include "ipc/ubus.h"
#include "ipc/ubus_listener.h"
#include "support/wait.h"

namespace {

using ipc_test::ReadTrace;
using ipc_test::TraceMessage;

ipc::Message DecodeMessage(const TraceMessage& recorded) {
  std::string error;
  auto message = ipc::Decode(recorded.bytes.data(), recorded.bytes.size(), error);
  if (!message) throw std::runtime_error("trace message " + std::to_string(recorded.number) + ": " + error);
  return *message;
}

ipc::blobmsg::Members MembersOf(const ipc::Message& message, ipc::AttributeId id) {
  ipc::blobmsg::Members members;
  std::string error;
  const auto* raw = message.Raw(id);
  if (raw == nullptr || !ipc::blobmsg::Decode(raw->data(), raw->size(), members, error)) {
    throw std::runtime_error("no attribute: " + error);
  }
  return members;
}

// One object a recorded provider registered: its path and methods with their signatures.
struct RecordedObject {
  std::string path;
  std::vector<ipc::ObjectMethod> methods;
};

// The objects `provider` adds in `trace`, each method answering with `answer`.
std::vector<RecordedObject> RecordedObjects(const std::vector<TraceMessage>& trace, const std::string& provider,
                                            const ipc::MethodHandler& answer) {
  std::vector<RecordedObject> objects;
  for (const auto& recorded : trace) {
    if (recorded.from != provider) continue;
    const ipc::Message message = DecodeMessage(recorded);
    if (message.type != ipc::MessageType::kAddObject) continue;
    RecordedObject object{message.String(ipc::AttributeId::kObjPath).value_or(""), {}};
    for (const auto& method : MembersOf(message, ipc::AttributeId::kSignature)) {
      ipc::ObjectMethod declared{method.name, {}, answer};
      for (const auto& argument : method.children) {
        declared.arguments.emplace_back(argument.name, static_cast<ipc::blobmsg::Type>(argument.integer));
      }
      object.methods.push_back(std::move(declared));
    }
    objects.push_back(std::move(object));
  }
  return objects;
}

class ScriptedBroker {
 public:
  ScriptedBroker(const std::string& trace, const std::string& client) : ScriptedBroker(Side(ReadTrace(trace), client), client) {}

  // Plays `script`, messages of one client's side of one or more traces, in order.
  ScriptedBroker(std::vector<ipc_test::TraceMessage> script, const std::string& client)
      : directory_(std::filesystem::temp_directory_path() / ("replay-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++))),
        script_(std::move(script)) {
    std::filesystem::create_directories(directory_);
    path_ = (directory_ / "ubus.sock").string();
    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
    EXPECT_EQ(::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listen_fd_, 1), 0);
    thread_ = std::thread([this, client] { Play(client); });
  }

  ~ScriptedBroker() {
    if (thread_.joinable()) thread_.join();
    ::close(listen_fd_);
    std::filesystem::remove_all(directory_);
  }

  // The messages of `trace` that `client` sent or received.
  static std::vector<ipc_test::TraceMessage> Side(const std::vector<ipc_test::TraceMessage>& trace,
                                                  const std::string& client) {
    std::vector<ipc_test::TraceMessage> side;
    for (const auto& message : trace) {
      if (message.from == client || message.to == client) side.push_back(message);
    }
    return side;
  }

  const std::string& Path() const { return path_; }
  bool Finished() const { return finished_; }
  // Mismatches found, one line each.
  std::string Errors() {
    if (thread_.joinable()) thread_.join();
    return errors_;
  }

 private:
  void Play(const std::string& client) {
    pollfd entry{listen_fd_, POLLIN, 0};
    if (::poll(&entry, 1, 10000) <= 0) {
      errors_ += "client never connected\n";
      return;
    }
    const int fd = ::accept(listen_fd_, nullptr, nullptr);
    for (const auto& message : script_) {
      if (message.to == client) {
        if (::write(fd, message.bytes.data(), message.bytes.size()) != static_cast<ssize_t>(message.bytes.size())) {
          errors_ += "cannot write\n";
        }
        continue;
      }
      std::vector<std::uint8_t> received(message.bytes.size());
      std::size_t done = 0;
      while (done < received.size()) {
        pollfd reading{fd, POLLIN, 0};
        if (::poll(&reading, 1, 10000) <= 0) break;
        const ssize_t got = ::read(fd, received.data() + done, received.size() - done);
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
      }
      if (received != message.bytes) errors_ += "message [" + std::to_string(message.number) + "] differs\n";
    }
    finished_ = true;
    // Keep the connection open until the client is done with it.
    pollfd closing{fd, POLLIN, 0};
    ::poll(&closing, 1, 2000);
    ::close(fd);
  }

  static inline int counter_ = 0;
  std::filesystem::path directory_;
  std::string path_;
  int listen_fd_ = -1;
  std::vector<ipc_test::TraceMessage> script_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::string errors_;
};

}  // namespace

TEST(TraceReplay, CallsSendTheRecordedBytesAndHandTheRepliesOn) {
  struct Case {
    std::string trace;
    std::string object;
    std::string method;
    std::string json;
    bool succeeds;
    std::vector<std::string> replies;
  };
  const std::vector<Case> cases = {
      {"02-lookup-invoke-uci-get.txt", "uci", "get", R"({"config":"ferrowick","section":"sys"})", true,
       {R"({"values":{".anonymous":false,".type":"sys",".name":"sys","url":"https://cloud.example.test/api/v1","first_boot":"1"}})"}},
      {"03-invoke-unknown-object.txt", "network.interface.wan", "status", "", false, {}},
      {"07-invoke-unknown-method.txt", "uci", "nosuchmethod", R"({"config":"ferrowick"})", false, {}},
      {"08-uci-get-missing-section.txt", "uci", "get", R"({"config":"ferrowick","section":"auth"})", true, {}},
      {"09-invoke-empty-argument.txt", "uci", "configs", "", true, {R"({"configs":["ferrowick"]})"}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.trace);
    ScriptedBroker broker(test.trace, "CLI A");
    std::vector<std::string> replies;
    {
      ipc::UBUS bus(30, broker.Path());
      EXPECT_EQ(bus.Call(test.object, test.method, test.json, [&](const char* text) { replies.emplace_back(text); }),
                test.succeeds);
    }
    EXPECT_EQ(replies, test.replies);
    EXPECT_EQ(broker.Errors(), "");
  }
}

TEST(TraceReplay, EventsAreSentAndReceivedAsRecorded) {
  for (const std::string trace : {"04-event-listen-send.txt", "10-event-value-types.txt"}) {
    SCOPED_TRACE(trace);
    const auto recorded = ReadTrace(trace);
    ScriptedBroker listener_side(trace, "CLI A");
    std::string received;
    std::atomic<bool> delivered{false};
    {
      ipc::UBUSListener listener(30, listener_side.Path());
      const std::string type = trace.find("04") == 0 ? "network.interface" : "test.types";
      ASSERT_TRUE(listener.RegisterEventHandler(type, [&](const char* text) {
        received = text;
        delivered = true;
      }));
      listener.ServerStart();
      EXPECT_TRUE(testing_support::WaitUntil([&] { return delivered.load() && listener_side.Finished(); }));
    }
    EXPECT_EQ(listener_side.Errors(), "");

    ScriptedBroker sender_side(trace, "CLI B");
    ipc::UBUS sender(30, sender_side.Path());
    const std::string type = trace.find("04") == 0 ? "network.interface" : "test.types";
    EXPECT_TRUE(sender.Event(type.c_str(), received));
    EXPECT_EQ(sender_side.Errors(), "");
  }
}

// The provider's side: rpcd registers its objects (trace 06), answers a call with a reply
// (02) and a call of a method it does not have (07). A connection providing the same objects
// sends the same bytes: ADD_OBJECT with its signatures, then DATA and STATUS to the caller.
TEST(TraceReplay, AProviderRegistersAndAnswersAsRecorded) {
  const auto registration = ReadTrace("06-add-object-with-signature.txt");
  const auto call = ReadTrace("02-lookup-invoke-uci-get.txt");
  auto script = ScriptedBroker::Side(registration, "rpcd");
  for (const std::string trace : {"02-lookup-invoke-uci-get.txt", "07-invoke-unknown-method.txt"}) {
    const auto side = ScriptedBroker::Side(ReadTrace(trace), "rpcd");
    script.insert(script.end(), side.begin(), side.end());
  }
  // What rpcd answered to "uci" "get": the DATA it sent.
  ipc::blobmsg::Members reply;
  for (const auto& recorded : call) {
    if (recorded.from == "rpcd" && DecodeMessage(recorded).type == ipc::MessageType::kData) {
      reply = MembersOf(DecodeMessage(recorded), ipc::AttributeId::kData);
    }
  }
  std::vector<std::string> calls;
  const ipc::MethodHandler answer = [&](const ipc::InvokeRequest& request, const ipc::ReplySender& send) {
    calls.push_back(request.method + " " + ipc::blobmsg::ToJson(request.arguments));
    send(reply);
    return ipc::kOk;
  };

  ScriptedBroker broker(script, "rpcd");
  ipc::Connection provider(broker.Path());
  ASSERT_EQ(provider.ConnectStatus(), ipc::kOk);
  const auto objects = RecordedObjects(registration, "rpcd", answer);
  ASSERT_EQ(objects.size(), 3u);
  for (const auto& object : objects) {
    std::uint32_t id = 0;
    EXPECT_EQ(provider.AddObject(object.path, object.methods, id, std::chrono::seconds(5)), ipc::kOk) << object.path;
  }
  std::atomic<bool> stop{false};
  std::thread serving([&] { provider.Serve(stop); });
  EXPECT_TRUE(testing_support::WaitUntil([&] { return broker.Finished(); }));
  stop = true;
  provider.Wake();
  serving.join();
  EXPECT_EQ(broker.Errors(), "");
  EXPECT_EQ(calls, std::vector<std::string>{R"(get {"config":"ferrowick","section":"sys"})"});
}
