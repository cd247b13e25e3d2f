// Compiled with one layer's build settings: a header of the layer below and one of its own are found, so the compiler
// stops only at the header of the layer above.
#include KOLIBRA_PROBE_BELOW
#include KOLIBRA_PROBE_OWN
#include KOLIBRA_PROBE_ABOVE
