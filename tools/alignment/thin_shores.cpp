// Thins the shores of a boundary file once, when the program is built, into the file that
// runs read beside it instead of thinning the shores a pass shows each time.
//
//   thin_shores BOUNDARIES OUT
#include "alignment/CoastLines.h"
#include "cartography/zorCartography.h"
#include "common/Files.h"

#include <exception>
#include <iostream>

using namespace vantorel;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: thin_shores BOUNDARIES OUT\n";
        return 2;
    }
    try {
        TCartogList store;
        // Whole: every segment's points read, as the thinning needs them.
        store.LoadPlanned(TCartogList::PlanBoundaryFiles(argv[1]), TPointReading::Whole);
        if (store.Count() == 0) {
            std::cerr << "thin_shores: no boundaries in " << argv[1] << "\n";
            return 1;
        }
        ReplaceFileContents(argv[2], TCoastLines(store).ThinnedShores());
    } catch (const std::exception& e) {
        std::cerr << "thin_shores: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
