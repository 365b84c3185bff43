// The cost of one report delivery to a local HTTPS stand-in of the cloud: a fresh libcurl
// handle per request (a new TCP connection and TLS handshake each time) against one
// handle reused across requests (its connection kept alive).

#include <benchmark/benchmark.h>

#include <iostream>
#include <streambuf>
#include <string>

#include "curl/request.h"
#include "sim-cloud/stand_in_cloud.h"

namespace {

// Discards what is written to it: the stand-in logs every request on std::cout.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

testing_support::StandInCloud& Cloud() {
  static testing_support::StandInCloud cloud;
  return cloud;
}

const curl::header_list& ReportHeaders() {
  static const curl::header_list headers(
      {"cache-control: no-cache", "Content-Type: application/json", "Authorization: Bearer bench-token"});
  return headers;
}

const std::string kReport = R"({"device_id":"0a1b2c3d4e5f","data":[{"type":"temp","value":21.5}]})";

void ReportWithFreshHandle(benchmark::State& state) {
  const std::string url = Cloud().BaseURL() + "/gateways/report";
  for (auto _ : state) {
    const auto answer = curl::perform_request("POST", url.c_str(), ReportHeaders(), kReport.c_str());
    if (answer.second != 200) state.SkipWithError(("status " + std::to_string(answer.second)).c_str());
  }
}
BENCHMARK(ReportWithFreshHandle)->Unit(benchmark::kMicrosecond);

void ReportWithReusedHandle(benchmark::State& state) {
  const std::string url = Cloud().BaseURL() + "/gateways/report";
  curl::session session;
  for (auto _ : state) {
    const auto answer = session.perform("POST", url.c_str(), ReportHeaders(), kReport.c_str());
    if (answer.second != 200) state.SkipWithError(("status " + std::to_string(answer.second)).c_str());
  }
}
BENCHMARK(ReportWithReusedHandle)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  std::ostream results(std::cout.rdbuf());
  NullBuffer discard;
  std::cout.rdbuf(&discard);
  benchmark::Initialize(&argc, argv);
  benchmark::ConsoleReporter reporter;
  reporter.SetOutputStream(&results);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
