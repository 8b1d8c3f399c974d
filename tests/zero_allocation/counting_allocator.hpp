// Counts heap allocations made by the current thread while a counting scope
// is open. The program replaces malloc and its relatives as well as every
// form of operator new, so allocations through either path are seen.
#pragma once

namespace mbslave::test {

long allocationsCounted() noexcept;

class CountingScope {
public:
    CountingScope() noexcept;
    ~CountingScope();
    CountingScope(const CountingScope&) = delete;
    CountingScope& operator=(const CountingScope&) = delete;
};

}  // namespace mbslave::test
