// Namelist reader for the group TORVA_INP: a lexer that cuts the input into tokens one at a
// time (so nothing after the closing "/" is looked at), and a parser that assigns the values
// to the record through the key table.  See namelist_reader.hpp for the accepted form.
#include "input/namelist_reader.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "frame/fortran_real.hpp"
#include "frame/text_helpers.hpp"

namespace torva {

namespace {

constexpr std::string_view kGroupName = "TORVA_INP";

// Bytes below a blank (but tab and carriage return) and DEL: binary data, never a namelist.
bool is_control(unsigned char c) { return (c < 0x20 && c != '\t' && c != '\r') || c == 0x7f; }
bool is_blank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_name_char(unsigned char c) { return std::isalnum(c) != 0 || c == '_'; }

// Characters that end an undelimited word: separators, the item punctuation, the text
// delimiters and the comment mark.
bool ends_word(unsigned char c)
{
    switch (c) {
    case ' ': case '\t': case '\r': case ',': case '=': case '(': case ')': case '/':
    case '\'': case '"': case '!':
        return true;
    default:
        return is_control(c);
    }
}

bool is_name(std::string_view word)
{
    if (word.empty() || std::isalpha(static_cast<unsigned char>(word.front())) == 0) return false;
    for (const char c : word)
        if (!is_name_char(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string shown_token(std::string_view text)
{
    constexpr std::size_t kShown = 40;   // enough to recognise the token, short enough to read
    std::string shown(text.substr(0, kShown));
    if (text.size() > kShown) shown += "...";
    return "'" + shown + "'";
}

std::string hex_byte(unsigned char c)
{
    constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[c >> 4] + kDigits[c & 15];
}

enum class Tok { word, text, repeat, comma, equals, lparen, rparen, slash, eof, error };

struct Token {
    Tok kind = Tok::eof;
    std::string text;            // word, text value or error message
    int line = 0;
    std::int64_t repeat = 0;     // r of r*
    bool repeat_null = false;    // r* followed by a separator: r null values
};

class Lexer {
public:
    explicit Lexer(std::istream& in) : buffer_(in.rdbuf()) {}

    // Called with k each time the group's tokens up to the end of line k are all taken and the
    // next token is asked for: the moment to judge the prefix of lines 1..k (see Parser).
    std::function<void(int)> on_line_end;
    // Lines loaded so far (a line too long to load counts as loaded).
    int lines_seen() const noexcept { return lines_seen_; }

    // Skips blank and comment lines up to the group line and leaves the lexer just after the
    // group name.  Returns nullopt when the group was found, else the failure.
    std::optional<NamelistStatus> find_group()
    {
        for (;;) {
            if (const auto failure = load_line()) {
                if (failure->kind == Tok::eof)
                    return NamelistStatus{NamelistFailure::no_group, failure->line,
                                          "the input holds no namelist group &TORVA_INP", 0, 0, {}};
                return NamelistStatus{NamelistFailure::bad_input, failure->line, failure->text, 0, 0, {}};
            }
            while (pos_ < line_.size() && is_blank(static_cast<unsigned char>(line_[pos_]))) ++pos_;
            if (pos_ == line_.size() || line_[pos_] == '!') continue;
            // A file saved as UTF-16 (a byte-order mark FF FE or FE FF, or a NUL after every
            // letter) is a text the reader cannot take: say so instead of quoting NULs.
            const bool utf16 = (line_.size() >= 2 && ((line_[0] == '\xFF' && line_[1] == '\xFE') ||
                                                      (line_[0] == '\xFE' && line_[1] == '\xFF'))) ||
                               (pos_ + 3 < line_.size() && line_[pos_ + 1] == '\0' && line_[pos_ + 3] == '\0');
            if (utf16)
                return NamelistStatus{NamelistFailure::bad_input, line_no_,
                                      "the file is UTF-16 text; save it as plain ASCII or UTF-8", 0, 0, {}};
            // Anything else before the group, other groups included, is passed over, as a
            // Fortran namelist READ passes over it in search of an "&" or "$" and its name.
            for (std::size_t at = pos_; at < line_.size(); ++at) {
                if (line_[at] != '&' && line_[at] != '$') continue;
                std::size_t end = at + 1;
                while (end < line_.size() && is_name_char(static_cast<unsigned char>(line_[end]))) ++end;
                if (upper(std::string_view(line_).substr(at + 1, end - at - 1)) != kGroupName) continue;
                pos_ = end;
                return std::nullopt;
            }
        }
    }

    int line_number() const noexcept { return line_no_; }

    // The next token; after an error or the end of the input, the same token again.
    Token next()
    {
        if (stuck_) return *stuck_;
        if (!pending_.empty()) {
            Token token = std::move(pending_.front());
            pending_.pop_front();
            return token;
        }
        for (;;) {
            if (pos_ >= line_.size()) {
                if (on_line_end) on_line_end(line_no_);
                if (const auto failure = load_line()) return stick(*failure);
                continue;
            }
            const auto c = static_cast<unsigned char>(line_[pos_]);
            if (is_blank(c)) { ++pos_; continue; }
            if (c == '!') { pos_ = line_.size(); continue; }
            if (is_control(c)) return stick(error("control byte " + hex_byte(c) + " in the input"));
            switch (c) {
            case ',': ++pos_; return punct(Tok::comma);
            case '=': ++pos_; return punct(Tok::equals);
            case '(': ++pos_; return punct(Tok::lparen);
            case ')': ++pos_; return punct(Tok::rparen);
            case '/': ++pos_; return punct(Tok::slash);
            case '\'': case '"': return text();
            default: return word();
            }
        }
    }

private:
    // Reads the next line; returns nullopt, or an eof/error token.
    std::optional<Token> load_line()
    {
        line_.clear();
        pos_ = 0;
        if (at_end_ || buffer_ == nullptr) return Token{Tok::eof, {}, line_no_ + 1};
        bool any = false;
        for (;;) {
            const int c = buffer_->sbumpc();
            if (c == std::char_traits<char>::eof()) { at_end_ = true; break; }
            any = true;
            if (c == '\n') break;
            if (line_.size() >= kMaxLineLength) {
                lines_seen_ = line_no_ + 1;
                return Token{Tok::error, "line longer than " + std::to_string(kMaxLineLength) + " characters",
                             line_no_ + 1};
            }
            line_.push_back(static_cast<char>(c));
        }
        if (!any) return Token{Tok::eof, {}, line_no_ + 1};
        lines_seen_ = ++line_no_;
        // A UTF-8 byte-order mark, as Windows editors put before the first line.
        if (line_no_ == 1 && line_.starts_with("\xEF\xBB\xBF")) line_.erase(0, 3);
        return std::nullopt;
    }

    Token punct(Tok kind) const { return Token{kind, {}, line_no_}; }
    Token error(std::string message) const { return Token{Tok::error, std::move(message), line_no_}; }
    Token stick(Token token)
    {
        stuck_ = token;
        return token;
    }

    // A delimited text; the delimiter doubled inside stands for itself.
    Token text()
    {
        const char delimiter = line_[pos_++];
        std::string value;
        for (;;) {
            if (pos_ >= line_.size())
                return stick(error("text " + shown_token(std::string(1, delimiter) + value) + " not closed on its line"));
            const auto c = static_cast<unsigned char>(line_[pos_]);
            if (c == static_cast<unsigned char>(delimiter)) {
                if (pos_ + 1 < line_.size() && line_[pos_ + 1] == delimiter) {
                    value += delimiter;
                    pos_ += 2;
                    continue;
                }
                ++pos_;
                break;
            }
            if (is_control(c) && c != '\t') return stick(error("control byte " + hex_byte(c) + " in a text"));
            value += static_cast<char>(c);
            ++pos_;
        }
        if (pos_ < line_.size()) {
            const auto c = static_cast<unsigned char>(line_[pos_]);
            if (!is_blank(c) && c != ',' && c != '/' && c != '!' && c != ')')
                return stick(error("text " + shown_token(value) + " is followed by " + shown_token(std::string(1, line_[pos_])) +
                                   " without a separator"));
        }
        return Token{Tok::text, std::move(value), line_no_};
    }

    // An undelimited word: a name, a number, a logical, or r*value.
    Token word()
    {
        const std::size_t start = pos_;
        while (pos_ < line_.size() && !ends_word(static_cast<unsigned char>(line_[pos_]))) ++pos_;
        std::string_view w = std::string_view(line_).substr(start, pos_ - start);

        std::size_t digits = 0;
        while (digits < w.size() && std::isdigit(static_cast<unsigned char>(w[digits])) != 0) ++digits;
        if (digits == 0 || digits == w.size() || w[digits] != '*') return Token{Tok::word, std::string(w), line_no_};

        // r*value or r*: the count is at most the largest array, so ten digits are plenty.
        if (digits > 9) return stick(error("repeat count " + shown_token(w.substr(0, digits)) + " is too large"));
        Token repeat{Tok::repeat, {}, line_no_};
        std::from_chars(w.data(), w.data() + digits, repeat.repeat);
        if (repeat.repeat == 0) return stick(error("repeat count 0 in " + shown_token(w)));
        const std::string_view rest = w.substr(digits + 1);
        if (!rest.empty())
            pending_.push_back(Token{Tok::word, std::string(rest), line_no_});
        else
            repeat.repeat_null = !(pos_ < line_.size() && (line_[pos_] == '\'' || line_[pos_] == '"'));
        return repeat;
    }

    std::streambuf* buffer_;
    std::string line_;
    std::size_t pos_ = 0;
    int line_no_ = 0;
    int lines_seen_ = 0;
    bool at_end_ = false;
    std::deque<Token> pending_;
    std::optional<Token> stuck_;
};

// ---- values ------------------------------------------------------------------------------

std::optional<int> parse_integer(std::string_view s)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::string_view digits = s.substr(i);
    if (digits.empty()) return std::nullopt;
    // Leading zeros carry no value, however many (0000000000000000001 is 1).
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    if (digits.size() > 18) return std::nullopt;
    for (const char c : digits)
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) return std::nullopt;
    std::int64_t value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (negative) value = -value;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(value);
}

enum class RealParse { ok, bad, overflow };

// A Fortran real constant as list-directed input accepts it (1.5+3 included), in one
// correctly rounded step.
RealParse parse_real(std::string_view s, float& out)
{
    bool out_of_range = false;
    if (parse_fortran_real(s, out, out_of_range)) return RealParse::ok;
    return out_of_range ? RealParse::overflow : RealParse::bad;
}

std::optional<bool> parse_logical(std::string_view s)
{
    std::size_t i = 0;
    if (i < s.size() && s[i] == '.') ++i;
    if (i >= s.size()) return std::nullopt;
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(s[i])));
    if (c == 'T') return true;
    if (c == 'F') return false;
    return std::nullopt;
}

const char* kind_name(ValueKind kind)
{
    switch (kind) {
    case ValueKind::Real: return "real";
    case ValueKind::Integer: return "integer";
    case ValueKind::Logical: return "logical";
    case ValueKind::Text: return "text";
    }
    return "value";
}

// The elements that an item's values go to, in order.
struct Target {
    std::size_t start = 0;                 // fill from this element to the end of the key ...
    std::size_t end = 0;
    std::optional<std::vector<std::size_t>> section;   // ... or exactly these elements

