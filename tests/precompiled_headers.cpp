// Compiled only to build the precompiled header the test binaries share.
