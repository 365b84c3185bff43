#pragma once

#include <functional>
#include <string>

#include "cloud/cloud_hub.h"

namespace sim::cloud {

struct ControlReply {
  int status = 200;
  std::string body;
};

// The stand-in's control interface, HTTP with JSON bodies (on a local socket):
//   GET    /requests            the record of REST requests and channel handshakes
//   DELETE /requests            clears it (and the channel frames)
//   PUT    /scenario            replaces the scenario {"devices":{id:body},"firmware_conf":doc}
//   PATCH  /scenario            merges into it (JSON merge patch)
//   GET    /auth, POST /auth    the device authorisation script: {"approved","verify":[statuses],
//                               "request_status","access_token","refresh_token"}
//   POST   /faults              adds {"path","method","body_contains","status","body","delay_ms","drop","count"}
//   DELETE /faults              clears them
//   POST   /refuse              {"refuse":bool}: refuse or accept connections
//   PUT    /files/NAME          a file for the firmware host (raw body)
// The firmware host serves GET .../NAME from the scenario's "firmware_files" {NAME: {...}}
// first: "image" {"version","size","magic"} builds a device image, "content" is sent as
// is (without either, the file put under NAME); "stall_after" N sends the header (with the
// whole length) and N bytes, then stalls for "stall_ms" (default 10 min) or until the
// client leaves; "truncate_at" N sends N bytes and closes; "trickle" {"bytes","every_ms"}
// sends the header (with the whole length), then that many bytes at that pace;
// "redirect_to" URL answers 302 with that Location. A wrong version is an image whose
// "version" differs from the document's. With a signing key (--signing-key), NAME.sig is
// the Ed25519 signature of NAME (unless NAME.sig is a file of its own); NAME's "signature"
// "bad" signs other bytes, "missing" answers 404.
//   GET    /channel             channel connections: frames received and sent, subscriptions
//   POST   /channel/push        {"frame":text} to every open connection
//   POST   /channel/folds       {"device_id","folds":[{"key","fold"}],"all":bool}
//   POST   /channel/beacon      {"device_id","ble_enabled","all":bool}
//   POST   /channel/drop        drops every open connection (no closing frame)
//   POST   /channel/close       closes every open connection with a closing frame
//   POST   /channel/pings       {"enabled":bool}
//   POST   /channel/confirmations {"enabled":bool}: answer subscriptions or stay silent
// Folds and beacon pushes go to the connections subscribed to the device's sensor channel,
// or to all open connections with "all": true. Pushes answer {"sent": count}.
class ControlApi {
 public:
  ControlApi(CloudHub& hub, std::function<void(bool)> refuse);

  ControlReply Handle(const std::string& method, const std::string& target, const std::string& body);

 private:
  ControlReply HandleChannel(const std::string& method, const std::string& path, const std::string& body);

  CloudHub& hub_;
  std::function<void(bool)> refuse_;
};

}  // namespace sim::cloud
