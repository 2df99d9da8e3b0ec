// Opening a program file by name parts, a status word and a form word.
//
// The name is directory + name + extension, each without its trailing blanks, cut to 255
// characters.  The status word (compared exactly, trailing blanks ignored) decides how:
//   OLD      the file must exist                     READ     the same, for reading only
//   APPEND   the file must exist; writing goes after its last record
//   NEW      a new file; an existing one is first renamed to name + ".bak", and an older
//            ".bak" is deleted
//   PRINT    as NEW, for a listing: the first character of each record is the printer's
//            control character (blank: normal line, "1": new page), kept in the file
//   SCRATCH  an unnamed temporary file              UNKNOWN  opened if present, else created
// The form word is FORMATTED or UNFORMATTED ("IEEE-UNFORMATTED" is UNFORMATTED), optionally
// followed by "=reclen".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "frame/units.hpp"

namespace torva {

inline constexpr std::size_t kMaxComposedNameLength = 255;
// Names longer than this (256 characters or more) are not backed up.
inline constexpr std::size_t kMaxBackupNameLength = 255;

[[nodiscard]] std::string compose_file_name(std::string_view directory, std::string_view name,
                                            std::string_view extension);

struct FormWord {
    FileForm form = FileForm::formatted;
    int record_length = 0;          // 0 when the word gives none
};
// The form word with its optional "=reclen"; nullopt for a word that names no form.  A blank
// word is FORMATTED, the default of a sequential file.
[[nodiscard]] std::optional<FormWord> parse_form_word(std::string_view form);

// Moves an existing `name` to name + ".bak" (deleting an older ".bak" first).  Failures are
// not reported: the open that follows finds out whether the name is free.
void backup_existing_file(const std::string& name);

// Opens the composed name on `unit`.  Returns the error status: 0 on success, otherwise the
// I/O status code of the open (kIostatBadStatus for a status or form word it does not know;
// nothing is opened then).
//
// The record length of "=reclen" is accepted and checked to be a number, but the unit layer
// has no record-length limit to pass it to: sequential records here have any length.
int file_open(int unit, std::string_view directory, std::string_view name,
              std::string_view extension, std::string_view status, std::string_view form);

}  // namespace torva
