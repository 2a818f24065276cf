#include "support/test_loop.h"

#include "net/qt_event_loop.h"

#include <cstdlib>
#include <cstring>

namespace dazoroz::testsupport {

bool TestLoop::plainChosen() {
    const char* choice = std::getenv("DAZOROZ_TEST_LOOP");
    return choice != nullptr && std::strcmp(choice, "plain") == 0;
}

TestLoop::TestLoop() {
    net::useQtEventLoop();
    if (!plainChosen()) {
        return;
    }
    plain_ = std::make_unique<net::PlainEventLoop>();
    // The plain loop's descriptor is readable while it has work; each time, one turn.
    turner_ = std::make_unique<QSocketNotifier>(plain_->descriptor(), QSocketNotifier::Read);
    QObject::connect(turner_.get(), &QSocketNotifier::activated, turner_.get(),
                     [loop = plain_.get()] { loop->turn(false); });
    net::EventLoop::setCurrent(plain_.get());
}

TestLoop::~TestLoop() {
    net::EventLoop::setCurrent(nullptr);
}

} // namespace dazoroz::testsupport
