// Writes the program's icon as PNG files of the sizes a desktop's icon theme uses:
// make_icons FOLDER writes FOLDER/NxN/apps/io.github.hushwell.Hushwell.png.

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

#include "ui/AppIcon.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icons FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QString("%1/%2x%2/apps").arg(argv[1]).arg(size);
        if (!QDir().mkpath(folder) ||
            !hushwell::appIconImage(size).save(folder + "/io.github.hushwell.Hushwell.png")) {
            std::fprintf(stderr, "cannot write the icons to %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
