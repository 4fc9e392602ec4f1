// The real graphical start (the window module's, linked in here) with the emulated board on the offscreen platform,
// timed from the process's start to the first telemetry sample painted in the window. Prints the time in milliseconds
// and exits. bench/window.sh runs it.
#include "views/WindowModule.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QRegularExpression>

#include <unistd.h>

namespace {

// Since the kernel started this process (its start time is counted in clock ticks on the boot clock).
double millisecondsSinceProcessStart() {
    std::ifstream file("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i) {
        fields >> field; // field 22 is the start time
    }
    const double started = std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9 - started) * 1000;
}

// Watches every paint: the charge label ("87%") painted means a sample is on screen.
class FirstSample final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        static const QRegularExpression charge(QStringLiteral("^\\d+%$"));
        if (event->type() == QEvent::Paint) {
            if (const auto* label = qobject_cast<QLabel*>(watched); label && charge.match(label->text()).hasMatch()) {
                std::printf("first sample on screen: %.0f ms\n", millisecondsSinceProcessStart());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            }
        }
        return false;
    }
};

void watchPaints() {
    QCoreApplication::instance()->installEventFilter(new FirstSample(QCoreApplication::instance()));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(watchPaints)

int main(int argc, char** argv) {
    setenv("QUELMAR_SIMULATOR", "1", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return quelmar::WindowModule::run(std::vector<std::string>(argv, argv + std::min(argc, 1)));
}
