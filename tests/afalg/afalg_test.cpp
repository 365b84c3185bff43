// The AF_ALG emulation, loaded into this test with LD_PRELOAD, as the mesh daemon's crypto
// library uses it: ELL's ciphers and checksums against published known answers (FIPS-197,
// RFC 4493, RFC 3610 and the mesh profile's sample data), and the socket calls' own
// semantics where ELL hides them.

#include <linux/if_alg.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

// Only these of ELL's headers compile as C++.
extern "C" {
#include <ell/checksum.h>
#include <ell/cipher.h>
}

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(const std::string& text) {
  Bytes bytes;
  for (std::size_t index = 0; index + 1 < text.size(); index += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(index, 2), nullptr, 16)));
  }
  return bytes;
}

Bytes Concat(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

Bytes AesEncrypt(const Bytes& key, const Bytes& block) {
  l_cipher* cipher = l_cipher_new(L_CIPHER_AES, key.data(), key.size());
  EXPECT_NE(cipher, nullptr);
  Bytes out(block.size());
  if (cipher == nullptr) return out;
  EXPECT_TRUE(l_cipher_encrypt(cipher, block.data(), out.data(), block.size()));
  l_cipher_free(cipher);
  return out;
}

Bytes Cmac(const Bytes& key, const Bytes& message) {
  l_checksum* checksum = l_checksum_new_cmac_aes(key.data(), key.size());
  EXPECT_NE(checksum, nullptr);
  Bytes digest(16);
  if (checksum == nullptr) return digest;
  EXPECT_TRUE(l_checksum_update(checksum, message.data(), message.size()));
  EXPECT_EQ(l_checksum_get_digest(checksum, digest.data(), digest.size()), 16);
  l_checksum_free(checksum);
  return digest;
}

// Ciphertext || tag.
Bytes CcmSeal(const Bytes& key, const Bytes& nonce, std::size_t tag_size, const Bytes& aad, const Bytes& text) {
  l_aead_cipher* cipher = l_aead_cipher_new(L_AEAD_CIPHER_AES_CCM, key.data(), key.size(), tag_size);
  EXPECT_NE(cipher, nullptr);
  Bytes sealed(text.size() + tag_size);
  if (cipher == nullptr) return sealed;
  EXPECT_TRUE(l_aead_cipher_encrypt(cipher, text.data(), text.size(), aad.data(), aad.size(), nonce.data(),
                                    nonce.size(), sealed.data(), sealed.size()));
  l_aead_cipher_free(cipher);
  return sealed;
}

bool CcmOpen(const Bytes& key, const Bytes& nonce, std::size_t tag_size, const Bytes& aad, const Bytes& sealed,
             Bytes& text) {
  l_aead_cipher* cipher = l_aead_cipher_new(L_AEAD_CIPHER_AES_CCM, key.data(), key.size(), tag_size);
  EXPECT_NE(cipher, nullptr);
  if (cipher == nullptr) return false;
  text.assign(sealed.size() - tag_size, 0);
  const bool opened = l_aead_cipher_decrypt(cipher, sealed.data(), sealed.size(), aad.data(), aad.size(),
                                            nonce.data(), nonce.size(), text.data(), text.size());
  l_aead_cipher_free(cipher);
  return opened;
}

// A transform socket bound to `type`/`name`; -errno when bind fails.
int BoundSocket(const char* type, const char* name) {
  const int fd = socket(AF_ALG, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -errno;
  sockaddr_alg address{};
  address.salg_family = AF_ALG;
  std::strcpy(reinterpret_cast<char*>(address.salg_type), type);
  std::strcpy(reinterpret_cast<char*>(address.salg_name), name);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
    const int error = errno;
    close(fd);
    return -error;
  }
  return fd;
}

}  // namespace

TEST(AfAlgEmulation, ProbesFindTheMeshAlgorithmsAndNoOthers) {
  EXPECT_TRUE(l_cipher_is_supported(L_CIPHER_AES));
  EXPECT_TRUE(l_aead_cipher_is_supported(L_AEAD_CIPHER_AES_CCM));
  EXPECT_TRUE(l_checksum_cmac_aes_supported());
  EXPECT_FALSE(l_cipher_is_supported(L_CIPHER_DES3_EDE_CBC));
  EXPECT_FALSE(l_aead_cipher_is_supported(L_AEAD_CIPHER_AES_GCM));
  EXPECT_EQ(BoundSocket("hash", "sha256"), -ENOENT);
  EXPECT_EQ(BoundSocket("aead", "ecb(aes)"), -ENOENT);
}

