#include "descriptor_limit.hpp"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace sim {

void raiseDescriptorLimit() {
#if !defined(_WIN32)
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);  // on failure the old limit stays
    }
#endif
}

}  // namespace sim
