#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "meshd/config_server.h"
#include "meshd/daemon_calls.h"
#include "meshd/node_state.h"
#include "meshd/worker.h"

namespace sim {
class ControlSocket;
}

namespace sim_meshd {

class BusSide;
class AppPeer;
struct AppComposition;

struct MeshDaemonOptions {
  std::string bus_address;     // empty: the system bus
  std::string state_file;      // stored nodes; empty: kept in memory only
  std::string control_socket;  // empty: none (Control still works in process)
  std::chrono::milliseconds call_timeout{30000};  // wait for an application's replies
};

// The stand-in of BlueZ's bluetooth-meshd towards an application: owns "org.bluez.mesh",
// exports org.bluez.mesh.Network1 at "/org/bluez/mesh" and, for each attached node,
// org.bluez.mesh.Node1 and org.bluez.mesh.Management1 at "/org/bluez/mesh/node<uuid>"; reads
// the application's objects, answers with JoinComplete, runs the node's configuration server
// and delivers messages to the application's elements, with the daemon's checks and error
// replies. Stored nodes survive a restart through the state file. Scripted through Control
// (in process) or the control socket, one JSON command per line (see NOTES-meshd.md):
//   {"cmd":"status"}   {"ok","name_owned","nodes":[{"token","uuid","unicast","path","attached","owner"}]}
//   {"cmd":"nodes"}    {"ok","nodes":[stored node, keys and configuration included]}
//   {"cmd":"records"}  {"ok","records":[...]}, every call received and message delivered
//   {"cmd":"clear"}    forgets the records
//   {"cmd":"faults", "join":"complete"|"failed"|"silent", "join_failed_reason":S,
//       "import_error":{"name":N,"message":M}|null, "appkey_status":N|null,
//       "short_app_status":B, "config_server":"normal"|"silent", "reset":true}
//   {"cmd":"forget"[,"token":T]}            drops stored nodes (all, or one)
//   {"cmd":"restart","off_ms":N}            the name vanishes, comes back after N ms
//   {"cmd":"deliver","source":S,"data":HEX[,"destination":D][,"key_index":K][,"token":T]
//       [,"dev_key":true,"remote":B,"net_index":N]}   an access message from address S
// Every command answers {"ok":true,...} or {"ok":false,"error":text}.
class MeshDaemon : private DaemonCalls {
 public:
  static constexpr const char* kBusName = "org.bluez.mesh";

  explicit MeshDaemon(MeshDaemonOptions options);
  virtual ~MeshDaemon();
  MeshDaemon(const MeshDaemon&) = delete;
  MeshDaemon& operator=(const MeshDaemon&) = delete;

  // Reads the stored nodes, connects and owns the name; throws when it cannot.
  void Start();
  // Releases the name and ends the threads; also done by the destructor.
  void Stop();

  nlohmann::json Control(const nlohmann::json& command);
  bool NameOwned() const;
  nlohmann::json Records() const;

 private:
  struct Attachment {
    std::string owner;  // unique bus name of the attached application; empty: detached
    bool busy = false;  // an Attach is reading the application's objects
  };
  struct Faults {
    std::string join = "complete";
    std::string join_failed_reason = "unexpected-error";
    std::optional<std::pair<std::string, std::string>> import_error;
    ConfigFaults config;
  };
  struct Delivery {
    std::string owner;
    std::string element_path;
    std::string member;  // MessageReceived, DevKeyMessageReceived, UpdateModelConfiguration
    std::uint16_t source = 0;
    std::uint16_t index = 0;  // key index, net index or model id
    bool remote = false;
    std::uint16_t destination = 0;
    std::optional<std::uint16_t> vendor;  // UpdateModelConfiguration of a vendor model
    std::string config_key;
    std::vector<std::uint16_t> config_values;
    Bytes data;
  };

  // DaemonCalls, on the event-loop thread.
  void Import(ImportResult result, const std::string& sender, ImportRequest request) override;
  void Attach(AttachResult result, const std::string& sender, const std::string& app_root,
              std::uint64_t token) override;
  void Send(std::uint64_t token, const std::string& sender, const SendRequest& request) override;
  void DevKeySend(std::uint64_t token, const std::string& sender, const SendRequest& request) override;
  void ImportRemoteNode(std::uint64_t token, const std::string& sender, std::uint16_t primary, std::uint8_t count,
                        const std::vector<std::uint8_t>& device_key) override;

  // On the worker thread.
  void FinishImport(const ImportResult& result, const std::string& sender, const ImportRequest& request);
  void FinishAttach(const AttachResult& result, const std::string& sender, const std::string& app_root,
                    std::uint64_t token);
  void OwnerGone(const std::string& unique_name);
  void Loopback(std::uint64_t token, std::uint16_t source, std::uint16_t destination, const Bytes& key,
                std::uint16_t net_index, const Bytes& data);
  void Deliver(const std::vector<Delivery>& deliveries);
  void BeginRestart(std::chrono::milliseconds pause);
  void FinishRestart(std::chrono::milliseconds pause);
  std::string BringBusUp();  // empty, or why the name could not be owned
  bool ReadApplication(const AppPeer& peer, const std::string& app_root, AppComposition& composition);

  // With mutex_ held.
  NodeState& OwnedNode(std::uint64_t token, const std::string& sender);
  void Record(nlohmann::json record);
  void LoadState();
  void SaveState() const;
  std::uint64_t NewToken();
  void CollectAppKeyDeliveries(const NodeState& node, std::uint16_t source, std::uint16_t destination,
                               std::uint16_t key_index, const Bytes& data, std::vector<Delivery>& out) const;
  void CollectElementDelivery(const NodeState& node, const ElementState& element, Delivery delivery,
                              std::vector<Delivery>& out) const;

  nlohmann::json Execute(const nlohmann::json& command);
  nlohmann::json SetFaults(const nlohmann::json& command);
  nlohmann::json Status() const;
  nlohmann::json Forget(const nlohmann::json& command);
  nlohmann::json DeliverCommand(const nlohmann::json& command);

  MeshDaemonOptions options_;
  mutable std::mutex mutex_;
  std::map<std::uint64_t, NodeState> nodes_;
  std::map<std::uint64_t, Attachment> attachments_;
  Faults faults_;
  std::vector<nlohmann::json> records_;
  std::uint64_t record_sequence_ = 0;
  bool name_owned_ = false;
  std::atomic<bool> started_{false};

  std::unique_ptr<BusSide> bus_;  // touched by the worker only once started
  std::unique_ptr<Worker> worker_;
  std::unique_ptr<sim::ControlSocket> control_;
};

}  // namespace sim_meshd
