#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The bytes of the report spool's segment files, little-endian on every processor.
//
// A segment file is named by the sequence number of its first reading (16 hexadecimal digits
// and ".seg", so names sort in order) and starts with a header:
//   magic "QNSPOOL1" (8) | first sequence (8) | delivered before (8) | created (8) | CRC-32 (4)
// followed by records, each:
//   length of the document (4) | CRC-32 of what follows (4) | type (1) | sequence (8) |
//   time (8) | document
// "Delivered before" and a delivery mark's sequence say that every reading with a smaller
// sequence number has been delivered; times are Unix seconds.
namespace spool {

inline constexpr std::size_t kHeaderBytes = 36;
inline constexpr std::size_t kRecordHeadBytes = 25;

struct SegmentHeader {
  std::uint64_t first_sequence = 0;
  std::uint64_t delivered_before = 0;
  std::int64_t created = 0;
};

enum class RecordType : std::uint8_t { kReading = 1, kDeliveryMark = 2 };

struct Record {
  RecordType type = RecordType::kReading;
  std::uint64_t sequence = 0;
  std::int64_t time = 0;
  std::string document;  // empty for a delivery mark
};

std::string EncodeHeader(const SegmentHeader& header);
// Nothing when the bytes are short, of another magic or fail their checksum.
std::optional<SegmentHeader> DecodeHeader(const std::string& bytes);

std::string EncodeRecord(const Record& record);
// The document length a record's first kRecordHeadBytes announce.
std::uint32_t DocumentLength(const std::string& head);
// A whole record (head and document); nothing when its checksum or type is wrong.
std::optional<Record> DecodeRecord(const std::string& bytes);

std::string SegmentName(std::uint64_t first_sequence);
// The first sequence a segment's file name gives; nothing for any other name.
std::optional<std::uint64_t> SegmentSequence(const std::string& name);

}  // namespace spool
