// An exception cannot leave an OpenMP parallel region.  Each task's is caught and offered
// here; the one of the lowest-numbered failing task is kept -- the same one whatever the
// thread count and the order in which the threads met their failures -- and raised by the
// calling thread once the region has ended.
#pragma once

#include <exception>
#include <utility>

#include "frame/run_stop.hpp"

namespace torva {

class LowestFailure {
public:
    // Called from inside the region, in a catch block: keeps `error` when `task` is lower
    // than the task kept so far.
    void keep(int task, std::exception_ptr error)
    {
#pragma omp critical(torva_lowest_failure)
        if (!error_ || task < task_) {
            task_ = task;
            error_ = std::move(error);
        }
    }
    [[nodiscard]] bool failed() const noexcept { return static_cast<bool>(error_); }
    [[nodiscard]] int task() const noexcept { return task_; }

    // Raises the kept exception, if any.  A stop whose lines are not yet written (thrown
    // where the listing could not be reached) writes them first.
    void raise() const
    {
        if (!error_) return;
        try {
            std::rethrow_exception(error_);
        } catch (const RunStopped& stop) {
            reraise_stop(stop);
        }
    }

private:
    std::exception_ptr error_;
    int task_ = 0;
};

}  // namespace torva
