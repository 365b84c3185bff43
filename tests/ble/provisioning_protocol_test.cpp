// The provisioning commands against a recording transmit queue and application: the replies
// of each command, what is posted, what is stored, the start timer, and values that are not
// requests at all.

#include <gtest/gtest.h>

#include <atomic>

#include "ble/provisioning_protocol.h"
#include "ble_test_support.h"
#include "log/logger.h"
#include "mailbox/message_id.h"
#include "nvram/base64.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using ble::Bytes;
using nlohmann::json;
using testing_support::WaitUntil;
using Ids = std::vector<std::uint32_t>;

namespace {

Bytes Cbor(const char* request) { return json::to_cbor(json::parse(request)); }

class Protocol : public ::testing::Test {
 protected:
  explicit Protocol(BlePlatform platform = Platform()) { Make(std::move(platform)); }
  static BlePlatform Platform() {
    BlePlatform platform;
    platform.start_mesh_delay = 600ms;
    platform.disconnect_grace = 100ms;
    return platform;
  }
  void Make(BlePlatform platform) {
    protocol_ = std::make_unique<ble::ProvisioningProtocol>(
        poster_, store_.Store(), [this](Bytes reply) { Sent(std::move(reply)); }, platform);
  }
  void Sent(Bytes reply) {
    const std::lock_guard<std::mutex> guard(lock_);
    replies_.push_back(json::from_cbor(reply));
    raw_.push_back(std::move(reply));
  }
  std::vector<json> Replies() {
    const std::lock_guard<std::mutex> guard(lock_);
    return replies_;
  }
  std::vector<Bytes> Raw() {
    const std::lock_guard<std::mutex> guard(lock_);
    return raw_;
  }
  void Send(const char* request) { protocol_->HandleRequest(Cbor(request)); }
  void StoreMeshKeys() { ble_test::StoreMeshKeys(store_.Store()); }
  // Everything "M" may store, for comparison.
  std::vector<std::string> StoredCredentials() {
    auto& store = store_.Store();
    return {base64::Encode(store.MeshDevKey()), base64::Encode(store.MeshNetKey()),
            base64::Encode(store.MeshAppKey()), std::to_string(store.NetAddr()), std::to_string(store.GroupAddr())};
  }

  ble_test::MemoryStore store_;
  std::shared_ptr<ble_test::RecordingPoster> poster_ = std::make_shared<ble_test::RecordingPoster>();
  std::mutex lock_;
  std::vector<json> replies_;
  std::vector<Bytes> raw_;
  std::unique_ptr<ble::ProvisioningProtocol> protocol_;
};

}  // namespace

TEST_F(Protocol, IdentityReply) {
  Send(R"({"C":"I"})");
  ASSERT_EQ(Replies().size(), 1u);
  EXPECT_EQ(Replies()[0], json::parse(R"({"R":"I","s":"MGExYjJjM2Q0ZTVmMDAwMQ==","d":"MGExYjJjM2Q0ZTVm"})"));
  EXPECT_TRUE(poster_->Ids().empty());
}

TEST_F(Protocol, IdentityUnknownIsNull) {
  store_.Store().SerialNumber("");
  Send(R"({"C":"I"})");
  EXPECT_EQ(Raw(), (std::vector<Bytes>{{0xF6}}));
}

TEST_F(Protocol, ScanRepliesAtOnceAndTheListFollows) {
  Send(R"({"C":"WS"})");
  EXPECT_EQ(Replies(), (std::vector<json>{ble::ReplyWS()}));
  EXPECT_EQ(poster_->Ids(), (Ids{mailbox::APP_EVT_SCAN_WIRELESS_AP}));
  EXPECT_EQ(poster_->Messages()[0].data, nullptr);

  protocol_->PutWirelessAPList(json::parse(R"([
    {"ssid":"Office","bssid":"D8:0D:17:2B:4C:10","quality":62,"encryption":{"enabled":true,"wpa":[2],"authentication":["psk"],"ciphers":["ccmp"]}},
    {"ssid":"CorpWLAN","bssid":"70:3A:0E:41:22:80","quality":55,"encryption":{"enabled":true,"wpa":[2],"authentication":["802.1x"],"ciphers":["ccmp"]}},
    {"ssid":"CafeGuest","bssid":"02:1A:11:F0:C3:01","quality":43,"encryption":{"enabled":false}},
    {"ssid":"OldPrinter","bssid":"00:0F:B5:12:34:56","quality":30,"encryption":{"enabled":true,"wep":["open","shared"],"ciphers":["wep-40","wep-104"]}}
  ])"));
  const auto replies = Replies();
  ASSERT_EQ(replies.size(), 5u);
  EXPECT_EQ(replies[1]["P"]["s"], "Office");
  EXPECT_EQ(replies[1]["P"]["e"], "psk2+ccmp");
  EXPECT_EQ(replies[2]["P"]["s"], "CafeGuest");
  EXPECT_EQ(replies[2]["P"]["e"], "none");
  EXPECT_EQ(replies[3]["P"]["e"], "wep");
  EXPECT_EQ(replies[4], ble::ReplyWLE());
}

