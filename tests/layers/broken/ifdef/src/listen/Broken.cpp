// A difference between the systems decided in the core.
#if defined(_WIN32)
#endif
