// Numbered units over C stdio.  See units.hpp for the record layout.
#include "frame/units.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "frame/allocation.hpp"

namespace torva {

namespace {

// Big stdio buffers: a journal row of a few hundred kB leaves in one or two write(2) calls.
constexpr std::size_t kUnitBufferBytes = std::size_t{1} << 20;
// write_records frames this many bytes of records before each fwrite: large enough that the
// call's cost vanishes against the copying, small enough to stay in the cache on its way
// into the stdio buffer.
constexpr std::size_t kStagingBytes = std::size_t{256} << 10;
// A record of at most this many bytes with its markers leaves write_record in one fwrite.
constexpr std::size_t kSmallRecordBytes = 256;

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& ch : out)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    // Fortran status words are blank-padded texts: trailing blanks do not count.
    while (!out.empty() && (out.back() == ' ' || out.back() == '\0')) out.pop_back();
    return out;
}

int iostat_from_errno(int err)
{
    switch (err) {
    case ENOENT: return kIostatFileNotFound;
    case EEXIST: return kIostatFileExists;
    case EACCES:
    case EPERM:
    case EROFS: return kIostatAccessDenied;
    case ENOSPC:
    case EDQUOT: return kIostatNoSpace;
    default: return kIostatOpenFailure;
    }
}

void put_le32(unsigned char* p, std::int32_t v)
{
    const auto u = static_cast<std::uint32_t>(v);
    p[0] = static_cast<unsigned char>(u & 0xFFu);
    p[1] = static_cast<unsigned char>((u >> 8) & 0xFFu);
    p[2] = static_cast<unsigned char>((u >> 16) & 0xFFu);
    p[3] = static_cast<unsigned char>((u >> 24) & 0xFFu);
}

std::int32_t get_le32(const unsigned char* p)
{
    const std::uint32_t u = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
                            (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
    return static_cast<std::int32_t>(u);
}

}  // namespace

IoError::IoError(std::string action, std::string file, std::string reason)
    : std::runtime_error(action + " " + file + ": " + reason), file_(std::move(file)),
      reason_(std::move(reason))
{
}

UnitTable::~UnitTable() { close_all(); }

UnitTable& units()
{
    static UnitTable table;
    return table;
}

bool UnitTable::exists(const std::string& name)
{
    struct stat st {};
    return !name.empty() && ::stat(name.c_str(), &st) == 0;
}

const UnitTable::Unit* UnitTable::find(int unit) const
{
    const auto it = units_.find(unit);
    return it == units_.end() ? nullptr : &it->second;
}

UnitTable::Unit& UnitTable::get(int unit, const char* action)
{
    const auto it = units_.find(unit);
    if (it == units_.end())
        throw IoError(action, "unit " + std::to_string(unit), "unit is not open");
    if (std::exception_ptr failed = join_behind(it->second)) std::rethrow_exception(failed);
    return it->second;
}

std::exception_ptr UnitTable::join_behind(Unit& u) noexcept
{
    if (u.behind.joinable()) u.behind.join();
    return std::exchange(u.behind_error, nullptr);
}

void UnitTable::write_behind(int unit, std::function<void(RecordSink&)> job)
{
    Unit& u = get(unit, "writing");
    prepare_write(u);
    // The job reaches its unit through the sink, never through the table's map, which the
    // caller may change meanwhile (a map node stays where it is while others come and go).
    // Shared, so that starting the thread copies no data and a failed start leaves the job
    // whole for the caller's thread.
    auto shared = std::make_shared<std::function<void(RecordSink&)>>(std::move(job));
    auto run = [this, &u, shared]() {
        try {
            RecordSink sink(*this, u);
            (*shared)(sink);
        } catch (...) {
            u.behind_error = std::current_exception();
        }
    };
    try {
        u.behind = std::thread(run);
    } catch (const std::system_error&) {
        run();
        if (std::exception_ptr failed = std::exchange(u.behind_error, nullptr)) std::rethrow_exception(failed);
    }
}

bool UnitTable::finish_writes_behind() noexcept
{
    bool waited = false;
    for (auto& [number, u] : units_) {
        if (!u.behind.joinable()) continue;
        u.behind.join();
        waited = true;
    }
    return waited;
}

void UnitTable::RecordSink::write(std::span<const std::byte> bytes)
{
    const std::span<const std::byte> pieces[1] = {bytes};
    table_.frame_record(unit_, pieces);
}

