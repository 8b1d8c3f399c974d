// The process's limit of open descriptors.
#pragma once

namespace sim {

// Raises the soft limit of open descriptors to the hard limit, so that
// connections to the web page and the Modbus port cannot run short of the
// soft limit's often small default (1024). Does nothing where the system has
// no such limit.
void raiseDescriptorLimit();

}  // namespace sim
