// The program start and the listing header page (see program_start.hpp for the layouts).
#include "frame/program_start.hpp"

#include <cstring>

#include <algorithm>
#include <array>
#include <cctype>
#include <iostream>

#include "frame/command_line.hpp"
#include "frame/file_open.hpp"
#include "frame/frame_variables.hpp"
#include "frame/io_error_text.hpp"
#include "frame/list_directed.hpp"
#include "frame/machine_info.hpp"
#include "frame/message_box.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"

namespace torva {
namespace {

// The family word in block letters: ten rows of five 13-column letters two columns apart
// (73 columns), padded to the banner's 100 columns.  Starting in column 7 it ends in
// column 79, so the 79-column SHORT page shows all of it.
constexpr std::size_t kBannerRows = 10;
constexpr std::size_t kBannerWidth = 100;
constexpr std::size_t kBannerLetterWidth = 13;
using BannerGlyph = std::array<std::string_view, kBannerRows>;
constexpr std::array<BannerGlyph, 5> kBannerLetters{{
    {"****     ****", "****    **** ", "****   ****  ", "****  ****   ", "*********    ",
     "*********    ", "****  ****   ", "****   ****  ", "****    **** ", "****     ****"},
    {"*************", "*************", "****         ", "****         ", "***********  ",
     "***********  ", "****         ", "****         ", "*************", "*************"},
    {"  ***********", " ************", "****         ", "****         ", " *********** ",
     " *********** ", "         ****", "         ****", "************ ", "***********  "},
    {"*************", "*************", "    *****    ", "    *****    ", "    *****    ",
     "    *****    ", "    *****    ", "    *****    ", "    *****    ", "    *****    "},
    {"     ***     ", "    *****    ", "   *** ***   ", "  ***   ***  ", " ***     *** ",
     "*************", "*************", "****     ****", "****     ****", "****     ****"},
}};
constexpr std::string_view kFamilyWordSpaced = "K  E  S  T  A";

std::string banner_row(std::size_t row)
{
    std::string text;
    for (std::size_t k = 0; k < kBannerLetters.size(); ++k) {
        if (k > 0) text += "  ";
        text += kBannerLetters[k][row];
    }
    text.resize(kBannerWidth, ' ');
    return text;
}

// Seven-line block letters of the LONG layout: 5 columns each, 2 columns apart.
constexpr std::size_t kBlockRows = 7;
constexpr std::size_t kBlockWidth = 5;
constexpr std::size_t kBlockPitch = kBlockWidth + 2;
using BlockGlyph = std::array<std::string_view, kBlockRows>;

BlockGlyph block_glyph(char c)
{
    switch (std::toupper(static_cast<unsigned char>(c))) {
    case 'A': return {" *** ", "*   *", "*   *", "*****", "*   *", "*   *", "*   *"};
    case 'B': return {"**** ", "*   *", "*   *", "**** ", "*   *", "*   *", "**** "};
    case 'C': return {" *** ", "*   *", "*    ", "*    ", "*    ", "*   *", " *** "};
    case 'D': return {"**** ", "*   *", "*   *", "*   *", "*   *", "*   *", "**** "};
    case 'E': return {"*****", "*    ", "*    ", "**** ", "*    ", "*    ", "*****"};
    case 'F': return {"*****", "*    ", "*    ", "**** ", "*    ", "*    ", "*    "};
    case 'G': return {" *** ", "*   *", "*    ", "* ***", "*   *", "*   *", " *** "};
    case 'H': return {"*   *", "*   *", "*   *", "*****", "*   *", "*   *", "*   *"};
    case 'I': return {" *** ", "  *  ", "  *  ", "  *  ", "  *  ", "  *  ", " *** "};
    case 'J': return {"  ***", "   * ", "   * ", "   * ", "   * ", "*  * ", " **  "};
    case 'K': return {"*   *", "*  * ", "* *  ", "**   ", "* *  ", "*  * ", "*   *"};
    case 'L': return {"*    ", "*    ", "*    ", "*    ", "*    ", "*    ", "*****"};
    case 'M': return {"*   *", "** **", "* * *", "* * *", "*   *", "*   *", "*   *"};
    case 'N': return {"*   *", "**  *", "* * *", "*  **", "*   *", "*   *", "*   *"};
    case 'O': return {" *** ", "*   *", "*   *", "*   *", "*   *", "*   *", " *** "};
    case 'P': return {"**** ", "*   *", "*   *", "**** ", "*    ", "*    ", "*    "};
    case 'Q': return {" *** ", "*   *", "*   *", "*   *", "* * *", "*  * ", " ** *"};
    case 'R': return {"**** ", "*   *", "*   *", "**** ", "* *  ", "*  * ", "*   *"};
    case 'S': return {" ****", "*    ", "*    ", " *** ", "    *", "    *", "**** "};
    case 'T': return {"*****", "  *  ", "  *  ", "  *  ", "  *  ", "  *  ", "  *  "};
    case 'U': return {"*   *", "*   *", "*   *", "*   *", "*   *", "*   *", " *** "};
    case 'V': return {"*   *", "*   *", "*   *", "*   *", "*   *", " * * ", "  *  "};
    case 'W': return {"*   *", "*   *", "*   *", "* * *", "* * *", "** **", "*   *"};
    case 'X': return {"*   *", "*   *", " * * ", "  *  ", " * * ", "*   *", "*   *"};
    case 'Y': return {"*   *", "*   *", " * * ", "  *  ", "  *  ", "  *  ", "  *  "};
    case 'Z': return {"*****", "    *", "   * ", "  *  ", " *   ", "*    ", "*****"};
    case '0': return {" *** ", "*   *", "*  **", "* * *", "**  *", "*   *", " *** "};
    case '1': return {"  *  ", " **  ", "  *  ", "  *  ", "  *  ", "  *  ", " *** "};
    case '2': return {" *** ", "*   *", "    *", "   * ", "  *  ", " *   ", "*****"};
    case '3': return {"*****", "   * ", "  *  ", "   * ", "    *", "*   *", " *** "};
    case '4': return {"   * ", "  ** ", " * * ", "*  * ", "*****", "   * ", "   * "};
    case '5': return {"*****", "*    ", "**** ", "    *", "    *", "*   *", " *** "};
    case '6': return {"  ** ", " *   ", "*    ", "**** ", "*   *", "*   *", " *** "};
    case '7': return {"*****", "    *", "   * ", "  *  ", " *   ", " *   ", " *   "};
    case '8': return {" *** ", "*   *", "*   *", " *** ", "*   *", "*   *", " *** "};
    case '9': return {" *** ", "*   *", "*   *", " ****", "    *", "   * ", " **  "};
    case '-': return {"     ", "     ", "     ", "*****", "     ", "     ", "     "};
    case '_': return {"     ", "     ", "     ", "     ", "     ", "     ", "*****"};
    case '.': return {"     ", "     ", "     ", "     ", "     ", " **  ", " **  "};
    case '/': return {"    *", "    *", "   * ", "  *  ", " *   ", "*    ", "*    "};
    default: return {"     ", "     ", "     ", "     ", "     ", "     ", "     "};
    }
}

// The page buffer, lines and columns from 1.
class Page {
public:
    Page() : lines_(kPageLines, std::string(kPageColumns, ' ')) {}

