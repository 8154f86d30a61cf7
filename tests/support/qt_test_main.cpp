// The main of every test that builds real widgets: they run on Qt's offscreen platform.
#include <gtest/gtest.h>
#include <unistd.h>
#include <QApplication>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // The pictures are checked at the window's own size and look, whatever the caller's desktop
    // exports (QT_SCALE_FACTOR, QT_SCREEN_SCALE_FACTORS, QT_STYLE_OVERRIDE, ...).
    std::vector<std::string> qt_settings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string setting = *entry;
        if (setting.starts_with("QT_")) {
            qt_settings.push_back(setting.substr(0, setting.find('=')));
        }
    }
    for (const std::string& name : qt_settings) {
        unsetenv(name.c_str());
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    int qt_argc = 1;
    QApplication application(qt_argc, argv);
    return RUN_ALL_TESTS();
}
