#include "keps/HttpReply.h"

#include "common/Format.h"

#include <algorithm>
#include <cctype>

namespace vantorel {
namespace {

// A chunk's size line: hex digits and extensions, far less than this in practice.
constexpr std::size_t kMaxChunkLine = 4096;

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The end of the line starting at `from` (the index of its '\n'), or npos.
std::size_t LineEnd(const std::string& text, std::size_t from) {
    return text.find('\n', from);
}

// The line from `from` to `end` without its '\r'.
std::string_view Line(const std::string& text, std::size_t from, std::size_t end) {
    std::string_view line(text.data() + from, end - from);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

bool ParseDecimal(std::string_view digits, std::size_t& value) {
    if (digits.empty() || digits.size() > 18) {
        return false;
    }
    value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return true;
}

bool ParseHex(std::string_view digits, std::size_t& value) {
    if (digits.empty() || digits.size() > 15) {
        return false;
    }
    value = 0;
    for (const char c : digits) {
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                      : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                                  : -1;
        if (d < 0) {
            return false;
        }
        value = value * 16 + static_cast<std::size_t>(d);
    }
    return true;
}

} // namespace

THttpReply::TState THttpReply::Fail(std::string why) {
    problem_ = std::move(why);
    pending_.clear();
    return state_ = TState::Broken;
}

THttpReply::TState THttpReply::Feed(std::string_view bytes) {
    if (state_ != TState::Head && state_ != TState::Body) {
        return state_;
    }
    pending_.append(bytes);
    if (state_ == TState::Head) {
        ReadHead();
    }
    if (state_ == TState::Body) {
        ReadBody();
    }
    return state_;
}

THttpReply::TState THttpReply::End() {
    if (state_ == TState::Head) {
        return Fail("the connection closed before the reply's head was complete");
    }
    if (state_ == TState::Body) {
        if (framing_ != TFraming::ToEnd) {
            return Fail("the connection closed before the reply was complete");
        }
        state_ = TState::Complete;
    }
    return state_;
}

void THttpReply::ReadHead() {
    // Interim (1xx) replies come before the real one: each is a head of its own.
    while (state_ == TState::Head) {
        std::size_t from = 0;
        std::size_t end = 0;
        while ((end = LineEnd(pending_, from)) != std::string::npos &&
               !Line(pending_, from, end).empty()) {
            from = end + 1;
        }
        if (end == std::string::npos) {
            if (pending_.size() > kMaxHead) {
                Fail(Format("the reply's head is larger than %u KiB", kMaxHead / 1024));
            }
            return;
        }
        if (end + 1 > kMaxHead) {
            Fail(Format("the reply's head is larger than %u KiB", kMaxHead / 1024));
            return;
        }
        const std::string head = pending_.substr(0, from);
        pending_.erase(0, end + 1);
        if (!ReadHeadLines(head)) {
            return;
        }
    }
}

bool THttpReply::ReadHeadLines(std::string_view head) {
    const std::size_t firstEnd = head.find('\n');
    std::string_view statusLine = head.substr(0, firstEnd);
    if (!statusLine.empty() && statusLine.back() == '\r') {
        statusLine.remove_suffix(1);
    }
    std::size_t code = 0;
    if (statusLine.size() < 12 || statusLine.substr(0, 7) != "HTTP/1." || statusLine[8] != ' ' ||
        !ParseDecimal(statusLine.substr(9, 3), code) ||
        (statusLine.size() > 12 && statusLine[12] != ' ') || code < 100 || code > 999) {
        std::string begins;
        for (const char c : statusLine.substr(0, 40)) {
            begins += c >= 0x20 && c < 0x7F ? c : '?';
        }
        Fail("the reply is not HTTP/1 (it begins \"" + begins + "\")");
        return false;
    }
    if (code < 200) {
        return true; // an interim reply: the real one follows
    }
    status_ = static_cast<int>(code);
    reason_ = std::string(Trim(statusLine.substr(std::min<std::size_t>(12, statusLine.size()))));

    bool chunked = false;
    bool lengthGiven = false;
    std::size_t length = 0;
    std::size_t from = firstEnd + 1;
    while (from < head.size()) {
        const std::size_t end = std::min(head.find('\n', from), head.size());
        std::string_view line = head.substr(from, end - from);
        from = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            Fail("the reply's head has a line that is not a header");
            return false;
        }
        const std::string name = Lower(Trim(line.substr(0, colon)));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (name == "transfer-encoding") {
            const std::string codings = Lower(value);
            if (Trim(codings.substr(
                    codings.rfind(',') == std::string::npos ? 0 : codings.rfind(',') + 1)) !=
                "chunked") {
                Fail("the reply is sent in a transfer coding other than chunked (\"" +
                     std::string(value.substr(0, 40)) + "\")");
                return false;
            }
            chunked = true;
        } else if (name == "content-length") {
            std::size_t given = 0;
            if (!ParseDecimal(value, given) || (lengthGiven && given != length)) {
                Fail("the reply's Content-Length is not one number");
                return false;
            }
            lengthGiven = true;
            length = given;
        } else if (name == "location") {
            location_ = std::string(value);
        }
    }