    std::size_t size() const { return section ? section->size() : end - start; }
    std::size_t at(std::size_t q) const { return section ? (*section)[q] : start + q; }
};

// ---- the parser --------------------------------------------------------------------------

class Parser {
public:
    Parser(std::istream& in, RunParameters& params) : lexer_(in), slots_(key_slots(params))
    {
        lexer_.on_line_end = [this](int k) { judge_prefix(k); };
    }

    NamelistStatus run()
    {
        NamelistStatus result = parse();
        if (!result.ok()) {
            // The first line k whose prefix (lines 1..k and a closing "/") fails: a line whose
            // prefix was judged faulty at its end, else the last line the failing read looked
            // at (every prefix from there on holds all the read saw).
            const int seen = std::max(lexer_.lines_seen(), result.failure == NamelistFailure::bad_input ? result.line : 0);
            result.fault_line = first_faulty_prefix_ > 0 && first_faulty_prefix_ < seen ? first_faulty_prefix_ : seen;
            if (result.failure != NamelistFailure::bad_input && first_faulty_prefix_ == 0) result.fault_line = 0;
        }
        return result;
    }

private:
    // Where the parser stands when it asks for its next token, as far as a "/" in that place
    // would decide the read: end it cleanly, fail, or (after a value word that might begin the
    // next item) depend on whether the word is a valid value of the key being read.
    enum class Site { item, inside_item, values, value_or_key };

