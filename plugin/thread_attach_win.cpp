// The MinGW runtime linked into the library resets the x87 unit (fninit,
// through _fpreset) from its TLS callback on every thread the host starts:
// the thread's control word would become 64-bit precision and its x87
// registers empty, whatever the host set up for it. A plug-in leaves the
// host's threads alone, so the library brings its own _fpreset, which the
// linker takes before the runtime's, and which touches nothing.
extern "C" void _fpreset(void) {}
