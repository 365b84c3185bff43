#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "curl/header_list.h"
#include "curl/request.h"
#include "mutex/stop_signal.h"
#include "nvram/cloud_settings.h"
#include "nvram/deployment.h"
#include "queue/paced_worker.h"
#include "log/drop_notice.h"
#include "queue/thread_safe_queue.h"
#include "server/cloud_client.h"
#include "server/report_buffer.h"
#include "server/report_spool.h"

// Where and how ServerAPI reaches the cloud; the defaults are the daemon's.
struct ServerAPIOptions {
  std::string default_base_url = deployment::kDefaultBaseUrl;  // used when no URL is configured
  std::string firmware_config_url = deployment::kFirmwareConfigUrl;
  std::chrono::seconds request_timeout = curl::kRequestTimeout;
  std::chrono::milliseconds worker_period{1000};     // one heartbeat and one report request per period
  std::chrono::milliseconds verify_period{1000};     // pause between verification polls
  bool start_worker = true;
  // One report request carries at most this many reports and bytes of body.
  std::size_t batch_max_reports = 500;
  std::size_t batch_max_bytes = 64 * 1024;
  // The pending reports' text is bounded too (their number comes from the settings).
  std::size_t buffer_max_bytes = 4 * 1024 * 1024;
  // After a 5xx or 429 answer reports wait this long, doubling up to the maximum.
  std::chrono::milliseconds backoff_first{1000};
  std::chrono::milliseconds backoff_max{60000};
  // Reports dropped from a full buffer are logged at most once a period.
  std::chrono::milliseconds overwrite_log_period{60000};
  // The time of the back-off and of that period (tests turn it by hand).
  std::function<std::chrono::steady_clock::time_point()> clock = [] { return std::chrono::steady_clock::now(); };
  // The time stamped on spooled readings, against which their time-to-live runs.
  std::function<std::chrono::system_clock::time_point()> wall_clock = [] { return std::chrono::system_clock::now(); };
};

// What became of the reports handed to ServerAPI, counted since it was made.
struct ReportCounters {
  std::uint64_t received = 0;     // handed in by Report
  std::uint64_t delivered = 0;    // taken by the server
  std::uint64_t overwritten = 0;  // dropped from a full buffer
  std::uint64_t refused = 0;      // refused by the server (4xx) and dropped
};

// The gateway's client of the cloud's REST interface: device authorisation, heartbeats
// and reports through its own worker, and synchronous queries. The application makes one per
// process, from the configuration store, and hands it to the components as their CloudClient.
class ServerAPI : public CloudClient {
 public:
  // `settings` outlives the client; the tokens are read from it here and stored into it
  // after each authorisation.
  explicit ServerAPI(CloudSettings& settings, ServerAPIOptions options = {});
  ~ServerAPI() override;
  ServerAPI(const ServerAPI&) = delete;
  ServerAPI& operator=(const ServerAPI&) = delete;

  void HeartBeat(const std::string& json) override;
  void Report(const std::string& json) override;

  // Starts the device authorisation on a thread of its own unless already authorised
  // (then `done` is called with true at once) or already under way (false). A token the
  // server rejected (401) does not count as authorised; the authorisation that replaces
  // it calls the `done` of the last call here.
  bool Authentication(const std::string& device_id, std::function<void(bool)> done);
  std::pair<bool, std::string> AuthenticationRequest(const std::string& device_id);
  std::pair<bool, int> AuthenticationVerify(const std::string& device_id, const std::string& code);

  // False when the server did not take the document: no HTTP answer at all (the
  // transport failed: resolution, connection, time-out, TLS, reception) or 401 (the
  // token was rejected; a new authorisation starts). Any other answer consumes it.
  bool PostHeartBeat(const std::string& json);
  // The same, and false also for a 5xx or 429 answer (the server may take it later).
  bool PostData(const std::string& json);

  std::string PLCInfo(const std::string& device_id) override;
  // (ok, ble_enabled, folds {sensor_type: fold}).
  std::tuple<bool, bool, nlohmann::json> DeviceBeaconFolds(const std::string& device_id) override;
  bool FirmwareConfigTest(nlohmann::json& config) override;
  // The firmware configuration document of the cloud's API (with the bearer token).

  // The request helpers: (response text, HTTP status or libcurl error code).
  curl::response Get(const std::string& url, const curl::header_list& headers);
  curl::response Post(const std::string& url, const curl::header_list& headers, const std::string& body);
  curl::response Post(const char* url, const curl::header_list& headers, const char* body);

  // One pass of the worker: at most one heartbeat and one report request. The request
  // carries the pending reports merged (when batching is on) or the oldest alone; reports
  // the server did not take go back to the front. With a spool the buffer is first filled
  // from it, oldest first, as far as the buffer's bounds allow.
  void PostPending();

