#include <QCoreApplication>
#include <QLocale>

#include <gmock/gmock.h>
#include <gst/gst.h>

// Tests run coroutines on a real Qt event loop, as the program does.
int main(int argc, char **argv)
{
    testing::InitGoogleMock(&argc, argv);
    // Samples and pass folders then go under the temporary folder, which a
    // test can make its own (PrivateTempFolder) to see only what it left.
    qunsetenv("XDG_RUNTIME_DIR");
    QCoreApplication app(argc, argv);
    gst_init(nullptr, nullptr);
    return RUN_ALL_TESTS();
}