void UnitTable::RecordSink::write_releasing(std::span<std::byte> bytes)
{
    // Pieces of 16 MiB: the record's framing depends only on its total length, so the bytes
    // on the file are those of write(); each piece's whole pages are released once written.
    constexpr std::size_t kPiece = std::size_t{16} << 20;
    std::vector<std::span<const std::byte>> pieces;
    for (std::size_t at = 0; at < bytes.size(); at += kPiece)
        pieces.push_back(bytes.subspan(at, std::min(kPiece, bytes.size() - at)));
    if (pieces.empty()) pieces.emplace_back();
    const long page = ::sysconf(_SC_PAGESIZE);
    const std::function<void(const std::byte*, std::size_t)> release = [page](const std::byte* p, std::size_t n) {
        // If the advice fails the pages simply stay until the buffer is freed.
        advise_whole_pages(p, n, static_cast<std::size_t>(page), MADV_DONTNEED);
    };
    table_.frame_record(unit_, pieces, page > 0 ? &release : nullptr);
}

bool UnitTable::is_open(int unit) const { return find(unit) != nullptr; }

std::string UnitTable::name_of(int unit) const
{
    const Unit* u = find(unit);
    return u ? u->name : std::string();
}

std::optional<int> UnitTable::unit_of(const std::string& name) const
{
    for (const auto& [number, u] : units_)
        if (!u.scratch && u.name == name) return number;
    return std::nullopt;
}

int UnitTable::open(int unit, const std::string& name, const OpenOptions& options, int* errno_out)
{
    if (errno_out) *errno_out = 0;
    if (is_open(unit)) return kIostatUnitAlreadyOpen;
    const std::string status = upper(options.status);
    const bool present = exists(name);

    std::FILE* file = nullptr;
    bool scratch = false;
    auto fail = [&](int err) {
        last_open_errno_ = err;
        if (errno_out) *errno_out = err;
        return iostat_from_errno(err);
    };

    if (status == "SCRATCH") {
        file = std::tmpfile();
        scratch = true;
        if (!file) return fail(errno);
    } else {
        if (name.empty()) return kIostatFileNotFound;
        // fopen modes: text and binary differ only by the 'b', which Linux ignores anyway.
        const char* mode = nullptr;
        if (status == "OLD" || status == "APPEND") {
            if (!present) return fail(ENOENT);
            mode = options.read_only ? "r" : "r+";
        } else if (status == "NEW") {
            if (options.read_only) return kIostatBadStatus;
            if (present) return fail(EEXIST);
            mode = "w+x";     // exclusive create: no race with another run creating it
        } else if (status == "REPLACE") {
            if (options.read_only) return kIostatBadStatus;
            mode = "w+";
        } else if (status == "UNKNOWN") {
            mode = present ? (options.read_only ? "r" : "r+") : "w+";
        } else {
            return kIostatBadStatus;
        }
        file = std::fopen(name.c_str(), mode);
        // An existing file that we may only read (no write permission, or a read-only file
        // system): OLD without read_only falls back to reading, as a Fortran open with action
        // unspecified does.
        if (!file && (errno == EACCES || errno == EROFS) && (status == "OLD" || status == "UNKNOWN") && present) {
            file = std::fopen(name.c_str(), "r");
            if (file) {
                Unit u;
                u.file = file;
                u.name = name;
                u.form = options.form;
                u.read_only = true;
                units_.emplace(unit, std::move(u));
                return kIostatOk;
            }
        }
        if (!file) return fail(errno);
    }

    Unit u;
    u.file = file;
    u.name = scratch ? std::string() : name;
    if (!scratch) {
        std::error_code ec;
        u.path = std::filesystem::absolute(name, ec).string();
        if (ec) u.path = name;
    }
    u.form = options.form;
    u.read_only = options.read_only;
    u.scratch = scratch;
    u.buffer.resize(kUnitBufferBytes);
    std::setvbuf(file, u.buffer.data(), _IOFBF, u.buffer.size());
    if (status == "APPEND" || options.append) std::fseek(file, 0, SEEK_END);
    else u.at_end = !present || status == "REPLACE";
    units_.emplace(unit, std::move(u));
    return kIostatOk;
}

