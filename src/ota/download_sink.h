#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "curl/response_writer.h"
#include "ota/download_allowance.h"

namespace ota {

// The target of a firmware download: the body goes to `file` while it stays within the
// download's allowance. Before the first byte is written, the size the server announces
// (its Content-Length) is held against the allowance, so a file that cannot fit is refused
// before any of it lands; then every chunk is counted against it, for a server that
// announces nothing or sends more. A refused chunk (or a failing file) makes libcurl end
// the transfer with a write error; Refusal() says why it was refused.
class DownloadSink {
 public:
  // The size the server announced, asked once the body starts; nothing when none was.
  using AnnouncedSize = std::function<std::optional<std::uint64_t>()>;

  DownloadSink(std::ostream& file, DownloadAllowance allowance);
  DownloadSink(const DownloadSink&) = delete;
  DownloadSink& operator=(const DownloadSink&) = delete;

  // Set once the transfer's handle exists, before it starts.
  void AnnouncedBy(AnnouncedSize announced) { announced_ = std::move(announced); }
  // The writer to hand to libcurl; the sink must outlive the transfer.
  curl::response_writer Writer();

  // Writes `length` bytes; returns `length`, or 0 when refused or the file fails.
  std::size_t Write(const char* data, std::size_t length);

  // Why the body was refused; empty when it was not.
  const std::string& Refusal() const { return refusal_; }
  std::uint64_t Written() const { return written_; }

 private:
  bool Refuse(std::optional<std::string> reason);

  std::ostream& file_;
  const DownloadAllowance allowance_;
  AnnouncedSize announced_;
  bool started_ = false;
  std::uint64_t written_ = 0;
  std::string refusal_;
};

}  // namespace ota