    // Judges the prefix that ends with line k, as if a "/" line followed it.  Only the first
    // faulty prefix matters.
    void judge_prefix(int k)
    {
        if (first_faulty_prefix_ > 0 || k < status_.group_line) return;
        bool fails = false;
        switch (site_) {
        case Site::item:
        case Site::values: fails = false; break;
        case Site::inside_item: fails = true; break;
        case Site::value_or_key:
            fails = !(candidate_position_ < candidate_room_ && store(*candidate_key_, nullptr, 0, *candidate_));
            break;
        }
        if (fails) first_faulty_prefix_ = k;
    }

    NamelistStatus parse()
    {
        if (auto failure = lexer_.find_group()) return *failure;
        status_.group_line = lexer_.line_number();
        for (;;) {
            site_ = Site::item;
            const Token token = take();
            switch (token.kind) {
            case Tok::slash:
                return status_;
            case Tok::eof:
                return fail(NamelistFailure::unclosed_group, token.line,
                            "the input ended before the closing / of &TORVA_INP (opened on line " +
                                std::to_string(status_.group_line) + ")");
            case Tok::error:
                return fail(token.line, token.text);
            case Tok::comma:
                continue;   // a stray comma between items separates nothing
            case Tok::word:
                if (is_group_end(token)) return status_;
                if (!is_name(token.text)) return fail(token.line, "expected a key name, found " + shown_token(token.text));
                if (!item(token)) return status_;
                continue;
            default:
                return fail(token.line, "expected a key name, found " + describe(token));
            }
        }
    }