  std::string AccessToken() const;
  std::string RefreshToken() const;
  // Reports waiting: in the buffer, and in the spool not yet read into it.
  std::size_t PendingReports() const;
  ReportCounters Counters() const;
  // When the server last took reports (by the wall clock); nothing before the first time.
  std::optional<std::chrono::system_clock::time_point> LastDelivery() const;
  // The spool of pending readings on storage; nothing when none is configured.
  std::optional<ReportSpoolStatus> SpoolStatus() const;
  // Brings the spool to storage now (at shutdown), as its flush thread does each interval.
  void FlushSpool();
  // Told the outcome of every heartbeat and report request, on the worker thread: true when
  // the server answered it for good (took or refused it), false when it goes again.
  void ObserveDeliveries(std::function<void(bool delivered)> observer);
  bool Authenticating() const { return authenticating_; }
  // The server answered 401 to the stored token and no new pair has arrived yet.
  bool TokenRejected() const { return token_rejected_; }
  // A token pair is held (it may since have been rejected: see TokenRejected).
  bool Authorised() const;

 private:
  // What became of one request.
  enum class Delivery {
    kTaken,       // any answer but the ones below
    kKept,        // no answer, or 401
    kRetryLater,  // 5xx or 429
    kRefused,     // another 4xx
  };
  // `reports`: how many reports a report request carries.
  Delivery Deliver(const char* path, const std::string& json, std::size_t reports = 1);
  // One request and what its answer means, without telling the observer.
  Delivery Exchange(const char* path, const std::string& json, std::size_t reports);
  // Sends the oldest pending reports as one request and settles them by its answer.
  void PostReports();
  void Settle(Delivery delivery, std::vector<std::string> batch);
  std::unique_ptr<ReportSpool> OpenSpool(const ReportSpoolSettings& settings) const;
  // Appends a report to the spool; false when there is no spool (any longer) to keep it.
  bool SpoolReport(const std::string& json);
  void FillFromSpool();
  // The oldest `count` reports handed out by the spool are done with.
  void SettleSpooled(std::size_t count);
  // Reports wait after a 5xx or 429 answer.
  bool BackingOff() const { return options_.clock() < report_resume_at_; }
  void BackOff();
  void CountOverwritten(std::size_t dropped);
  void OnTokenRejected();
  bool StartAuthorisation(const std::string& device_id, std::function<void(bool)> done);
  bool FetchConfiguration(const std::string& url, const std::vector<std::string>& header_lines,
                          nlohmann::json& config);
  std::vector<std::string> BearerHeaders(const char* cache_control) const;
  void AuthenticationThread(const std::string& device_id, const std::function<void(bool)>& done);
  // A heartbeat or a report is waiting for the worker.
  bool HasPending() const;
  // Wakes the worker, if there is one, for a document just queued.
  void WakeWorker() const;

  // Keeps libcurl initialised until the worker and the authorisation thread have ended,
  // even when this object outlives the process's own clean-up at exit.
  std::shared_ptr<const void> curl_lease_;
  const char* request_path_ = "/auth_device/request";
  const char* verify_path_ = "/auth_device/verify";
  const char* report_path_ = "/gateways/report";
  const char* heartbeat_path_ = "/gateways/hb";
  const char* devices_path_ = "/devices";
  ServerAPIOptions options_;
  CloudSettings& settings_;
  std::string base_url_;
  mutable std::mutex token_lock_;  // the tokens are replaced while other threads read them
  std::string access_token_;
  std::string refresh_token_;
  std::string client_id_;
  std::string client_secret_;
  curl::tls_settings tls_;
  // The worker's deliveries share one handle, so they reuse its connection.
  std::mutex delivery_lock_;
  curl::session delivery_session_;
  std::mutex observer_lock_;
  std::function<void(bool)> delivery_observer_;  // guarded by observer_lock_
  queue::ThreadSafeQueue<std::string> heartbeat_queue_;
  const bool batching_;
  // Without a spool the buffer holds every pending report, the oldest overwritten when it is
  // full. With one, every report is spooled and the buffer is a window onto the spool's
  // oldest pending readings, refilled as it drains.
  ReportBuffer report_buffer_;
  std::unique_ptr<ReportSpool> spool_;
  // The worker's report state: the back-off, and after a 4xx to a merged request the
  // reports it carried, sent in halves until the refused ones are found.
  std::chrono::milliseconds backoff_{0};
  std::chrono::steady_clock::time_point report_resume_at_{};
  std::size_t suspect_reports_ = 0;
  std::size_t suspect_batch_limit_ = 0;
  std::atomic<std::uint64_t> reports_received_{0};
  std::atomic<std::uint64_t> reports_delivered_{0};
  std::atomic<std::uint64_t> reports_refused_{0};
  std::atomic<std::chrono::system_clock::rep> last_delivery_{0};  // since the epoch; 0: none yet
  logging::DropNotice overwrites_;  // counts the overwritten reports and tells them once a period
  std::atomic<bool> authenticating_{false};
  std::atomic<bool> auth_active_{false};  // an authorisation thread exists (any phase)
  std::atomic<bool> token_rejected_{false};
  std::mutex authorisation_lock_;  // the thread handle and what a renewed authorisation needs
  std::string auth_device_id_;
  std::function<void(bool)> auth_done_;
  // Ends the authorisation thread's pause between verification polls at destruction.
  mutex::StopSignal stop_;
  std::thread auth_thread_;
  // Brings the spool to storage at the flush interval, once something was appended or settled.
  std::optional<queue::PacedWorker> spool_flusher_;
  // Last: its passes use everything above, and it ends first.
  std::optional<queue::PacedWorker> worker_;
};
