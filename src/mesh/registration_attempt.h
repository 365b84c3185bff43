#pragma once

#include "mesh/one_shot_result.h"

// The outcomes of one joining attempt, in the order the registration awaits them. Each
// attempt has fresh ones, so the gateway can join again (after the mesh daemon restarts).
struct RegistrationAttempt {
  OneShotResult import;
  OneShotResult attach;
  OneShotResult ttl;
  OneShotResult app_key;
  OneShotResult binding;
  OneShotResult subscription;
};
