#include "platform/scenario.h"

namespace sim::platform {

namespace {

constexpr const char* kDefaults = R"({
  "wan": {
    "up": true,
    "up_status": {"up":true,"pending":false,"available":true,"autostart":true,"dynamic":false,"uptime":0,"l3_device":"eth1","proto":"dhcp","device":"eth1","updated":["addresses","routes"],"metric":0,"dns_metric":0,"delegation":true,"ipv4-address":[{"address":"192.168.1.23","mask":24}],"ipv6-address":[],"ipv6-prefix":[],"ipv6-prefix-assignment":[],"route":[{"target":"0.0.0.0","mask":0,"nexthop":"192.168.1.1","source":"192.168.1.23/32"}],"dns-server":["192.168.1.1"],"dns-search":[],"neighbors":[],"inactive":{"ipv4-address":[],"ipv6-address":[],"route":[],"dns-server":[],"dns-search":[],"neighbors":[]},"data":{"leasetime":43200}},
    "down_status": {"up":false,"pending":false,"available":true,"autostart":false,"dynamic":false,"proto":"dhcp","device":"eth1","data":{}}
  },
  "scan": {
    "wlan0": [
      {"ssid":"Office","bssid":"D8:0D:17:2B:4C:10","mode":"Master","band":2,"channel":6,"mhz":2437,"signal":-48,"quality":62,"quality_max":70,"ht_operation":{"primary_channel":6,"secondary_channel_offset":"no secondary","channel_width":20},"encryption":{"enabled":true,"wpa":[2],"authentication":["psk"],"ciphers":["ccmp"]}},
      {"ssid":"HomeNet","bssid":"A4:2B:B0:77:10:9E","mode":"Master","band":2,"channel":11,"mhz":2462,"signal":-60,"quality":50,"quality_max":70,"ht_operation":{"primary_channel":11,"secondary_channel_offset":"below","channel_width":2040},"encryption":{"enabled":true,"wpa":[1,2],"authentication":["psk"],"ciphers":["tkip","ccmp"]}},
      {"ssid":"CafeGuest","bssid":"02:1A:11:F0:C3:01","mode":"Master","band":2,"channel":1,"mhz":2412,"signal":-67,"quality":43,"quality_max":70,"ht_operation":{"primary_channel":1,"secondary_channel_offset":"no secondary","channel_width":20},"encryption":{"enabled":false}},
      {"ssid":"OldPrinter","bssid":"00:0F:B5:12:34:56","mode":"Master","band":2,"channel":11,"mhz":2462,"signal":-80,"quality":30,"quality_max":70,"encryption":{"enabled":true,"wep":["open","shared"],"ciphers":["wep-40","wep-104"]}},
      {"ssid":"CorpWLAN","bssid":"70:3A:0E:41:22:80","mode":"Master","band":5,"channel":36,"mhz":5180,"signal":-55,"quality":55,"quality_max":70,"ht_operation":{"primary_channel":36,"secondary_channel_offset":"above","channel_width":2040},"vht_operation":{"channel_width":80,"center_freq_1":42,"center_freq_2":0},"encryption":{"enabled":true,"wpa":[2],"authentication":["802.1x"],"ciphers":["ccmp"]}}
    ]
  },
  "board": {"kernel":"6.6.110","hostname":"OpenWrt","system":"MediaTek MT7621 ver:1 eco:3","model":"Example MT7621 Router","board_name":"example,mt7621-router","rootfs_type":"squashfs","release":{"distribution":"OpenWrt","version":"24.10.4","revision":"r28959-29397011cc","target":"ramips/mt7621","description":"OpenWrt 24.10.4 r28959-29397011cc","builddate":"1760891865"}},
  "wireless": {"brings_wan_up": true, "apply_delay_ms": 1000},
  "reboot_record": ""
})";

}  // namespace

Scenario Scenario::FromText(const std::string& text) {
  nlohmann::ordered_json merged = nlohmann::ordered_json::parse(kDefaults);
  if (!text.empty()) merged.merge_patch(nlohmann::ordered_json::parse(text));
  Scenario scenario;
  scenario.wan_up = merged["wan"]["up"].get<bool>();
  scenario.wan_up_status = merged["wan"]["up_status"];
  scenario.wan_down_status = merged["wan"]["down_status"];
  scenario.scan = merged["scan"];
  scenario.board = merged["board"];
  scenario.wireless_brings_wan_up = merged["wireless"]["brings_wan_up"].get<bool>();
  scenario.wireless_apply_delay_ms = merged["wireless"]["apply_delay_ms"].get<int>();
  scenario.reboot_record = merged["reboot_record"].get<std::string>();
  return scenario;
}

}  // namespace sim::platform