    static bool is_group_end(const Token& token)
    {
        const std::string word = upper(token.text);
        return word == "&END" || word == "$END";
    }

    static std::string describe(const Token& token)
    {
        switch (token.kind) {
        case Tok::word: return shown_token(token.text);
        case Tok::text: return "the text " + shown_token(token.text);
        case Tok::repeat: return "a repeat count";
        case Tok::comma: return "','";
        case Tok::equals: return "'='";
        case Tok::lparen: return "'('";
        case Tok::rparen: return "')'";
        case Tok::slash: return "'/'";
        case Tok::eof: return "the end of the input";
        case Tok::error: return token.text;
        }
        return "?";
    }

    NamelistStatus fail(NamelistFailure failure, int line, std::string message)
    {
        status_.failure = failure;
        status_.line = line;
        status_.message = std::move(message);
        return status_;
    }
    NamelistStatus fail(int line, std::string message)
    { return fail(NamelistFailure::bad_input, line, std::move(message)); }
    bool failed(int line, std::string message)
    {
        fail(line, std::move(message));
        return false;
    }

    const Token& peek(std::size_t n = 0)
    {
        while (ahead_.size() <= n) ahead_.push_back(lexer_.next());
        return ahead_[n];
    }
    Token take()
    {
        peek();
        Token token = std::move(ahead_.front());
        ahead_.pop_front();
        return token;
    }

    // KEY [(subscripts)] = values.  Returns false after recording a failure.
    bool item(const Token& name)
    {
        const auto index = find_key(name.text);
        if (!index) return failed(name.line, "unknown key " + upper(name.text) + " in &TORVA_INP");
        const KeyInfo& key = kTorvaInpKeys[*index];
        const std::string key_name(key.name);

        Target target{0, key.count(), std::nullopt};
        site_ = Site::inside_item;
        if (peek().kind == Tok::lparen) {
            take();
            if (!subscripts(key, name.line, target)) return false;
        }
        const Token equals = take();
        if (equals.kind == Tok::error) return failed(equals.line, equals.text);
        if (equals.kind != Tok::equals)
            return failed(equals.line, "expected '=' after " + key_name + ", found " + describe(equals));
        return values(key, slots_[*index], target);
    }

