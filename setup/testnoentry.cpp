// A library for the registration tests that lacks the registration entry points.
extern "C" int SomethingElse() { return 1; }
