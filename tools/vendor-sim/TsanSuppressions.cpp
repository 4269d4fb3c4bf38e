// Compiled into vendor-sim for ThreadSanitizer builds only. libcpp-httplib is a prebuilt library
// without instrumentation: the inline fast path of its function-local statics is invisible
// to the sanitizer, which then reports a race between the worker that built such a static and
// another worker that reads it later (seen when one request holds a worker, as a stalled
// answer does). Only the accesses the library makes itself are left out; every access of the
// sim's own code, handlers included, is still checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so\n";
}