    bool subscripts(const KeyInfo& key, int line, Target& target)
    {
        const std::string key_name(key.name);
        std::vector<std::string> specs(1);
        for (;;) {
            const Token token = take();
            if (token.kind == Tok::word) {
                specs.back() += token.text;      // "2 : 4" arrives as three words
            } else if (token.kind == Tok::comma) {
                specs.emplace_back();
            } else if (token.kind == Tok::rparen) {
                break;
            } else if (token.kind == Tok::error) {
                return failed(token.line, token.text);
            } else {
                return failed(token.line, "subscript of " + key_name + " not closed by ')', found " + describe(token));
            }
        }
        if (!key.is_array()) return failed(line, key_name + " is not an array and takes no subscript");
        if (static_cast<int>(specs.size()) != key.rank())
            return failed(line, key_name + " takes " + std::to_string(key.rank()) + " subscript(s), found " +
                                    std::to_string(specs.size()));

        // Per dimension: its bounds and the indices the subscript selects.
        const std::array<int, 2> lower = {key.lower, 1};
        const std::array<int, 2> upper_bound = {key.lower + key.n1 - 1, key.n2};
        std::array<std::vector<int>, 2> chosen;
        bool is_section = false;
        for (std::size_t d = 0; d < specs.size(); ++d) {
            const std::string& subscript = specs[d];
            const std::string bounds = "(" + std::to_string(lower[d]) + ":" + std::to_string(upper_bound[d]) + ")";
            std::vector<std::string_view> parts;
            std::size_t from = 0;
            for (;;) {
                const std::size_t colon = subscript.find(':', from);
                parts.push_back(std::string_view(subscript).substr(from, colon == std::string::npos ? std::string::npos : colon - from));
                if (colon == std::string::npos) break;
                from = colon + 1;
            }
            if (parts.size() > 3 || (parts.size() == 1 && parts[0].empty()))
                return failed(line, "subscript " + shown_token(subscript) + " of " + key_name + " is not an index or a section");
            std::array<int, 3> triplet = {lower[d], upper_bound[d], 1};
            for (std::size_t t = 0; t < parts.size(); ++t) {
                if (parts[t].empty()) continue;
                const auto value = parse_integer(parts[t]);
                if (!value) return failed(line, "subscript " + shown_token(subscript) + " of " + key_name + " is not an integer");
                triplet[t] = *value;
            }
            if (parts.size() == 1) {
                if (triplet[0] < lower[d] || triplet[0] > upper_bound[d])
                    return failed(line, "index " + std::to_string(triplet[0]) + " of " + key_name +
                                            " is out of its bounds " + bounds);
                chosen[d] = {triplet[0]};
                continue;
            }
            is_section = true;
            if (triplet[2] == 0) return failed(line, "section stride 0 for " + key_name);
            for (std::int64_t i = triplet[0]; triplet[2] > 0 ? i <= triplet[1] : i >= triplet[1]; i += triplet[2]) {
                if (i < lower[d] || i > upper_bound[d])
                    return failed(line, "section " + shown_token(subscript) + " of " + key_name + " leaves its bounds " + bounds);
                chosen[d].push_back(static_cast<int>(i));
            }
        }
        if (chosen[1].empty()) chosen[1] = {1};
        const auto linear = [&](int i1, int i2) {
            return static_cast<std::size_t>(i1 - key.lower) + static_cast<std::size_t>(key.n1) * static_cast<std::size_t>(i2 - 1);
        };
        if (is_section) {
            std::vector<std::size_t> elements;
            for (const int i2 : chosen[1])
                for (const int i1 : chosen[0]) elements.push_back(linear(i1, i2));
            target.section = std::move(elements);
        } else {
            target.start = linear(chosen[0][0], chosen[1][0]);   // KEY(i) = list fills on from i
        }
        return true;
    }

