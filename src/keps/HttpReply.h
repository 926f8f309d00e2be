#pragma once

// An HTTP/1.x reply read as its bytes arrive, whatever size the pieces: the status line
// and head, then a body framed by Content-Length, by chunks, or by the connection's end.
// Nothing is held beyond the caps, so a hostile server costs no more than they allow.

#include <cstddef>
#include <string>
#include <string_view>

namespace vantorel {

class THttpReply {
public:
    enum class TState {
        Head,     // more bytes are needed
        Body,     // the head has come; more bytes are needed
        Complete, // the whole reply is here
        TooLarge, // the body goes beyond the cap (what came is kept, cut at the cap)
        Broken    // not a well-formed reply: Problem() says why
    };

    /// maxBody: the largest body taken (bytes).
    explicit THttpReply(std::size_t maxBody) : maxBody_(maxBody) {}

    /// Takes the next bytes of the connection; bytes after a finished reply are ignored.
    TState Feed(std::string_view bytes);
    /// The connection has ended: completes a body that runs to the end, breaks any other.
    TState End();

    TState State() const { return state_; }
    /// 0 until the head has come.
    int Status() const { return status_; }
    const std::string& Reason() const { return reason_; }
    /// The Location header's value, "" when there is none.
    const std::string& Location() const { return location_; }
    const std::string& Body() const { return body_; }
    const std::string& Problem() const { return problem_; }

    /// The largest head taken, status line to blank line.
    static constexpr std::size_t kMaxHead = 64 * 1024;

private:
    TState Fail(std::string why);
    void ReadHead();
    bool ReadHeadLines(std::string_view head);
    void ReadBody();
    void ReadChunks();
    void Take(std::string_view bytes);

    enum class TFraming { Length, Chunked, ToEnd };
    enum class TChunkPart { Size, Data, DataEnd, Trailer };

    std::size_t maxBody_;
    TState state_ = TState::Head;
    std::string pending_; // bytes not yet parsed
    int status_ = 0;
    std::string reason_;
    std::string location_;
    TFraming framing_ = TFraming::ToEnd;
    std::size_t remaining_ = 0; // of the body (Length) or of the chunk (Chunked)
    TChunkPart chunkPart_ = TChunkPart::Size;
    std::string body_;
    std::string problem_;
};

/// What a reply says in words, for messages: its first non-blank line, cut to 120
/// characters, anything outside printable ASCII as "?"; "" for a blank reply.
std::string TextExcerpt(std::string_view bytes);

} // namespace vantorel
