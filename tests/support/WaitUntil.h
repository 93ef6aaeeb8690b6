#pragma once
// Waiting for an event in tests: the condition is polled until it holds or a deadline passes
// that only a hung program reaches, so a busy machine slows a test down but never fails it.

#include <chrono>
#include <thread>

constexpr std::chrono::milliseconds kGenerousDeadline{10000};

template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds deadline = kGenerousDeadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
