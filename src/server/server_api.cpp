#include "server/server_api.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "curl/curl_interface.h"
#include "curl/form_escape.h"
#include "common/json_nesting.h"
#include "log/log.h"
#include "server/report_batch.h"

namespace {

using nlohmann::json;

bool Success(long status) { return status >= 200 && status <= 299; }

// A PLC list body nests five levels (body, list, PLC, its addresses, an address); deeper ones are
// refused before they are parsed and written out again.
constexpr std::size_t kMaxPlcListNesting = 32;

// A failed initialisation is not fatal here: each request then reports it as its status.
std::shared_ptr<const void> LeaseCurl() {
  try {
    return curl::curl_interface<CURLcode>::global_lease();
  } catch (const curl::curl_exception& error) {
    LOG_ERROR << error.message();
    return nullptr;
  }
}

const std::vector<std::string> kFormHeaders{"cache-control: no-cache", "Accept: application/json",
                                            "Content-Type: application/x-www-form-urlencoded"};

// libcurl's codes are below 100, HTTP statuses 100 and above.
bool HttpAnswer(long status) { return status >= 100; }

void LogTransportFailure(long status) {
  if (status == CURLE_COULDNT_RESOLVE_HOST) LOG_WARN << "Couldn't resolve host.";
  if (status == CURLE_COULDNT_CONNECT) LOG_WARN << "Failed to connect() to host.";
}

// {"sensor_type": fold} from the sensor's "sensor_types" array; the first of a repeated
// type wins. Null when there is no such array.
json FoldsOf(const json& sensor) {
  json folds;
  if (!sensor.contains("sensor_types") || !sensor.at("sensor_types").is_array()) return folds;
  for (const auto& element : sensor.at("sensor_types")) {
    const auto type = element.at("sensor_type").get<std::string>();
    const int fold = element.at("fold").get<int>();
    if (fold < 0 || fold > 255) throw std::out_of_range("fold " + std::to_string(fold) + " is not 0 to 255");
    if (folds.is_null() || !folds.contains(type)) folds[type] = fold;
  }
  return folds;
}

}  // namespace

ServerAPI::ServerAPI(CloudSettings& settings, ServerAPIOptions options)
    : curl_lease_(LeaseCurl()),
      options_(std::move(options)),
      settings_(settings),
      base_url_(settings_.URL().empty() ? options_.default_base_url : settings_.URL()),
      access_token_(settings_.AccessToken()),
      refresh_token_(settings_.RefreshToken()),
      client_id_(settings_.ClientID()),
      client_secret_(settings_.ClientSecret()),
      tls_{settings_.TlsVerify(), settings_.CAFile()},
      batching_(settings_.ReportBatching()),
      report_buffer_(settings_.ReportCapacity(), options_.buffer_max_bytes),
      overwrites_("Report buffer full, reports overwritten since the last notice: ", options_.overwrite_log_period,
                  options_.clock) {
  const ReportSpoolSettings spool = settings_.Spool();
  spool_ = OpenSpool(spool);
  if (!options_.start_worker) return;
  if (spool_) {  // before the worker, which wakes it
    const auto interval = std::chrono::seconds(std::max<std::uint32_t>(spool.flush_seconds, 1));
    spool_flusher_.emplace(interval, [this] { return spool_->Dirty(); }, [this] { spool_->Flush(); });
  }
  // Sleeps while there is nothing to send; after each pass the next waits a full period.
  worker_.emplace(options_.worker_period, [this] { return HasPending(); }, [this] { PostPending(); });
}

ServerAPI::~ServerAPI() {
  stop_.Stop();
  if (worker_) worker_->Stop();
  if (spool_flusher_) spool_flusher_->Stop();
  const std::lock_guard<std::mutex> guard(authorisation_lock_);
  if (auth_thread_.joinable()) auth_thread_.join();
}

