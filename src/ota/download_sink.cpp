#include "ota/download_sink.h"

namespace ota {
namespace {

std::size_t WriteToSink(char* data, std::size_t size, std::size_t count, void* target) {
  return static_cast<DownloadSink*>(target)->Write(data, size * count);
}

}  // namespace

DownloadSink::DownloadSink(std::ostream& file, DownloadAllowance allowance) : file_(file), allowance_(allowance) {}

curl::response_writer DownloadSink::Writer() { return {&WriteToSink, this}; }

bool DownloadSink::Refuse(std::optional<std::string> reason) {
  if (!reason) return false;
  refusal_ = std::move(*reason);
  return true;
}

std::size_t DownloadSink::Write(const char* data, std::size_t length) {
  if (!refusal_.empty()) return 0;
  if (!started_) {
    started_ = true;
    std::optional<std::uint64_t> announced;
    try {
      if (announced_) announced = announced_();
    } catch (...) {  // called from libcurl: nothing may escape; an unknown size is checked as it arrives
    }
    if (announced && Refuse(allowance_.Refuses(*announced, "announced"))) return 0;
  }
  if (Refuse(allowance_.Refuses(written_ + length, "received"))) return 0;
  file_.write(data, static_cast<std::streamsize>(length));
  if (!file_) return 0;
  written_ += length;
  return length;
}

}  // namespace ota
