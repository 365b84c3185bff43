#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "curl/curl_easy.h"
#include "curl/curl_exception.h"
#include "curl/header_list.h"

namespace {

using curl::curl_exception;

}  // namespace

TEST(CurlExceptions, RecordNewestFirstKeepOnlyTheNewestAndKeepTheCode) {
  curl_exception::clear_traceback();
  const curl::curl_easy_exception failure(CURLE_COULDNT_CONNECT, "perform");
  EXPECT_EQ(failure.get_code(), CURLE_COULDNT_CONNECT);
  EXPECT_EQ(failure.message(), curl_easy_strerror(CURLE_COULDNT_CONNECT));
  EXPECT_STREQ(failure.what(), std::exception().what()) << "what() is the standard library's text";
  const curl_exception header_failure("Null pointer exception", "add");
  auto records = curl_exception::get_traceback();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], (curl::curl_error_record{"Null pointer exception", "add"}));
  EXPECT_EQ(records[1].second, "perform");

  for (std::size_t index = 0; index < curl_exception::kTracebackCapacity + 10; ++index) {
    const curl_exception repeated("message " + std::to_string(index), "get_info");
  }
  records = curl_exception::get_traceback();
  ASSERT_EQ(records.size(), curl_exception::kTracebackCapacity);
  EXPECT_EQ(records.front().first, "message " + std::to_string(curl_exception::kTracebackCapacity + 9));
  curl_exception::clear_traceback();
  EXPECT_TRUE(curl_exception::get_traceback().empty());
}

TEST(CurlHeaderList, KeepsLinesInOrder) {
  const curl::header_list headers({"cache-control: no-chache", "Content-Type: application/json"});
  ASSERT_EQ(headers.size(), 2u);
  EXPECT_STREQ(headers.get()->data, "cache-control: no-chache");
  EXPECT_STREQ(headers.get()->next->data, "Content-Type: application/json");
  EXPECT_EQ(curl::header_list().get(), nullptr);
}

// A target that cannot take the body fails the transfer instead of passing for complete.
TEST(CurlEasy, FailedTargetStreamEndsTheTransferWithAWriteError) {
  const std::string url = "file:///proc/self/status";
  std::ofstream unopened;
  curl::curl_easy easy(curl::response_writer::to(unopened));
  easy.add(CURLOPT_URL, url.c_str());
  try {
    easy.perform();
    FAIL() << "perform succeeded";
  } catch (const curl::curl_easy_exception& failure) {
    EXPECT_EQ(failure.get_code(), CURLE_WRITE_ERROR);
    EXPECT_EQ(failure.operation(), "perform");
  }

  std::ostringstream text;
  curl::curl_easy reader(curl::response_writer::to(text));
  reader.add(CURLOPT_URL, url.c_str());
  reader.perform();
  EXPECT_NE(text.str().find("Name:"), std::string::npos);
}

TEST(CurlEasy, UnknownOptionAndInformationThrowWithTheirOperationNames) {
  std::ostringstream text;
  curl::curl_easy easy(curl::response_writer::to(text));
  const auto operation_of = [](const auto& action) {
    try {
      action();
    } catch (const curl::curl_easy_exception& failure) {
      return failure.operation() + " " + std::to_string(failure.get_code());
    }
    return std::string("no exception");
  };
  EXPECT_EQ(operation_of([&] { easy.add(static_cast<CURLoption>(99999), 1L); }),
            "add " + std::to_string(CURLE_UNKNOWN_OPTION));
  EXPECT_EQ(operation_of([&] { easy.get_info(static_cast<CURLINFO>(CURLINFO_LONG + 9999)); }),
            "get_info " + std::to_string(CURLE_UNKNOWN_OPTION));
  EXPECT_EQ(operation_of([&] { easy.get_info_off(static_cast<CURLINFO>(CURLINFO_OFF_T + 9999)); }),
            "get_info " + std::to_string(CURLE_UNKNOWN_OPTION));
  EXPECT_EQ(easy.get_info_off(CURLINFO_CONTENT_LENGTH_DOWNLOAD_T), -1);  // nothing transferred: not known
}
