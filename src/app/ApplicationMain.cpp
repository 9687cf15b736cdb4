#include "app/ApplicationMain.h"

#include "app/AppDelegate.h"
#include "dialogs/HeadlessModalUI.h"
#include "app/MainWindow.h"
#include "app/QtModalUI.h"
#include "platform/runtime/Log.h"
#include "platform/qt/QtMainLoop.h"
#include "platform/qt/QtTerminationSignals.h"
#include "tools/TolvExtras.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <algorithm>
#include <cstdlib>

using platform::log;
using platform::logf;

namespace {

const std::string kHeadlessArgument = "--headless";
const std::string kGrabWindowArgument = "--grab-window";
// Lets the rows settle into their places before the picture is taken.
constexpr int kGrabDelayMs = 500;

bool isSet(const char* value) { return value && *value; }

void connectPlatform(bool headless) {
    platform::QtMainLoop::install();
    if (headless) ModalUI::setCurrent(std::make_shared<HeadlessModalUI>());
    else ModalUI::setCurrent(std::make_shared<QtModalUI>());
    setSystemBeepHook([] { ModalUI::current().beep(); });
    platform::QtTerminationSignals::install([](int signalNumber) {
        logf("Signal %d received: quitting", signalNumber);
        QCoreApplication::quit();
    });
}

void grabWhenShown(MainWindow& window, const std::string& file) {
    QObject::connect(&window, &MainWindow::firstShown, &window, [&window, file] {
        QTimer::singleShot(kGrabDelayMs, &window, [&window, file] {
            const bool saved = window.grab().save(QString::fromStdString(file), "PNG");
            logf("Window picture %s: %s", saved ? "saved" : "NOT saved", file.c_str());
        });
    });
}

} // namespace

bool ApplicationMain::wantsHeadless(const std::vector<std::string>& arguments, const char* display,
                                    const char* waylandDisplay) {
    if (std::find(arguments.begin(), arguments.end(), kHeadlessArgument) != arguments.end()) return true;
    return !isSet(display) && !isSet(waylandDisplay);
}

std::optional<std::string> ApplicationMain::grabWindowFile(const std::vector<std::string>& arguments) {
    auto it = std::find(arguments.begin(), arguments.end(), kGrabWindowArgument);
    if (it == arguments.end() || std::next(it) == arguments.end()) return std::nullopt;
    return *std::next(it);
}

int ApplicationMain::run(int argc, char** argv) {
    // Copied before Qt takes the options it knows out of argv.
    const std::vector<std::string> arguments(argv, argv + argc);
    const bool headless = wantsHeadless(arguments, std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
    if (headless) qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(TOLV_APP_NAME);
    QApplication::setApplicationDisplayName(TOLV_APP_NAME);
    connectPlatform(headless);

    AppDelegate::initialize();
    auto delegate = AppDelegate::create();
    delegate->setArguments(arguments);
    int result = 0;
    {
        MainWindow window(delegate);
        QObject::connect(&window, &MainWindow::firstShown, &window, [] { log("Main window shown"); });
        if (auto file = grabWindowFile(arguments)) grabWhenShown(window, *file);

        delegate->awakeFromNib();
        delegate->applicationWillFinishLaunching();
        delegate->applicationDidFinishLaunching();
        if (headless) log("No display: running without a window");
        else window.show();
        result = QApplication::exec();
        log("Event loop ended: quitting");
    }
    delegate.reset();
    platform::QtMainLoop::uninstall();
    return result;
}
