// The server helpers of the network tests, built into this program too.
#include "../net/net_support.cpp"
