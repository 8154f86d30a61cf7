// Sound modules of a broken install. KOMA_GONE_LIBRARY: a library, and without it a module that
// needs it, as an install that has lost one of the module's libraries leaves it.
// KOMA_OTHER_VERSION: a module of another version, with the same entry and another interface.
#if defined(KOMA_GONE_LIBRARY)
extern "C" int koma_gone() {
    return 0;
}
#elif defined(KOMA_OTHER_VERSION)
extern "C" const int koma_sound_interface_version = 1;
extern "C" void* koma_make_sound_system() {
    static void* no_functions[4] = {};  // a game that calls through this crashes
    return static_cast<void*>(no_functions);
}
#else
extern "C" int koma_gone();
extern "C" int koma_needs_gone() {
    return koma_gone();
}
#endif
