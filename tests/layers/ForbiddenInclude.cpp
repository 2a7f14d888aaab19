// Compiled by the layer_rule tests with the include path of one layer's target: the first header is
// one that layer may include, the second one it may not, so the compile has to stop at the second.
#include LAYER_ALLOWED
#include LAYER_FORBIDDEN
