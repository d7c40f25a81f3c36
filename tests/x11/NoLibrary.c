/* A library with none of the functions the dialog looks for. As libfontconfig.so.1 first
 * on the library path it makes the dialog's text undrawable, so the next kind of box is
 * shown; as libharfbuzz.so.0 and libfribidi.so.0, text is drawn unshaped and in the simple
 * order. */
int kvz_not_the_library;
