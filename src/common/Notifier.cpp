#include "common/Notifier.h"

#include <ostream>

namespace vantorel {

void RecordingNotifier::ShowMessageBox(const std::string& text, const std::string& caption) {
    entries.push_back({true, caption, text});
}

void RecordingNotifier::ShowMessage(const std::string& text) {
    entries.push_back({false, kApplicationTitle, text});
}

std::string PlainLineBreaks(const std::string& text) {
    std::string r;
    r.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            r += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            r += text[i];
        }
    }
    return r;
}

void StreamNotifier::ShowMessageBox(const std::string& text, const std::string& caption) {
    out_ << caption << ": " << PlainLineBreaks(text) << std::endl;
}

void StreamNotifier::ShowMessage(const std::string& text) {
    out_ << kApplicationTitle << ": " << PlainLineBreaks(text) << std::endl;
}

} // namespace vantorel