TEST_F(Protocol, EmptyOrMalformedScanGivesOnlyTheEnd) {
  for (const char* results : {"[]", "null", R"({"ssid":"x"})"}) {
    protocol_->PutWirelessAPList(json::parse(results));
  }
  EXPECT_EQ(Replies(), (std::vector<json>(3, ble::ReplyWLE())));
}

TEST_F(Protocol, WirelessSetupPostsTheParameters) {
  Send(R"({"C":"WP","P":{"s":"Office","e":"psk2+ccmp","k":"s3cret","o":1}})");
  EXPECT_EQ(Replies(), (std::vector<json>{ble::ReplyWP()}));
  ASSERT_EQ(poster_->Ids(), (Ids{mailbox::APP_EVT_SET_WIRELESS_AP}));
  EXPECT_EQ(mailbox::PayloadAs<json>(poster_->Messages()[0]),
            json::parse(R"({"s":"Office","e":"psk2+ccmp","k":"s3cret","o":1})"));

  protocol_->PutWirelessConnectionEvent(true);
  protocol_->PutWirelessConnectionEvent(false);
  EXPECT_EQ(Replies(), (std::vector<json>{ble::ReplyWP(), ble::ReplyWCS(), ble::ReplyWCF()}));
}

TEST_F(Protocol, WirelessSetupWithoutAllFieldsIsStillPosted) {
  Send(R"({"C":"WP","P":{"s":"Office"}})");
  Send(R"({"C":"WP"})");
  EXPECT_EQ(Replies(), (std::vector<json>{ble::ReplyWP(), ble::ReplyWP()}));
  EXPECT_EQ(poster_->Ids(), (Ids{mailbox::APP_EVT_SET_WIRELESS_AP, mailbox::APP_EVT_SET_WIRELESS_AP}));
}

TEST_F(Protocol, WirelessSetupThatIsNotUtf8FailsAtOnce) {
  for (const char* field : {"s", "k"}) {
    replies_.clear();
    json parameters{{"s", "Office"}, {"e", "psk2"}, {"k", "secret"}};
    parameters[field] = std::string("caf\xC3", 4);  // a cut-off two-byte sequence
    protocol_->HandleRequest(json::to_cbor(json{{"C", "WP"}, {"P", parameters}}));
    EXPECT_EQ(Replies(), (std::vector<json>{ble::ReplyWP(), ble::ReplyWCF()})) << field;
  }
  EXPECT_TRUE(poster_->Ids().empty());
}

TEST_F(Protocol, MeshCredentialsAreStored) {
  Send(R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":2,"g":51712})");
  EXPECT_EQ(Replies(), (std::vector<json>{ble::ReplyM()}));
  auto& store = store_.Store();
  EXPECT_EQ(base64::Encode(store.MeshNetKey()), "AAECAwQFBgcICQoLDA0ODw==");
  EXPECT_EQ(base64::Encode(store.MeshAppKey()), "EBESExQVFhcYGRobHB0eHw==");
  EXPECT_EQ(store.MeshDevKey().size(), 16u);
  EXPECT_EQ(store.NetAddr(), 2);
  EXPECT_EQ(store.GroupAddr(), 0xCA00);

  // Without "g" the group address stays; every request draws a fresh device key.
  const auto first_key = store.MeshDevKey();
  Send(R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":3})");
  EXPECT_EQ(Replies().size(), 2u);
  EXPECT_EQ(store.NetAddr(), 3);
  EXPECT_EQ(store.GroupAddr(), 0xCA00);
  EXPECT_NE(store.MeshDevKey(), first_key);
}

