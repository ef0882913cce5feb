// Compiled as code of one layer, including the header named by PROBE_HEADER.
// The layering tests build it with a header of the layer above, which must
// not be found, and with one of the layer itself, which must.
#include PROBE_HEADER

int layeringProbe() { return 0; }
