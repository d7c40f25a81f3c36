/* A library with none of the functions the dialog looks for. As libXft.so.2 first on the
 * library path it makes Xft unavailable to the dialog, which then draws with core fonts;
 * as libharfbuzz.so.0 and libfribidi.so.0, text is drawn unshaped and in the simple order. */
int kvz_not_xft;
