#include "request_trace.hpp"

#include "unit_set.hpp"

namespace sim {

std::string describeRange(const char* what, int startRef, int count) {
    const long first = static_cast<long>(startRef) - 1;
    std::string text = std::string(what) + " " + std::to_string(first);
    if (count > 1) text += "-" + std::to_string(first + count - 1);
    return text;
}

void RequestTrace::begin(const RequestInfo& info, int unit) {
    if (!started_) {
        started_ = true;
        peer_ = info.peerName != nullptr ? info.peerName : "";
        requestUnit_ = info.slaveAddress;
    }
    units_.set(static_cast<std::size_t>(unit & 0xFF));
}

void RequestTrace::access(const RequestInfo& info, int unit, const std::string& what, bool ok, int exceptionCode) {
    begin(info, unit);
    // A broadcast repeats the same access on every unit: list it once.
    if (accesses_.empty() || accesses_.back() != what) accesses_.push_back(what);
    if (!ok && !refused_) {
        refused_ = true;
        exceptionCode_ = exceptionCode;
    }
}

void RequestTrace::deviceIdObject(const RequestInfo& info, int unit, int objectId, bool found) {
    begin(info, unit);
    deviceIdRequest_ = true;
    if (found) deviceIdFound_.set(static_cast<std::size_t>(objectId & 0xFF));
}

std::string RequestTrace::finish(const std::string& peer) {
    if (!started_) return peer + ": request answered without data access (diagnostics, or an exception "
                                 "response for an unsupported or malformed request)";
    if (deviceIdRequest_) {
        std::string what = "read device identification";
        if (deviceIdFound_.any()) {
            what += " objects " + formatRanges(deviceIdFound_);
        } else {
            refused_ = true;
            exceptionCode_ = 2;
        }
        accesses_.push_back(what);
    }

    // A broadcast on a serial line reaches the units with slave address 0.
    const bool broadcast = !units_.test(static_cast<std::size_t>(requestUnit_ & 0xFF));
    std::string line = peer_.empty() ? peer : peer_;
    line += broadcast ? " broadcast to units " + formatRanges(units_) : " unit " + std::to_string(requestUnit_);
    line += ":";
    for (std::size_t i = 0; i < accesses_.size(); ++i) line += (i == 0 ? " " : ", ") + accesses_[i];
    if (broadcast) {
        line += ": no reply (broadcast)";
    } else if (!refused_) {
        line += ": ok";
    } else if (exceptionsDisabled_) {
        line += ": refused, no reply (--no-exceptions)";
    } else {
        line += ": refused, exception " + std::to_string(exceptionCode_);
    }
    ++perUnit_[static_cast<std::size_t>(requestUnit_ & 0xFF)];

    started_ = false;
    peer_.clear();
    units_.reset();
    accesses_.clear();
    refused_ = false;
    exceptionCode_ = 0;
    deviceIdRequest_ = false;
    deviceIdFound_.reset();
    return line;
}

}  // namespace sim
