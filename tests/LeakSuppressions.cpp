// What LeakSanitizer must not report in the sanitizer build of the tests
// (the core tests and every Qt Test program link this file).
//
// librsvg 2.54 parses SVG through libxml2's SAX interface, and every entity a
// document declares in its DOCTYPE leaves its value buffer behind (about 100
// bytes each, once per document). cairo 1.16 loses a few hundred bytes when
// librsvg, through pango, asks for text at a size FreeType refuses (a hostile
// SVG's font of hundreds of thousands of pixels; the random user of the
// panel loads such files). Both leaks are inside those libraries, not ours
// to fix, and bounded by the file. LeakSanitizer asks for this function when
// it starts; other builds never call it.

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:xmlParseEntityValue\nleak:libcairo.so\n";
}
