#include "ReferenceTable.h"
#include "TestData.h"

#include "common/StringUtils.h"
#include "common/TextFile.h"

#include <stdexcept>

namespace vantorel::testing {

std::string OrbitDataPath(const std::string& name) {
    return TestDataPath("orbit/" + name);
}

std::vector<TableRow> ReadTable(const std::string& name, bool firstFieldIsText) {
    const auto lines = ReadTextLines(OrbitDataPath(name));
    if (!lines) {
        throw std::runtime_error("missing reference table " + name);
    }
    std::vector<TableRow> rows;
    for (const std::string& line : *lines) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        TableRow row;
        size_t start = 0;
        bool first = true;
        while (start <= line.size()) {
            const size_t comma = std::min(line.find(',', start), line.size());
            const std::string field = line.substr(start, comma - start);
            if (first && firstFieldIsText) {
                row.key = field;
            } else {
                const auto v = ParseReal(field);
                if (!v) {
                    throw std::runtime_error("bad number '" + field + "' in " + name);
                }
                row.values.push_back(*v);
            }
            first = false;
            start = comma + 1;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::map<std::string, std::pair<std::string, std::string>>
ReadReferenceSets(const std::string& name) {
    const auto lines = ReadTextLines(OrbitDataPath(name));
    if (!lines || lines->size() % 3 != 0) {
        throw std::runtime_error("bad " + name);
    }
    std::map<std::string, std::pair<std::string, std::string>> sets;
    for (size_t i = 0; i + 2 < lines->size(); i += 3) {
        sets[(*lines)[i]] = {(*lines)[i + 1], (*lines)[i + 2]};
    }
    return sets;
}

} // namespace vantorel::testing
