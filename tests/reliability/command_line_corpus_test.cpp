// Command lines with odd quoting and very long values (tests/corpus/command_line): each is
// parsed in-process the way the frame start does it (command string, then the parser), and
// handed to the whole program, which must read the deck the INPUT option names or, when the
// name cannot be used, refuse it without touching any file.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <unistd.h>

#include "frame/command_line.hpp"
#include "frame/vekmain.hpp"
#include "reliability/corpus.hpp"

namespace torva {
namespace {

using namespace torva::testing;

const std::filesystem::path kDir = corpus_dir("command_line");

struct Case {
    std::string args_file, input, messages, run;
    std::vector<std::string> args;
};

std::vector<Case> cases()
{
    std::vector<Case> all;
    for (const auto& f : read_table(kDir / "expected.tsv", 4)) {
        Case c{f[0], expand_repeats(f[1]), f[2], f[3], {}};
        c.args = lines_of(read_bytes(kDir / c.args_file));
        all.push_back(std::move(c));
    }
    return all;
}

std::vector<std::string> parser_messages(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const auto& l : lines)
        if (l.rfind("Cmd.Line:", 0) == 0) out.push_back(l);
    return out;
}

std::string check_messages(const Case& c, const std::vector<std::string>& lines)
{
    const std::vector<std::string> got = parser_messages(lines);
    if (c.messages == "?") return "";
    if (c.messages == "-") return got.empty() ? "" : "unexpected messages:\n" + show(got);
    return find_in_order(split(c.messages, " | "), got);
}

// Runs in the corpus folder, so that an argument file named by a case is found as the
// program would find it in its run directory.
class InCorpusDir {
public:
    InCorpusDir() : previous_(std::filesystem::current_path()) { std::filesystem::current_path(kDir); }
    ~InCorpusDir() { std::filesystem::current_path(previous_); }
private:
    std::filesystem::path previous_;
};

TEST(command_line_corpus, table_names_every_case_of_the_folder_once)
{
    std::vector<std::string> listed;
    for (const auto& c : cases()) listed.push_back(c.args_file);
    expect_table_names_every_file_once("command_line", listed, ".args");
}

TEST(command_line_corpus, frame_start_stores_input_and_reports_as_the_table_says)
{
    const InCorpusDir here;
    for (const auto& c : cases()) {
        SCOPED_TRACE(c.args_file);
        std::vector<const char*> argv{"torva_setup"};
        for (const auto& a : c.args) argv.push_back(a.c_str());
        std::ostringstream messages;
        CommandLine arguments(messages);
        Vekmain(0, kProgramTag, frame_command_string(kProgramTag, argv), arguments);
        int status = -1;
        const std::optional<std::string> input = arguments.get_text("INPUT", status);
        if (c.input == "-") {
            EXPECT_FALSE(input.has_value()) << *input;
        } else {
            ASSERT_TRUE(input.has_value()) << "status " << status;
            // The parser may keep the blank that ends the joined command string; the driver
            // reads the value into a blank-padded text, where it does not count.
            EXPECT_EQ(trim(*input), c.input);
        }
        // The frame's own NAME survives whatever the tail holds, unless the tail glues a
        // word to it (the tail is appended without a blank, and only a slash separates).
        if (c.args.empty() || c.args[0].front() == '/') {
            EXPECT_EQ(arguments.get_text("NAME", status).value_or("?"), "TORVA_SETUP");
        }
        EXPECT_EQ(check_messages(c, lines_of(messages.str())), "");
    }
}

TEST(command_line_corpus, whole_program_reads_the_named_deck_or_refuses_the_name)
{
    const std::string deck = "&TORVA_INP\n FILE_SSG = 'nosuch.ssg'\n FILEJOU = 'j'\n/\n";
    for (const auto& c : cases()) {
        SCOPED_TRACE(c.args_file);
        TempDir dir("cmdcorpus");
        for (const auto& e : std::filesystem::directory_iterator(kDir))
            if (e.path().extension() == ".txt") std::filesystem::copy_file(e.path(), dir.path() / e.path().filename());
        std::string command_tail;
        for (const auto& a : c.args) command_tail += " " + shell_quote(a);

        if (c.run == "stop") {
            // The name is not usable as given (its listing name would not fit, or it would be
            // cut): the run must say so and leave the directory as it found it.
            const bool creatable = c.input.size() <= 250;
            if (creatable) write_text(dir.file(c.input), deck);
            const FortranRun run = run_in(dir, built_program("torva_setup"), command_tail);
            EXPECT_EQ(run.exit_code, 1) << run.output;
            EXPECT_EQ(find_in_order({"*ERROR:*longer than*"}, lines_of(run.output)), "") << run.output;
            std::set<std::string> after;
            for (const auto& e : std::filesystem::directory_iterator(dir.path())) after.insert(e.path().filename().string());
            std::set<std::string> before{"argfile_long_line.txt"};
            if (creatable) before.insert(c.input);
            EXPECT_EQ(after, before);
            if (creatable) {
                EXPECT_EQ(read_bytes(dir.path() / c.input), deck);
            }
            continue;
        }
        ASSERT_EQ(c.run.rfind("listing ", 0), 0u) << c.run;
        const std::string name = expand_repeats(c.run.substr(8));
        std::filesystem::create_directories((dir.path() / name).parent_path());
        write_text(dir.file(name), deck);
        const FortranRun run = run_in(dir, built_program("torva_setup"), command_tail);
        EXPECT_EQ(run.exit_code, 0) << run.output;
        EXPECT_EQ(find_consecutive({"ERROR: Unable to open mesh ssg file", "nosuch.ssg"},
                                   lines_of(read_bytes(dir.file(name + ".LIS")))),
                  "")
            << "listing " << name << ".LIS\n" << run.output;
        EXPECT_EQ(check_messages(c, lines_of(run.output)), "");
    }
}

}  // namespace
}  // namespace torva
