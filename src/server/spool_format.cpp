#include "server/spool_format.h"

#include <boost/crc.hpp>

#include <cstdio>

namespace spool {

namespace {

constexpr char kMagic[] = "QNSPOOL1";
constexpr std::size_t kMagicBytes = sizeof(kMagic) - 1;
constexpr std::size_t kNameDigits = 16;
constexpr const char* kNameSuffix = ".seg";

std::uint32_t Checksum(const char* data, std::size_t size) {
  boost::crc_32_type crc;
  crc.process_bytes(data, size);
  return crc.checksum();
}

void PutNumber(std::string& bytes, std::uint64_t value, std::size_t width) {
  for (std::size_t index = 0; index < width; ++index) bytes.push_back(static_cast<char>((value >> (8 * index)) & 0xFF));
}

std::uint64_t GetNumber(const std::string& bytes, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t index = 0; index < width; ++index) {
    value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[offset + index])) << (8 * index);
  }
  return value;
}

}  // namespace

std::string EncodeHeader(const SegmentHeader& header) {
  std::string bytes(kMagic, kMagicBytes);
  PutNumber(bytes, header.first_sequence, 8);
  PutNumber(bytes, header.delivered_before, 8);
  PutNumber(bytes, static_cast<std::uint64_t>(header.created), 8);
  PutNumber(bytes, Checksum(bytes.data(), bytes.size()), 4);
  return bytes;
}

std::optional<SegmentHeader> DecodeHeader(const std::string& bytes) {
  if (bytes.size() < kHeaderBytes || bytes.compare(0, kMagicBytes, kMagic) != 0) return std::nullopt;
  if (GetNumber(bytes, kHeaderBytes - 4, 4) != Checksum(bytes.data(), kHeaderBytes - 4)) return std::nullopt;
  return SegmentHeader{GetNumber(bytes, 8, 8), GetNumber(bytes, 16, 8), static_cast<std::int64_t>(GetNumber(bytes, 24, 8))};
}

std::string EncodeRecord(const Record& record) {
  std::string bytes;
  bytes.reserve(kRecordHeadBytes + record.document.size());
  PutNumber(bytes, record.document.size(), 4);
  PutNumber(bytes, 0, 4);  // the checksum, below
  bytes.push_back(static_cast<char>(record.type));
  PutNumber(bytes, record.sequence, 8);
  PutNumber(bytes, static_cast<std::uint64_t>(record.time), 8);
  bytes += record.document;
  const std::uint32_t checksum = Checksum(bytes.data() + 8, bytes.size() - 8);
  for (std::size_t index = 0; index < 4; ++index) bytes[4 + index] = static_cast<char>((checksum >> (8 * index)) & 0xFF);
  return bytes;
}

std::uint32_t DocumentLength(const std::string& head) { return static_cast<std::uint32_t>(GetNumber(head, 0, 4)); }

std::optional<Record> DecodeRecord(const std::string& bytes) {
  if (bytes.size() < kRecordHeadBytes || bytes.size() - kRecordHeadBytes != DocumentLength(bytes)) return std::nullopt;
  if (GetNumber(bytes, 4, 4) != Checksum(bytes.data() + 8, bytes.size() - 8)) return std::nullopt;
  const auto type = static_cast<RecordType>(bytes[8]);
  if (type != RecordType::kReading && type != RecordType::kDeliveryMark) return std::nullopt;
  return Record{type, GetNumber(bytes, 9, 8), static_cast<std::int64_t>(GetNumber(bytes, 17, 8)),
                bytes.substr(kRecordHeadBytes)};
}

std::string SegmentName(std::uint64_t first_sequence) {
  char name[kNameDigits + 8];
  std::snprintf(name, sizeof(name), "%016llx%s", static_cast<unsigned long long>(first_sequence), kNameSuffix);
  return name;
}

std::optional<std::uint64_t> SegmentSequence(const std::string& name) {
  if (name.size() != kNameDigits + 4 || name.compare(kNameDigits, std::string::npos, kNameSuffix) != 0) {
    return std::nullopt;
  }
  std::uint64_t sequence = 0;
  for (std::size_t index = 0; index < kNameDigits; ++index) {
    const char digit = name[index];
    int value = 0;
    if (digit >= '0' && digit <= '9') {
      value = digit - '0';
    } else if (digit >= 'a' && digit <= 'f') {
      value = digit - 'a' + 10;
    } else {
      return std::nullopt;
    }
    sequence = sequence * 16 + static_cast<std::uint64_t>(value);
  }
  return sequence;
}

}  // namespace spool
