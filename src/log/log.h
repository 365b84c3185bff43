#pragma once

// Logging macros for the whole daemon: one record per statement, message streamed in.
//   LOG_INFO << "Interface UP";
//   LOG_ERROR << "invoke " << text;
// A record is only built when the logger runs and admits the severity.

#include "log/record.h"
#include "log/severity.h"

// A for statement rather than if/else, so the macro nests safely inside an unbraced if.
#define QUELLARON_LOG(severity)                                                                   \
  for (bool quellaron_log_once_ = ::logging::IsEnabled(severity); quellaron_log_once_;           \
       quellaron_log_once_ = false)                                                               \
  ::logging::Record(severity, __PRETTY_FUNCTION__, __LINE__).Stream()

#define LOG_FATAL QUELLARON_LOG(::logging::Severity::fatal)
#define LOG_ERROR QUELLARON_LOG(::logging::Severity::error)
#define LOG_WARN QUELLARON_LOG(::logging::Severity::warning)
#define LOG_INFO QUELLARON_LOG(::logging::Severity::info)
#define LOG_DEBUG QUELLARON_LOG(::logging::Severity::debug)
#define LOG_VERBOSE QUELLARON_LOG(::logging::Severity::verbose)