// Every field is checked before anything is stored: a refused request leaves the earlier
// credentials as they were, and gets no reply.
TEST_F(Protocol, MeshCredentialsRefusedWithoutReply) {
  StoreMeshKeys();
  const auto stored = StoredCredentials();
  const std::vector<const char*> refused{
      R"({"C":"M","n":"","a":"EBESExQVFhcYGRobHB0eHw==","u":2})",                  // empty key
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"","u":2})",                  // empty key
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":0})",
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":32768})",
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":2,"g":51711})",
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":2,"g":64513})",
      R"({"C":"M","a":"EBESExQVFhcYGRobHB0eHw==","u":2})",                          // missing "n"
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw=="})",  // missing "u"
      R"({"C":"M","n":7,"a":"EBESExQVFhcYGRobHB0eHw==","u":2})",                     // wrong types
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":"2"})",
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":-1})",
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":65538})",
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":2.5})",
      // Keys that are not Base64 of exactly 16 bytes, each field wrong in turn.
      R"({"C":"M","n":"x","a":"EBESExQVFhcYGRobHB0eHw==","u":2})",
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0O","a":"EBESExQVFhcYGRobHB0eHw==","u":2})",          // 15 bytes
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODxA=","a":"EBESExQVFhcYGRobHB0eHw==","u":2})",      // 17 bytes
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw","a":"EBESExQVFhcYGRobHB0eHw==","u":2})",        // unpadded
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODx==","a":"EBESExQVFhcYGRobHB0eHw==","u":2})",      // stray bits
      R"({"C":"M","n":"AAECAwQFBgcICQoL!A0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":2})",
      R"({"C":"M","n":"AAECAwQFBgcI CQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":2})",
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0e","u":2})",
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==x","u":2})",
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":["EBESExQVFhcYGRobHB0eHw=="],"u":2})",
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":2,"g":"51712"})",
      R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":2,"g":null})",
  };
  for (const auto* request : refused) {
    Send(request);
    EXPECT_EQ(StoredCredentials(), stored) << request;
  }
  EXPECT_TRUE(Replies().empty());
  // The protocol carries on with the next request.
  Send(R"({"C":"S"})");
  EXPECT_EQ(Replies(), (std::vector<json>{ble::ReplyS()}));
}

// A key may come with the line break a phone's encoder adds; it is stored without it.
TEST_F(Protocol, KeysAreStoredInTheirCanonicalForm) {
  protocol_->HandleRequest(json::to_cbor(
      json{{"C", "M"}, {"n", "AAECAwQFBgcICQoLDA0ODw==\n"}, {"a", " EBESExQVFhcYGRobHB0eHw==\r\n"}, {"u", 0x7FFF}}));
  EXPECT_EQ(Replies(), (std::vector<json>{ble::ReplyM()}));
  EXPECT_EQ(base64::Encode(store_.Store().MeshNetKey()), "AAECAwQFBgcICQoLDA0ODw==");
  EXPECT_EQ(base64::Encode(store_.Store().MeshAppKey()), "EBESExQVFhcYGRobHB0eHw==");
  EXPECT_EQ(store_.Store().NetAddr(), 0x7FFF);
  EXPECT_TRUE(store_.Store().MeshCredentialsStored());
}

// "S" without stored mesh keys would store mesh mode with nothing to start: refused with a
// line, no reply and nothing posted; once "M" is accepted, "S" is.
TEST_F(Protocol, StartIsRefusedUntilMeshKeysAreStored) {
  Send(R"({"C":"S"})");
  Send(R"({"C":"M","n":"x","a":"EBESExQVFhcYGRobHB0eHw==","u":2})");
  Send(R"({"C":"S"})");
  EXPECT_TRUE(Replies().empty());
  EXPECT_FALSE(protocol_->StartRequested());
  protocol_->PhoneConnectionChanged();
  Send(R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":2})");
  Send(R"({"C":"S"})");
  EXPECT_EQ(Replies(), (std::vector<json>{ble::ReplyM(), ble::ReplyS()}));
  EXPECT_TRUE(protocol_->StartRequested());
  EXPECT_TRUE(WaitUntil([&] { return poster_->Ids() == Ids{mailbox::APP_EVT_START_MESH}; }, 5s));
}

// One scan at a time: requests during a scan get their "WS" and share its list; the scan
// ends with its list or its failure, and the next request starts another.
TEST_F(Protocol, ScanRequestsDuringAScanShareItsList) {
  for (int index = 0; index < 3; ++index) Send(R"({"C":"WS"})");
  EXPECT_EQ(Replies(), (std::vector<json>(3, ble::ReplyWS())));
  EXPECT_EQ(poster_->Ids(), (Ids{mailbox::APP_EVT_SCAN_WIRELESS_AP}));
  protocol_->PutWirelessAPList(json::array());
  EXPECT_EQ(Replies().back(), ble::ReplyWLE());
  EXPECT_EQ(Replies().size(), 4u) << "one list for the three requests";

  Send(R"({"C":"WS"})");
  Send(R"({"C":"WS"})");
  EXPECT_EQ(poster_->Ids().size(), 2u);
  protocol_->WirelessScanFailed();
  EXPECT_EQ(Replies().size(), 6u) << "a failed scan sends nothing";
  Send(R"({"C":"WS"})");
  EXPECT_EQ(poster_->Ids().size(), 3u);
}

