#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vantorel {

/// The title of plain messages.
inline constexpr const char* kApplicationTitle = "Vantorel";

/// How a run tells the user something: a modal box with a caption and one OK button
/// (the run continues), or a plain message under the application title.
class INotifier {
public:
    virtual ~INotifier() = default;
    virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
    virtual void ShowMessage(const std::string& text) = 0;
};

/// Keeps every message, in order (tests).
class RecordingNotifier final : public INotifier {
public:
    struct Entry {
        bool isBox = false;
        std::string caption; ///< the box's caption, or the application title
        std::string text;
    };
    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    void ShowMessage(const std::string& text) override;

    std::vector<Entry> entries;
};

/// Writes each message to a stream as "caption: text", line breaks made plain (headless).
class StreamNotifier final : public INotifier {
public:
    explicit StreamNotifier(std::ostream& out) : out_(out) {}
    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    void ShowMessage(const std::string& text) override;

private:
    std::ostream& out_;
};

/// Turns CR LF and lone CR into LF, for terminals and log files.
std::string PlainLineBreaks(const std::string& text);

} // namespace vantorel