    // Places `text` from `column` on; characters outside the page are dropped.
    void put(int line, int column, std::string_view text)
    {
        if (line < 1 || line > static_cast<int>(kPageLines)) return;
        std::string& row = lines_[static_cast<std::size_t>(line - 1)];
        for (std::size_t k = 0; k < text.size(); ++k) {
            const long col = column + static_cast<long>(k);
            if (col < 1 || col > static_cast<long>(kPageColumns)) continue;
            row[static_cast<std::size_t>(col - 1)] = text[k];
            if (text[k] != ' ') last_filled_ = std::max(last_filled_, line);
        }
    }

    // Lines 1 to two past the last filled one, cut to `width`, without trailing blanks but
    // at least one character.  Cutting first means a line whose only marks lie right of
    // the cut (the frame of a long title) is written as a blank line, not as `width` blanks.
    std::vector<std::string> records(std::size_t width) const
    {
        const std::size_t count = std::min<std::size_t>(kPageLines, static_cast<std::size_t>(last_filled_) + 2);
        std::vector<std::string> out;
        for (std::size_t l = 0; l < count; ++l) {
            const std::string_view visible = std::string_view(lines_[l]).substr(0, width);
            out.emplace_back(visible.substr(0, std::max<std::size_t>(1, trimmed_length(visible))));
        }
        return out;
    }

private:
    std::vector<std::string> lines_;
    int last_filled_ = 0;
};

int length_of(const std::string& text) { return static_cast<int>(text.size()); }

std::string spaced_letters(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        out += c;
        out += ' ';
    }
    return out;
}

void draw_frame(Page& page, int top, int bottom, int left, int right)
{
    const std::string row(static_cast<std::size_t>(right - left + 1), '*');
    page.put(top, left, row);
    page.put(bottom, left, row);
    for (int line = top; line <= bottom; ++line) {
        page.put(line, left, "*");
        page.put(line, right, "*");
    }
}

// The two field columns from `first_line`; `left` and `right` are their first columns.
void put_fields(Page& page, const ListingHeaderFields& f, int first_line, int left, int right)
{
    page.put(first_line, left, "Program id   : " + trimmed(f.identity.version));
    page.put(first_line + 1, left, "Release date : " + trimmed(f.identity.release_date));
    page.put(first_line + 2, left, "Access time  : " + f.date + " " + f.time);
    if (trimmed_length(f.user) > 0) page.put(first_line + 3, left, "User id      : " + trimmed(f.user));
    if (trimmed_length(f.account) > 0)
        page.put(first_line + 4, left, "Account      : " + trimmed(f.account));

    // The right column is written second: a long left value gives way to it.
    page.put(first_line, right, "Computer         : " + trimmed(f.processor));
    page.put(first_line + 1, right, "Impl. update     : " + trimmed(f.identity.impl_update));
    page.put(first_line + 2, right, "Operating system : " + trimmed(f.operating_system));
    page.put(first_line + 3, right, "CPU id           : " + std::to_string(f.machine_number));
    page.put(first_line + 4, right, "Installation     : " + trimmed(f.installation));
}

void put_special_notes(Page& page, const std::string& notes, int first_line)
{
    constexpr std::size_t kNotePiece = 50;
    if (notes.empty()) return;
    page.put(first_line, 3, "Special notes for this program version :");
    int line = first_line + 1;
    for (std::size_t k = 0; k < notes.size(); k += kNotePiece)
        page.put(line++, 6, std::string_view(notes).substr(k, kNotePiece));
}

constexpr std::size_t kTitleLineLength = 80;

// SHORT and NARROW: `shift` is 1 below NARROW's new-page line.
std::vector<std::string> short_page(const ListingHeaderFields& f, int shift, bool small)
{
    constexpr int kCentre = 40;
    Page page;
    if (shift > 0) page.put(1, 1, "1");

    const std::string id = trimmed(f.identity.program_id);
    const std::string title = trimmed(std::string_view(f.identity.title).substr(
        0, std::min(kTitleLineLength, f.identity.title.size())));
    const int n = length_of(id);
    const int m = length_of(title);

    if (small) {
        page.put(5 + shift, 33, kFamilyWordSpaced);
    } else {
        for (std::size_t row = 0; row < kBannerRows; ++row)
            page.put(4 + shift + static_cast<int>(row), 7, banner_row(row));
    }
    page.put(18 + shift, kCentre - n, spaced_letters(id));
    page.put(20 + shift, kCentre - m / 2, title);

    int left = 35 - n;                       // (1)
    int right = 44 + n;
    if (45 + m - m / 2 > right) {            // (2): the title is wider than the id
        left = 35 - m / 2;
        right = 45 + m - m / 2;
    }
    draw_frame(page, (small ? 3 : 16) + shift, 22 + shift, left, right);

    int extra = 0;
    if (trimmed_length(f.identity.title) > kTitleLineLength) {
        const std::string rest = trimmed(std::string_view(f.identity.title).substr(kTitleLineLength, 80));
        page.put(24 + shift, kCentre - length_of(rest) / 2, rest);
        extra = 2;
    }
    put_fields(page, f, 26 + shift + extra, 3, 43);
    put_special_notes(page, trimmed(f.identity.special_notes), 32 + shift + extra);
    return page.records(kShortLineLength);
}

// LONG and WIDE: the same page widened to 131 columns around column 65, with the program
// id in block letters inside the frame.
std::vector<std::string> long_page(const ListingHeaderFields& f)
{
    constexpr int kCentre = 65;
    Page page;
    page.put(1, 1, "1");

    const std::string id = trimmed(f.identity.program_id);
    const std::string title = trimmed(std::string_view(f.identity.title).substr(
        0, std::min(kTitleLineLength, f.identity.title.size())));

    const int banner_visible = static_cast<int>(5 * kBannerLetterWidth + 4 * 2);
    for (std::size_t row = 0; row < kBannerRows; ++row)
        page.put(4 + static_cast<int>(row), kCentre - banner_visible / 2, banner_row(row));

    const int id_width = id.empty() ? 0 : static_cast<int>(kBlockPitch * id.size() - 2);
    const int id_left = kCentre - id_width / 2;
    for (std::size_t row = 0; row < kBlockRows; ++row) {
        std::string text;
        for (std::size_t k = 0; k < id.size(); ++k) {
            if (k > 0) text += "  ";
            text += block_glyph(id[k])[row];
        }
        page.put(17 + static_cast<int>(row), id_left, text);
    }
    const int title_left = kCentre - length_of(title) / 2;
    page.put(25, title_left, title);

    const int left = std::min(id_left, title_left) - 5;
    const int right = std::max(id_left + id_width, title_left + length_of(title)) + 4;
    draw_frame(page, 15, 27, left, right);

    int extra = 0;
    if (trimmed_length(f.identity.title) > kTitleLineLength) {
        const std::string rest = trimmed(std::string_view(f.identity.title).substr(kTitleLineLength, 80));
        page.put(29, kCentre - length_of(rest) / 2, rest);
        extra = 2;
    }
    put_fields(page, f, 30 + extra, 3, 68);
    put_special_notes(page, trimmed(f.identity.special_notes), 36 + extra);
    return page.records(kLongLineLength);
}

constexpr std::string_view kMonths = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";

// The program start's own open failed: this unit is never open, so the stop's message
// reaches standard error only, next to the message boxes.
constexpr int kNoUnit = -1;

}  // namespace

