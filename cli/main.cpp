#include "Cli.h"

#include "common/Memory.h"
#include "common/Parallel.h"
#include "imaging/Canvas.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    vantorel::PrepareHeapForRun();
    std::vector<std::string> args(argv + 1, argv + argc);
    const int code = vantorel::cli::Main(args, std::cout, std::cerr);
    vantorel::StopParts();
    vantorel::EndGuiApplication();
    return code;
}
