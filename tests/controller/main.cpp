#include <QCoreApplication>

#include <gmock/gmock.h>

// The controller needs a Qt event loop on the main thread.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
