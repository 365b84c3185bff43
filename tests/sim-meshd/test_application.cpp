#include "test_application.h"

#include "application1_adaptor.h"
#include "meshd/event_loop.h"
#include "element1_adaptor.h"
#include "management1_proxy.h"
#include "network1_proxy.h"
#include "node1_proxy.h"

namespace testing_support {

namespace {

using Properties = std::map<std::string, sdbus::Variant>;

template <typename Generated>
class DaemonProxy : public sdbus::ProxyInterfaces<Generated> {
 public:
  DaemonProxy(sdbus::IConnection& connection, const std::string& path)
      : sdbus::ProxyInterfaces<Generated>(connection, "org.bluez.mesh", path) {
    this->registerProxy();
  }
  virtual ~DaemonProxy() { this->unregisterProxy(); }
};

}  // namespace

class TestApplication::Root : public sdbus::AdaptorInterfaces<sdbus::ObjectManager_adaptor> {
 public:
  explicit Root(sdbus::IConnection& connection) : AdaptorInterfaces(connection, kRoot) { registerAdaptor(); }
  virtual ~Root() { unregisterAdaptor(); }
};

class TestApplication::Application
    : public sdbus::AdaptorInterfaces<org::bluez::mesh::Application1_adaptor, sdbus::ManagedObject_adaptor,
                                      sdbus::Properties_adaptor> {
 public:
  Application(sdbus::IConnection& connection, TestApplication& owner)
      : AdaptorInterfaces(connection, kApplicationPath), owner_(owner) {
    registerAdaptor();
    emitInterfacesAddedSignal({org::bluez::mesh::Application1_adaptor::INTERFACE_NAME});
  }
  virtual ~Application() { unregisterAdaptor(); }

 private:
  void JoinComplete(const uint64_t& token) override {
    const std::lock_guard<std::mutex> lock(owner_.mutex_);
    owner_.join_completions_.push_back(token);
  }
  void JoinFailed(const std::string& reason) override {
    const std::lock_guard<std::mutex> lock(owner_.mutex_);
    owner_.join_failures_.push_back(reason);
  }
  uint16_t CompanyID() override { return 0x05F1; }
  uint16_t ProductID() override { return 0; }
  uint16_t VersionID() override { return 0; }
  uint16_t CRPL() override { return 0x7FFF; }

  TestApplication& owner_;
};

class TestApplication::Element
    : public sdbus::AdaptorInterfaces<org::bluez::mesh::Element1_adaptor, sdbus::ManagedObject_adaptor,
                                      sdbus::Properties_adaptor> {
 public:
  Element(sdbus::IConnection& connection, TestApplication& owner)
      : AdaptorInterfaces(connection, kElementPath), owner_(owner) {
    registerAdaptor();
    emitInterfacesAddedSignal({org::bluez::mesh::Element1_adaptor::INTERFACE_NAME});
  }
  virtual ~Element() { unregisterAdaptor(); }

 private:
  void MessageReceived(const uint16_t& source, const uint16_t& key_index, const sdbus::Variant&,
                       const std::vector<uint8_t>& data) override {
    const std::lock_guard<std::mutex> lock(owner_.mutex_);
    owner_.messages_.push_back({"MessageReceived", source, key_index, false, data});
  }
  void DevKeyMessageReceived(const uint16_t& source, const bool& remote, const uint16_t& net_index,
                             const std::vector<uint8_t>& data) override {
    const std::lock_guard<std::mutex> lock(owner_.mutex_);
    owner_.messages_.push_back({"DevKeyMessageReceived", source, net_index, remote, data});
  }
  void UpdateModelConfiguration(const uint16_t& model_id, const Properties& config) override {
    const std::lock_guard<std::mutex> lock(owner_.mutex_);
    owner_.model_updates_.push_back({model_id, config});
  }
  uint8_t Index() override { return 0; }
  std::vector<sdbus::Struct<uint16_t, Properties>> Models() override {
    const Properties options{{"Subscribe", sdbus::Variant(false)}, {"Publish", sdbus::Variant(false)}};
    return {{0x0000, options}, {0x0001, options}};
  }
  std::vector<sdbus::Struct<uint16_t, uint16_t, Properties>> VendorModels() override {
    return {{0x05F1, 0x0001, Properties{{"Subscribe", sdbus::Variant(true)}, {"Publish", sdbus::Variant(false)}}}};
  }
  uint16_t Location() override { return 0; }

  TestApplication& owner_;
};

TestApplication::TestApplication(const std::string& bus_address) : TestApplication(bus_address, Shape{}) {}

TestApplication::TestApplication(const std::string& bus_address, Shape shape)
    : connection_(sdbus::createSessionBusConnectionWithAddress(bus_address)) {
  root_ = std::make_unique<Root>(*connection_);
  if (shape.application) application_ = std::make_unique<Application>(*connection_, *this);
  if (shape.element) element_ = std::make_unique<Element>(*connection_, *this);
  connection_->enterEventLoopAsync();
  sim::meshd::WaitForEventLoop(*connection_);
}

TestApplication::~TestApplication() {
  connection_->leaveEventLoop();
  element_.reset();
  application_.reset();
  root_.reset();
}

std::string TestApplication::UniqueName() const { return connection_->getUniqueName(); }

void TestApplication::Import(const std::vector<std::uint8_t>& uuid, const std::vector<std::uint8_t>& device_key,
                             const std::vector<std::uint8_t>& net_key, std::uint16_t unicast) {
  DaemonProxy<org::bluez::mesh::Network1_proxy> network(*connection_, "/org/bluez/mesh");
  const Properties flags{{"IvUpdate", sdbus::Variant(false)}, {"KeyRefresh", sdbus::Variant(false)}};
  network.Import(sdbus::ObjectPath(kRoot), uuid, device_key, net_key, 0, flags, 0, unicast);
}

std::tuple<std::string, TestApplication::Configuration> TestApplication::Attach(std::uint64_t token) {
  DaemonProxy<org::bluez::mesh::Network1_proxy> network(*connection_, "/org/bluez/mesh");
  const auto [path, configuration] = network.Attach(sdbus::ObjectPath(kRoot), token);
  return {path, configuration};
}

void TestApplication::Send(const std::string& node_path, std::uint16_t destination, std::uint16_t key_index,
                           const std::vector<std::uint8_t>& data) {
  DaemonProxy<org::bluez::mesh::Node1_proxy> node(*connection_, node_path);
  node.Send(sdbus::ObjectPath(kElementPath), destination, key_index, {}, data);
}

void TestApplication::DevKeySend(const std::string& node_path, std::uint16_t destination, bool remote,
                                 std::uint16_t net_index, const std::vector<std::uint8_t>& data) {
  DaemonProxy<org::bluez::mesh::Node1_proxy> node(*connection_, node_path);
  node.DevKeySend(sdbus::ObjectPath(kElementPath), destination, remote, net_index, {}, data);
}

void TestApplication::ImportRemoteNode(const std::string& node_path, std::uint16_t primary, std::uint8_t count,
                                       const std::vector<std::uint8_t>& device_key) {
  DaemonProxy<org::bluez::mesh::Management1_proxy> management(*connection_, node_path);
  management.ImportRemoteNode(primary, count, device_key);
}

std::vector<std::uint64_t> TestApplication::JoinCompletions() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return join_completions_;
}

std::vector<std::string> TestApplication::JoinFailures() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return join_failures_;
}

std::vector<TestApplication::Message> TestApplication::Messages() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::vector<TestApplication::ModelUpdate> TestApplication::ModelUpdates() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return model_updates_;
}

}  // namespace testing_support
