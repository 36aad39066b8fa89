// The server helpers and the relay of the network tests, built into this
// program too.
#include "../net/net_support.cpp"
#include "../net/relay.cpp"
