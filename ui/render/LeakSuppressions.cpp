// Compiled into every program that uses the UI framework, in address-sanitizer builds only.
// Fontconfig and Pango keep their font sets, coverage tables and shaping caches for the life of
// the process in memory the leak checker cannot trace back to a root; those are theirs, not
// leaks of ours. Allocations of the framework's own code stay checked.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n";
}
