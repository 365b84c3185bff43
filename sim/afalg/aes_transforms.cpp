#include "afalg/aes_transforms.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <memory>
#include <string>

namespace sim::afalg {

namespace {

constexpr std::size_t kBlockSize = 16;
constexpr std::size_t kCcmIvSize = 16;

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

struct MacFree {
  void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};
struct MacContextFree {
  void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};

const EVP_CIPHER* Ecb(std::size_t key_size) {
  switch (key_size) {
    case 16: return EVP_aes_128_ecb();
    case 24: return EVP_aes_192_ecb();
    default: return EVP_aes_256_ecb();
  }
}

const EVP_CIPHER* Ccm(std::size_t key_size) {
  switch (key_size) {
    case 16: return EVP_aes_128_ccm();
    case 24: return EVP_aes_192_ccm();
    default: return EVP_aes_256_ccm();
  }
}

const char* CbcName(std::size_t key_size) {
  switch (key_size) {
    case 16: return "AES-128-CBC";
    case 24: return "AES-192-CBC";
    default: return "AES-256-CBC";
  }
}

bool ValidTagSize(std::size_t tag_size) { return tag_size >= 4 && tag_size <= 16 && tag_size % 2 == 0; }

// The nonce inside the kernel's CCM IV; nothing for an IV the kernel refuses.
std::optional<Bytes> CcmNonce(const Bytes& iv) {
  if (!ValidCcmIv(iv)) return std::nullopt;
  const std::size_t length_size = iv[0] + 1u;
  const std::size_t nonce_size = kCcmIvSize - 1 - length_size;
  return Bytes(iv.begin() + 1, iv.begin() + 1 + static_cast<std::ptrdiff_t>(nonce_size));
}

// Sets up a CCM context for one message of `text_size` bytes with its additional data.
CipherContext StartCcm(const Bytes& key, const Bytes& nonce, std::size_t tag_size, const std::uint8_t* tag,
                       bool encrypt, const Bytes& aad, std::size_t text_size) {
  CipherContext context(EVP_CIPHER_CTX_new());
  int length = 0;
  const int direction = encrypt ? 1 : 0;
  if (!context || EVP_CipherInit_ex(context.get(), Ccm(key.size()), nullptr, nullptr, nullptr, direction) != 1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_IVLEN, static_cast<int>(nonce.size()), nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_TAG, static_cast<int>(tag_size),
                          const_cast<std::uint8_t*>(tag)) != 1 ||
      EVP_CipherInit_ex(context.get(), nullptr, nullptr, key.data(), nonce.data(), direction) != 1 ||
      EVP_CipherUpdate(context.get(), nullptr, &length, nullptr, static_cast<int>(text_size)) != 1) {
    return nullptr;
  }
  if (!aad.empty() && EVP_CipherUpdate(context.get(), nullptr, &length, aad.data(), static_cast<int>(aad.size())) != 1) {
    return nullptr;
  }
  return context;
}

}  // namespace

bool ValidCcmIv(const Bytes& iv) { return iv.size() == kCcmIvSize && iv[0] >= 1 && iv[0] <= 7; }

bool ValidAesKey(const Bytes& key) { return key.size() == 16 || key.size() == 24 || key.size() == 32; }

std::optional<Bytes> AesEcb(const Bytes& key, bool encrypt, const Bytes& input) {
  if (!ValidAesKey(key) || input.size() % kBlockSize != 0) return std::nullopt;
  CipherContext context(EVP_CIPHER_CTX_new());
  Bytes output(input.size() + kBlockSize);
  int written = 0;
  int final_written = 0;
  if (!context || EVP_CipherInit_ex(context.get(), Ecb(key.size()), nullptr, key.data(), nullptr, encrypt ? 1 : 0) != 1 ||
      EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1 ||
      EVP_CipherUpdate(context.get(), output.data(), &written, input.data(), static_cast<int>(input.size())) != 1 ||
      EVP_CipherFinal_ex(context.get(), output.data() + written, &final_written) != 1) {
    return std::nullopt;
  }
  output.resize(static_cast<std::size_t>(written + final_written));
  return output;
}

std::optional<Bytes> AesCcmSeal(const Bytes& key, const Bytes& iv, std::size_t tag_size, const Bytes& aad,
                                const Bytes& plaintext) {
  const auto nonce = CcmNonce(iv);
  if (!ValidAesKey(key) || !nonce || !ValidTagSize(tag_size)) return std::nullopt;
  const auto context = StartCcm(key, *nonce, tag_size, nullptr, true, aad, plaintext.size());
  if (!context) return std::nullopt;
  Bytes sealed(plaintext.size() + tag_size);
  int written = 0;
  const std::uint8_t none = 0;  // OpenSSL wants a pointer even for an empty message
  if (EVP_CipherUpdate(context.get(), sealed.data(), &written, plaintext.empty() ? &none : plaintext.data(),
                       static_cast<int>(plaintext.size())) != 1 ||
      EVP_CipherFinal_ex(context.get(), sealed.data() + written, &written) != 1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_GET_TAG, static_cast<int>(tag_size),
                          sealed.data() + plaintext.size()) != 1) {
    return std::nullopt;
  }
  return sealed;
}

std::optional<Bytes> AesCcmOpen(const Bytes& key, const Bytes& iv, std::size_t tag_size, const Bytes& aad,
                                const Bytes& sealed) {
  const auto nonce = CcmNonce(iv);
  if (!ValidAesKey(key) || !nonce || !ValidTagSize(tag_size) || sealed.size() < tag_size) return std::nullopt;
  const std::size_t text_size = sealed.size() - tag_size;
  const auto context = StartCcm(key, *nonce, tag_size, sealed.data() + text_size, false, aad, text_size);
  if (!context) return std::nullopt;
  Bytes plaintext(text_size + 1);  // never empty, for OpenSSL's pointer
  int written = 0;
  // With CCM the tag is checked by this one update.
  if (EVP_CipherUpdate(context.get(), plaintext.data(), &written, sealed.data(), static_cast<int>(text_size)) <= 0) {
    return std::nullopt;
  }
  plaintext.resize(text_size);
  return plaintext;
}

std::optional<Bytes> AesCmac(const Bytes& key, const Bytes& message) {
  if (!ValidAesKey(key)) return std::nullopt;
  const std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, "CMAC", nullptr));
  if (!mac) return std::nullopt;
  const std::unique_ptr<EVP_MAC_CTX, MacContextFree> context(EVP_MAC_CTX_new(mac.get()));
  std::string cipher = CbcName(key.size());
  const OSSL_PARAM parameters[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher.data(), 0),
                                   OSSL_PARAM_construct_end()};
  Bytes digest(kBlockSize);
  std::size_t written = 0;
  if (!context || EVP_MAC_init(context.get(), key.data(), key.size(), parameters) != 1 ||
      EVP_MAC_update(context.get(), message.data(), message.size()) != 1 ||
      EVP_MAC_final(context.get(), digest.data(), &written, digest.size()) != 1 || written != kBlockSize) {
    return std::nullopt;
  }
  return digest;
}

}  // namespace sim::afalg
