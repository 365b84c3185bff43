#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

namespace testing_support {

// A tiny mesh application for tests of the stand-in mesh daemon: an object manager at
// "/com/quellaron/mesh", Application1 at ".../application", one Element1 at ".../ele0"
// (Configuration Server and Client models, vendor model 0x05F1/0x0001 with Subscribe), on
// its own connection with its own event loop. It records what the daemon calls on it, and
// calls the daemon's Network1, Node1 and Management1 synchronously.
class TestApplication {
 public:
  static constexpr const char* kRoot = "/com/quellaron/mesh";
  static constexpr const char* kApplicationPath = "/com/quellaron/mesh/application";
  static constexpr const char* kElementPath = "/com/quellaron/mesh/ele0";

  struct Shape {
    bool application = true;  // export Application1
    bool element = true;      // export Element1
  };
  struct Message {  // MessageReceived or DevKeyMessageReceived
    std::string member;
    std::uint16_t source = 0;
    std::uint16_t index = 0;  // key index or net index
    bool remote = false;
    std::vector<std::uint8_t> data;
  };
  struct ModelUpdate {
    std::uint16_t model_id = 0;
    std::map<std::string, sdbus::Variant> config;
  };
  using Configuration = std::vector<sdbus::Struct<std::uint8_t,
      std::vector<sdbus::Struct<std::uint16_t, std::map<std::string, sdbus::Variant>>>>>;

  explicit TestApplication(const std::string& bus_address);
  TestApplication(const std::string& bus_address, Shape shape);
  ~TestApplication();
  TestApplication(const TestApplication&) = delete;
  TestApplication& operator=(const TestApplication&) = delete;

  std::string UniqueName() const;

  // Calls on the daemon; an error reply throws sdbus::Error.
  void Import(const std::vector<std::uint8_t>& uuid, const std::vector<std::uint8_t>& device_key,
              const std::vector<std::uint8_t>& net_key, std::uint16_t unicast);
  std::tuple<std::string, Configuration> Attach(std::uint64_t token);
  void Send(const std::string& node_path, std::uint16_t destination, std::uint16_t key_index,
            const std::vector<std::uint8_t>& data);
  void DevKeySend(const std::string& node_path, std::uint16_t destination, bool remote, std::uint16_t net_index,
                  const std::vector<std::uint8_t>& data);
  void ImportRemoteNode(const std::string& node_path, std::uint16_t primary, std::uint8_t count,
                        const std::vector<std::uint8_t>& device_key);

  // What the daemon called.
  std::vector<std::uint64_t> JoinCompletions() const;
  std::vector<std::string> JoinFailures() const;
  std::vector<Message> Messages() const;
  std::vector<ModelUpdate> ModelUpdates() const;

 private:
  class Root;
  class Application;
  class Element;
  friend class Application;
  friend class Element;

  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<Root> root_;
  std::unique_ptr<Application> application_;
  std::unique_ptr<Element> element_;
  mutable std::mutex mutex_;
  std::vector<std::uint64_t> join_completions_;
  std::vector<std::string> join_failures_;
  std::vector<Message> messages_;
  std::vector<ModelUpdate> model_updates_;
};

}  // namespace testing_support
