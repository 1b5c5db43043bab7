// tav-screenshots: pictures of every view and dialog of the registry, drawn
// from a registry with sample contents that talks to no network.
#include "camera.h"
#include "sample_registry.h"
#include "silent_prompter.h"
#include "window_tour.h"

#include "ui/main_window.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

namespace {
int fail(const QString& text, int code) {
    std::fprintf(stderr, "tav-screenshots: %s\n", qPrintable(text));
    return code;
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tav-screenshots"));
    const QStringList args = QApplication::arguments();
    if (args.size() != 2 || args.at(1).startsWith(QLatin1Char('-')))
        return fail(QStringLiteral("usage: tav-screenshots OUTPUT-FOLDER"), 2);
    const QString folder = QDir(args.at(1)).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create %1").arg(folder), 1);

    SilentPrompter prompter;
    SampleRegistry sample;
    MainWindow window(sample.registry(), prompter);
    QString error;
    if (!sample.start(&window, &error))
        return fail(QStringLiteral("the sample registry did not start: ") + error, 1);

    Camera camera(folder);
    WindowTour tour(sample, window, prompter, camera);
    if (!tour.run(&error))
        return fail(error, 1);
    // No window of the tour should have needed an answer from a person.
    if (!prompter.shown.isEmpty())
        return fail(QStringLiteral("unexpected message: ") + prompter.shown.join(QStringLiteral(" | ")), 1);
    for (const QString& path : camera.written())
        std::printf("%s\n", qPrintable(path));
    return 0;
}
