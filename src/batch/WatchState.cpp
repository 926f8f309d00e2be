#include "batch/WatchState.h"

#include "batch/Inputs.h"
#include "common/Files.h"
#include "common/TextFile.h"

#include <stdexcept>

namespace vantorel {
namespace {

constexpr int kStateVersion = 1;

} // namespace

TWatchState::TWatchState(std::string file) : file_(std::move(file)) {
    const auto bytes = ReadFileBytes(file_, kMostStateBytes);
    if (!bytes) {
        if (FileExists(file_)) {
            throw std::runtime_error("cannot read the watch's state file " + file_);
        }
        return;
    }
    const TJson state = TJson::parse(*bytes, nullptr, false);
    if (state.is_discarded() || !state.is_object() || state.value("version", 0) != kStateVersion ||
        !state.contains("passes") || !state["passes"].is_object()) {
        throw std::runtime_error("the watch's state file " + file_ +
                                 " is not one this program wrote (move it away to start afresh)");
    }
    passes_ = state["passes"];
}

bool TWatchState::Done(const std::string& input) const {
    return passes_.contains(ExpandFileName(input));
}

void TWatchState::Add(const TPassRecord& record, const std::string& finished) {
    passes_[ExpandFileName(record.Input)] = {
        {"status", StatusName(record.Status)},
        {"output", record.Output.empty() ? TJson() : TJson(record.Output)},
        {"finished", finished}};
    const TJson state = {{"version", kStateVersion}, {"passes", passes_}};
    ReplaceFileContents(file_, JsonText(state));
}

} // namespace vantorel