TEST_F(Protocol, NonUtf8KeysAreRefused) {
  const auto stored = store_.Store().MeshNetKey();
  protocol_->HandleRequest(json::to_cbor(json{{"C", "M"}, {"n", std::string("\xFF\xFE", 2)}, {"a", "EBESExQVFhcYGRobHB0eHw=="}, {"u", 2}}));
  EXPECT_TRUE(Replies().empty());
  EXPECT_EQ(store_.Store().MeshNetKey(), stored);
}

TEST_F(Protocol, GarbageIsDroppedAndTheNextRequestAnswered) {
  const std::vector<Bytes> garbage{
      {},
      {0xFF, 0x00, 0x13},
      {0xA1, 0x61, 'C'},                    // cut short
      {0xA1, 0x61, 'C', 0x61, 'I', 0x00},   // trailing byte
      Cbor(R"(["C","I"])"),                 // not an object
      Cbor(R"({"c":"I"})"),                 // no "C"
      Cbor(R"({"C":7})"),                   // "C" not a text
      Cbor(R"({"C":null})"),
      Cbor(R"({"C":"X"})"),                 // unknown command
      Cbor(R"({"C":"i"})"),
      {0xC1, 0xA1, 0x61, 'C', 0x61, 'I'},   // a tagged item
  };
  for (const auto& value : garbage) protocol_->HandleRequest(value);
  EXPECT_TRUE(Replies().empty());
  EXPECT_TRUE(poster_->Ids().empty());
  Send(R"({"C":"I"})");
  EXPECT_EQ(Replies().size(), 1u);
}

TEST_F(Protocol, StartWithoutDisconnectPostsAfterTheDelay) {
  StoreMeshKeys();
  Send(R"({"C":"S"})");
  EXPECT_EQ(Replies(), (std::vector<json>{ble::ReplyS()}));
  EXPECT_TRUE(protocol_->StartRequested());
  EXPECT_TRUE(poster_->Ids().empty());
  EXPECT_TRUE(WaitUntil([&] { return poster_->Ids() == Ids{mailbox::APP_EVT_START_MESH}; }, 5s));
}

TEST_F(Protocol, StartThenDisconnectPostsOnceAfterTheGrace) {
  StoreMeshKeys();
  Send(R"({"C":"S"})");
  const auto changed = std::chrono::steady_clock::now();
  protocol_->PhoneConnectionChanged();
  ASSERT_TRUE(WaitUntil([&] { return !poster_->Ids().empty(); }, 5s));
  const auto waited = std::chrono::steady_clock::now() - changed;
  EXPECT_GE(waited, 100ms);
  EXPECT_LT(waited, 550ms);  // well before the start delay
  // Neither the cancelled start timer nor a later change posts again.
  protocol_->PhoneConnectionChanged();
  std::this_thread::sleep_for(900ms);
  EXPECT_EQ(poster_->Ids(), (Ids{mailbox::APP_EVT_START_MESH}));
}

TEST_F(Protocol, ConnectionChangeBeforeStartDoesNothing) {
  protocol_->PhoneConnectionChanged();
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(poster_->Ids().empty());
}

TEST(ProtocolRandom, FailingGeneratorStoresNothing) {
  ble_test::MemoryStore store;
  auto poster = std::make_shared<ble_test::RecordingPoster>();
  std::atomic<int> replies{0};
  const auto device_key = store.Store().MeshDevKey();
  const auto network_key = store.Store().MeshNetKey();
  BlePlatform platform;
  platform.random = [](std::uint8_t*, std::size_t) { return false; };
  ble::ProvisioningProtocol protocol(poster, store.Store(), [&](Bytes) { ++replies; }, platform);
  protocol.HandleRequest(Cbor(R"({"C":"M","n":"AAECAwQFBgcICQoLDA0ODw==","a":"EBESExQVFhcYGRobHB0eHw==","u":2})"));
  EXPECT_EQ(replies, 0);
  EXPECT_EQ(store.Store().MeshDevKey(), device_key);
  EXPECT_EQ(store.Store().MeshNetKey(), network_key);
}
