#pragma once

// What the watch has processed, kept in a small file beside its pictures so that a restart
// neither redoes a pass nor skips one that came while it was stopped.

#include "batch/PassRecord.h"

#include <string>

namespace vantorel {

class TWatchState {
public:
    /// The state kept in `file` (none yet when it does not exist).
    /// @throws std::runtime_error when the file exists but cannot be read as a state file:
    ///   it is never overwritten blindly.
    explicit TWatchState(std::string file);

    /// The input (any spelling of its path) was processed, whatever came of it.
    bool Done(const std::string& input) const;
    /// Notes a processed input and saves the file whole.
    void Add(const TPassRecord& record, const std::string& finished);
    std::size_t Count() const { return passes_.size(); }
    const std::string& File() const { return file_; }

private:
    std::string file_;
    TJson passes_ = TJson::object(); ///< by absolute input path
};

} // namespace vantorel