void ServerAPI::HeartBeat(const std::string& json) {
  heartbeat_queue_.Push(json);
  WakeWorker();
}

void ServerAPI::Report(const std::string& json) {
  ++reports_received_;
  if (!SpoolReport(json)) CountOverwritten(report_buffer_.PushBack(json));
  WakeWorker();
}

ReportCounters ServerAPI::Counters() const {
  return {reports_received_, reports_delivered_, overwrites_.Total(), reports_refused_};
}

std::optional<std::chrono::system_clock::time_point> ServerAPI::LastDelivery() const {
  const auto ticks = last_delivery_.load();
  if (ticks == 0) return std::nullopt;
  return std::chrono::system_clock::time_point(std::chrono::system_clock::duration(ticks));
}

std::size_t ServerAPI::PendingReports() const {
  return report_buffer_.Size() + (spool_ ? static_cast<std::size_t>(spool_->Unread()) : 0);
}

std::optional<ReportSpoolStatus> ServerAPI::SpoolStatus() const {
  if (!spool_) return std::nullopt;
  return spool_->Status();
}

void ServerAPI::FlushSpool() {
  if (spool_) spool_->Flush();
}

std::unique_ptr<ReportSpool> ServerAPI::OpenSpool(const ReportSpoolSettings& settings) const {
  if (settings.directory.empty()) return nullptr;
  ReportSpoolOptions spool;
  spool.directory = settings.directory;
  spool.max_bytes = std::uint64_t{std::max<std::uint32_t>(settings.size_mib, 1)} << 20;
  spool.ttl = std::chrono::hours(settings.ttl_hours);
  spool.max_document_bytes = options_.buffer_max_bytes;
  spool.wall_clock = options_.wall_clock;
  spool.drop_log_period = options_.overwrite_log_period;
  spool.clock = options_.clock;
  return ReportSpool::Open(std::move(spool));
}

bool ServerAPI::SpoolReport(const std::string& json) {
  if (!spool_ || !spool_->Active()) return false;
  if (json.size() > options_.buffer_max_bytes) {  // the buffer could never take it
    CountOverwritten(1);
    return true;
  }
  if (!spool_->Append(json)) return false;
  if (spool_flusher_) spool_flusher_->Wake();
  return true;
}

void ServerAPI::FillFromSpool() {
  if (!spool_) return;
  while (const auto size = spool_->NextSize()) {
    if (!report_buffer_.HasRoomFor(*size)) return;
    report_buffer_.PushBack(spool_->Next()->document);
  }
}

void ServerAPI::SettleSpooled(std::size_t count) {
  if (!spool_) return;
  spool_->Settle(count);
  if (spool_flusher_) spool_flusher_->Wake();
}

void ServerAPI::CountOverwritten(std::size_t dropped) { overwrites_.Add(dropped); }

bool ServerAPI::HasPending() const {
  return !heartbeat_queue_.Empty() || !report_buffer_.Empty() || (spool_ && spool_->Unread() > 0);
}

void ServerAPI::WakeWorker() const {
  if (worker_) worker_->Wake();
}

std::string ServerAPI::AccessToken() const {
  const std::lock_guard<std::mutex> guard(token_lock_);
  return access_token_;
}

std::string ServerAPI::RefreshToken() const {
  const std::lock_guard<std::mutex> guard(token_lock_);
  return refresh_token_;
}

bool ServerAPI::Authorised() const {
  const std::lock_guard<std::mutex> guard(token_lock_);
  return !access_token_.empty() && !refresh_token_.empty();
}

bool ServerAPI::Authentication(const std::string& device_id, std::function<void(bool)> done) {
  {
    const std::lock_guard<std::mutex> guard(authorisation_lock_);
    auth_device_id_ = device_id;
    auth_done_ = done;
  }
  if (Authorised() && !token_rejected_) {
    LOG_VERBOSE << "Already authenticated.";
    done(true);
    return true;
  }
  if (authenticating_) return false;
  return StartAuthorisation(device_id, std::move(done));
}

