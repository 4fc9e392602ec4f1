#include "views/WindowModule.h"

#include "controller/AppModel.h"
#include "controller/AppModelSetup.h"
#include "controller/QuitSignals.h"
#include "core/UPSError.h"
#include "device/choice/SystemHID.h"
#include "history/HistoryFile.h"
#include "views/Icons.h"
#include "views/MainWindow.h"
#include "views/QtDialogs.h"

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace quelmar::WindowModule {

namespace {

constexpr const char* helpHint = "; quelmar --help lists the command-line modes";

void line(const std::string& text) {
    std::fputs((text + '\n').c_str(), stdout);
    std::fflush(stdout);
}

// The platform plugin's first complaint, the cause of those after it, kept for the one line below.
QString platformReason;

// Qt ends the process with abort() when it cannot open a display; a person without one gets a line instead.
void reportFatal(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        if (QByteArray(context.category).startsWith("qt.qpa")) {
            if (platformReason.isEmpty()) {
                platformReason = message.section(QLatin1Char('\n'), 0, 0).trimmed();
            }
        } else {
            std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
        }
        return;
    }
    auto reason = platformReason.isEmpty() ? message.section(QLatin1Char('\n'), 0, 0).trimmed() : platformReason;
    while (reason.endsWith(QLatin1Char('.'))) {
        reason.chop(1);
    }
    line("Cannot open the window: " + reason.toStdString() + helpHint);
    std::_Exit(1);
}

} // namespace

int run(const std::vector<std::string>& arguments) {
    // Qt keeps argc and argv for the application's whole life.
    std::vector<std::string> storage = arguments.empty() ? std::vector<std::string>{"quelmar"} : arguments;
    std::vector<char*> argv;
    for (auto& argument : storage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    int argc = static_cast<int>(storage.size());
    const auto previousHandler = qInstallMessageHandler(reportFatal);
    QApplication application(argc, argv.data());
    qInstallMessageHandler(previousHandler);
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
        line("ERROR: " + messageOf(error));
        return 1;
    }
    QtDialogs dialogs;
    AppModel::Setup setup;
    setup.platform = platform;
    setup.dialogs = &dialogs;
    setup.arguments = arguments;
    setup.history = HistoryFile::defaultPath();
    AppModel model(std::move(setup));
    // A signal during a flash waits for the image to be written and verified.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::received, &model, &AppModel::quitWhenSafe);
    MainWindow window(model);
    dialogs.setWindow(&window);
    window.show();
    return QApplication::exec();
}

} // namespace quelmar::WindowModule

// The module's one export, looked up by the executable.
extern "C" __attribute__((visibility("default"))) int quelmar_window_run(const std::vector<std::string>* arguments) {
    return quelmar::WindowModule::run(*arguments);
}
