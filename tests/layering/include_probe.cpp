// Compiled against one layer's target with one header named by the build: it builds exactly when
// that header resolves on the layer's include path.
#include KV_PROBE_HEADER
