#include "pass/PassReport.h"

#include "common/Notifier.h"
#include "common/StringList.h"

namespace vantorel {

void TPassReport::Add(TReportEntry entry) {
    entries_.push_back(std::move(entry));
    if (OnEntry) {
        OnEntry(entries_.back());
    }
}

void TPassReport::Account(std::string line) {
    Add({TReportEntry::TKind::Account, TPassIssue::None, std::move(line), {}, std::nullopt});
}

void TPassReport::Aligned(std::string line, TAlignmentFigures figures) {
    Add({TReportEntry::TKind::Account, TPassIssue::None, std::move(line), {}, std::move(figures)});
}

void TPassReport::Warning(TPassIssue issue, std::string text, std::string caption) {
    Add({TReportEntry::TKind::Warning, issue, std::move(text), std::move(caption), std::nullopt});
}

void TPassReport::Error(TPassIssue issue, std::string text, std::string caption) {
    Add({TReportEntry::TKind::Error, issue, std::move(text), std::move(caption), std::nullopt});
}

std::vector<std::string> TPassReport::AccountLines() const {
    std::vector<std::string> lines;
    for (const TReportEntry& e : entries_) {
        if (e.Kind == TReportEntry::TKind::Account) {
            lines.push_back(e.Text);
        }
    }
    return lines;
}

bool TPassReport::Has(TPassIssue issue) const {
    for (const TReportEntry& e : entries_) {
        if (e.Kind != TReportEntry::TKind::Account && e.Issue == issue) {
            return true;
        }
    }
    return false;
}

std::optional<TPassIssue> TPassReport::EndedBy() const {
    for (const TReportEntry& e : entries_) {
        if (e.Kind == TReportEntry::TKind::Error) {
            return e.Issue;
        }
    }
    return std::nullopt;
}

void Deliver(const TReportEntry& entry, TStringList& diags, INotifier& notifier) {
    switch (entry.Kind) {
    case TReportEntry::TKind::Account:
        diags.Add(entry.Text);
        break;
    case TReportEntry::TKind::Warning:
    case TReportEntry::TKind::Error:
        if (entry.Caption.empty()) {
            notifier.ShowMessage(entry.Text);
        } else {
            notifier.ShowMessageBox(entry.Text, entry.Caption);
        }
        break;
    }
}

} // namespace vantorel
