// The file picker on desktops where the display windows run on Qt.
#include "app/FilePicker.h"

#include <QApplication>
#include <QFileDialog>
#include <QString>

#include <opencv2/videoio.hpp>

#include <iostream>
#include <string>

namespace {

// The display windows must run on the same application object as the dialog:
// they create their own only when none exists, so the one made here is kept
// for the whole process and never deleted (Qt needs argc and argv to outlive
// it).
void ensureQtApplication() {
    if (QApplication::instance() != nullptr) return;
    static int argc = 1;
    static char name[] = "motion_demo";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

} // namespace

bool openVideoFileDialog(cv::VideoCapture& capture) {
    ensureQtApplication();
    // getOpenFileName asks for one existing file; an empty filter shows all.
    const QString chosen = QFileDialog::getOpenFileName(nullptr, QStringLiteral("OPEN VIDEO FILE"));
    if (chosen.isEmpty()) return false;
    const std::string path = chosen.toLocal8Bit().toStdString();
    std::cout << path << std::endl;
    return capture.open(path, cv::CAP_ANY);
}
