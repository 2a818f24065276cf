#include "net/event_loop.h"

namespace dazoroz::net {

namespace {

thread_local EventLoop* t_current = nullptr;

} // namespace

EventLoop* EventLoop::current() noexcept {
    return t_current;
}

void EventLoop::setCurrent(EventLoop* loop) noexcept {
    t_current = loop;
}

} // namespace dazoroz::net
