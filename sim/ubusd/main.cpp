// The bus broker stand-in: `ubusd [-s <socket>]`.
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>

#include "ubusd/broker.h"

int main(int argc, char** argv) {
  std::string socket_path = ipc::kDefaultSocket;
  int option = 0;
  while ((option = ::getopt(argc, argv, "s:A:")) != -1) {
    switch (option) {
      case 's':
        socket_path = optarg;
        break;
      case 'A':  // access-list directory of the real broker: everything is allowed here
        break;
      default:
        std::cerr << "Usage: " << argv[0] << " [-s <socket>]\n";
        return 1;
    }
  }
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  sim::ubusd::Broker broker(socket_path);
  if (!broker.Listen()) {
    std::cerr << "ubusd: cannot listen on " << socket_path << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  broker.Run();
  return 0;
}
