#pragma once

// The event loop a Qt-based test runs the TCP port on, chosen by the environment: Qt's
// (DAZOROZ_TEST_LOOP unset or "qt"), or the plain one (DAZOROZ_TEST_LOOP=plain), which is then
// turned from inside Qt's whenever it has something to do. Either way the test's own servers,
// timers and QTRY_ waits run on Qt's loop as before, and the port's notifications come through
// the chosen loop alone. Each test program of the port is registered once for each loop.

#include "net/event_loop.h"
#include "net/plain_event_loop.h"

#include <QSocketNotifier>
#include <QTest>

#include <memory>

namespace dazoroz::testsupport {

class TestLoop {
public:
    // Makes the chosen loop the current one of this thread, and the port's warnings go to
    // Qt's message handler. Needs the QCoreApplication.
    TestLoop();
    ~TestLoop();
    TestLoop(const TestLoop&) = delete;
    TestLoop& operator=(const TestLoop&) = delete;

    static bool plainChosen();

private:
    std::unique_ptr<net::PlainEventLoop> plain_;
    std::unique_ptr<QSocketNotifier> turner_;
};

} // namespace dazoroz::testsupport

// QTEST_GUILESS_MAIN with the test loop.
#define DAZOROZ_LOOP_TEST_MAIN(TestObject)                                                         \
    int main(int argc, char* argv[]) {                                                             \
        QCoreApplication app(argc, argv);                                                          \
        dazoroz::testsupport::TestLoop loop;                                                       \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
