#pragma once

// Reading of the committed reference tables of tests/data/orbit (made by
// tools/orbit_reference.py from python3-sgp4 and PROJ).

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vantorel::testing {

/// Path of a file in tests/data/orbit.
std::string OrbitDataPath(const std::string& name);

/// The comma-separated rows of a table (lines starting with "#" skipped); the first field
/// is kept as text, the rest as numbers.
struct TableRow {
    std::string key;
    std::vector<double> values;
};
std::vector<TableRow> ReadTable(const std::string& name, bool firstFieldIsText);

/// The element sets of a three-line file of tests/data/orbit by name: (line 1, line 2).
std::map<std::string, std::pair<std::string, std::string>>
ReadReferenceSets(const std::string& name = "reference_sets.tle");

} // namespace vantorel::testing
