// A loadable module with none of a server's exports.
extern "C" __attribute__((visibility("default"))) int NotAServer() { return 1; }
