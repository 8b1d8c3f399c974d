#include "request_trace.hpp"

#include <chrono>

#include "role_rules.hpp"
#include "unit_set.hpp"

namespace sim {

const char* resultName(TrafficResult result) {
    switch (result) {
        case TrafficResult::Ok: return "ok";
        case TrafficResult::Refused: return "refused";
        case TrafficResult::NoReply: return "no reply";
        case TrafficResult::Broadcast: return "broadcast";
        case TrafficResult::Answered: return "answered";
    }
    return "";
}

std::string describeRange(int startRef, int count) {
    const long first = static_cast<long>(startRef) - 1;
    std::string text = std::to_string(first);
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

void RequestTrace::access(const RequestInfo& info, int unit, std::string_view function, std::string_view range,
                          bool ok, int exceptionCode) {
    begin(info, unit);
    std::string what(function);
    if (!range.empty()) what.append(" ").append(range);
    // A broadcast repeats the same access on every unit: list it once.
    if (accesses_.empty() || accesses_.back() != what) {
        accesses_.push_back(what);
        appendText(record_.function, function);
        if (!range.empty()) appendText(record_.range, range);
    }
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

void RequestTrace::authorization(const RequestInfo& info, const char* role, int functionCode, bool allowed) {
    role_ = describeRole(role);
    // The library answers a refusal with exception 1 and calls no data callback.
    if (!allowed) {
        access(info, info.slaveAddress, "function " + std::to_string(functionCode) + " not allowed by --roles", "",
               false, 1);
    }
}

std::string RequestTrace::finish(const std::string& peer, TrafficRecord* record) {
    if (record != nullptr) {
        *record = TrafficRecord{};
        record->timeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    }
    const std::string role = role_.empty() ? std::string() : " (" + role_ + ")";
    if (record != nullptr) copyText(record->role, role_);
    role_.clear();
    if (!started_) {
        if (record != nullptr) {
            copyText(record->master, peer);
            copyText(record->function, "no data access");
            record->result = TrafficResult::Answered;
        }
        return peer + role + ": request answered without data access (diagnostics, or an exception "
                             "response for an unsupported or malformed request)";
    }
    if (deviceIdRequest_) {
        std::string what = "read device identification";
        appendText(record_.function, what);
        if (deviceIdFound_.any()) {
            const std::string objects = "objects " + formatRanges(deviceIdFound_);
            appendText(record_.range, objects);
            what += " " + objects;
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
    line += role + ":";
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
    if (record != nullptr) {
        copyText(record->master, peer_.empty() ? peer : peer_);
        record->unit = requestUnit_;
        copyText(record->function, record_.function);
        copyText(record->range, record_.range);
        if (broadcast) {
            copyText(record->units, formatRanges(units_));
            record->result = TrafficResult::Broadcast;
        } else if (refused_) {
            record->result = exceptionsDisabled_ ? TrafficResult::NoReply : TrafficResult::Refused;
            record->exceptionCode = exceptionsDisabled_ ? 0 : exceptionCode_;
        }
    }

    started_ = false;
    peer_.clear();
    units_.reset();
    accesses_.clear();
    record_ = TrafficRecord{};
    refused_ = false;
    exceptionCode_ = 0;
    deviceIdRequest_ = false;
    deviceIdFound_.reset();
    return line;
}

}  // namespace sim
