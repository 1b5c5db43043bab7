// tavregistry: the registry with its window (headless without a display).
#include "app/run_registry.h"
#include "host/registry.h"
#include "ui/application_icon.h"
#include "ui/main_window.h"
#include "ui/prompter.h"

#include <QApplication>

namespace {

class WindowParts final : public DesktopParts {
public:
    std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) override {
        auto app = std::make_unique<QApplication>(argc, argv);
        app->setQuitOnLastWindowClosed(false);
        QApplication::setWindowIcon(applicationIcon());
        // The desktop entry that names the icon for the window manager.
        QGuiApplication::setDesktopFileName(QStringLiteral("tavregistry"));
        return app;
    }
    // The window makes itself the registry's front end and detaches itself
    // when it goes.
    void attach(Registry& registry) override { m_window = std::make_unique<MainWindow>(registry, m_prompter); }
    void detach(Registry&) override { m_window.reset(); }

private:
    WidgetPrompter m_prompter;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace

int main(int argc, char** argv) {
    WindowParts window;
    return runRegistry(argc, argv, QStringLiteral("tavregistry"), &window);
}