int UnitTable::open_pending(int unit, const std::string& final_name, const OpenOptions& options, int* errno_out)
{
    const std::string status = upper(options.status);
    if (status != "NEW" && status != "REPLACE" && status != "UNKNOWN") return open(unit, final_name, options, errno_out);
    if (errno_out) *errno_out = 0;
    if (is_open(unit)) return kIostatUnitAlreadyOpen;
    if (status == "NEW" && exists(final_name)) {
        last_open_errno_ = EEXIST;
        if (errno_out) *errno_out = EEXIST;
        return kIostatFileExists;
    }
    OpenOptions replace = options;
    replace.status = "REPLACE";
    const std::string temporary = final_name + kPendingSuffix;
    const int rc = open(unit, temporary, replace, errno_out);
    if (rc != kIostatOk) return rc;
    pending_.push_back(PendingFile{temporary, final_name, status == "NEW", unit, false});
    return kIostatOk;
}

void UnitTable::commit_pending()
{
    for (PendingFile& p : pending_)
        if (!p.closed) close(p.unit);
    std::vector<PendingFile> files = std::move(pending_);
    pending_.clear();
    for (const PendingFile& p : files) {
        // renameat2 with RENAME_NOREPLACE: the check and the rename are one step, so a file
        // that another program created under the final name meanwhile is never lost.
        const int rc = p.keep_out ? ::renameat2(AT_FDCWD, p.temporary.c_str(), AT_FDCWD, p.final_name.c_str(),
                                                RENAME_NOREPLACE)
                                  : std::rename(p.temporary.c_str(), p.final_name.c_str());
        if (rc != 0) throw IoError("renaming " + p.temporary + " to", p.final_name, std::strerror(errno));
    }
}

void UnitTable::write_bytes(Unit& u, const void* data, std::size_t n)
{
    if (n == 0) return;
    if (u.read_only) throw IoError("writing", u.name, "file is open for reading only");
    u.written = true;
    if (std::fwrite(data, 1, n, u.file) != n)
        throw IoError("writing", u.name, std::strerror(errno));
}

void UnitTable::prepare_write(Unit& u)
{
    // Before the file is positioned or cut: a unit open for reading must stay untouched.
    if (u.read_only) throw IoError("writing", u.name, "file is open for reading only");
    if (u.at_end) return;
    u.at_end = true;
    // stdio needs a positioning call between reading and writing; the file is then cut at
    // the current position (regular files only: a device such as /dev/full has no length).
    const long pos = std::ftell(u.file);
    if (pos < 0 || std::fseek(u.file, pos, SEEK_SET) != 0) throw IoError("positioning", u.name, std::strerror(errno));
    struct stat st {};
    if (::fstat(::fileno(u.file), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > pos &&
        ::ftruncate(::fileno(u.file), pos) != 0)
        throw IoError("truncating", u.name, std::strerror(errno));
}

void UnitTable::write_line(int unit, std::string_view text)
{
    Unit& u = get(unit, "writing");
    prepare_write(u);
    write_bytes(u, text.data(), text.size());
    write_bytes(u, "\n", 1);
}

bool UnitTable::read_line(int unit, std::string& line)
{
    Unit& u = get(unit, "reading");
    if (u.at_end) std::fseek(u.file, 0, SEEK_CUR);   // switching from writing to reading
    u.at_end = false;
    // getline reads the record in one call (a character-by-character loop through the
    // locking stdio interface costs tens of nanoseconds a byte).
    char* buffer = nullptr;
    std::size_t capacity = 0;
    errno = 0;
    const ssize_t got = ::getline(&buffer, &capacity, u.file);
    const int err = errno;
    if (got > 0) line.assign(buffer, static_cast<std::size_t>(got - (buffer[got - 1] == '\n' ? 1 : 0)));
    else line.clear();
    std::free(buffer);
    if (got < 0 && std::ferror(u.file)) throw IoError("reading", u.name, std::strerror(err));
    return got > 0;
}

void UnitTable::write_record(int unit, std::span<const std::byte> bytes)
{
    const std::span<const std::byte> pieces[1] = {bytes};
    write_record(unit, std::span<const std::span<const std::byte>>(pieces));
}

void UnitTable::write_record(int unit, std::span<const std::span<const std::byte>> pieces)
{
    Unit& u = get(unit, "writing");
    prepare_write(u);
    frame_record(u, pieces);
}

// One record, framed as gfortran frames it, at the unit's position (already prepared).
void UnitTable::frame_record(Unit& u, std::span<const std::span<const std::byte>> pieces,
                             const std::function<void(const std::byte*, std::size_t)>* written)
{
    std::int64_t total = 0;
    for (const auto& p : pieces) total += static_cast<std::int64_t>(p.size());

    // A short record leaves in one call rather than one per marker and piece.
    if (total <= max_subrecord_ && static_cast<std::size_t>(total) + 8 <= kSmallRecordBytes) {
        unsigned char framed[kSmallRecordBytes];
        put_le32(framed, static_cast<std::int32_t>(total));
        std::size_t at = 4;
        for (const auto& p : pieces) {
            if (!p.empty()) std::memcpy(framed + at, p.data(), p.size());
            at += p.size();
        }
        put_le32(framed + at, static_cast<std::int32_t>(total));
        write_bytes(u, framed, at + 4);
        return;
    }

    // Split the logical record into subrecords of at most max_subrecord_ bytes.  A record of
    // zero bytes is one subrecord with zero counts.
    std::size_t piece = 0;
    std::size_t offset = 0;          // within pieces[piece]
    std::int64_t left = total;
    bool first = true;
    do {
        const std::int64_t len = std::min(left, max_subrecord_);
        const bool more = left > len;
        unsigned char marker[4];
        // Leading marker negative: another subrecord follows.
        put_le32(marker, static_cast<std::int32_t>(more ? -len : len));
        write_bytes(u, marker, 4);
        std::int64_t need = len;
        while (need > 0) {
            const auto& p = pieces[piece];
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::int64_t>(need, static_cast<std::int64_t>(p.size() - offset)));
            write_bytes(u, p.data() + offset, take);
            if (written && take > 0) {
                // stdio has passed the stretch to the kernel or copied it into its buffer.
                (*written)(p.data() + offset, take);
            }
            offset += take;
            need -= static_cast<std::int64_t>(take);
            if (offset == p.size()) {
                ++piece;
                offset = 0;
            }
        }
        // Trailing marker negative: a subrecord precedes.
        put_le32(marker, static_cast<std::int32_t>(first ? len : -len));
        write_bytes(u, marker, 4);
        left -= len;
        first = false;
    } while (left > 0);
}

