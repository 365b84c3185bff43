#include "meshnodes/node_app.h"

#include "application1_adaptor.h"
#include "element1_adaptor.h"

namespace sim::meshnodes {

namespace {

using Options = std::map<std::string, sdbus::Variant>;

constexpr std::uint16_t kCompanyId = 0x05F1;
constexpr std::uint16_t kVendorModel = 0x0001;
constexpr std::uint16_t kConfigurationServer = 0x0000;

}  // namespace

class NodeApp::Root : public sdbus::AdaptorInterfaces<sdbus::ObjectManager_adaptor> {
 public:
  Root(sdbus::IConnection& connection, const std::string& path) : AdaptorInterfaces(connection, path) {
    registerAdaptor();
  }
  virtual ~Root() { unregisterAdaptor(); }
};

namespace {

// An object of the application with one of its interfaces, not yet on the bus.
template <typename Interface>
class AppObject : public sdbus::AdaptorInterfaces<Interface, sdbus::ManagedObject_adaptor, sdbus::Properties_adaptor> {
 public:
  using Exported = Interface;
  virtual ~AppObject() = default;

 protected:
  AppObject(sdbus::IConnection& connection, const std::string& path, const NodeApp::Handlers& handlers)
      : sdbus::AdaptorInterfaces<Interface, sdbus::ManagedObject_adaptor, sdbus::Properties_adaptor>(connection, path),
        handlers_(handlers) {}

  const NodeApp::Handlers& handlers_;
};

class ApplicationObject : public AppObject<org::bluez::mesh::Application1_adaptor> {
 protected:
  using AppObject::AppObject;

 private:
  void JoinComplete(const uint64_t& token) override { handlers_.join_complete(token); }
  void JoinFailed(const std::string& reason) override { handlers_.join_failed(reason); }
  uint16_t CompanyID() override { return kCompanyId; }
  uint16_t ProductID() override { return 0x0101; }
  uint16_t VersionID() override { return 0x0001; }
  uint16_t CRPL() override { return 0x0010; }
};

class ElementObject : public AppObject<org::bluez::mesh::Element1_adaptor> {
 protected:
  using AppObject::AppObject;

 private:
  void MessageReceived(const uint16_t& source, const uint16_t& /*key_index*/, const sdbus::Variant& /*destination*/,
                       const std::vector<uint8_t>& data) override {
    handlers_.message(source, data);
  }
  void DevKeyMessageReceived(const uint16_t& source, const bool& /*remote*/, const uint16_t& /*net_index*/,
                             const std::vector<uint8_t>& data) override {
    handlers_.device_key_message(source, data);
  }
  void UpdateModelConfiguration(const uint16_t& /*model_id*/, const Options& /*config*/) override {}
  uint8_t Index() override { return 0; }
  std::vector<sdbus::Struct<uint16_t, Options>> Models() override { return {{kConfigurationServer, Options{}}}; }
  std::vector<sdbus::Struct<uint16_t, uint16_t, Options>> VendorModels() override {
    return {{kCompanyId, kVendorModel, Options{{"Subscribe", sdbus::Variant(true)}, {"Publish", sdbus::Variant(false)}}}};
  }
  uint16_t Location() override { return 0; }
};

// An object put on the bus once its methods are all there (announcing its interface reads
// its properties), and taken off before they go.
template <typename Object>
class OnBus : public Object {
 public:
  OnBus(sdbus::IConnection& connection, const std::string& path, const NodeApp::Handlers& handlers)
      : Object(connection, path, handlers) {
    this->registerAdaptor();
    this->emitInterfacesAddedSignal({Object::Exported::INTERFACE_NAME});
  }
  ~OnBus() override { this->unregisterAdaptor(); }
};

}  // namespace

class NodeApp::Application final : public OnBus<ApplicationObject> {
 public:
  using OnBus::OnBus;
};

class NodeApp::Element final : public OnBus<ElementObject> {
 public:
  using OnBus::OnBus;
};

NodeApp::NodeApp(sdbus::IConnection& connection, const NodeIdentity& identity, Handlers handlers)
    : handlers_(std::move(handlers)) {
  root_ = std::make_unique<Root>(connection, identity.root_path);
  application_ = std::make_unique<Application>(connection, identity.application_path, handlers_);
  element_ = std::make_unique<Element>(connection, identity.element_path, handlers_);
}

NodeApp::~NodeApp() {
  element_.reset();
  application_.reset();
  root_.reset();
}

}  // namespace sim::meshnodes
