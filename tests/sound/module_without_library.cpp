// A library, and a sound module that needs it: the test gives the game the module without the
// library, as an install that has lost one of the module's libraries leaves it.
#ifdef KOMA_GONE_LIBRARY
extern "C" int koma_gone() {
    return 0;
}
#else
extern "C" int koma_gone();
extern "C" int koma_needs_gone() {
    return koma_gone();
}
#endif
