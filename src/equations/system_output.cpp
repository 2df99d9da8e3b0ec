#include "equations/system_output.hpp"

#include <algorithm>
#include <new>

#include "frame/allocation.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "linalg/blocked_lu.hpp"
#include "linalg/ordered_product.hpp"

namespace torva {

void factorise_and_write(int listing_unit, Journal& journal, JournalFile rhs_file, int n, std::vector<float>& a,
                         std::vector<int>& ipiv, std::vector<float>& b, int infinvs, const FactorisationTexts& texts)
{
    const int info = blocked_sgetrf(n, n, a.data(), std::max(n, 1), ipiv.data());
    if (info != 0) stop_run_on(listing_unit, {texts.decompose_failed(info)});
    if (infinvs > 0) {
        // The factors leave for the file while the run goes on; the writer owns them now and
        // hands their memory back as it writes, so that they and the matrix of the work that
        // follows (the basis flow's) are not resident together for the whole write.
        journal.write_behind(JournalFile::jou2, [factors = std::move(a), pivots = ipiv](JournalRecordSink& sink) mutable {
            sink.write_releasing(std::as_writable_bytes(std::span(factors)));
            sink.write(bytes_of(pivots));
        });
        return;
    }
    if (blocked_sgetri(n, a.data(), std::max(n, 1), ipiv.data()) != 0) stop_run_on(listing_unit, {texts.inverse_failed});
    if (infinvs == 0) {
        journal.write_record(JournalFile::jou2, bytes_of(a));
        return;
    }
    const std::size_t N = static_cast<std::size_t>(n);
    if (b.size() < N * N) allocate_or_stop(b, N * N, texts.no_memory, listing_unit);
    journal.rewind(rhs_file);
    for (std::size_t r = 0; r < N; ++r) {
        const auto rec = journal.read_record(rhs_file);
        if (!rec || rec->size() != N * sizeof(float))
            stop_run_on(listing_unit, {"ERROR: right-hand-side record " + std::to_string(r + 1) + " of " +
                                       journal.name(rhs_file) + " is missing or has the wrong length"});
        const float* row = reinterpret_cast<const float*>(rec->data());
        for (std::size_t c = 0; c < N; ++c) b[r + c * N] = row[c];
    }
    // The product replaces B column by column (each column of B is packed before its column
    // of the product is written), so no scratch matrix is needed; the packed copy of the
    // inverse that the ordered product makes is the one further n x n of this step.
    try {
        ordered_product(n, n, n, a.data(), n, b.data(), n, b.data(), n);
    } catch (const std::bad_alloc&) {
        stop_run_on(listing_unit, texts.no_memory);
    }
    journal.write_record(JournalFile::jou2, std::as_bytes(std::span(b.data(), N * N)));
}

}  // namespace torva
