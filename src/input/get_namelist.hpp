// get_namelist: reads the run-parameter file (namelist group TORVA_INP), reports where it
// fails, derives the dependent values and echoes every parameter.
#pragma once

#include "input/run_parameters.hpp"

namespace torva {

// `input_unit` is open on the run-parameter file, `log_unit` on the message log (both in
// units()).  On return every key of `params` holds its default or the file's value, the
// derived values are applied, the input unit is closed, and the log file's name followed
// by "2" holds the whole group in namelist form (a failure to write it is not reported).
// Every failure stops the run through stop_run_on(log_unit, ...) with status 0:
//   "[get_namelist]"
//   "ERROR: The input file <name> does not exist!!!"                  or
//   "ERROR: An error condition occured during reading line <k>"  and the text of line k.
// Line k is the first line such that lines 1..k followed by a "/" line fail to read; it is
// found in one pass over the file, and no scratch file is written.  A text longer than its
// key is cut to its first characters with a "WARNING:" line in the log.
void get_namelist(int& input_unit, int& log_unit, RunParameters& params);

}  // namespace torva
