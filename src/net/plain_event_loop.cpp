#include "net/plain_event_loop.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <new>
#include <system_error>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace dazoroz::net {

namespace {

constexpr std::uint64_t kTimerId = 0;
constexpr std::uint64_t kWakeId = 1;
// Ready descriptors taken from the kernel per turn; more wait for the next turn.
constexpr int kEventsPerTurn = 32;
// Handled messages are cleared from the front of the queue once this many have gathered.
constexpr std::size_t kCompactAfter = 256;

// What Qt's loop takes for read and write readiness, so that both loops notify alike.
constexpr std::uint32_t kReadEvents = EPOLLIN | EPOLLHUP | EPOLLERR;
constexpr std::uint32_t kWriteEvents = EPOLLOUT | EPOLLERR;

[[noreturn]] void systemFailure(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void drain(int fd) noexcept {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
}

} // namespace

// ---------------------------------------------------------------- descriptors

class PlainEventLoop::Watch final : public DescriptorWatch {
public:
    Watch(PlainEventLoop& loop, std::uint64_t id, int fd, ReadinessHandler& handler)
        : loop_(loop), id_(id), fd_(fd), handler_(handler) {}
    ~Watch() override {
        setInterest(0);
        std::erase_if(loop_.watches_, [this](const auto& entry) { return entry.second == this; });
    }

    void setEnabled(Readiness which, bool on) noexcept override {
        (which == Readiness::Read ? read_ : write_) = on;
        setInterest((read_ ? EPOLLIN : 0u) | (write_ ? EPOLLOUT : 0u));
    }

    bool reads() const noexcept { return read_; }
    bool writes() const noexcept { return write_; }
    ReadinessHandler& handler() const noexcept { return handler_; }

private:
    // A descriptor without interest leaves the epoll set: the kernel would report its hang-up
    // or error on every turn otherwise.
    void setInterest(std::uint32_t events) noexcept {
        if (events == interest_) {
            return;
        }
        epoll_event event{};
        event.events = events;
        event.data.u64 = id_;
        const int operation =
            events == 0 ? EPOLL_CTL_DEL : (interest_ == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD);
        if (::epoll_ctl(loop_.epoll_, operation, fd_, &event) == 0 || events == 0) {
            interest_ = events;
        }
    }

