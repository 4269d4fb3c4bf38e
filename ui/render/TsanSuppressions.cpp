// Compiled into every program that uses the UI framework, in thread-sanitizer builds only.
// Pango matches fonts on a worker thread of its own ("[pango] FcFontSetMatch") and hands the
// fontconfig patterns over through GLib's locks, which an uninstrumented GLib does not show the
// sanitizer; the copies fontconfig makes there and Pango reads back then look like races.
// GTK's file chooser does the same with GIO's worker threads. Only accesses inside those
// libraries are left out (as races, so their locking stays visible); the framework's own
// accesses stay checked.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpangoft2-1.0.so\n"
           "race:libfontconfig.so\n"
           "race:libglib-2.0.so\n"
           "race:libgobject-2.0.so\n"
           "race:libgio-2.0.so\n"
           "race:libgtk-3.so\n"
           "thread:[pango] FcFontSetMatch\n";
}