    state_ = TState::Body;
    if (status_ == 204 || status_ == 304) {
        state_ = TState::Complete;
    } else if (chunked) {
        framing_ = TFraming::Chunked;
    } else if (lengthGiven) {
        framing_ = TFraming::Length;
        remaining_ = length;
        if (length > maxBody_) {
            state_ = TState::TooLarge;
        } else if (length == 0) {
            state_ = TState::Complete;
        }
    }
    return true;
}

void THttpReply::Take(std::string_view bytes) {
    if (body_.size() + bytes.size() > maxBody_) {
        body_.append(bytes.substr(0, maxBody_ - body_.size()));
        state_ = TState::TooLarge;
        pending_.clear();
        return;
    }
    body_.append(bytes);
}

void THttpReply::ReadBody() {
    if (framing_ == TFraming::Chunked) {
        ReadChunks();
        return;
    }
    if (framing_ == TFraming::ToEnd) {
        const std::string bytes = std::move(pending_);
        pending_.clear();
        Take(bytes);
        return;
    }
    const std::size_t n = std::min(remaining_, pending_.size());
    Take(std::string_view(pending_).substr(0, n));
    if (state_ != TState::Body) {
        return;
    }
    remaining_ -= n;
    pending_.clear(); // what follows a complete body belongs to no reply of ours
    if (remaining_ == 0) {
        state_ = TState::Complete;
    }
}

void THttpReply::ReadChunks() {
    std::size_t at = 0;
    while (state_ == TState::Body) {
        if (chunkPart_ == TChunkPart::Data) {
            const std::size_t n = std::min(remaining_, pending_.size() - at);
            Take(std::string_view(pending_).substr(at, n));
            if (state_ != TState::Body) {
                return;
            }
            at += n;
            remaining_ -= n;
            if (remaining_ > 0) {
                break;
            }
            chunkPart_ = TChunkPart::DataEnd;
            continue;
        }
        const std::size_t end = LineEnd(pending_, at);
        if ((end == std::string::npos ? pending_.size() : end) - at > kMaxChunkLine) {
            Fail("the reply's chunks are not framed as chunks");
            return;
        }
        if (end == std::string::npos) {
            break;
        }
        const std::string_view line = Line(pending_, at, end);
        at = end + 1;
        if (chunkPart_ == TChunkPart::DataEnd) {
            if (!line.empty()) {
                Fail("the reply's chunks are not framed as chunks");
                return;
            }
            chunkPart_ = TChunkPart::Size;
        } else if (chunkPart_ == TChunkPart::Size) {
            if (!ParseHex(Trim(line.substr(0, line.find(';'))), remaining_)) {
                Fail("the reply's chunks are not framed as chunks");
                return;
            }
            chunkPart_ = remaining_ == 0 ? TChunkPart::Trailer : TChunkPart::Data;
        } else if (line.empty()) { // the trailer's end
            state_ = TState::Complete;
        }
    }
    if (state_ == TState::Body) {
        pending_.erase(0, at);
    } else {
        pending_.clear();
    }
}

std::string TextExcerpt(std::string_view bytes) {
    constexpr std::size_t kMaxChars = 120;
    const std::size_t start = bytes.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) {
        return "";
    }
    std::string line;
    for (std::size_t i = start; i < bytes.size() && bytes[i] != '\r' && bytes[i] != '\n'; ++i) {
        if (line.size() == kMaxChars) {
            line += "...";
            break;
        }
        const auto c = static_cast<unsigned char>(bytes[i]);
        line += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return line;
}

} // namespace vantorel
