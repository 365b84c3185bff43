#include "afalg/alg_socket.h"

#include <linux/if_alg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim::afalg {

namespace {

struct Algorithm {
  const char* type;
  const char* name;
  AlgSocket::Kind kind;
};

constexpr Algorithm kAlgorithms[] = {
    {"skcipher", "ecb(aes)", AlgSocket::Kind::kSkcipher},
    {"aead", "ccm(aes)", AlgSocket::Kind::kAead},
    {"hash", "cmac(aes)", AlgSocket::Kind::kHash},
};

constexpr std::size_t kCcmIvSize = 16;

}  // namespace

int AlgSocket::Bind(const std::string& type, const std::string& name) {
  if (operation_) return -EINVAL;
  const auto* found = std::find_if(std::begin(kAlgorithms), std::end(kAlgorithms), [&](const Algorithm& algorithm) {
    return type == algorithm.type && name == algorithm.name;
  });
  if (found == std::end(kAlgorithms)) return -ENOENT;
  // Binding again (as a probe for support does) replaces the transform and forgets its key.
  bound_ = true;
  kind_ = found->kind;
  key_.clear();
  keyed_ = false;
  auth_size_ = 16;
  return 0;
}

int AlgSocket::SetKey(const Bytes& key) {
  if (!bound_ || operation_) return -ENOPROTOOPT;
  if (!ValidAesKey(key)) return -EINVAL;
  key_ = key;
  keyed_ = true;
  return 0;
}

int AlgSocket::SetAuthSize(std::size_t size) {
  if (!bound_ || operation_ || kind_ != Kind::kAead) return -ENOPROTOOPT;
  if (size < 4 || size > 16 || size % 2 != 0) return -EINVAL;
  auth_size_ = size;
  return 0;
}

int AlgSocket::Accept(std::unique_ptr<AlgSocket>& made) const {
  if (!bound_) return -EINVAL;
  if (operation_ && kind_ != Kind::kHash) return -EOPNOTSUPP;
  if (!keyed_) return -ENOKEY;
  made = std::make_unique<AlgSocket>(*this);
  made->operation_ = true;
  // A clone carries a digest in progress, not a finished one.
  made->digest_.reset();
  if (!more_) made->input_.clear();
  return 0;
}

ssize_t AlgSocket::Send(const AlgControl& control, const Bytes& data, bool more) {
  if (!operation_) return -EINVAL;
  if (kind_ == Kind::kHash) {
    if (!more_) {  // a new digest starts
      input_.clear();
      digest_.reset();
    }
    input_.insert(input_.end(), data.begin(), data.end());
    more_ = more;
    if (!more_) digest_ = AesCmac(key_, input_);
    return static_cast<ssize_t>(data.size());
  }
  if (control.present) {
    if (control.operation != ALG_OP_ENCRYPT && control.operation != ALG_OP_DECRYPT) return -EINVAL;
    const std::size_t iv_size = kind_ == Kind::kAead ? kCcmIvSize : 0;
    if (control.iv && control.iv->size() != iv_size) return -EINVAL;
  }
  // A finished request must be read before the next one starts.
  if (!more_ && !input_.empty()) return -EINVAL;
  if (control.present) {
    encrypt_ = control.operation == ALG_OP_ENCRYPT;
    if (control.iv) iv_ = *control.iv;
    assoc_length_ = control.assoc_length;
  }
  input_.insert(input_.end(), data.begin(), data.end());
  more_ = more;
  return static_cast<ssize_t>(data.size());
}

ssize_t AlgSocket::Receive(std::uint8_t* buffer, std::size_t size) {
  if (!operation_) return -EINVAL;
  return kind_ == Kind::kHash ? ReceiveDigest(buffer, size) : ReceiveCipher(buffer, size);
}

ssize_t AlgSocket::ReceiveDigest(std::uint8_t* buffer, std::size_t size) {
  if (more_ || !digest_) {  // finish what was sent so far (nothing: the empty message's digest)
    if (!more_) input_.clear();
    digest_ = AesCmac(key_, input_);
  }
  more_ = false;
  input_.clear();
  const auto digest = std::move(digest_);
  digest_.reset();
  if (!digest) return -EINVAL;
  const std::size_t copied = std::min(size, digest->size());
  std::memcpy(buffer, digest->data(), copied);
  return static_cast<ssize_t>(copied);
}

ssize_t AlgSocket::ReceiveCipher(std::uint8_t* buffer, std::size_t size) {
  int error = 0;
  const auto output = Transform(error);
  input_.clear();
  more_ = false;
  if (!output) return -error;
  const std::size_t copied = std::min(size, output->size());
  std::memcpy(buffer, output->data(), copied);
  return static_cast<ssize_t>(copied);
}

std::optional<Bytes> AlgSocket::Transform(int& error) const {
  error = EINVAL;
  if (kind_ == Kind::kSkcipher) return AesEcb(key_, encrypt_, input_);
  if (!ValidCcmIv(iv_)) return std::nullopt;
  const std::size_t tail = encrypt_ ? 0 : auth_size_;
  if (input_.size() < assoc_length_ + tail) return std::nullopt;
  const Bytes aad(input_.begin(), input_.begin() + assoc_length_);
  const Bytes text(input_.begin() + assoc_length_, input_.end());
  const auto result = encrypt_ ? AesCcmSeal(key_, iv_, auth_size_, aad, text) : AesCcmOpen(key_, iv_, auth_size_, aad, text);
  if (!result) {
    if (!encrypt_) error = EBADMSG;
    return std::nullopt;
  }
  Bytes output = aad;
  output.insert(output.end(), result->begin(), result->end());
  return output;
}

}  // namespace sim::afalg
