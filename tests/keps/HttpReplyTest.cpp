// The reply parser against replies cut at every byte, framed every way, and broken.
#include "keps/HttpReply.h"

#include <gtest/gtest.h>

#include <string>

namespace vantorel {
namespace {

using TState = THttpReply::TState;

// Fed whole, then again one byte at a time: the two must agree.
THttpReply Parse(const std::string& bytes, std::size_t cap = 1000, bool end = true) {
    THttpReply whole(cap);
    whole.Feed(bytes);
    THttpReply bytewise(cap);
    for (const char c : bytes) {
        bytewise.Feed(std::string_view(&c, 1));
    }
    if (end) {
        whole.End();
        bytewise.End();
    }
    EXPECT_EQ(whole.State(), bytewise.State());
    EXPECT_EQ(whole.Body(), bytewise.Body());
    EXPECT_EQ(whole.Problem(), bytewise.Problem());
    return whole;
}

TEST(HttpReply, EveryFramingGivesTheSameBody) {
    const std::string chunked = "HTTP/1.1 200 OK\r\ncontent-type: text/plain\r\n"
                                "Transfer-Encoding: gzip, chunked\r\n\r\n"
                                "5;name=x\r\nhello\r\n1\r\n \r\n5\r\nworld\r\n0\r\nX-Sum: 1\r\n\r\n"
                                "HTTP/1.1 200 OK\r\n"; // not ours: ignored
    const std::string length =
        "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 200 OK\r\nContent-Length: 11\r\n\r\nhello worldXX";
    const std::string toEnd = "HTTP/1.1 200\nServer: x\n\nhello world";
    for (const std::string& reply : {chunked, length, toEnd}) {
        SCOPED_TRACE(reply);
        const THttpReply parsed = Parse(reply, 11, reply != chunked);
        EXPECT_EQ(parsed.State(), TState::Complete);
        EXPECT_EQ(parsed.Status(), 200);
        EXPECT_EQ(parsed.Body(), "hello world");
    }
    EXPECT_EQ(Parse(toEnd).Reason(), "");
    const THttpReply moved =
        Parse("HTTP/1.1 302 Found\r\nLOCATION:  /other \r\nContent-Length: 0\r\n\r\n", 0, false);
    EXPECT_EQ(moved.State(), TState::Complete);
    EXPECT_EQ(moved.Reason(), "Found");
    EXPECT_EQ(moved.Location(), "/other");
}

TEST(HttpReply, ABodyBeyondTheCapStopsAtIt) {
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n", 10, false).State(),
              TState::TooLarge); // refused by its declared size, before any byte of it
    const THttpReply chunk = Parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                   "7ffffff0\r\nhello world",
                                   10, false);
    EXPECT_EQ(chunk.State(), TState::TooLarge);
    EXPECT_EQ(chunk.Body(), "hello worl");
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\n\r\nhello world", 10, false).State(), TState::TooLarge);
}

TEST(HttpReply, BrokenRepliesSayWhy) {
    const auto problem = [](const std::string& reply) {
        const THttpReply parsed = Parse(reply);
        EXPECT_EQ(parsed.State(), TState::Broken) << reply;
        return parsed.Problem();
    };
    EXPECT_EQ(problem("SSH-2.0-OpenSSH\r\n\r\n"),
              "the reply is not HTTP/1 (it begins \"SSH-2.0-OpenSSH\")");
    EXPECT_EQ(problem("HTTP/1.1 2000 OK\r\n\r\n"),
              "the reply is not HTTP/1 (it begins \"HTTP/1.1 2000 OK\")");
    EXPECT_EQ(problem("HTTP/1.1 200 OK\r\nno colon\r\n\r\n"),
              "the reply's head has a line that is not a header");
    EXPECT_EQ(problem("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n"),
              "the reply's Content-Length is not one number");
    EXPECT_EQ(problem("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n"),
              "the reply's Content-Length is not one number");
    EXPECT_EQ(problem("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n"),
              "the reply is sent in a transfer coding other than chunked (\"gzip\")");
    EXPECT_EQ(problem("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"),
              "the reply's chunks are not framed as chunks");
    EXPECT_EQ(problem("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n"),
              "the reply's chunks are not framed as chunks");
    EXPECT_EQ(problem("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabc"),
              "the connection closed before the reply was complete");
    EXPECT_EQ(problem("HTTP/1.1 200 OK\r\n"),
              "the connection closed before the reply's head was complete");
    EXPECT_EQ(problem("HTTP/1.1 200 OK\r\nX: " + std::string(THttpReply::kMaxHead, 'a')),
              "the reply's head is larger than 64 KiB");
}

} // namespace
} // namespace vantorel