bool ServerAPI::StartAuthorisation(const std::string& device_id, std::function<void(bool)> done) {
  // One authorisation at a time, also while the first code is being requested.
  if (auth_active_.exchange(true)) return false;
  const std::lock_guard<std::mutex> guard(authorisation_lock_);
  if (auth_thread_.joinable()) auth_thread_.join();  // the previous one has ended
  auth_thread_ = std::thread([this, device_id, done = std::move(done)] { AuthenticationThread(device_id, done); });
  return true;
}

void ServerAPI::AuthenticationThread(const std::string& device_id, const std::function<void(bool)>& done) {
  auto [requested, code] = AuthenticationRequest(device_id);
  if (!requested) {
    auth_active_ = false;
    return;
  }
  authenticating_ = true;
  while (true) {
    const auto [verified, status] = AuthenticationVerify(device_id, code);
    if (verified) break;
    if (status == 408) code = AuthenticationRequest(device_id).second;
    if (!stop_.WaitFor(options_.verify_period)) {  // shutting down
      authenticating_ = false;
      auth_active_ = false;
      return;
    }
  }
  authenticating_ = false;
  done(true);
  auth_active_ = false;
}

std::pair<bool, std::string> ServerAPI::AuthenticationRequest(const std::string& device_id) {
  const curl::header_list headers(kFormHeaders);
  const auto [text, status] = Post(base_url_ + request_path_, headers, "device_id=" + curl::form_escape(device_id));
  if (!Success(status)) return {false, ""};
  try {
    return {true, json::parse(text).at("code").get<std::string>()};
  } catch (const json::exception& error) {
    LOG_ERROR << "jSON Parsing Error : " << error.what();
    return {false, ""};
  }
}

std::pair<bool, int> ServerAPI::AuthenticationVerify(const std::string& device_id, const std::string& code) {
  const curl::header_list headers(kFormHeaders);
  const std::string body = "device_id=" + curl::form_escape(device_id) + "&code=" + curl::form_escape(code) +
                           "&client_id=" + curl::form_escape(client_id_) +
                           "&client_secret=" + curl::form_escape(client_secret_);
  const auto [text, status] = Post(base_url_ + verify_path_, headers, body);
  if (status != 201) return {false, static_cast<int>(status)};
  try {
    const json tokens = json::parse(text);
    const auto access = tokens.at("access_token").get<std::string>();
    const auto refresh = tokens.at("refresh_token").get<std::string>();
    {
      const std::lock_guard<std::mutex> guard(token_lock_);
      access_token_ = access;
      refresh_token_ = refresh;
    }
    settings_.StoreTokens(access, refresh);
    token_rejected_ = false;
    return {true, 201};
  } catch (const json::exception& error) {
    LOG_ERROR << "jSON Parsing Error : " << error.what();
    return {false, static_cast<int>(status)};
  }
}

std::vector<std::string> ServerAPI::BearerHeaders(const char* cache_control) const {
  return {cache_control, "Content-Type: application/json", "Authorization: Bearer " + AccessToken()};
}

bool ServerAPI::PostHeartBeat(const std::string& json) { return Deliver(heartbeat_path_, json) != Delivery::kKept; }

bool ServerAPI::PostData(const std::string& json) {
  const Delivery delivery = Deliver(report_path_, json);
  return delivery == Delivery::kTaken || delivery == Delivery::kRefused;
}

ServerAPI::Delivery ServerAPI::Deliver(const char* path, const std::string& json, std::size_t reports) {
  const Delivery delivery = Exchange(path, json, reports);
  std::function<void(bool)> observer;
  {
    const std::lock_guard<std::mutex> guard(observer_lock_);
    observer = delivery_observer_;
  }
  if (observer) observer(delivery == Delivery::kTaken || delivery == Delivery::kRefused);
  return delivery;
}