std::vector<std::string> listing_header_lines(const ListingHeaderFields& fields,
                                              std::string_view style, bool batch_run)
{
    const std::string word = trimmed(style);
    if (word == "NONE") return {};
    if (word == "SHORT") return short_page(fields, 0, false);
    if (word == "SHORT/SMALL") return short_page(fields, 0, true);
    if (word == "NARROW") return short_page(fields, 1, false);
    if (word == "NARROW/SMALL") return short_page(fields, 1, true);
    if (word == "LONG" || word == "WIDE") return long_page(fields);
    return batch_run ? long_page(fields) : short_page(fields, 0, false);
}

std::string listing_date(const std::tm& t)
{
    char buffer[32];
    const std::string_view month = kMonths.substr(static_cast<std::size_t>(std::clamp(t.tm_mon, 0, 11)) * 3, 3);
    std::snprintf(buffer, sizeof buffer, "%02d-%.3s-%04d", t.tm_mday, month.data(), t.tm_year + 1900);
    return buffer;
}

std::string listing_time(const std::tm& t)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    return buffer;
}

bool RunModeQuery::is_batch(const CommandLine& arguments)
{
    if (!answer_) {
        std::string mode(10, ' ');
        arguments.get_into_fixed_text("RUN-MODE", mode);
        for (char& c : mode) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        answer_ = trimmed(mode) == "BATCH";
    }
    return *answer_;
}

