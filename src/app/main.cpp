// vantorel: the window. One optional argument names a channel image to process at start.
#include "app/VantorelForm.h"
#include "common/Parallel.h"
#include "common/Version.h"

#include <QApplication>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

// --help and --version answer before any window or display is needed, so that they work
// on a terminal without a desktop (and help2man can make the manual page from them).
bool AnswerInformationOption(int argc, char* argv[]) {
    if (argc != 2) {
        return false;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::cout
            << "Usage: vantorel [IMAGE|PRODUCT]\n"
               "  or:  vantorel --help | --version\n\n"
               "Opens the window that puts a geographic overlay on Meteor-M N2 LRPT channel\n"
               "images. IMAGE (a BMP, JPEG or PNG channel image named with its pass time) or\n"
               "PRODUCT (a SatDump product folder or its product.cbor), when given, is\n"
               "processed at start; more can be opened or dropped on the window later.\n"
               "Qt's own options (-platform, -style, ...) are accepted as well.\n"
               "vantorel-cli does the same processing without a window.\n\n"
               "Options:\n"
               "  -h, --help     show this help and exit\n"
               "  --version      show the version and exit\n";
        return true;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::cout << "vantorel " << vantorel::kVersion << "\n";
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    if (AnswerInformationOption(argc, argv)) {
        return 0;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(vantorel::kProductName);
    QApplication::setApplicationVersion(vantorel::kVersion);
    std::vector<std::string> arguments;
    for (const QString& argument : QApplication::arguments().mid(1)) {
        arguments.push_back(argument.toStdString());
    }
    vantorel::TFormVantorelTest form(std::move(arguments));
    form.show();
    const int code = QApplication::exec();
    vantorel::StopParts();
    return code;
}
