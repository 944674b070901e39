// Built by the layering tests with only the containers layer and the layers
// below it in reach. Every include here is of the layer itself or a layer
// below it, so this compiles; it shows that the set-up of the upward case
// fails for its include and for nothing else.
#include "engine/containers/demux.h"
#include "engine/core/run_state.h"

int layeringProbe() {
    return 0;
}
