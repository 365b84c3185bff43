#pragma once

#include <memory>
#include <string>

#include <openssl/evp.h>

namespace sim::cloud {

// Signs the firmware host's files with the stand-in's Ed25519 private key (a PEM file made
// at set-up by make-signing-key), as a deployment's build would: the 64-byte signature
// `openssl pkeyutl -sign -rawin` writes.
class ImageSigner {
 public:
  // Throws std::runtime_error when the file holds no Ed25519 private key.
  explicit ImageSigner(const std::string& private_key_pem);

  std::string Sign(const std::string& content) const;

 private:
  struct FreeKey {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  };
  std::unique_ptr<EVP_PKEY, FreeKey> key_;
};

}  // namespace sim::cloud
