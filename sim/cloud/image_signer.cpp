#include "cloud/image_signer.h"

#include <cstdio>
#include <stdexcept>

#include <openssl/pem.h>

namespace sim::cloud {

ImageSigner::ImageSigner(const std::string& private_key_pem) {
  const std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(private_key_pem.c_str(), "r"), &std::fclose);
  if (!file) throw std::runtime_error("cannot open the signing key " + private_key_pem);
  key_.reset(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
  if (!key_ || EVP_PKEY_get_id(key_.get()) != EVP_PKEY_ED25519) {
    throw std::runtime_error(private_key_pem + " holds no Ed25519 private key");
  }
}

std::string ImageSigner::Sign(const std::string& content) const {
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  std::string signature(64, '\0');
  std::size_t length = signature.size();
  if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
      EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                     reinterpret_cast<const unsigned char*>(content.data()), content.size()) != 1) {
    throw std::runtime_error("signing failed");
  }
  signature.resize(length);
  return signature;
}

}  // namespace sim::cloud
