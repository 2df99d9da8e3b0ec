// Malformed and awkward run-parameter files (tests/corpus/namelist): each is read in-process
// through read_torva_inp, and again by the whole program, whose log must name the line that
// holds the fault.  The table tests/corpus/namelist/expected.tsv says what each must give.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>

#include "input/namelist_reader.hpp"
#include "input/run_parameters.hpp"
#include "reliability/corpus.hpp"

namespace torva {
namespace {

using namespace torva::testing;

const std::filesystem::path kDir = corpus_dir("namelist");

// "KEY=v1 v2 ..." against the record: texts trimmed, reals as the nearest float of the
// decimal text (strtof rounds correctly, and so must the reader), logicals T/F.
std::string check_value(const RunParameters& params, const std::string& assignment)
{
    const std::size_t eq = assignment.find('=');
    const std::string key = trim(assignment.substr(0, eq));
    const std::string want = assignment.substr(eq + 1);
    const auto index = find_key(key);
    if (!index) return "no key " + key;
    const KeyInfo& info = kTorvaInpKeys[*index];
    const ConstKeySlot slot = key_slots(params)[*index];
    if (info.kind == ValueKind::Text) {
        const std::string got = trim(slot.texts[0]);
        return got == want ? "" : key + " is '" + got + "', not '" + want + "'";
    }
    std::istringstream values(want);
    std::size_t element = 0;
    for (std::string v; values >> v; ++element) {
        std::string got;
        bool same = false;
        switch (info.kind) {
        case ValueKind::Integer:
            got = std::to_string(slot.integers[element]);
            same = slot.integers[element] == std::stoi(v);
            break;
        case ValueKind::Real:
            got = std::to_string(slot.reals[element]);
            same = slot.reals[element] == std::strtof(v.c_str(), nullptr);
            break;
        case ValueKind::Logical:
            got = slot.logicals[element] ? "T" : "F";
            same = got == v;
            break;
        case ValueKind::Text:
            break;
        }
        if (!same) return key + " element " + std::to_string(element + 1) + " is " + got + ", not " + v;
    }
    return "";
}

TEST(namelist_corpus, table_names_every_file_of_the_folder_once)
{
    std::vector<std::string> listed;
    std::set<std::string> outcomes;
    for (const auto& c : corpus_cases("namelist")) {
        listed.push_back(c.input);
        outcomes.insert(c.result == "ok" || c.result == "no_group" || c.result == "unclosed_group" ? c.result : "line");
    }
    expect_table_names_every_file_once("namelist", listed);
    // The corpus covers what it promises: at least one of every outcome.
    EXPECT_EQ(outcomes, (std::set<std::string>{"ok", "no_group", "unclosed_group", "line"}));
}

TEST(namelist_corpus, reader_accepts_or_locates_each_fault_as_the_table_says)
{
    for (const auto& c : corpus_cases("namelist")) {
        SCOPED_TRACE(c.input);
        std::istringstream in(read_bytes(kDir / c.input));
        const auto params = std::make_unique<RunParameters>();
        const NamelistStatus status = read_torva_inp(in, *params);
        if (c.result == "ok") {
            ASSERT_TRUE(status.ok()) << "line " << status.line << ": " << status.message;
            for (const auto& assignment : split(c.detail, ";")) EXPECT_EQ(check_value(*params, assignment), "");
            continue;
        }
        ASSERT_FALSE(status.ok()) << "the reader accepted it";
        if (c.result == "no_group") {
            EXPECT_EQ(status.failure, NamelistFailure::no_group);
        } else if (c.result == "unclosed_group") {
            EXPECT_EQ(status.failure, NamelistFailure::unclosed_group);
        } else {
            EXPECT_EQ(status.failure, NamelistFailure::bad_input);
            EXPECT_EQ(status.line, std::stoi(c.result)) << status.message;
        }
        EXPECT_TRUE(matches(c.detail, status.message)) << "message: " << status.message << "\nexpected: " << c.detail;
    }
}

TEST(namelist_corpus, line_beyond_the_reader_limit_is_refused_at_its_number)
{
    // Built here rather than stored: a line of kMaxLineLength + 1 characters (1 MiB), a
    // comment, so that only its length is wrong.
    const std::string text = "&TORVA_INP\n FILEJOU = 'j'\n!" + std::string(kMaxLineLength, 'c') + "\n/\n";
    std::istringstream in(text);
    const auto params = std::make_unique<RunParameters>();
    const NamelistStatus status = read_torva_inp(in, *params);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.line, 3);
    EXPECT_EQ(status.message, "line longer than " + std::to_string(kMaxLineLength) + " characters");
}

TEST(namelist_corpus, every_prefix_of_every_input_reads_without_crashing)
{
    // A file cut anywhere (a copy interrupted, a disk full while saving) must give a status,
    // never a crash or a hang; with a located fault the line is inside the text or one past
    // its end.  Cuts at every byte of every corpus file.
    for (const auto& c : corpus_cases("namelist")) {
        const std::string bytes = read_bytes(kDir / c.input);
        if (bytes.size() > 4096) continue;     // the long-line files add nothing but time
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            const std::string prefix = bytes.substr(0, cut);
            std::istringstream in(prefix);
            const auto params = std::make_unique<RunParameters>();
            const NamelistStatus status = read_torva_inp(in, *params);
            if (status.ok()) continue;
            // Lines of the prefix: its line ends, and one more for a last line without one.
            const auto n_lines = static_cast<int>(std::count(prefix.begin(), prefix.end(), '\n')) +
                                 (prefix.empty() || prefix.back() == '\n' ? 0 : 1);
            EXPECT_GE(status.line, 1) << c.input << " cut at " << cut;
            EXPECT_LE(status.line, n_lines + 1) << c.input << " cut at " << cut;
            EXPECT_FALSE(status.message.empty()) << c.input << " cut at " << cut;
        }
    }
}

