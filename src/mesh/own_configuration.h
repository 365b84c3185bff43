#pragma once

#include <cstdint>
#include <vector>

#include "mesh/configuration_steps.h"
#include "mesh/network1.h"

class MeshSettings;
struct RegistrationAttempt;

// The configuration messages the gateway sends its own node's Configuration Server, and how
// that server's status replies (or a failed send) settle the steps of a joining attempt.
// Each builder returns the serialised message, or nothing when it cannot be built (the reason
// is logged). Pure functions: no thread or state of their own.
namespace own_configuration {

// The steps still needed by a node whose configuration Attach reported. Without application
// key 0 bound to the vendor model of element 0, the key is added (the daemon answers success
// for the same key already stored) and bound; without `group` among its subscriptions, that
// is added. Attach does not report the default TTL: it is set again
// whenever another step is needed. The steps run in order and stop at the first failure, so
// a binding or subscription is only ever added after a TTL step that succeeded.
Steps Missing(std::uint16_t group, const org::bluez::mesh::NodeConfiguration& configuration);

std::vector<std::uint8_t> TTLSet(const MeshSettings& settings);
std::vector<std::uint8_t> AppKeySet(const MeshSettings& settings);
std::vector<std::uint8_t> Binding(const MeshSettings& settings);
std::vector<std::uint8_t> SubscriptionAdd(const MeshSettings& settings);
std::vector<std::uint8_t> TTLGet();
std::vector<std::uint8_t> AppKeyGet();
std::vector<std::uint8_t> BindStatusGet(const MeshSettings& settings);
std::vector<std::uint8_t> SubscriptionGet(const MeshSettings& settings);

// A status reply completes its step: Default TTL Status always with success (the value is
// not compared), AppKey Status with success only for 00 00 00 00, Model App and Model
// Subscription Status only with all 9 bytes and status 0. Other replies are ignored.
void OnReply(RegistrationAttempt& attempt, const std::vector<std::uint8_t>& data);
// A request that did not go out fails its step at once, instead of leaving the registration
// to wait for a status that never comes.
void OnSendFailed(RegistrationAttempt& attempt, const std::vector<std::uint8_t>& request);

}  // namespace own_configuration
