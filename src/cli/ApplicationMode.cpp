#include "cli/Modes.h"
#include "cli/Output.h"
#include "controller/AppModel.h"
#include "core/UPSError.h"
#include "device/choice/SystemHID.h"
#include "views/Icons.h"
#include "views/MainWindow.h"
#include "views/QtDialogs.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace quelmar::Modes {

int application(const std::vector<std::string>& arguments) {
    // Qt keeps argc and argv for the application's whole life.
    std::vector<std::string> storage = arguments.empty() ? std::vector<std::string>{"quelmar"} : arguments;
    std::vector<char*> argv;
    for (auto& argument : storage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    int argc = static_cast<int>(storage.size());
    QApplication application(argc, argv.data());
    QApplication::setApplicationName(QStringLiteral("Quelmar"));
    QApplication::setDesktopFileName(QStringLiteral("net.quelmar.monitor"));
    QApplication::setWindowIcon(Icons::application());
    // Qt's own dialogs and buttons speak the window's language (Debian's qt6-translations-l10n).
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTexts);
    }

    HIDPlatform* platform = nullptr;
    try {
        platform = &systemHID();
    } catch (const std::exception& error) {
        Output::line("ERROR: " + messageOf(error));
        return 1;
    }
    QtDialogs dialogs;
    AppModel::Setup setup;
    setup.platform = platform;
    setup.dialogs = &dialogs;
    setup.arguments = arguments;
    AppModel model(std::move(setup));
    MainWindow window(model);
    dialogs.setWindow(&window);
    window.show();
    return QApplication::exec();
}

} // namespace quelmar::Modes
