// torva-inspect: the record framing of the setup's binary files, read without trusting the
// writer.
//
// A sequential unformatted file is a chain of records
//     [int32 n] [n bytes] [int32 n]                 (counts little-endian)
// and a record too long for one count is a chain of subrecords, as gfortran writes them:
// the leading count of every subrecord but the last is negative (another follows), the
// trailing count of every subrecord but the first is negative (one precedes), and each
// count's magnitude is that subrecord's length.  The scanner walks the chain by seeking, so
// a file of N x N matrices is checked without reading the matrices, and it stops at the
// first frame that does not close: a trailing count that differs from the leading one, or
// a file that ends inside a record.
//
// Files from the journal can hold hundreds of thousands of small records (.jou4), so the
// scan keeps record lengths as runs of equal lengths, and the byte positions of only the
// first and the last few records, which are the ones whose contents the checks read.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <istream>
#include <string>
#include <vector>

namespace torva::inspect {

// `count` consecutive records of `length` bytes each.
struct RecordRun {
    std::int64_t count = 0;
    std::int64_t length = 0;
};

// Where a record's bytes lie: one piece per subrecord.
struct RecordPiece {
    std::int64_t offset = 0;   // of the first data byte
    std::int64_t length = 0;
};
struct RecordPlace {
    std::int64_t index = 0;    // 1-based record number
    std::int64_t length = 0;   // logical length, the pieces together
    std::vector<RecordPiece> pieces;
};

struct RecordScan {
    std::vector<RecordRun> runs;
    std::vector<RecordPlace> head;   // the first kHeadRecords records
    std::vector<RecordPlace> tail;   // the last kTailRecords records
    std::int64_t records = 0;
    std::int64_t file_size = 0;
    std::string error;               // empty when the whole file is well framed
    std::int64_t error_offset = -1;  // byte position of the frame that failed

    [[nodiscard]] bool ok() const noexcept { return error.empty(); }
};

inline constexpr std::size_t kHeadRecords = 4;
inline constexpr std::size_t kTailRecords = 2;

namespace detail {

inline bool read_count(std::istream& in, std::int32_t& value)
{
    unsigned char b[4];
    if (!in.read(reinterpret_cast<char*>(b), 4)) return false;
    const std::uint32_t u = std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) |
                            (std::uint32_t(b[3]) << 24);
    std::memcpy(&value, &u, 4);
    return true;
}

inline void add_to_runs(std::vector<RecordRun>& runs, std::int64_t length)
{
    if (!runs.empty() && runs.back().length == length)
        ++runs.back().count;
    else
        runs.push_back({1, length});
}

}  // namespace detail

// Scans the whole stream (which must be seekable) from its start.
[[nodiscard]] inline RecordScan scan_records(std::istream& in)
{
    RecordScan scan;
    in.clear();
    in.seekg(0, std::ios::end);
    scan.file_size = static_cast<std::int64_t>(in.tellg());
    in.seekg(0, std::ios::beg);
    std::int64_t pos = 0;
    while (pos < scan.file_size) {
        RecordPlace place;
        place.index = scan.records + 1;
        bool first_piece = true;
        for (;;) {
            std::int32_t lead = 0, trail = 0;
            if (pos + 4 > scan.file_size || !detail::read_count(in, lead)) {
                scan.error = "the file ends inside the leading byte count of record " + std::to_string(place.index);
                scan.error_offset = pos;
                return scan;
            }
            // The most negative count has no magnitude in 32 bits: no writer produces it.
            if (lead == INT32_MIN) {
                scan.error = "record " + std::to_string(place.index) + " has an impossible byte count";
                scan.error_offset = pos;
                return scan;
            }
            const std::int64_t length = lead < 0 ? -static_cast<std::int64_t>(lead) : lead;
            const bool more = lead < 0;
            const std::int64_t data = pos + 4;
            if (data + length + 4 > scan.file_size) {
                scan.error = "record " + std::to_string(place.index) + " announces " + std::to_string(length) +
                             " bytes but the file ends after " + std::to_string(scan.file_size - data);
                scan.error_offset = pos;
                return scan;
            }
            in.seekg(data + length, std::ios::beg);
            if (!detail::read_count(in, trail)) {
                scan.error = "record " + std::to_string(place.index) + ": its trailing byte count cannot be read";
                scan.error_offset = data + length;
                return scan;
            }
            // The trailing count is negative exactly when a subrecord precedes this one.
            const std::int64_t expected_trail = first_piece ? length : -length;
            if (trail != expected_trail) {
                scan.error = "record " + std::to_string(place.index) + ": leading byte count " + std::to_string(lead) +
                             " but trailing " + std::to_string(trail);
                scan.error_offset = data + length;
                return scan;
            }
            place.pieces.push_back({data, length});
            place.length += length;
            pos = data + length + 4;
            first_piece = false;
            if (!more) break;
        }
        ++scan.records;
        detail::add_to_runs(scan.runs, place.length);
        if (scan.head.size() < kHeadRecords) scan.head.push_back(place);
        scan.tail.push_back(std::move(place));
        if (scan.tail.size() > kTailRecords) scan.tail.erase(scan.tail.begin());
    }
    return scan;
}

// The bytes of a record found by scan_records.
[[nodiscard]] inline std::vector<unsigned char> read_record_bytes(std::istream& in, const RecordPlace& place)
{
    std::vector<unsigned char> bytes(static_cast<std::size_t>(place.length));
    std::size_t at = 0;
    for (const RecordPiece& piece : place.pieces) {
        in.clear();
        in.seekg(piece.offset, std::ios::beg);
        in.read(reinterpret_cast<char*>(bytes.data() + at), piece.length);
        at += static_cast<std::size_t>(piece.length);
    }
    if (!in) bytes.clear();
    return bytes;
}

// Little-endian 32-bit integer at byte `at` of a record.
[[nodiscard]] inline std::int32_t int32_at(const std::vector<unsigned char>& bytes, std::size_t at)
{
    const std::uint32_t u = std::uint32_t(bytes[at]) | (std::uint32_t(bytes[at + 1]) << 8) |
                            (std::uint32_t(bytes[at + 2]) << 16) | (std::uint32_t(bytes[at + 3]) << 24);
    std::int32_t v;
    std::memcpy(&v, &u, 4);
    return v;
}

}  // namespace torva::inspect
