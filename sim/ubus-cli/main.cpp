// The bus command-line tool: `ubus [-s <socket>] [-t <timeout>] [-S] [-v] list|call|listen|send ...`,
// with the platform tool's argument forms, output and exit codes.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ipc/blobmsg_json.h"
#include "ipc/connection.h"
#include "ipc/status.h"

namespace {

using ipc::Connection;
using ipc::blobmsg::Members;

struct Options {
  std::string socket = ipc::kDefaultSocket;
  int timeout = 30;
  int listen_timeout = 0;
  bool simple = false;
  int verbose = 0;
};

constexpr int kUsage = -2;

int Usage(const char* program) {
  std::fprintf(stderr,
               "Usage: %s [<options>] <command> [arguments...]\n"
               "Options:\n"
               " -s <socket>:\t\tSet the unix domain socket to connect to\n"
               " -t <timeout>:\t\tSet the timeout (in seconds) for a command to complete\n"
               " -S:\t\t\tUse simplified output (for scripts)\n"
               " -v:\t\t\tMore verbose output\n"
               "\n"
               "Commands:\n"
               " - list [<path>]\t\t\tList objects\n"
               " - call <path> <method> [<message>]\tCall an object method\n"
               " - listen [<path>...]\t\t\tListen for events\n"
               " - send <type> [<message>]\t\tSend an event\n"
               "\n",
               program);
  return 1;
}

Connection::Timeout Seconds(int seconds) { return std::chrono::milliseconds(seconds * 1000); }

// Failure of a call as the platform tool reports it: the whole command on standard error
// (negated status) unless standard error is a terminal.
int CallError(const Options& options, const std::vector<std::string>& arguments, int status) {
  if (!options.simple && !::isatty(STDERR_FILENO)) {
    std::fprintf(stderr, "Command failed: ubus call ");
    for (const auto& argument : arguments) std::fprintf(stderr, "%s ", argument.c_str());
    std::fprintf(stderr, "(%s)\n", ipc::StatusText(status).c_str());
    return -status;
  }
  return status;
}

// A signature member printed with type names: {"config":"String",...}.
std::string SignatureJson(const ipc::blobmsg::Node& method) {
  std::string text = "\"" + method.name + "\":{";
  bool first = true;
  for (const auto& argument : method.children) {
    if (!first) text += ",";
    first = false;
    std::string type = ipc::blobmsg::ValueToJson(argument);
    if (argument.type == ipc::blobmsg::Type::kInt32) {
      switch (argument.integer) {
        case 1: type = "\"Array\""; break;
        case 2: type = "\"Table\""; break;
        case 3: type = "\"String\""; break;
        case 5: type = "\"Integer\""; break;
        case 7: type = "\"Boolean\""; break;
        default: type = "\"(unknown)\"";
      }
    }
    text += "\"" + argument.name + "\":" + type;
  }
  return text + "}";
}

int List(Connection& bus, const Options& options, const std::vector<std::string>& arguments) {
  if (arguments.size() > 1) return kUsage;
  const std::string path = arguments.empty() ? "" : arguments[0];
  return bus.Lookup(path, [&](const ipc::ObjectInfo& object) {
    if (options.simple || options.verbose == 0) {
      std::printf("%s\n", object.path.c_str());
      return;
    }
    std::printf("'%s' @%08x\n", object.path.c_str(), object.id);
    for (const auto& method : object.signature) std::printf("\t%s\n", SignatureJson(method).c_str());
  }, Seconds(options.timeout));
}

int Call(Connection& bus, const Options& options, const std::vector<std::string>& arguments) {
  if (arguments.size() < 2 || arguments.size() > 3) return kUsage;
  Members message;
  if (arguments.size() == 3) {
    auto parsed = ipc::blobmsg::FromJson(arguments[2]);
    if (!parsed) return CallError(options, arguments, ipc::kParseError);
    message = std::move(*parsed);
  }
  std::uint32_t id = 0;
  int status = bus.LookupId(arguments[0], id, Seconds(options.timeout));
  if (status != ipc::kOk) return status;
  status = bus.Invoke(id, arguments[1], message, [&](const Members& reply) {
    std::printf("%s\n", options.simple ? ipc::blobmsg::ToJson(reply).c_str() : ipc::blobmsg::ToIndentedJson(reply).c_str());
  }, Seconds(options.timeout));
  if (status != ipc::kOk) return CallError(options, arguments, status);
  return status;
}

int Listen(Connection& bus, const Options& options, std::vector<std::string> arguments) {
  if (arguments.empty()) arguments.push_back("*");
  std::uint32_t object = 0;
  int status = bus.AddEventObject([](const std::string& type, const Members& data) {
    std::printf("{ \"%s\": %s }\n", type.c_str(), ipc::blobmsg::ToJson(data).c_str());
    std::fflush(stdout);
  }, object, Seconds(options.timeout));
  std::string failed = arguments.front();
  for (const auto& pattern : arguments) {
    if (status != ipc::kOk) break;
    failed = pattern;
    status = bus.RegisterEvent(object, pattern, Seconds(options.timeout));
  }
  if (status != ipc::kOk) {
    if (!options.simple) {
      std::fprintf(stderr, "Error while registering for event '%s': %s\n", failed.c_str(),
                   ipc::StatusText(status).c_str());
    }
    return -1;
  }
  std::atomic<bool> stop{false};
  std::thread timer;
  if (options.listen_timeout > 0) {
    timer = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::seconds(options.listen_timeout));
      stop = true;
      bus.Wake();
    });
  }
  bus.Serve(stop);
  if (timer.joinable()) timer.join();
  return 0;
}

int Send(Connection& bus, const Options& options, const std::vector<std::string>& arguments) {
  if (arguments.empty() || arguments.size() > 2) return kUsage;
  Members data;
  if (arguments.size() == 2) {
    auto parsed = ipc::blobmsg::FromJson(arguments[1]);
    if (!parsed) return ipc::kParseError;
    data = std::move(*parsed);
  }
  return bus.SendEvent(arguments[0], data, Seconds(options.timeout));
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  int option = 0;
  while ((option = ::getopt(argc, argv, "vs:t:S")) != -1) {
    switch (option) {
      case 's': options.socket = optarg; break;
      case 't': options.timeout = options.listen_timeout = std::atoi(optarg); break;
      case 'S': options.simple = true; break;
      case 'v': ++options.verbose; break;
      default: return Usage(argv[0]);
    }
  }
  if (optind >= argc) return Usage(argv[0]);
  const std::string command = argv[optind];
  const std::vector<std::string> arguments(argv + optind + 1, argv + argc);

  Connection bus(options.socket);
  if (bus.ConnectStatus() != ipc::kOk) {
    if (!options.simple) std::fprintf(stderr, "Failed to connect to ubus\n");
    return -1;
  }
  int status = kUsage;
  if (command == "list") status = List(bus, options, arguments);
  else if (command == "call") status = Call(bus, options, arguments);
  else if (command == "listen") status = Listen(bus, options, arguments);
  else if (command == "send") status = Send(bus, options, arguments);

  if (status > 0 && !options.simple) {
    std::fprintf(stderr, "Command failed: %s\n", ipc::StatusText(status).c_str());
  } else if (status == kUsage) {
    Usage(argv[0]);
  }
  std::fflush(stdout);
  return status;
}
