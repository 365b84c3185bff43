#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "afalg/aes_transforms.h"

namespace sim::afalg {

// What one sendmsg carries in its SOL_ALG control messages.
struct AlgControl {
  bool present = false;  // any control message at all
  std::uint32_t operation = 0;  // ALG_OP_DECRYPT (0) unless ALG_SET_OP says otherwise
  std::optional<Bytes> iv;
  std::uint32_t assoc_length = 0;
};

// One AF_ALG socket as the kernel keeps it: a transform socket (bound to a type and an
// algorithm, holding the key) or an operation socket made from one by accept, which takes
// requests with send/sendmsg and gives the results to read/recv. Results and errors follow
// algif_skcipher ("ecb(aes)"), algif_aead ("ccm(aes)": AAD || text || tag out on encrypt,
// AAD || text on decrypt, EBADMSG when the tag does not match) and algif_hash ("cmac(aes)":
// a send without MSG_MORE finishes the digest, a read returns it and the next send starts
// afresh; accept on an operation socket clones the state). Methods return a byte count or
// -errno.
class AlgSocket {
 public:
  enum class Kind { kSkcipher, kAead, kHash };

  AlgSocket() = default;

  int Bind(const std::string& type, const std::string& name);
  int SetKey(const Bytes& key);
  int SetAuthSize(std::size_t size);
  // The operation socket accept makes of this one (a clone for a hash operation socket).
  int Accept(std::unique_ptr<AlgSocket>& made) const;
  ssize_t Send(const AlgControl& control, const Bytes& data, bool more);
  ssize_t Receive(std::uint8_t* buffer, std::size_t size);

 private:
  ssize_t ReceiveCipher(std::uint8_t* buffer, std::size_t size);
  ssize_t ReceiveDigest(std::uint8_t* buffer, std::size_t size);
  std::optional<Bytes> Transform(int& error) const;

  bool bound_ = false;
  bool operation_ = false;  // made by accept
  Kind kind_ = Kind::kSkcipher;
  Bytes key_;
  bool keyed_ = false;
  std::size_t auth_size_ = 16;
  // The request being gathered.
  bool encrypt_ = false;
  Bytes iv_;
  std::uint32_t assoc_length_ = 0;
  Bytes input_;
  bool more_ = false;
  std::optional<Bytes> digest_;  // a finished hash, until read
};

}  // namespace sim::afalg
