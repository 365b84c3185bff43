#include "cloud/listener.h"

#include <iostream>

#include "cloud/https_session.h"

namespace sim::cloud {

Listener::Listener(net::io_context& io, ssl::context& tls, CloudHub& hub, tcp::endpoint endpoint)
    : io_(io), tls_(tls), hub_(hub), endpoint_(endpoint), acceptor_(io) {}

void Listener::Open() {
  acceptor_.open(endpoint_.protocol());
  acceptor_.set_option(net::socket_base::reuse_address(true));
  acceptor_.bind(endpoint_);
  acceptor_.listen(net::socket_base::max_listen_connections);
  endpoint_ = acceptor_.local_endpoint();
  std::cout << "listening " << endpoint_ << std::endl;
  Accept();
}

void Listener::Refuse(bool refuse) {
  if (refuse && acceptor_.is_open()) {
    acceptor_.close();
    std::cout << "refusing connections on " << endpoint_ << std::endl;
  } else if (!refuse && !acceptor_.is_open()) {
    Open();
  }
}

void Listener::Accept() {
  acceptor_.async_accept(io_, [self = shared_from_this()](beast::error_code error, tcp::socket socket) {
    if (error) return;  // closed: refusing, or shutting down
    std::make_shared<HttpsSession>(std::move(socket), self->tls_, self->hub_)->Run();
    self->Accept();
  });
}

}  // namespace sim::cloud