bool is_batch_run()
{
    static RunModeQuery query;
    return query.is_batch(command_line());
}

void stop_on_open_failure(const std::string& file_name, int error_status, bool batch_run)
{
    const std::string opening = "Error opening " + file_name;
    message_box(kMessageError, opening);
    const std::string reason = trimmed(io_error_text(error_status));
    if (!batch_run) message_box(kMessageError, reason);
    // The table's text is the frame's; the system's own reason goes beside it, so that a
    // user sees why (a directory without write permission, a full disk, ...).
    const int err = units().last_open_errno();
    stop_run_on(kNoUnit,
                {opening, reason,
                 "ERROR: Unable to open " + file_name + ": " + (err ? std::strerror(err) : "open refused")},
                1);
}

void program_start(const ProgramIdentityTexts& identity, std::string_view header_style,
                   bool& status)
{
    const StandardUnits std_units = get_standard_units();

    const std::string out_name = trimmed(frame_variables().get("OUTNAME"));
    std::string listing_name;
    if (out_name.empty())
        listing_name = trimmed(identity.program_id) + ".MLG";
    else if (out_name != "NOOPEN" && !units().unit_of(out_name))
        listing_name = out_name;
    if (!listing_name.empty()) {
        const int error_status =
            file_open(std_units.output, "", listing_name, "", "PRINT", "FORMATTED");
        if (error_status != 0) stop_on_open_failure(listing_name, error_status, is_batch_run());
    }

    const std::string input_name = trimmed(frame_variables().get("INPNAME"));
    if (!input_name.empty()) {
        const int error_status = file_open(std_units.input, "", input_name, "", "READ", "FORMATTED");
        if (error_status != 0) stop_on_open_failure(input_name, error_status, is_batch_run());
    }

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);

    ListingHeaderFields fields;
    fields.identity = identity;
    fields.date = listing_date(local);
    fields.time = listing_time(local);
    machine_info().user_and_account(fields.user, fields.account);
    machine_info().machine_information(fields.installation, fields.processor,
                                       fields.operating_system, fields.machine_number);

    const std::vector<std::string> page = listing_header_lines(fields, header_style, is_batch_run());
    if (units().is_open(std_units.output)) {
        for (const std::string& line : page) units().write_line(std_units.output, line);
        units().flush(std_units.output);
    } else {
        for (const std::string& line : page) std::cout << line << '\n';
        std::cout.flush();
    }
    status = true;
}

}  // namespace torva