void UnitTable::write_records(int unit, std::span<const std::byte> data, std::size_t record_bytes)
{
    // No records, of whatever length: nothing to write and nothing to check, exactly as a
    // loop of write_record over zero records makes no call at all.
    if (data.empty()) return;
    Unit& u = get(unit, "writing");
    if (record_bytes == 0)
        throw std::invalid_argument("write_records: records of zero bytes (write them with write_record)");
    if (data.size() % record_bytes != 0)
        throw std::invalid_argument("write_records: " + std::to_string(data.size()) + " bytes are not whole records of " +
                                    std::to_string(record_bytes) + " bytes");
    if (static_cast<std::int64_t>(record_bytes) > max_subrecord_) {
        // Every record splits into subrecords; records this long gain nothing from staging.
        for (std::size_t at = 0; at < data.size(); at += record_bytes)
            write_record(unit, data.subspan(at, record_bytes));
        return;
    }
    prepare_write(u);
    unsigned char marker[4];
    put_le32(marker, static_cast<std::int32_t>(record_bytes));
    const std::size_t framed = record_bytes + 8;
    const std::size_t count = data.size() / record_bytes;
    const std::byte* src = data.data();
    if (framed > kStagingBytes) {
        // Long records: the payload goes straight from the caller's memory.
        for (std::size_t k = 0; k < count; ++k, src += record_bytes) {
            write_bytes(u, marker, 4);
            write_bytes(u, src, record_bytes);
            write_bytes(u, marker, 4);
        }
        return;
    }
    const std::size_t per_chunk = kStagingBytes / framed;
    if (staging_.size() < kStagingBytes) staging_.resize(kStagingBytes);
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(per_chunk, count - done);
        unsigned char* dst = staging_.data();
        for (std::size_t k = 0; k < n; ++k, src += record_bytes, dst += framed) {
            std::memcpy(dst, marker, 4);
            std::memcpy(dst + 4, src, record_bytes);
            std::memcpy(dst + 4 + record_bytes, marker, 4);
        }
        write_bytes(u, staging_.data(), n * framed);
        done += n;
    }
}

