// Built by the layering tests with only the containers layer and the layers
// below it in reach. The include of the conversion layer must not compile:
// a layer sees no header of a layer above it.
#include "engine/containers/demux.h"
#include "engine/convert/conversion_driver.h"

int layeringProbe() {
    return 0;
}
