// vantorel: the window. One optional argument names a channel image to process at start.
#include "app/VantorelForm.h"
#include "common/Version.h"

#include <QApplication>

#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(vantorel::kProductName);
    QApplication::setApplicationVersion(vantorel::kVersion);
    std::vector<std::string> arguments;
    for (const QString& argument : QApplication::arguments().mid(1)) {
        arguments.push_back(argument.toStdString());
    }
    vantorel::TFormVantorelTest form(std::move(arguments));
    form.show();
    return QApplication::exec();
}
