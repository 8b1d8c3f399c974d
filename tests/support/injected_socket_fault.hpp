// Makes one kind of socket call of a server fail with a chosen system error,
// a given number of times, and counts the failures it injected.
#pragma once

#include "platform/socket.hpp"

namespace mbslave::test {

class InjectedSocketFault final : public platform::SocketFaults {
public:
    static constexpr int kEveryTime = -1;

    InjectedSocketFault(platform::SocketCall call, int error, int times = 1) noexcept
        : call_(call), error_(error), remaining_(times) {}

    int injectedError(platform::SocketCall call) noexcept override {
        if (call != call_ || remaining_ == 0) return 0;
        if (remaining_ > 0) --remaining_;
        ++injected_;
        return error_;
    }

    int injected() const noexcept { return injected_; }

private:
    platform::SocketCall call_;
    int error_;
    int remaining_;
    int injected_ = 0;
};

}  // namespace mbslave::test
