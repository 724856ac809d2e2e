"""Tests of the test servers and the test PKI (a package, so module names stay unique)."""
