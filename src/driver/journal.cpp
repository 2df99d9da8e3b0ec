#include "driver/journal.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"

namespace torva {

int open_journal_files(int listing_unit, const std::string& filejou, const std::string& filestatus,
                       std::string* failure)
{
    const std::string base = trimmed(filejou);
    const std::string status = trimmed(filestatus);
    if (status == "OLD" || status == "old") {
        for (const auto& jf : kJournalFiles)
            OPEN_INPUT_FILES(listing_unit, jf.unit, base + jf.suffix, "unformatted");
        return 0;
    }
    OpenOptions options;
    options.status = status;
    options.form = FileForm::unformatted;
    for (const auto& jf : kJournalFiles) {
        int err = 0;
        const std::string name = base + jf.suffix;
        if (units().open_pending(jf.unit, name, options, &err) != kIostatOk) {
            if (failure) {
                *failure = name + ": " + (err ? std::strerror(err) : "open status \"" + status + "\" not accepted");
                if (err == EEXIST) *failure += " (FILESTATUS \"" + status + "\" protects existing journal files)";
            }
            return -1;
        }
    }
    return 0;
}

UnitJournal::UnitJournal(int listing_unit, std::array<int, kJournalFileCount> file_units)
    : listing_unit_(listing_unit), units_(file_units)
{
}

void UnitJournal::write_record(JournalFile file, std::span<const std::byte> record)
{
    units().write_record(unit(file), record);
}

void UnitJournal::write_records(JournalFile file, std::span<const std::byte> data, std::size_t record_bytes)
{
    units().write_records(unit(file), data, record_bytes);
}

void UnitJournal::write_behind(JournalFile file, JournalJob job)
{
    units().write_behind(unit(file), [job = std::move(job)](UnitTable::RecordSink& records) {
        struct Sink final : JournalRecordSink {
            UnitTable::RecordSink& records;
            explicit Sink(UnitTable::RecordSink& r) : records(r) {}
            void write(std::span<const std::byte> record) override { records.write(record); }
            void write_releasing(std::span<std::byte> record) override { records.write_releasing(record); }
        } sink(records);
        job(sink);
    });
}

void UnitJournal::rewind(JournalFile file) { units().rewind(unit(file)); }

std::optional<std::vector<std::byte>> UnitJournal::read_record(JournalFile file)
{
    return units().read_record(unit(file));
}

void UnitJournal::start_over(JournalFile file)
{
    const int u = unit(file);
    const std::string name = units().name_of(u);
    if (name.empty()) {   // a scratch file: it cannot be reopened by name, rewinding must do
        units().rewind(u);
        return;
    }
    units().close(u);
    OpenOptions options;
    options.status = "REPLACE";
    options.form = FileForm::unformatted;
    if (units().open(u, name, options) != kIostatOk)
        stop_run_on(listing_unit_, {"ERROR: Could not open jou-file", trimmed(name)});
}

std::string UnitJournal::name(JournalFile file) const { return units().name_of(unit(file)); }

void close_journal_files()
{
    for (const auto& jf : kJournalFiles) units().close(jf.unit);
}

namespace {

// Another program "holds" a file when it cannot be opened for reading right now, or when a
// process holds a write lock on it (the POSIX equivalent of a file opened without sharing).
bool held_by_another_program(const std::string& name)
{
    const int fd = ::open(name.c_str(), O_RDONLY);
    if (fd < 0) return errno == EACCES || errno == EBUSY || errno == ETXTBSY;
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    const bool locked = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return locked;
}

}  // namespace

void OPEN_INPUT_FILES(int listing_unit, int unit, const std::string& name, const std::string& form,
                      const SleepFunction& sleep)
{
    const std::string file = trimmed(name);
    const std::string f = trimmed(form);
    if (!UnitTable::exists(file))
        stop_run_on(listing_unit, {"Error detected in OPEN_INPUT_FILES:",
                                   "The following input file does not exist!!!", file});
    if (f != "formatted" && f != "unformatted" && f != "FORMATTED" && f != "UNFORMATTED")
        stop_run_on(listing_unit, {"Error detected in OPEN_INPUT_FILES:", "form = " + f});
    if (units().is_open(unit))
        stop_run_on(listing_unit,
                    {"Error detected in OPEN_INPUT_FILES:", "Busy unit number. luopn = " + std::to_string(unit)});

    OpenOptions options;
    options.status = "old";
    options.form = (f == "unformatted" || f == "UNFORMATTED") ? FileForm::unformatted : FileForm::formatted;
    options.read_only = true;
    bool waited = false;
    for (;;) {
        int err = 0;
        if (!held_by_another_program(file) && units().open(unit, file, options, &err) == kIostatOk) break;
        if (err != 0 && err != EACCES && err != EBUSY && err != ETXTBSY)
            stop_run_on(listing_unit, {"ERROR: Unable to open " + file + ": " + std::strerror(err)});
        if (!waited) {
            units().write_line(listing_unit, list_directed("Warning detected in OPEN_INPUT_FILES:"));
            units().write_line(listing_unit, list_directed("Input file: " + file));
            units().write_line(listing_unit, list_directed("is opened by another application. We have to wait..."));
            units().flush(listing_unit);
            waited = true;
        }
        if (sleep)
            sleep(10);
        else
            std::this_thread::sleep_for(std::chrono::seconds(10));
    }
    if (waited) units().write_line(listing_unit, list_directed("Input file ready: " + file));
}

void write_filter_list(int jou2_unit, const std::vector<std::string>& filter_names)
{
    const std::int32_t count = static_cast<std::int32_t>(filter_names.size());
    units().write_record(jou2_unit, bytes_of(count));
    std::string names;
    names.reserve(200 * filter_names.size());
    for (const auto& n : filter_names) names += fixed_text(n, 200);
    units().write_record(jou2_unit, std::as_bytes(std::span(names)));
}

}  // namespace torva