TEST(AfAlgEmulation, AesMatchesFips197) {
  struct Case {
    const char* key;
    const char* ciphertext;
  };
  const Bytes plaintext = Hex("00112233445566778899aabbccddeeff");
  for (const Case& known : {Case{"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
                            Case{"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
                            Case{"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
                                 "8ea2b7ca516745bfeafc49904b496089"}}) {
    const Bytes key = Hex(known.key);
    EXPECT_EQ(AesEncrypt(key, plaintext), Hex(known.ciphertext)) << known.key;
    l_cipher* cipher = l_cipher_new(L_CIPHER_AES, key.data(), key.size());
    ASSERT_NE(cipher, nullptr);
    Bytes decrypted(16);
    const Bytes ciphertext = Hex(known.ciphertext);
    EXPECT_TRUE(l_cipher_decrypt(cipher, ciphertext.data(), decrypted.data(), ciphertext.size()));
    EXPECT_EQ(decrypted, plaintext);
    l_cipher_free(cipher);
  }
}

TEST(AfAlgEmulation, CmacMatchesRfc4493) {
  const Bytes key = Hex("2b7e151628aed2a6abf7158809cf4f3c");
  const std::string message =
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
  struct Case {
    std::size_t length;
    const char* mac;
  };
  for (const Case& known : {Case{0, "bb1d6929e95937287fa37d129b756746"}, Case{16, "070a16b46b4d4144f79bdd9dd04a287c"},
                            Case{40, "dfa66747de9ae63030ca32611497c827"}, Case{64, "51f0bebf7e3b9d92fc49741779363cfe"}}) {
    EXPECT_EQ(Cmac(key, Hex(message.substr(0, known.length * 2))), Hex(known.mac)) << known.length << " bytes";
  }
}

// One checksum used for several digests in turn, as the mesh daemon's k2 does: each digest
// covers only what was sent after the previous one was read.
TEST(AfAlgEmulation, OneCmacChecksumServesTheMeshK2Function) {
  const Bytes net_key = Hex("f7a2a44f8e8a8029064f173ddc1e2b00");
  const Bytes salt = Cmac(Bytes(16, 0), {'s', 'm', 'k', '2'});
  const Bytes t = Cmac(salt, net_key);
  l_checksum* checksum = l_checksum_new_cmac_aes(t.data(), t.size());
  ASSERT_NE(checksum, nullptr);
  Bytes previous;
  std::vector<Bytes> outputs;
  for (std::uint8_t counter = 1; counter <= 3; ++counter) {
    Bytes stage = Concat(previous, {0x00, counter});  // P = 00
    ASSERT_TRUE(l_checksum_update(checksum, stage.data(), stage.size()));
    previous.assign(16, 0);
    ASSERT_EQ(l_checksum_get_digest(checksum, previous.data(), previous.size()), 16);
    outputs.push_back(previous);
  }
  l_checksum_free(checksum);
  EXPECT_EQ(outputs[0][15] & 0x7F, 0x7F);  // NID
  EXPECT_EQ(outputs[1], Hex("9f589181a0f50de73c8070c7a6d27f46"));  // encryption key
  EXPECT_EQ(outputs[2], Hex("4c715bd4a64b938f99b453351653124f"));  // privacy key
  EXPECT_EQ(Cmac(Bytes(16, 0), {'t', 'e', 's', 't'}), Hex("b73cefbd641ef2ea598c2b6efb62f79c"));  // s1("test")
}

TEST(AfAlgEmulation, AClonedChecksumGoesOnIndependently) {
  const Bytes key = Hex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes message = Hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411");
  l_checksum* checksum = l_checksum_new_cmac_aes(key.data(), key.size());
  ASSERT_NE(checksum, nullptr);
  ASSERT_TRUE(l_checksum_update(checksum, message.data(), 16));
  l_checksum* clone = l_checksum_clone(checksum);
  ASSERT_NE(clone, nullptr);
  Bytes whole(16);
  Bytes prefix(16);
  ASSERT_TRUE(l_checksum_update(clone, message.data() + 16, message.size() - 16));
  EXPECT_EQ(l_checksum_get_digest(clone, whole.data(), whole.size()), 16);
  EXPECT_EQ(l_checksum_get_digest(checksum, prefix.data(), prefix.size()), 16);
  EXPECT_EQ(whole, Hex("dfa66747de9ae63030ca32611497c827"));
  EXPECT_EQ(prefix, Hex("070a16b46b4d4144f79bdd9dd04a287c"));
  l_checksum_free(clone);
  l_checksum_free(checksum);
}

TEST(AfAlgEmulation, CcmMatchesRfc3610AndRefusesAChangedTag) {
  const Bytes key = Hex("c0c1c2c3c4c5c6c7c8c9cacbcccdcecf");
  const Bytes nonce = Hex("00000003020100a0a1a2a3a4a5");
  const Bytes aad = Hex("0001020304050607");
  const Bytes text = Hex("08090a0b0c0d0e0f101112131415161718191a1b1c1d1e");
  const Bytes sealed = Hex("588c979a61c663d2f066d0c2c0f989806d5f6b61dac38417e8d12cfdf926e0");
  EXPECT_EQ(CcmSeal(key, nonce, 8, aad, text), sealed);
  Bytes opened;
  EXPECT_TRUE(CcmOpen(key, nonce, 8, aad, sealed, opened));
  EXPECT_EQ(opened, text);
  Bytes forged = sealed;
  forged.back() ^= 0x01;
  EXPECT_FALSE(CcmOpen(key, nonce, 8, aad, forged, opened));
  EXPECT_FALSE(CcmOpen(key, nonce, 8, Hex("0001020304050608"), sealed, opened));
}

// The mesh profile's sample data, message #1: the network layer's encryption (CCM with a
// 64-bit MIC, no additional data) and its header obfuscation (one AES block).
TEST(AfAlgEmulation, MeshSampleMessageOneEncryptsAndObfuscates) {
  const Bytes encryption_key = Hex("0953fa93e7caac9638f58820220a398e");
  const Bytes network_nonce = Hex("00800000011201000012345678");
  const Bytes destination_and_transport = Hex("fffd034b50057e400000010000");
  EXPECT_EQ(CcmSeal(encryption_key, network_nonce, 8, {}, destination_and_transport),
            Hex("b5e5bfdacbaf6cb7fb6bff871f035444ce83a670df"));

  const Bytes pecb = AesEncrypt(Hex("8b84eedec100067d670971dd2aa700cf"), Hex("000000000012345678b5e5bfdacbaf6c"));
  const Bytes header = Hex("800000011201");  // CTL/TTL, SEQ, SRC
  Bytes obfuscated;
  for (std::size_t index = 0; index < header.size(); ++index) obfuscated.push_back(header[index] ^ pecb[index]);
  EXPECT_EQ(obfuscated, Hex("eca487516765"));
}

TEST(AfAlgEmulation, SocketCallsBehaveAsTheKernels) {
  // No key: accept refuses.
  const int unkeyed = BoundSocket("skcipher", "ecb(aes)");
  ASSERT_GE(unkeyed, 0);
  int result = accept4(unkeyed, nullptr, nullptr, SOCK_CLOEXEC);
  int error = errno;
  EXPECT_EQ(result, -1);
  EXPECT_EQ(error, ENOKEY);
  const Bytes bad_key(15, 0);
  result = setsockopt(unkeyed, SOL_ALG, ALG_SET_KEY, bad_key.data(), static_cast<socklen_t>(bad_key.size()));
  error = errno;
  EXPECT_EQ(result, -1);
  EXPECT_EQ(error, EINVAL);
  EXPECT_EQ(close(unkeyed), 0);

  // A forged CCM tag fails the read with EBADMSG.
  const Bytes key = Hex("c0c1c2c3c4c5c6c7c8c9cacbcccdcecf");
  const int parent = BoundSocket("aead", "ccm(aes)");
  ASSERT_GE(parent, 0);
  ASSERT_EQ(setsockopt(parent, SOL_ALG, ALG_SET_KEY, key.data(), static_cast<socklen_t>(key.size())), 0);
  ASSERT_EQ(setsockopt(parent, SOL_ALG, ALG_SET_AEAD_AUTHSIZE, nullptr, 8), 0);
  const int operation = accept4(parent, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(operation, 0);
  EXPECT_EQ(close(parent), 0);

  Bytes sealed = Hex("588c979a61c663d2f066d0c2c0f989806d5f6b61dac38417e8d12cfdf926e0");
  sealed[0] ^= 0x80;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint32_t)) + CMSG_SPACE(sizeof(af_alg_iv) + 16)] = {};
  msghdr message{};
  iovec vector{sealed.data(), sealed.size()};
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_ALG;
  header->cmsg_type = ALG_SET_OP;
  header->cmsg_len = CMSG_LEN(sizeof(std::uint32_t));
  const std::uint32_t decrypt = ALG_OP_DECRYPT;
  std::memcpy(CMSG_DATA(header), &decrypt, sizeof decrypt);
  header = CMSG_NXTHDR(&message, header);
  header->cmsg_level = SOL_ALG;
  header->cmsg_type = ALG_SET_IV;
  header->cmsg_len = CMSG_LEN(sizeof(af_alg_iv) + 16);
  Bytes iv = Concat({0x01}, Concat(Hex("00000003020100a0a1a2a3a4a5"), {0x00, 0x00}));
  const std::uint32_t iv_length = 16;
  std::memcpy(CMSG_DATA(header), &iv_length, sizeof iv_length);
  std::memcpy(CMSG_DATA(header) + sizeof iv_length, iv.data(), iv.size());
  // No associated data here: the whole input is ciphertext and tag.
  ASSERT_EQ(sendmsg(operation, &message, 0), static_cast<ssize_t>(sealed.size()));
  Bytes out(sealed.size());
  const ssize_t read_result = read(operation, out.data(), out.size());
  error = errno;
  EXPECT_EQ(read_result, -1);
  EXPECT_EQ(error, EBADMSG);

  // The descriptor is a real one: poll answers for it, and close frees it.
  pollfd watched{operation, POLLIN, 0};
  EXPECT_EQ(poll(&watched, 1, 0), 0);
  EXPECT_EQ(close(operation), 0);
  result = close(operation);
  error = errno;
  EXPECT_EQ(result, -1);
  EXPECT_EQ(error, EBADF);
}
