// The HTTP reply parser on arbitrary bytes, cut into pieces where the input says. Besides
// not crashing or hanging it must hold to what the download relies on:
// - the body never goes beyond the cap;
// - how the bytes are cut makes no difference to the outcome.
#include "keps/HttpReply.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using vantorel::THttpReply;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first byte picks the cap, the second the size of the pieces.
    const std::size_t cap = std::size_t{data[0]} * 64;
    const std::size_t piece = std::size_t{data[1]} % 64 + 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);

    THttpReply whole(cap);
    whole.Feed(bytes);
    whole.End();
    THttpReply cut(cap);
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        cut.Feed(bytes.substr(at, piece));
    }
    cut.End();

    Require(whole.Body().size() <= cap);
    Require(whole.State() == cut.State());
    Require(whole.Body() == cut.Body());
    Require(whole.Status() == cut.Status());
    Require(whole.Problem() == cut.Problem());
    Require(whole.Location() == cut.Location());
    return 0;
}
