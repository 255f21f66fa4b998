// The source that the test programs' shared precompiled headers are built with: a target of
// its own with nothing but Qt Core and Qt Test defines no macro that a test program lacks,
// and the compiler uses precompiled headers only where every macro they were built with is
// defined the same.
