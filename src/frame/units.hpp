// Numbered I/O units in the manner of a Fortran run-time library.
//
// A unit is a small integer naming an open file for the run's life.  Two kinds of file exist:
//   formatted   - text, one record per line ('\n' ends a record);
//   unformatted - sequential binary records, each framed as
//                     [int32 n] [n bytes] [int32 n]            (little-endian counts)
//                 A record longer than the largest subrecord (2,147,483,639 bytes) is split
//                 into subrecords as gfortran does: the leading count of every subrecord but
//                 the last is negated (another follows), and the trailing count of every
//                 subrecord but the first is negated (one precedes).
//
// Every failure of the operating system on a write, a flush or a close throws IoError with
// the file's name and the system's reason, so that no caller can silently lose data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <exception>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace torva {

enum class FileForm { formatted, unformatted };

// A failed operating-system call on a unit.  what() reads "<action> <file>: <reason>".
class IoError : public std::runtime_error {
public:
    IoError(std::string action, std::string file, std::string reason);
    const std::string& file() const noexcept { return file_; }
    const std::string& reason() const noexcept { return reason_; }
private:
    std::string file_;
    std::string reason_;
};

// I/O status codes returned by open (0 = success).  The values are those of the I/O error
// text table of the frame, so a caller can turn them into a readable text.
inline constexpr int kIostatOk = 0;
inline constexpr int kIostatFileNotFound = 29;
inline constexpr int kIostatOpenFailure = 30;
inline constexpr int kIostatUnitAlreadyOpen = 34;
inline constexpr int kIostatNoSpace = 608;
inline constexpr int kIostatAccessDenied = 600;
inline constexpr int kIostatFileExists = 601;
inline constexpr int kIostatBadStatus = 45;

// Appended to the name of a file opened with open_pending until commit_pending renames it.
inline constexpr const char* kPendingSuffix = ".part";

// gfortran's largest subrecord for 4-byte record markers: 2 GiB - 9.
inline constexpr std::int64_t kMaxSubrecord = 2147483639;

struct OpenOptions {
    std::string status = "UNKNOWN";   // OLD, NEW, REPLACE, SCRATCH, UNKNOWN, APPEND (any case)
    FileForm form = FileForm::formatted;
    bool read_only = false;           // action = "read"
    bool append = false;              // position = "append"
};

class UnitTable {
public:
    UnitTable() = default;
    UnitTable(const UnitTable&) = delete;
    UnitTable& operator=(const UnitTable&) = delete;
    ~UnitTable();

    // Opens `name` on `unit`.  Status words (case ignored):
    //   OLD      the file must exist;            NEW      it must not exist;
    //   REPLACE  created or truncated;           SCRATCH  an unnamed temporary file;
    //   UNKNOWN  opened if present, else created (kept, not truncated);
    //   APPEND   OLD, positioned at the end.
    // Returns 0 or an I/O status code (kIostat*); `errno_out` (if given) receives the
    // system's errno of a failed open.  A unit already open is an error (kIostatUnitAlreadyOpen).
    int open(int unit, const std::string& name, const OpenOptions& options, int* errno_out = nullptr);

    // Opens `final_name` for writing under the temporary name final_name + kPendingSuffix;
    // commit_pending() gives the file its final name.  A run that stops before it leaves
    // nothing under the final name, so no half-written file can pass for a finished one.
    // Status NEW refuses an existing final name (as open does, with kIostatFileExists);
    // NEW, REPLACE and UNKNOWN start the temporary file empty.  Any other status opens the
    // final name itself, as open does.
    int open_pending(int unit, const std::string& final_name, const OpenOptions& options, int* errno_out = nullptr);
    // Closes every unit still open under a temporary name and renames each temporary file
    // to its final name, in the order they were opened.  A final name that appeared meanwhile
    // is not overwritten when the file was opened with status NEW (IoError).
    void commit_pending();

    [[nodiscard]] bool is_open(int unit) const;
    // The system's errno of the last open that failed (0 when none has).
    [[nodiscard]] int last_open_errno() const noexcept { return last_open_errno_; }
    [[nodiscard]] std::string name_of(int unit) const;              // "" when not open
    [[nodiscard]] std::optional<int> unit_of(const std::string& name) const;  // open unit of a file
    [[nodiscard]] static bool exists(const std::string& name);

    // Formatted output: writes `text` as one record (a line).
    void write_line(int unit, std::string_view text);
    // Formatted input: reads the next record into `line` (without its '\n', a trailing '\r'
    // kept as is).  Returns false at the end of the file.
    bool read_line(int unit, std::string& line);

