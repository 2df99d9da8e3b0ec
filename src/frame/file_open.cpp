#include "frame/file_open.hpp"

#include <cctype>
#include <cstdio>

#include "frame/list_directed.hpp"
#include "frame/text_helpers.hpp"

namespace torva {

std::string compose_file_name(std::string_view directory, std::string_view name,
                              std::string_view extension)
{
    std::string composed = trimmed(directory) + trimmed(name) + trimmed(extension);
    if (composed.size() > kMaxComposedNameLength) composed.resize(kMaxComposedNameLength);
    return composed;
}

std::optional<FormWord> parse_form_word(std::string_view form)
{
    FormWord result;
    std::string word = trimmed(form);
    if (const std::size_t equals = word.find('='); equals != std::string::npos) {
        const std::string digits = trimmed(std::string_view(word).substr(equals + 1));
        std::size_t first = 0;
        while (first < digits.size() && digits[first] == ' ') ++first;
        if (first == digits.size()) return std::nullopt;
        long long length = 0;
        for (std::size_t k = first; k < digits.size(); ++k) {
            if (!std::isdigit(static_cast<unsigned char>(digits[k]))) return std::nullopt;
            length = length * 10 + (digits[k] - '0');
            if (length > 2147483647LL) return std::nullopt;
        }
        result.record_length = static_cast<int>(length);
        word.resize(equals);
        word = trimmed(word);
    }
    word = upper(word);
    if (word == "IEEE-UNFORMATTED" || word == "UNFORMATTED")
        result.form = FileForm::unformatted;
    else if (word == "FORMATTED" || word.empty())
        result.form = FileForm::formatted;
    else
        return std::nullopt;
    return result;
}

void backup_existing_file(const std::string& name)
{
    // Such a name fills the whole 255-character name field already, so its ".bak" name
    // could not be held in one either; it is left alone rather than renamed onto a cut name.
    if (name.size() > kMaxBackupNameLength) return;
    if (!UnitTable::exists(name)) return;
    const std::string backup = name + ".bak";
    std::remove(backup.c_str());
    std::rename(name.c_str(), backup.c_str());
}

int file_open(int unit, std::string_view directory, std::string_view name,
              std::string_view extension, std::string_view status, std::string_view form)
{
    const std::string file_name = compose_file_name(directory, name, extension);
    const std::optional<FormWord> form_word = parse_form_word(form);
    if (!form_word) return kIostatBadStatus;

    OpenOptions options;
    options.form = form_word->form;
    const std::string word = trimmed(status);
    if (word == "OLD") {
        options.status = "OLD";
    } else if (word == "READ") {
        options.status = "OLD";
        options.read_only = true;
    } else if (word == "APPEND") {
        options.status = "OLD";
        options.append = true;
    } else if (word == "NEW" || word == "PRINT") {
        // PRINT differs from NEW only in what the records mean: the carriage-control
        // character is the first character of each record and stays in the file.
        backup_existing_file(file_name);
        options.status = "NEW";
    } else if (word == "SCRATCH") {
        options.status = "SCRATCH";
    } else if (word == "UNKNOWN") {
        options.status = "UNKNOWN";
    } else {
        return kIostatBadStatus;
    }

    const int error_status =
        units().open(unit, options.status == "SCRATCH" ? std::string() : file_name, options);
    if (error_status == kIostatOk && !options.append) units().rewind(unit);
    return error_status;
}

}  // namespace torva
