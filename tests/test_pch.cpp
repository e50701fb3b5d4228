// The translation unit that carries the test programs' shared precompiled header
// (see CMakeLists.txt); it has no code of its own.