TEST(namelist_corpus, whole_program_reports_each_input_where_the_table_says)
{
    for (const auto& c : corpus_cases("namelist")) {
        SCOPED_TRACE(c.input);
        TempDir dir("nmlcorpus");
        std::filesystem::copy_file(kDir / c.input, dir.path() / c.input);
        const FortranRun run = run_in(dir, built_program("torva_setup"), "/INPUT=" + shell_quote(c.input));
        // Every stop of a readable deck is an "ERROR:" stop, status 0.
        EXPECT_EQ(run.exit_code, 0) << run.output;
        const std::string file = c.where == "log"       ? dir.file("setup_nml.log")
                                 : c.where == "listing" ? dir.file(c.input + ".LIS")
                                                        : std::string();
        const std::vector<std::string> lines = file.empty() ? lines_of(run.output) : lines_of(read_bytes(file));
        std::vector<std::string> wanted = split(c.lines, " | ");
        if (c.where == "log") wanted.insert(wanted.begin(), "[get_namelist]");
        EXPECT_EQ(find_consecutive(wanted, lines), "") << c.where << ":\n" << show(lines);
        // The deck itself is never changed by a run.
        EXPECT_EQ(read_bytes(dir.path() / c.input), read_bytes(kDir / c.input));
    }
}

TEST(namelist_corpus, fault_after_a_thousand_lines_is_located_in_seconds)
{
    // A deck that sets PAE_X element by element, one line each (1000 lines, as a generator
    // would write it), with a misspelled key at the end.  The error search reads the group
    // anew for every prefix, so its cost grows with the square of the fault's line number
    // (half a million line reads here, about a second); 20 s leaves room for the
    // sanitizers and a loaded machine, and catches a search that went cubic or hangs.
    TempDir dir("nmlslow");
    std::string deck = "&TORVA_INP\n FILE_SSG = 'nosuch.ssg'\n FILEJOU = 'j'\n";
    for (int i = 1; i <= 1000; ++i) deck += " PAE_X(" + std::to_string(i) + ") = " + std::to_string(i) + ".0\n";
    deck += " PAE_Z(1) = 1.0, BOGUS = 1\n/\n";
    write_text(dir.file("long.inp"), deck);
    const auto start = std::chrono::steady_clock::now();
    const FortranRun run = run_in(dir, "timeout", "20 " + shell_quote(built_program("torva_setup")) + " /INPUT=long.inp");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.exit_code, 0) << "after " << seconds << " s (124: still searching after 20 s)";
    EXPECT_EQ(find_consecutive({"[get_namelist]", "ERROR: An error condition occured during reading line 1004",
                                "PAE_Z(1) = 1.0, BOGUS = 1"},
                               lines_of(read_bytes(dir.file("setup_nml.log")))),
              "");
}

}  // namespace
}  // namespace torva