    // Unformatted output: one record, framed, from one or more byte pieces written back to
    // back (so a record of an integer followed by an array needs no copy).
    void write_record(int unit, std::span<const std::span<const std::byte>> pieces);
    void write_record(int unit, std::span<const std::byte> bytes);
    // Unformatted output: data.size() / record_bytes records of record_bytes bytes each, held
    // back to back in `data` - the same bytes as write_record called once per record, but
    // framed in a staging buffer and handed to stdio a buffer at a time, so that millions of
    // records of a few bytes cost a copy each rather than three library calls each.
    // Empty `data` is zero records, whatever record_bytes: a no-op, as the loop over zero
    // records would be (the unit is not even looked up; the file is not cut).  Otherwise the
    // unit must be open (IoError), record_bytes 0 (the count would be unknowable) or a
    // data.size() that is not a multiple of it throws std::invalid_argument (zero-length
    // records go through write_record), and records longer than the largest subrecord are
    // split as write_record splits them.
    void write_records(int unit, std::span<const std::byte> data, std::size_t record_bytes);
    // Unformatted output behind the caller's back: `job` runs on a helper thread and writes
    // its records to `unit` through the sink it is given, while the caller goes on with other
    // work (a large record leaves through the kernel's page copy at under 1 GB/s; a matrix of
    // a few hundred MB would otherwise hold up everything after it).  The job owns what it
    // writes (move the arrays into it) and may touch nothing else of this table.  The unit
    // stays reserved to the job: the next call that uses the unit (a write, read, rewind,
    // flush or close, close_all) first waits for it and then raises the IoError it met, if
    // any.  Where no thread can be started, the job runs at once in the caller's thread.
    class RecordSink;
    void write_behind(int unit, std::function<void(RecordSink&)> job);
    // Waits for every write_behind job (their data is freed as they end); a failure stays
    // with its unit, to be raised at the unit's next use.  Returns whether any was waited for.
    bool finish_writes_behind() noexcept;
    // Unformatted input: the next logical record (subrecords joined), or nullopt at the end.
    // A damaged frame throws IoError.
    std::optional<std::vector<std::byte>> read_record(int unit);

    void rewind(int unit);
    void flush(int unit);
    // Closes the unit; `keep` false deletes the file (status "delete").  Closing a unit that
    // is not open does nothing, as in Fortran.
    void close(int unit, bool keep = true);
    // Flushes and closes every open unit, in unit order; errors are collected, not thrown,
    // and returned as texts (the exit path must close everything it can).
    std::vector<std::string> close_all() noexcept;

    // The next unit that is not open, counting upward from the unit after the last one this
    // query returned (130 at program start): two calls never return the same unit.
    int free_unit();

    // Largest subrecord written; lowered only by tests, to check the split with small data.
    void set_max_subrecord(std::int64_t bytes) { max_subrecord_ = bytes; }

private:
    struct Unit {
        std::FILE* file = nullptr;
        std::string name;
        std::string path;             // absolute path at the open (the working directory may change)
        FileForm form = FileForm::formatted;
        bool read_only = false;
        bool scratch = false;
        // A sequential write makes its record the last one of the file, as in Fortran: after a
        // rewind, a read or the open of an existing file, the first write cuts the file there.
        bool at_end = true;
        bool written = false;         // something was written (only then can data be lost)
        std::vector<char> buffer;     // stdio buffer, large so records leave in few writes
        std::thread behind;           // a write_behind job still at work on this unit
        std::exception_ptr behind_error;
    };
    // Waits for the unit's write_behind job and hands back what it threw (null: nothing).
    static std::exception_ptr join_behind(Unit& u) noexcept;
    // `written`, when given, is told of each stretch of the pieces once it has left for the
    // file (the caller may then reuse or release that memory).
    void frame_record(Unit& u, std::span<const std::span<const std::byte>> pieces,
                      const std::function<void(const std::byte*, std::size_t)>* written = nullptr);
    Unit& get(int unit, const char* action);
    const Unit* find(int unit) const;
    void write_bytes(Unit& u, const void* data, std::size_t n);
    void prepare_write(Unit& u);

    struct PendingFile {
        std::string temporary, final_name;
        bool keep_out = false;
        int unit = 0;
        bool closed = false;
    };
    std::vector<PendingFile> pending_;
    std::map<int, Unit> units_;
    std::vector<unsigned char> staging_;   // framed records on their way to stdio (write_records)
    int next_free_ = 130;
    int last_open_errno_ = 0;
    std::int64_t max_subrecord_ = kMaxSubrecord;

public:
    // What a write_behind job writes with: records to its one unit.
    class RecordSink {
    public:
        void write(std::span<const std::byte> bytes);
        // The same record, whose memory the caller gives up: its whole pages go back to the
        // system as they are written, so that a matrix on its way to the file does not stay
        // resident beside the work that follows (its contents are gone afterwards).
        void write_releasing(std::span<std::byte> bytes);
    private:
        friend class UnitTable;
        RecordSink(UnitTable& table, Unit& unit) : table_(table), unit_(unit) {}
        UnitTable& table_;
        Unit& unit_;
    };
};

// The process-wide unit table, as a Fortran program has one run-time I/O system.
UnitTable& units();

// Helpers for building record pieces from typed data.
template <class T>
[[nodiscard]] std::span<const std::byte> bytes_of(const T& value) noexcept
{ return std::as_bytes(std::span<const T, 1>(&value, 1)); }
template <class T>
[[nodiscard]] std::span<const std::byte> bytes_of(std::span<const T> values) noexcept
{ return std::as_bytes(values); }
template <class T>
[[nodiscard]] std::span<const std::byte> bytes_of(const std::vector<T>& values) noexcept
{ return std::as_bytes(std::span<const T>(values)); }

}  // namespace torva
