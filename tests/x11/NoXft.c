/* A libXft.so.2 with none of Xft's functions: put first on the library path, it makes Xft
 * unavailable to the dialog, which then draws with core fonts. */
int kvz_not_xft;
