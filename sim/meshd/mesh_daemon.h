#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "meshd/daemon_calls.h"
#include "meshd/daemon_faults.h"
#include "meshd/daemon_record.h"
#include "meshd/deliveries.h"
#include "meshd/node_state.h"
#include "meshd/sensor_options.h"
#include "meshd/state_file.h"
#include "meshd/worker.h"

namespace sim::standin {
class ControlSocket;
}

namespace sim::meshd {

class BusSide;
class SensorField;
struct AppComposition;

struct MeshDaemonOptions {
  std::string bus_address;     // empty: the system bus
  std::string state_file;      // stored nodes; empty: kept in memory only
  std::string control_socket;  // empty: none (Control still works in process)
  std::chrono::milliseconds call_timeout{30000};  // wait for an application's replies
  SensorFieldOptions sensors;      // the simulated sensor nodes in radio range
};

// The stand-in of BlueZ's bluetooth-meshd towards an application: owns "org.bluez.mesh",
// exports org.bluez.mesh.Network1 at "/org/bluez/mesh" and, for each attached node,
// org.bluez.mesh.Node1 and org.bluez.mesh.Management1 at "/org/bluez/mesh/node<uuid>"; reads
// the application's objects, answers with JoinComplete, runs the node's configuration server
// and delivers messages to the application's elements, with the daemon's checks and error
// replies. Stored nodes survive a restart through the state file. The bus objects' handlers
// (on the connection's event loop) only check, record and queue; the worker thread makes
// every call on the applications, in order.

// Scripted through Control (in process) or the control socket: one JSON command per line,
// each answered by one JSON line.
//   {"cmd":"status"}   {"ok","name_owned","nodes":[{"token","uuid","unicast","path","attached","owner"}]}
//   {"cmd":"nodes"}    {"ok","nodes":[stored node, keys and configuration included]}
//   {"cmd":"records"}  {"ok","records":[...]}, every call received and message delivered,
//                      each with "seq" and "mono_ms" (CLOCK_MONOTONIC in ms, comparable with
//                      the other stand-ins' records)
//   {"cmd":"clear"}    forgets the records
//   {"cmd":"faults", "join":"complete"|"failed"|"silent", "join_failed_reason":S,
//       "import_error":{"name":N,"message":M}|null, "appkey_status":N|null,
//       "short_app_status":B, "config_server":"normal"|"silent",
//       "refuse":{"opcode":HEX[,"status":N]}|null, "reset":true}
//                      "refuse": the configuration server refuses every request with that
//                      opcode (e.g. "803d", Model App Bind): nothing changes, and the status
//                      reply carries N, or none comes (no N, or Default TTL Set)
//   {"cmd":"forget"[,"token":T]}            drops stored nodes (all, or one)
//   {"cmd":"restart","off_ms":N}            the name vanishes (attachments are lost), the state
//                                           file is read again, the name comes back after N ms
//                                           (default 1000)
//   {"cmd":"deliver","source":S,"data":HEX[,"destination":D][,"key_index":K][,"token":T]
//       [,"dev_key":true,"remote":B,"net_index":N]}   an access message from address S
// Simulated sensor nodes live in the daemon's radio range (sensor_field.h): what an attached
// node sends to their addresses or the announcement group reaches them, and what they send
// reaches the attached node's elements with application key 0.
//   {"cmd":"sensors"}                       {"ok","minute_ms","counting_values","sensors":[{"address","id",
//       "device_ids","kinds","version","gateway","channels":{n:{"folds","folds_acknowledged"}},
//       "beacon_enabled","beacon_acknowledged","reports_sent","gets_answered","firmware",
//       "installed","faults"}]}
//   {"cmd":"add_sensors","count":N[,"three_channel_every":M]}
//   {"cmd":"sensor_faults"[,"address":A],"loss":0..1,"silent":B,"malformed":B}
//   {"cmd":"leave"[,"address":A]}          the node (or all) leaves the gateway
//   {"cmd":"pace","minute_ms":N}           how long a fold minute lasts for the sensors
//   {"cmd":"sensor_values","counting":B}   each report's value counts that kind's reports on
//                                           the node's channel (1, 2, ...), or drifts (false)
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
  void FromSensor(std::uint16_t source, std::uint16_t destination, const Bytes& data);
  void BeginRestart(std::chrono::milliseconds pause);
  void FinishRestart(std::chrono::milliseconds pause);
  std::string BringBusUp();  // empty, or why the name could not be owned
  bool ReadApplication(const AppPeer& peer, const std::string& app_root, AppComposition& composition);

  // With mutex_ held.
  NodeState& OwnedNode(std::uint64_t token, const std::string& sender);
  std::string OwnerOf(std::uint64_t token) const;  // empty: not attached
  void LoadState();

  nlohmann::json Execute(const nlohmann::json& command);
  nlohmann::json Nodes() const;
  nlohmann::json Status() const;
  nlohmann::json Forget(const nlohmann::json& command);
  nlohmann::json DeliverCommand(const nlohmann::json& command);

  MeshDaemonOptions options_;
  mutable std::mutex mutex_;
  StateFile state_file_;
  NodeMap nodes_;
  std::map<std::uint64_t, Attachment> attachments_;
  DaemonFaults faults_;
  DaemonRecord record_;
  bool name_owned_ = false;
  std::atomic<bool> started_{false};

  std::unique_ptr<BusSide> bus_;  // touched by the worker only once started
  std::unique_ptr<Worker> worker_;
  std::unique_ptr<SensorField> sensors_;  // between Start and Stop
  std::unique_ptr<sim::standin::ControlSocket> control_;
};

}  // namespace sim::meshd