void ServerAPI::ObserveDeliveries(std::function<void(bool delivered)> observer) {
  const std::lock_guard<std::mutex> guard(observer_lock_);
  delivery_observer_ = std::move(observer);
}

ServerAPI::Delivery ServerAPI::Exchange(const char* path, const std::string& json, std::size_t reports) {
  const curl::header_list headers(BearerHeaders("cache-control: no-cache"));
  const std::string url = base_url_ + path;
  curl::response answer;
  {
    const std::lock_guard<std::mutex> guard(delivery_lock_);
    answer = delivery_session_.perform("POST", url.c_str(), headers, json.c_str(), options_.request_timeout, tls_);
  }
  const auto& [text, status] = answer;
  if (!HttpAnswer(status)) {  // the server never took it
    if (status == CURLE_COULDNT_RESOLVE_HOST || status == CURLE_COULDNT_CONNECT) {
      LogTransportFailure(status);
    } else {
      LOG_WARN << "Transfer failed ( " << status << " ) : " << text;
    }
    return Delivery::kKept;
  }
  if (status == 401) {
    OnTokenRejected();
    return Delivery::kKept;
  }
  token_rejected_ = false;  // the server takes the token (again)
  if (status < 400) return Delivery::kTaken;
  const bool refused = status < 500 && status != 429;
  if (refused && reports > 1) {  // not dropped: its reports go again in smaller requests
    LOG_WARN << "Server Error ( " << status << " ) to " << reports << " merged reports, sending them in halves.";
  } else {
    LOG_ERROR << "Server Error ( " << status << " ) : " << text;
  }
  return refused ? Delivery::kRefused : Delivery::kRetryLater;
}

// The stored token is no longer accepted: the device authorisation runs again (at most one
// at a time; the worker's pace bounds the attempts), and the tokens are replaced when it
// yields a new pair. Until then every delivery keeps its document.
void ServerAPI::OnTokenRejected() {
  if (!token_rejected_.exchange(true)) {
    LOG_ERROR << "Access token rejected by the server (401): reports are kept, authorising the device again.";
  }
  std::string device_id;
  std::function<void(bool)> done;
  {
    const std::lock_guard<std::mutex> guard(authorisation_lock_);
    device_id = auth_device_id_.empty() ? settings_.DeviceID() : auth_device_id_;
    done = auth_done_;
  }
  if (!done) done = [](bool) {};
  if (!authenticating_) StartAuthorisation(device_id, std::move(done));
}

std::string ServerAPI::PLCInfo(const std::string& device_id) {
  const curl::header_list headers(BearerHeaders("cache-control: no-cache"));
  const auto [text, status] = Get(base_url_ + devices_path_ + "/" + device_id, headers);
  if (!Success(status)) return "";
  if (!JsonNestingWithin(text, kMaxPlcListNesting)) {
    LOG_ERROR << "PLC list refused: nested deeper than " << kMaxPlcListNesting << " levels";
    return "";
  }
  try {
    const json body = json::parse(text);
    if (body.is_object() && body.contains("plcs")) return body.at("plcs").dump();
  } catch (const json::exception& error) {
    LOG_ERROR << "jSON Parsing Error : " << error.what();
  }
  return "";
}

std::tuple<bool, bool, json> ServerAPI::DeviceBeaconFolds(const std::string& device_id) {
  const curl::header_list headers(BearerHeaders("cache-control: no-cache"));
  const auto [text, status] = Get(base_url_ + devices_path_ + "/" + device_id, headers);
  if (!Success(status)) return {false, false, json()};
  try {
    const json sensor = json::parse(text).at("sensor");
    const bool ble_enabled = sensor.contains("ble_enabled") && !sensor.at("ble_enabled").is_null() &&
                             sensor.at("ble_enabled").get<bool>();
    return {true, ble_enabled, FoldsOf(sensor)};
  } catch (const std::exception& error) {
    LOG_ERROR << "jSON Parsing Error : " << error.what();
    return {false, false, json()};
  }
}

