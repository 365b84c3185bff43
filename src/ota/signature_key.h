#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>

namespace ota {

// The Ed25519 public key firmware images must be signed with, and the check of a detached
// signature (the 64 bytes `openssl pkeyutl -sign -rawin` writes) of a whole file.
class SignatureKey {
 public:
  // The key from its Base64 text: the DER public key (what `openssl pkey -pubout` puts
  // between its PEM lines) or the raw 32 bytes. Throws std::invalid_argument saying what is
  // wrong with it.
  static SignatureKey FromBase64(const std::string& text);

  // Whether `signature` is this key's signature of the whole file at `path`; `problem` says
  // why not. The file is mapped, not copied, so a large image costs no memory of its own.
  bool Verifies(const std::string& path, const std::vector<std::uint8_t>& signature, std::string& problem) const;

 private:
  struct FreeKey {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  };
  explicit SignatureKey(EVP_PKEY* key) : key_(key, FreeKey()) {}

  std::shared_ptr<EVP_PKEY> key_;
};

}  // namespace ota
