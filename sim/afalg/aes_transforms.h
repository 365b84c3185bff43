#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// The AES transforms the kernel's crypto API offers as "ecb(aes)", "ccm(aes)" and "cmac(aes)",
// computed with OpenSSL. Keys of 16, 24 or 32 bytes.
namespace sim::afalg {

using Bytes = std::vector<std::uint8_t>;

bool ValidAesKey(const Bytes& key);

// Nothing when the input is not a whole number of blocks.
std::optional<Bytes> AesEcb(const Bytes& key, bool encrypt, const Bytes& input);

// The kernel's CCM IV: 16 bytes, byte 0 (L - 1) from 1 to 7.
bool ValidCcmIv(const Bytes& iv);

// CCM with the kernel's 16-byte IV (byte 0: L - 1, then the nonce, then the counter).
// Seal returns ciphertext || tag; Open takes ciphertext || tag and returns the plaintext, or
// nothing when the tag does not match.
std::optional<Bytes> AesCcmSeal(const Bytes& key, const Bytes& iv, std::size_t tag_size, const Bytes& aad,
                                const Bytes& plaintext);
std::optional<Bytes> AesCcmOpen(const Bytes& key, const Bytes& iv, std::size_t tag_size, const Bytes& aad,
                                const Bytes& sealed);

std::optional<Bytes> AesCmac(const Bytes& key, const Bytes& message);

}  // namespace sim::afalg
