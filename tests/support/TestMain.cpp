#include <QCoreApplication>
#include <QLocale>

#include <gmock/gmock.h>
#include <gst/gst.h>

// Tests run coroutines on a real Qt event loop, as the program does.
int main(int argc, char **argv)
{
    testing::InitGoogleMock(&argc, argv);
    QCoreApplication app(argc, argv);
    gst_init(nullptr, nullptr);
    return RUN_ALL_TESTS();
}
