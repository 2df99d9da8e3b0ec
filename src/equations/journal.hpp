// The journal: the files through which the equation systems and the basis flow hand their
// records to the time-domain solver.  Routines write records (byte spans) to one of the
// five files; how the records become bytes -- Fortran-unformatted frames on the units the
// driver opened, or a list kept in memory for tests -- is the implementation's business.
//
//     jou1   right-hand-side rows of the main system (read back for INFINVS < 0)
//     jou1a  right-hand-side rows of the antisymmetric system
//     jou2   factorised or inverted systems
//     jou3   basis-flow results
//     jou4   velocity records, replaced by the mode-derivative records with IFSBC 3
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace torva {

enum class JournalFile { jou1, jou1a, jou2, jou3, jou4 };
inline constexpr int kJournalFileCount = 5;

// What a job written behind the caller's back writes with: records, in order, to its file.
class JournalRecordSink {
public:
    virtual ~JournalRecordSink() = default;
    virtual void write(std::span<const std::byte> record) = 0;
    // The same record, from memory the job gives up: the sink may release it as it writes
    // (its contents are undefined afterwards).
    virtual void write_releasing(std::span<std::byte> record) { write(record); }
};
using JournalJob = std::function<void(JournalRecordSink&)>;

class Journal {
public:
    virtual ~Journal() = default;
    // One record.
    virtual void write_record(JournalFile file, std::span<const std::byte> record) = 0;
    // data.size() / record_bytes records of record_bytes bytes each, back to back in `data`
    // (nothing when `data` is empty): the same as write_record once per record, cheaper.
    virtual void write_records(JournalFile file, std::span<const std::byte> data, std::size_t record_bytes) = 0;
    // Records written by `job`, which owns its data, possibly on another thread while the
    // caller goes on; the file's next use waits for it.
    virtual void write_behind(JournalFile file, JournalJob job) = 0;
    // Back to the file's first record, for reading.
    virtual void rewind(JournalFile file) = 0;
    // The next record, or nullopt after the last.
    virtual std::optional<std::vector<std::byte>> read_record(JournalFile file) = 0;
    // Empties the file: what is written next is its first record.
    virtual void start_over(JournalFile file) = 0;
    // The file's name, for messages.
    [[nodiscard]] virtual std::string name(JournalFile file) const = 0;
};

// The records kept in memory, file by file (for tests, and for anyone who wants to look at
// the records a routine writes without files).
class MemoryJournal final : public Journal {
public:
    // As in a sequential file, a write after a rewind ends the file there.
    void write_record(JournalFile file, std::span<const std::byte> record) override
    {
        Store& s = at(file);
        if (s.next != kAtEnd) s.records.resize(s.next);
        s.next = kAtEnd;
        s.records.emplace_back(record.begin(), record.end());
    }
    void write_records(JournalFile file, std::span<const std::byte> data, std::size_t record_bytes) override
    {
        for (std::size_t k = 0; k + record_bytes <= data.size() && record_bytes > 0; k += record_bytes)
            write_record(file, data.subspan(k, record_bytes));
    }
    void write_behind(JournalFile file, JournalJob job) override
    {
        struct Sink final : JournalRecordSink {
            MemoryJournal& journal;
            JournalFile file;
            Sink(MemoryJournal& j, JournalFile f) : journal(j), file(f) {}
            void write(std::span<const std::byte> record) override { journal.write_record(file, record); }
        } sink(*this, file);
        job(sink);
    }
    void rewind(JournalFile file) override { at(file).next = 0; }
    std::optional<std::vector<std::byte>> read_record(JournalFile file) override
    {
        Store& s = at(file);
        if (s.next == kAtEnd || s.next >= s.records.size()) return std::nullopt;
        return s.records[s.next++];
    }
    void start_over(JournalFile file) override { at(file) = Store{}; }
    [[nodiscard]] std::string name(JournalFile file) const override
    {
        static constexpr const char* kNames[kJournalFileCount] = {"jou1", "jou1a", "jou2", "jou3", "jou4"};
        return kNames[static_cast<int>(file)];
    }

    // The records of `file`, in the order written.
    [[nodiscard]] const std::vector<std::vector<std::byte>>& records(JournalFile file) const
    {
        return stores_[static_cast<std::size_t>(file)].records;
    }
    // Record k of `file` as values of type T.
    template <class T>
    [[nodiscard]] std::vector<T> values(JournalFile file, std::size_t k) const
    {
        const std::vector<std::byte>& r = records(file).at(k);
        std::vector<T> out(r.size() / sizeof(T));
        for (std::size_t i = 0; i < out.size() * sizeof(T); ++i) reinterpret_cast<std::byte*>(out.data())[i] = r[i];
        return out;
    }

private:
    static constexpr std::size_t kAtEnd = static_cast<std::size_t>(-1);
    struct Store {
        std::vector<std::vector<std::byte>> records;
        std::size_t next = kAtEnd;   // the record a read returns next; kAtEnd: after the last
    };
    Store& at(JournalFile file) { return stores_[static_cast<std::size_t>(file)]; }
    std::array<Store, kJournalFileCount> stores_;
};

}  // namespace torva