    // The value list of one item, up to the next key, "/" or &END.
    bool values(const KeyInfo& key, KeySlot& slot, const Target& target)
    {
        const std::string key_name(key.name);
        std::size_t position = 0;
        enum class Last { start, value, comma } last = Last::start;
        const auto too_many = [&](int line) {
            return failed(line, "too many values for " + key_name + " (" + std::to_string(target.size()) +
                                    " element(s) from the one addressed)");
        };
        for (;;) {
            site_ = Site::values;
            const Token& token = peek();
            switch (token.kind) {
            case Tok::slash:
            case Tok::eof:
                return true;
            case Tok::error:
                return failed(token.line, token.text);
            case Tok::equals:
            case Tok::lparen:
            case Tok::rparen:
                return failed(token.line, "unexpected " + describe(token) + " in the values of " + key_name);
            case Tok::comma:
                if (last != Last::value) {          // ",," or "= ,": a null value
                    if (position >= target.size()) return too_many(token.line);
                    ++position;
                }
                last = Last::comma;
                take();
                continue;
            case Tok::word:
                if (is_group_end(token)) return true;
                if (is_name(token.text)) {
                    site_ = Site::value_or_key;
                    candidate_ = &token;
                    candidate_key_ = &key;
                    candidate_position_ = position;
                    candidate_room_ = target.size();
                    const Tok after = peek(1).kind;
                    site_ = Site::values;
                    if (after == Tok::equals || after == Tok::lparen) return true;   // the next item begins
                }
                [[fallthrough]];
            case Tok::text: {
                const Token value = take();
                if (position >= target.size()) return too_many(value.line);
                if (!store(key, &slot, target.at(position), value)) return false;
                ++position;
                last = Last::value;
                continue;
            }
            case Tok::repeat: {
                const Token repeat = take();
                if (static_cast<std::uint64_t>(repeat.repeat) > target.size() - position) return too_many(repeat.line);
                if (repeat.repeat_null) {
                    position += static_cast<std::size_t>(repeat.repeat);
                } else {
                    site_ = Site::inside_item;
                    const Token value = take();
                    if (value.kind == Tok::error) return failed(value.line, value.text);
                    for (std::int64_t r = 0; r < repeat.repeat; ++r)
                        if (!store(key, &slot, target.at(position++), value)) return false;
                }
                last = Last::value;
                continue;
            }
            }
        }
    }

    // Stores `value` as element `element` of the key; with no slot it only says whether the
    // value is valid (and records nothing).
    bool store(const KeyInfo& key, KeySlot* slot, std::size_t element, const Token& value)
    {
        const std::string key_name(key.name);
        const auto failed = [&](int line, std::string message) { return slot ? this->failed(line, std::move(message)) : false; };
        const auto not_a = [&] {
            return failed(value.line, key_name + ": " + (value.kind == Tok::text ? "the text " : "") +
                                          shown_token(value.text) + " is not a valid " + kind_name(key.kind));
        };
        if (key.kind == ValueKind::Text) {
            // Fortran's namelist READ takes texts only in delimiters, and the solver reads
            // this same file with it: an undelimited text is refused here too.
            if (value.kind != Tok::text)
                return failed(value.line, key_name + ": " + shown_token(value.text) +
                                              " is not a text in apostrophes or quotes");
            if (!slot) return true;
            std::string& text = slot->texts[element];
            text = value.text;
            // A text longer than its key keeps its first characters, as Fortran assigns it.
            if (value.text.size() > static_cast<std::size_t>(key.text_length))
                status_.warnings.push_back("line " + std::to_string(value.line) + ": " + key_name + ": text of " +
                                           std::to_string(value.text.size()) + " characters cut to its first " +
                                           std::to_string(key.text_length) + ": " + shown_token(value.text));
            text.resize(static_cast<std::size_t>(key.text_length), ' ');
            return true;
        }
        if (value.kind != Tok::word) return not_a();
        switch (key.kind) {
        case ValueKind::Integer: {
            const auto parsed = parse_integer(value.text);
            if (!parsed) return not_a();
            if (slot) slot->integers[element] = *parsed;
            return true;
        }
        case ValueKind::Real: {
            float parsed = 0.0f;
            switch (parse_real(value.text, parsed)) {
            case RealParse::ok:
                if (slot) slot->reals[element] = parsed;
                return true;
            case RealParse::overflow:
                return failed(value.line, key_name + ": " + shown_token(value.text) + " is beyond the range of a 32-bit real");
            case RealParse::bad: return not_a();
            }
            return not_a();
        }
        case ValueKind::Logical: {
            const auto parsed = parse_logical(value.text);
            if (!parsed) return not_a();
            if (slot) slot->logicals[element] = *parsed;
            return true;
        }
        case ValueKind::Text: break;
        }
        return not_a();
    }

    Lexer lexer_;
    std::array<KeySlot, kTorvaInpKeyCount> slots_;
    std::deque<Token> ahead_;
    NamelistStatus status_;
    Site site_ = Site::item;
    int first_faulty_prefix_ = 0;
    // The word that may be a value or the next key, while the parser looks past it.
    const Token* candidate_ = nullptr;
    const KeyInfo* candidate_key_ = nullptr;
    std::size_t candidate_position_ = 0, candidate_room_ = 0;
};

}  // namespace

NamelistStatus read_torva_inp(std::istream& in, RunParameters& params)
{
    Parser parser(in, params);
    return parser.run();
}

}  // namespace torva