std::optional<std::vector<std::byte>> UnitTable::read_record(int unit)
{
    Unit& u = get(unit, "reading");
    if (u.at_end) std::fseek(u.file, 0, SEEK_CUR);   // switching from writing to reading
    u.at_end = false;
    std::vector<std::byte> data;
    bool first = true;
    for (;;) {
        unsigned char marker[4];
        const std::size_t got = std::fread(marker, 1, 4, u.file);
        if (got == 0 && first && std::feof(u.file)) return std::nullopt;
        if (got != 4) throw IoError("reading", u.name, "record marker cut short (file truncated)");
        const std::int32_t lead = get_le32(marker);
        const std::int64_t len = lead < 0 ? -std::int64_t{lead} : lead;
        const std::size_t at = data.size();
        data.resize(at + static_cast<std::size_t>(len));
        if (len > 0 && std::fread(data.data() + at, 1, static_cast<std::size_t>(len), u.file) !=
                           static_cast<std::size_t>(len))
            throw IoError("reading", u.name, "record of " + std::to_string(len) + " bytes cut short");
        if (std::fread(marker, 1, 4, u.file) != 4)
            throw IoError("reading", u.name, "trailing record marker missing");
        const std::int32_t trail = get_le32(marker);
        const std::int64_t tlen = trail < 0 ? -std::int64_t{trail} : trail;
        if (tlen != len || (trail < 0) == first)
            throw IoError("reading", u.name, "record markers disagree (" + std::to_string(lead) +
                                                 " / " + std::to_string(trail) + ")");
        first = false;
        if (lead >= 0) return data;
    }
}

void UnitTable::rewind(int unit)
{
    Unit& u = get(unit, "rewinding");
    if (std::fflush(u.file) != 0) throw IoError("writing", u.name, std::strerror(errno));
    std::rewind(u.file);
    u.at_end = false;
}

void UnitTable::flush(int unit)
{
    Unit* u = units_.count(unit) ? &units_.at(unit) : nullptr;
    if (!u) return;
    if (std::exception_ptr failed = join_behind(*u)) std::rethrow_exception(failed);
    if (std::fflush(u->file) != 0) throw IoError("writing", u->name, std::strerror(errno));
}

void UnitTable::close(int unit, bool keep)
{
    const auto it = units_.find(unit);
    if (it == units_.end()) return;
    // A write behind ends before the unit moves; its failure is raised once the file is shut.
    const std::exception_ptr behind_failed = join_behind(it->second);
    Unit u = std::move(it->second);
    units_.erase(it);
    // A pending file closed for good keeps its place for commit_pending; one deleted has none.
    for (auto p = pending_.begin(); p != pending_.end(); ++p) {
        if (p->unit != unit || p->closed) continue;
        if (keep) p->closed = true;
        else pending_.erase(p);
        break;
    }
    const int flush_rc = std::fflush(u.file);
    const int flush_errno = errno;
    // A file removed or replaced under its name while open would take our records with it
    // silently: the data went to an inode nobody can reach.  Say so.
    bool vanished = false;
    if (keep && u.written && !u.scratch && !u.path.empty()) {
        struct stat open_st {}, name_st {};
        vanished = ::fstat(::fileno(u.file), &open_st) == 0 &&
                   (::stat(u.path.c_str(), &name_st) != 0 || open_st.st_ino != name_st.st_ino ||
                    open_st.st_dev != name_st.st_dev);
    }
    const int close_rc = std::fclose(u.file);
    const int close_errno = errno;
    if (!keep && !u.scratch && !u.name.empty()) ::unlink(u.name.c_str());
    if (behind_failed) std::rethrow_exception(behind_failed);
    if (keep && flush_rc != 0) throw IoError("writing", u.name, std::strerror(flush_errno));
    if (vanished) throw IoError("closing", u.name, "the file was removed or replaced while open");
    if (keep && close_rc != 0) throw IoError("closing", u.name, std::strerror(close_errno));
}

std::vector<std::string> UnitTable::close_all() noexcept
{
    std::vector<std::string> errors;
    while (!units_.empty()) {
        const int unit = units_.begin()->first;
        try {
            close(unit, true);
        } catch (const std::exception& e) {
            try { errors.emplace_back(e.what()); } catch (...) {}
        }
    }
    return errors;
}

int UnitTable::free_unit()
{
    int unit = next_free_;
    while (is_open(unit)) ++unit;
    next_free_ = unit + 1;
    return unit;
}

}  // namespace torva