    PlainEventLoop& loop_;
    std::uint64_t id_;
    int fd_;
    ReadinessHandler& handler_;
    bool read_ = false;
    bool write_ = false;
    std::uint32_t interest_ = 0;
};

std::unique_ptr<DescriptorWatch>
PlainEventLoop::watchDescriptor(int fd, ReadinessHandler& handler) noexcept {
    try {
        const std::uint64_t id = nextWatchId_++;
        auto watch = std::make_unique<Watch>(*this, id, fd, handler);
        watches_.emplace_back(id, watch.get());
        return watch;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

PlainEventLoop::Watch* PlainEventLoop::findWatch(std::uint64_t id) const noexcept {
    for (const auto& [watchId, watch] : watches_) {
        if (watchId == id) {
            return watch;
        }
    }
    return nullptr;
}

// The watch is looked up again for each kind of readiness: the first handler may have
// destroyed it.
void PlainEventLoop::dispatch(std::uint64_t id, std::uint32_t events) {
    Watch* watch = findWatch(id);
    if (watch != nullptr && watch->reads() && (events & kReadEvents) != 0) {
        watch->handler().descriptorReady(Readiness::Read);
        watch = findWatch(id);
    }
    if (watch != nullptr && watch->writes() && (events & kWriteEvents) != 0) {
        watch->handler().descriptorReady(Readiness::Write);
    }
}

// ---------------------------------------------------------------- timers

class PlainEventLoop::Timer final : public LoopTimer {
public:
    Timer(PlainEventLoop& loop, TimerHandler& handler) : loop_(loop), handler_(handler) {}
    ~Timer() override { stop(); }

    void start(std::chrono::milliseconds interval) noexcept override {
        interval_ = std::max(interval, std::chrono::milliseconds(0));
        deadline_ = Clock::now() + interval_;
        if (!running_) {
            try {
                loop_.timers_.push_back(this);
            } catch (const std::bad_alloc&) {
                return;
            }
            running_ = true;
        }
        loop_.armTimer();
    }

    void stop() noexcept override {
        if (running_) {
            running_ = false;
            std::erase(loop_.timers_, this);
            loop_.armTimer();
        }
    }

    Clock::time_point deadline() const noexcept { return deadline_; }

    // The next deadline, one interval on; one that has passed already is not made up for.
    void fire(Clock::time_point now) noexcept {
        deadline_ += interval_;
        if (deadline_ <= now) {
            deadline_ = now + interval_;
        }
        handler_.timerFired();
    }

private:
    PlainEventLoop& loop_;
    TimerHandler& handler_;
    std::chrono::milliseconds interval_{0};
    Clock::time_point deadline_;
    bool running_ = false;
};

std::unique_ptr<LoopTimer> PlainEventLoop::createTimer(TimerHandler& handler) noexcept {
    return std::unique_ptr<LoopTimer>(new (std::nothrow) Timer(*this, handler));
}

void PlainEventLoop::armTimer() noexcept {
    Clock::time_point nearest = Clock::time_point::max();
    for (const Timer* t : timers_) {
        nearest = std::min(nearest, t->deadline());
    }
    if (nearest == armedFor_) {
        return;
    }
    itimerspec when{};
    if (nearest != Clock::time_point::max()) {
        // steady_clock is CLOCK_MONOTONIC; a zero time would disarm the timer instead.
        const auto ns = std::max<std::int64_t>(
            1, std::chrono::duration_cast<std::chrono::nanoseconds>(nearest.time_since_epoch())
                   .count());
        when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }
    if (::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &when, nullptr) == 0) {
        armedFor_ = nearest;
    }
}

// Every timer that was due when the step began, each once; a handler may stop or destroy any.
void PlainEventLoop::fireTimers() {
    if (timers_.empty()) {
        return;
    }
    const Clock::time_point now = Clock::now();
    for (;;) {
        Timer* due = nullptr;
        for (Timer* t : timers_) {
            if (t->deadline() <= now && (due == nullptr || t->deadline() < due->deadline())) {
                due = t;
            }
        }
        if (due == nullptr) {
            break;
        }
        due->fire(now);
    }
    armTimer();
}

// ---------------------------------------------------------------- messages

class PlainEventLoop::Box final : public Mailbox {
public:
    Box(PlainEventLoop& loop, MessageHandler& handler) : loop_(loop), handler_(handler) {}
    ~Box() override { loop_.forget(*this); }

    bool post(const LoopMessage& message) noexcept override { return loop_.post(*this, message); }
    MessageHandler& handler() const noexcept { return handler_; }

private:
    PlainEventLoop& loop_;
    MessageHandler& handler_;
};

std::unique_ptr<Mailbox> PlainEventLoop::createMailbox(MessageHandler& handler) noexcept {
    return std::unique_ptr<Mailbox>(new (std::nothrow) Box(*this, handler));
}

bool PlainEventLoop::post(Box& box, const LoopMessage& message) noexcept {
    const bool wasEmpty = head_ == queue_.size();
    try {
        queue_.push_back({&box, message}); // room is kept: no allocation once the queue has grown
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (wasEmpty && !running_) {
        wake();
    }
    return true;
}

void PlainEventLoop::forget(Box& box) noexcept {
    for (std::size_t i = head_; i < queue_.size(); ++i) {
        if (queue_[i].box == &box) {
            queue_[i].box = nullptr;
        }
    }
}

// The messages that were waiting when the turn began; those they post wait for the next.
void PlainEventLoop::deliverMessages() {
    for (std::size_t waiting = queue_.size() - head_; waiting > 0 && head_ < queue_.size();
         --waiting) {
        const Queued next = queue_[head_++];
        if (head_ == queue_.size()) {
            queue_.clear();
            head_ = 0;
        } else if (head_ >= kCompactAfter && head_ * 2 >= queue_.size()) {
            queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
        if (next.box != nullptr) {
            next.box->handler().handleMessage(next.message);
        }
    }
}

void PlainEventLoop::wake() noexcept {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

// ---------------------------------------------------------------- the loop

PlainEventLoop::PlainEventLoop() {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
        systemFailure("epoll_create1");
    }
    timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event timer{};
    timer.events = EPOLLIN;
    timer.data.u64 = kTimerId;
    epoll_event wakeUp{};
    wakeUp.events = EPOLLIN;
    wakeUp.data.u64 = kWakeId;
    if (timerFd_ < 0 || wakeFd_ < 0 || ::epoll_ctl(epoll_, EPOLL_CTL_ADD, timerFd_, &timer) != 0 ||
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &wakeUp) != 0) {
        const int error = errno;
        for (const int fd : {wakeFd_, timerFd_, epoll_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        errno = error;
        systemFailure("timerfd or eventfd");
    }
}

PlainEventLoop::~PlainEventLoop() {
    ::close(wakeFd_);
    ::close(timerFd_);
    ::close(epoll_);
}

void PlainEventLoop::turn(bool wait) {
    deliverMessages();
    const bool idle = head_ == queue_.size() && !quit_;
    std::array<epoll_event, kEventsPerTurn> events;
    int n = ::epoll_wait(epoll_, events.data(), kEventsPerTurn, wait && idle ? -1 : 0);
    if (n < 0) {
        n = 0; // a signal: its handler has written to its pipe, which the next turn sees
    }
    bool timerFired = false;
    for (int i = 0; i < n; ++i) {
        const std::uint64_t id = events[static_cast<std::size_t>(i)].data.u64;
        if (id == kTimerId) {
            drain(timerFd_);
            armedFor_ = Clock::time_point::max(); // it has fired: armed for nothing now
            timerFired = true;
        } else if (id == kWakeId) {
            drain(wakeFd_);
        } else {
            dispatch(id, events[static_cast<std::size_t>(i)].events);
        }
    }
    if (timerFired) {
        fireTimers(); // the timerfd fires at the nearest deadline: no need to read the clock first
    }
    if (!running_ && head_ != queue_.size()) {
        wake(); // a loop outside is to come back for the messages posted during this turn
    }
}

int PlainEventLoop::run() {
    running_ = true;
    quit_ = false;
    while (!quit_) {
        turn(true);
    }
    running_ = false;
    return exitCode_;
}

void PlainEventLoop::quit(int code) noexcept {
    quit_ = true;
    exitCode_ = code;
}

} // namespace dazoroz::net