bool ServerAPI::FirmwareConfigTest(json& config) {
  // "no-chache" is kept misspelt on purpose: the firmware host has always received this exact header line.
  return FetchConfiguration(options_.firmware_config_url, {"cache-control: no-chache", "Content-Type: application/json"},
                            config);
}

// GET `url` and parse the whole body as JSON into `config`.
bool ServerAPI::FetchConfiguration(const std::string& url, const std::vector<std::string>& header_lines,
                                   json& config) {
  const curl::header_list headers(header_lines);
  const auto [text, status] = Get(url, headers);
  if (!Success(status)) {
    LogTransportFailure(status);
    return false;
  }
  try {
    config = json::parse(text);
    return true;
  } catch (const json::exception& error) {
    LOG_ERROR << "jSON Parsing Error : " << error.what();
    return false;
  }
}

curl::response ServerAPI::Get(const std::string& url, const curl::header_list& headers) {
  return curl::perform_request("GET", url.c_str(), headers, nullptr, options_.request_timeout, tls_);
}

curl::response ServerAPI::Post(const std::string& url, const curl::header_list& headers, const std::string& body) {
  return Post(url.c_str(), headers, body.c_str());
}

curl::response ServerAPI::Post(const char* url, const curl::header_list& headers, const char* body) {
  return curl::perform_request("POST", url, headers, body, options_.request_timeout, tls_);
}

void ServerAPI::PostPending() {
  if (!heartbeat_queue_.Empty()) PostHeartBeat(heartbeat_queue_.Pop());
  overwrites_.Flush();
  FillFromSpool();
  if (!report_buffer_.Empty() && !BackingOff()) PostReports();
}

void ServerAPI::PostReports() {
  std::size_t limit = batching_ ? options_.batch_max_reports : 1;
  if (suspect_reports_ > 0) limit = std::min(suspect_batch_limit_, suspect_reports_);
  std::vector<std::string> pending = report_buffer_.TakeFront(limit, options_.batch_max_bytes);
  if (pending.empty()) return;
  const ReportBatch batch = MergeReports(pending, options_.batch_max_bytes);
  // What does not go into this request returns to the front at once.
  const auto rest = pending.begin() + static_cast<std::ptrdiff_t>(batch.documents);
  CountOverwritten(report_buffer_.PushFront(
      std::vector<std::string>(std::make_move_iterator(rest), std::make_move_iterator(pending.end()))));
  pending.erase(rest, pending.end());
  const Delivery delivery = Deliver(report_path_, batch.body, pending.size());
  Settle(delivery, std::move(pending));
}

void ServerAPI::Settle(Delivery delivery, std::vector<std::string> batch) {
  const std::size_t count = batch.size();
  if (delivery == Delivery::kKept || delivery == Delivery::kRetryLater) {
    if (delivery == Delivery::kRetryLater) BackOff();
    CountOverwritten(report_buffer_.PushFront(std::move(batch)));
    return;
  }
  backoff_ = std::chrono::milliseconds(0);
  if (delivery == Delivery::kRefused && count > 1) {
    // Find the refused reports by halves; the others still go out merged.
    suspect_reports_ = count;
    suspect_batch_limit_ = (count + 1) / 2;
    CountOverwritten(report_buffer_.PushFront(std::move(batch)));
    return;
  }
  suspect_reports_ -= std::min(suspect_reports_, count);
  SettleSpooled(count);
  if (delivery == Delivery::kTaken) {
    reports_delivered_ += count;
    last_delivery_ = options_.wall_clock().time_since_epoch().count();
  } else {
    ++reports_refused_;
  }
}

void ServerAPI::BackOff() {
  backoff_ = backoff_.count() == 0 ? options_.backoff_first : std::min(backoff_ * 2, options_.backoff_max);
  report_resume_at_ = options_.clock() + backoff_;
}
