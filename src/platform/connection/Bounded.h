#pragma once
// A wait with a bound for library calls that take none (the resolver,
// GSSAPI): the call runs on a thread of its own, and the caller waits for
// it until a deadline.  A call still running then goes on to its end alone,
// so it must own everything it touches; its result is dropped.

#include <QDeadlineTimer>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>

namespace connection {

// The result of work(), or none when it has not finished by `deadline`.
template <typename Work>
auto finishedBy(Work work, QDeadlineTimer deadline) -> std::optional<decltype(work())> {
    using Result = decltype(work());
    auto promise = std::make_shared<std::promise<Result>>();
    std::future<Result> result = promise->get_future();
    std::thread([work = std::move(work), promise] { promise->set_value(work()); }).detach();
    if (result.wait_for(std::chrono::milliseconds(deadline.remainingTime())) !=
        std::future_status::ready) {
        return std::nullopt;
    }
    return result.get();
}

} // namespace connection
