// The processors this process may run on.
#pragma once

namespace kestrel {

// The number of processors the process may run on (its affinity), at least 1.
int availableCores();

} // namespace kestrel
