#include "ota/signature_key.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <openssl/err.h>
#include <openssl/x509.h>

#include "nvram/base64.h"

namespace ota {
namespace {

constexpr std::size_t kRawKeyLength = 32;
constexpr std::size_t kSignatureLength = 64;

// A file mapped for reading for the life of the object.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    struct stat status {};
    if (::fstat(fd, &status) == 0) {
      size_ = static_cast<std::size_t>(status.st_size);
      if (size_ > 0) {
        void* const mapped = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) data_ = mapped;
      }
    }
    const int error = errno;
    ::close(fd);
    if (size_ > 0 && data_ == nullptr) throw std::runtime_error("cannot map " + path + ": " + std::strerror(error));
  }
  ~MappedFile() {
    if (data_ != nullptr) ::munmap(data_, size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const unsigned char* Data() const {
    static const unsigned char kEmpty = 0;
    return data_ != nullptr ? static_cast<const unsigned char*>(data_) : &kEmpty;
  }
  std::size_t Size() const { return size_; }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace

SignatureKey SignatureKey::FromBase64(const std::string& text) {
  const std::vector<std::uint8_t> bytes = base64::Decode(text);
  if (bytes.empty() || base64::Encode(bytes) != text) throw std::invalid_argument("it is not Base64");
  EVP_PKEY* key = nullptr;
  if (bytes.size() == kRawKeyLength) {
    key = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytes.data(), bytes.size());
  } else {
    const unsigned char* cursor = bytes.data();
    key = d2i_PUBKEY(nullptr, &cursor, static_cast<long>(bytes.size()));
    if (key != nullptr && (EVP_PKEY_get_id(key) != EVP_PKEY_ED25519 || cursor != bytes.data() + bytes.size())) {
      EVP_PKEY_free(key);
      ERR_clear_error();
      throw std::invalid_argument("it is not an Ed25519 public key");
    }
  }
  if (key == nullptr) {
    ERR_clear_error();  // leave no error behind for this thread's next TLS call to misread
    throw std::invalid_argument("it is not an Ed25519 public key");
  }
  return SignatureKey(key);
}

bool SignatureKey::Verifies(const std::string& path, const std::vector<std::uint8_t>& signature,
                            std::string& problem) const {
  if (signature.size() != kSignatureLength) {
    problem = "its signature has " + std::to_string(signature.size()) + " bytes, not " +
              std::to_string(kSignatureLength);
    return false;
  }
  try {
    const MappedFile file(path);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1) {
      ERR_clear_error();
      problem = "the signature check could not be set up";
      return false;
    }
    if (EVP_DigestVerify(context.get(), signature.data(), signature.size(), file.Data(), file.Size()) != 1) {
      ERR_clear_error();
      problem = "its signature does not match the signing key";
      return false;
    }
    return true;
  } catch (const std::runtime_error& error) {
    problem = error.what();
    return false;
  }
}

}  // namespace ota
