// Indexes a GSHHS boundary file once, when the program is built, into the file that runs
// read beside it instead of walking the whole boundary file each time.
//
//   index_boundaries BOUNDARIES OUT
#include "cartography/BoundaryIndex.h"
#include "common/Files.h"
#include "common/TextFile.h"

#include <exception>
#include <iostream>

using namespace vantorel;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: index_boundaries BOUNDARIES OUT\n";
        return 2;
    }
    try {
        const auto file = TFileView::Open(argv[1]);
        const auto index = file ? TBoundaryIndex::Write(file->Bytes()) : std::nullopt;
        if (!index) {
            std::cerr << "index_boundaries: " << argv[1] << " is not a GSHHS file it can index\n";
            return 1;
        }
        ReplaceFileContents(argv[2], *index);
    } catch (const std::exception& e) {
        std::cerr << "index_boundaries: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
