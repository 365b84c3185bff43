#pragma once

#include <map>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

// Logs a model's configuration dictionary from the mesh daemon at debug level: each key,
// then "Bindings" (application key indexes), "PublicationPeriod", "Vendor" and
// "Subscriptions" (group addresses, or virtual labels in hexadecimal). A value of an
// unexpected type is logged as such, never thrown.
void LogModelConfiguration(const std::map<std::string, sdbus::Variant>& config);
