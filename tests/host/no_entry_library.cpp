// A loadable library that is not a plugin: it has no entry point.
extern "C" int NotAPlugin() { return 0; }
