// The last step of both equation systems (seteqn, seteqn1): one system A u = B k,
// assembled and scaled, factorised or inverted and written to jou2.
//
//     INFINVS > 0:  blocked_sgetrf A = P L U; jou2 gets the factors (n x n) and the pivots (n,
//                   1-based), two records, written behind the caller's back.
//     INFINVS = 0:  blocked_sgetri; jou2 gets A^-1.
//     INFINVS < 0:  blocked_sgetri; B read back row by row from its right-hand-side file (jou1 or
//                   jou1a, which is left positioned after its last record); jou2 gets A^-1 B,
//                   summed as the plain column loop sums it (ordered_product).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "equations/journal.hpp"

namespace torva {

// The listing texts of the routine whose system is written (each routine words its own).
struct FactorisationTexts {
    std::function<std::string(int info)> decompose_failed;   // the LU returned INFO != 0
    std::string inverse_failed;                               // the inverse returned INFO != 0
    std::vector<std::string> no_memory;                       // no room for B (INFINVS < 0)
};

// `a`: the n x n system, column-major; moved into the writer for INFINVS > 0, else
// overwritten by the inverse.  `ipiv`: n entries of scratch for the pivots.  `b`: room for
// B and then A^-1 B (allocated here when empty; only used for INFINVS < 0).  Every failure
// stops the run on `listing_unit` with the texts given.
void factorise_and_write(int listing_unit, Journal& journal, JournalFile rhs_file, int n, std::vector<float>& a,
                         std::vector<int>& ipiv, std::vector<float>& b, int infinvs, const FactorisationTexts& texts);

}  // namespace torva
